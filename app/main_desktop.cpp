#include "core/instanceguard.h"
#include "core/profile.h"
#include "core/terminationsignals.h"
#include "core/version.h"
#include "transfer/datamodule.h"
#include "ui/desktopsession.h"
#include "ui/mainwindow.h"
#include "ui/registrationform.h"
#include "ui/shellpolicy.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>

#include <cstdio>
#include <exception>

namespace {

// Says why the program cannot start: on the terminal, and in a box where there is a screen to
// show one on.
void showStartError(const QString& text) {
    std::fprintf(stderr, "moonrake: %s\n", qPrintable(text));
    const QString platform = QGuiApplication::platformName();
    if (platform != u"offscreen" && platform != u"minimal")
        QMessageBox::critical(nullptr, QStringLiteral("Moonrake"), text);
}

}  // namespace

int main(int argc, char** argv) {
    QStringList args;
    for (int i = 1; i < argc; ++i) {
        args.append(QString::fromLocal8Bit(argv[i]));
    }
    const QString profileDir = mr::Profile::resolve(args, mr::Profile::executableDirectory());
    const mr::Profile profile(profileDir);

    // A second copy on the same profile leaves at once, silently; any other failure to lock the
    // profile is an error the user must see.
    QDir().mkpath(profileDir);
    mr::InstanceGuard guard(profile.lockPath());
    if (!guard.acquire() && guard.heldByAnother()) {
        return 0;
    }

    QApplication app(argc, argv);
    if (!guard.isLocked()) {
        showStartError(guard.failureText());
        return 1;
    }
    QApplication::setApplicationName(QStringLiteral("Moonrake"));
    QApplication::setApplicationVersion(QLatin1String(mr::kVersionNumber));
    // Hidden in the tray, with only a dialog open and then closed, the program goes on.
    QApplication::setQuitOnLastWindowClosed(false);
    // A session logout or Ctrl+C ends the program like the Close command. Caught from here on;
    // one that arrives before the frame exists waits in the pipe for the event loop.
    mr::TerminationSignals termination;
    try {
        mr::setActiveProfile(profileDir);
        mr::TMRDataModule dataModule(profileDir);
        if (dataModule.create() == mr::TMRDataModule::StartResult::DataFilesMissing) {
            showStartError(QString::fromLatin1(mr::kDataFilesMissingText));
            return 1;
        }
        // Without a nickname nobody can sign on: a new user registers first.
        const bool firstRun = mr::UserInfo().nickname().isEmpty();
        if (firstRun) {
            // Until the frame exists, a termination request simply ends the wizard and the
            // program.
            bool terminated = false;
            const auto early = QObject::connect(
                &termination, &mr::TerminationSignals::terminationRequested, &app, [&terminated] {
                    terminated = true;
                    QApplication::exit(0);
                });
            mr::TfrmRegistration::runRegistration(nullptr);
            QObject::disconnect(early);
            if (terminated) {
                return 0;
            }
        }
        mr::TfrmMain frmMain;
        frmMain.setFirstRun(firstRun);
        mr::DesktopSession session(frmMain, &dataModule);
        QObject::connect(&frmMain, &mr::TfrmMain::programClosed, &app, &QApplication::quit,
                         Qt::QueuedConnection);
        QObject::connect(&termination, &mr::TerminationSignals::terminationRequested, &frmMain,
                         &mr::TfrmMain::closeProgram);
        frmMain.showForStart(mr::startModeFor(args, frmMain.trayAvailable()));
        return QApplication::exec();
    } catch (const std::exception& e) {
        showStartError(QString::fromUtf8(e.what()));
        return 1;
    }
}
