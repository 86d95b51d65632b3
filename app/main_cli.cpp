#include "cli_commands.h"

#include "core/profile.h"

#include <QCoreApplication>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("moonrake-cli"));
    QStringList args = QCoreApplication::arguments().mid(1);
    if (args.contains(QLatin1String("--help")) || args.contains(QLatin1String("-h"))) {
        std::fputs(qPrintable(mr::cli::usage()), stdout);
        return mr::cli::Success;
    }
    const qsizetype profileAt = args.indexOf(QLatin1String("--profile"));
    if (profileAt >= 0 && profileAt + 1 >= args.size()) {
        std::fputs("moonrake-cli: --profile needs a folder\n", stderr);
        return mr::cli::UsageError;
    }
    mr::cli::Context context;
    context.profileDir = mr::Profile::resolve(args, mr::Profile::executableDirectory());
    return mr::cli::run(context, args);
}
