#include "directory/linespeed.h"

#include <array>

namespace mr {

QString LineSpeedName(int index) {
    static constexpr std::array<const char*, 11> kNames = {
        "Unknown",   "14,400", "28.800", "33.600", "56K", "ISDN 64K",
        "ISDN 128K", "Cable",  "DSL",    "T1",     "T3"};
    if (index < 0 || index >= static_cast<int>(kNames.size())) {
        return {};
    }
    return QString::fromLatin1(kNames[static_cast<std::size_t>(index)]);
}

}  // namespace mr
