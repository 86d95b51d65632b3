#pragma once

#include "testutil.h"

#include <QString>

namespace mr::test {

// The nickname stored in the profile every window test runs on.
inline const QString kNickname = QStringLiteral("tester");

}  // namespace mr::test
