#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

namespace mr::test {

// Bytes from a hex text such as "07 00 E8"; blanks are ignored.
QByteArray hex(const char* text);

// Runs the event loop, letting it block and wake as a program's would, until the predicate
// holds or the time is up.
bool waitUntil(const std::function<bool()>& predicate, int timeoutMs = 15000);

// A local port nobody listens on.
quint16 deadPort();

// Folder of the built programs, for tests that start them as processes.
QString binDir();

}  // namespace mr::test
