#include "core/datamodule.h"
#include "core/instanceguard.h"
#include "core/profile.h"
#include "ui/mainwindow.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>

#include <exception>

int main(int argc, char** argv) {
    QStringList args;
    for (int i = 1; i < argc; ++i) {
        args.append(QString::fromLocal8Bit(argv[i]));
    }
    const QString profileDir = mr::Profile::resolve(args, mr::Profile::executableDirectory());
    const mr::Profile profile(profileDir);

    // A second copy on the same profile leaves at once, silently.
    QDir().mkpath(profileDir);
    mr::InstanceGuard guard(profile.lockPath());
    if (!guard.acquire()) {
        return 0;
    }
    const bool startHidden = !args.isEmpty() && args.first() == QLatin1String("-min");

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Moonrake"));
    try {
        mr::setActiveProfile(profileDir);
        mr::TMRDataModule dataModule(profileDir);
        if (dataModule.create() == mr::TMRDataModule::StartResult::DataFilesMissing) {
            QMessageBox::critical(nullptr, QStringLiteral("Moonrake"),
                                  QString::fromLatin1(mr::kDataFilesMissingText));
            return 1;
        }
        mr::TfrmMain frmMain;
        // Until the tray icon exists, a hidden start must still leave the window reachable.
        if (startHidden) {
            frmMain.showMinimized();
        } else {
            frmMain.show();
        }
        return QApplication::exec();
    } catch (const std::exception& e) {
        QMessageBox::critical(nullptr, QStringLiteral("Moonrake"), QString::fromUtf8(e.what()));
        return 1;
    }
}
