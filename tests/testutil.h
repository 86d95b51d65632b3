#pragma once

#include <QByteArray>
#include <QString>

namespace mr::test {

// Bytes from a hex text such as "07 00 E8"; blanks are ignored.
QByteArray hex(const char* text);

// Folder of the built programs, for tests that start them as processes.
QString binDir();

}  // namespace mr::test
