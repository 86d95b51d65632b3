#pragma once

#include <QString>
#include <QStringList>

#include <cstdio>

namespace mr::cli {

// Exit codes of every command.
enum ExitCode { Success = 0, Failure = 1, UsageError = 2 };

struct Context {
    QString profileDir;
    std::FILE* out = stdout;
    std::FILE* err = stderr;
};

// Runs one command line (the command and its arguments, options already taken out).
int run(const Context& context, const QStringList& args);

QString usage();

}  // namespace mr::cli
