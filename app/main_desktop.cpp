#include "core/instanceguard.h"
#include "core/profile.h"
#include "core/terminationsignals.h"
#include "core/version.h"
#include "transfer/datamodule.h"
#include "ui/commands.h"
#include "ui/desktopsession.h"
#include "ui/mainwindow.h"
#include "ui/registrationform.h"
#include "ui/shellpolicy.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>

#include <cstdio>
#include <exception>
#include <optional>

namespace {

// Says why the program cannot start: on the terminal, and in a box where there is a screen to
// show one on.
void showStartError(const QString& text) {
    std::fprintf(stderr, "moonrake: %s\n", qPrintable(text));
    const QString platform = QGuiApplication::platformName();
    if (platform != u"offscreen" && platform != u"minimal")
        QMessageBox::critical(nullptr, QStringLiteral("Moonrake"), text);
}

constexpr char kUsage[] =
    "Usage: moonrake [--profile DIR] [--open-explorers N] [-min]\n"
    "\n"
    "The Moonrake desktop client.\n"
    "\n"
    "The profile is DIR, else $MOONRAKE_PROFILE, else the program's folder when a 'data'\n"
    "folder stands beside it, else $XDG_DATA_HOME/Moonrake (~/.local/share/Moonrake).\n"
    "One copy runs per profile: a second start on the same profile ends at once.\n"
    "\n"
    "Options:\n"
    "  --profile DIR           the folder of the settings and the tables\n"
    "  --open-explorers N      open N explorer windows with the program, alternately My\n"
    "                          Shared Files and Share Files (0 to 16; for trying and\n"
    "                          measuring the program with windows open)\n"
    "  -min                    start hidden in the tray (minimised when there is none)\n"
    "  -h, --help              print this help and exit\n";

}  // namespace

int main(int argc, char** argv) {
    QStringList args;
    for (int i = 1; i < argc; ++i) {
        args.append(QString::fromLocal8Bit(argv[i]));
    }
    if (args.contains(QLatin1String("--help")) || args.contains(QLatin1String("-h"))) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    const QString profileDir = mr::Profile::resolve(args, mr::Profile::executableDirectory());
    const std::optional<int> explorers = mr::takeExplorerCount(args);
    if (!explorers) {
        std::fputs("moonrake: --open-explorers needs a number from 0 to 16\n", stderr);
        return 2;
    }
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
    QGuiApplication::setDesktopFileName(QLatin1String(mr::kDesktopId));
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
        // After the windows that open with every start, as the tool bar would open them.
        QObject::connect(&frmMain, &mr::TfrmMain::deferredStartup, &frmMain,
                         [&frmMain, count = *explorers] {
                             const mr::TdmCommands& c = frmMain.commands();
                             for (int i = 0; i < count; ++i) {
                                 (i % 2 == 0 ? c.actLocalFiles : c.actMoonrakeExplorer)->trigger();
                             }
                         });
        frmMain.showForStart(mr::startModeFor(args, frmMain.trayAvailable()));
        return QApplication::exec();
    } catch (const std::exception& e) {
        showStartError(QString::fromUtf8(e.what()));
        return 1;
    }
}
