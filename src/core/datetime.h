#pragma once

#include <QDateTime>

namespace mr {

// Date-time values as stored and sent: days since 1899-12-30, the fraction being the time of
// day, in local time.
using TDateTime = double;

TDateTime toDateTime(const QDateTime& when);
QDateTime fromDateTime(TDateTime value);
TDateTime nowDateTime();

}  // namespace mr
