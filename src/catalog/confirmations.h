#pragma once

#include <QString>

namespace mr {

// Sharing more items than this asks first.
inline constexpr int kShareConfirmLimit = 1000;

// Asked (Yes/No) before sharing more than kShareConfirmLimit items.
QString shareConfirmationText(int count);
// Asked (Yes/No) before removing an entry of the catalog.
QString removeConfirmationText(const QString& fullPath);

}  // namespace mr
