#include "cli_commands.h"

#include "core/profile.h"

#include <QCoreApplication>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("moonrake-cli"));
    QStringList args = QCoreApplication::arguments().mid(1);
    const qsizetype profileAt = args.indexOf(QLatin1String("--profile"));
    if (profileAt >= 0 && profileAt + 1 >= args.size()) {
        std::fputs("moonrake-cli: --profile needs a folder\n", stderr);
        return mr::cli::UsageError;
    }
    mr::cli::Context context;
    context.profileDir = mr::Profile::resolve(args, mr::Profile::executableDirectory());
    // Only in the command's place: later, "-h" is a command's argument, such as a message text.
    if (!args.isEmpty() && (args.first() == u"--help" || args.first() == u"-h")) {
        std::fputs(qPrintable(mr::cli::usage()), stdout);
        return mr::cli::Success;
    }
    return mr::cli::run(context, args);
}
