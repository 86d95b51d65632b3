#pragma once

#include <QString>

namespace mr {

// The name of a connection type (line speed) by its index, 0 "Unknown" to 10 "T3"; an index
// outside the table has no name and gives the empty text.
QString LineSpeedName(int index);

}  // namespace mr
