#include "testutil.h"

namespace mr::test {

QByteArray hex(const char* text) { return QByteArray::fromHex(QByteArray(text).replace(' ', "")); }

QString binDir() { return QStringLiteral(MOONRAKE_BIN_DIR); }

}  // namespace mr::test
