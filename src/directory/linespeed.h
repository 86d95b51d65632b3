#pragma once

#include <QString>

namespace mr {

// The name of a line-speed (connection type) index as search results and profiles show it:
// "Unknown", "14,400", "28.800", "33.600", "56K", ... "T3"; empty for an index past the table.
QString LineSpeedName(int index);

}  // namespace mr
