#pragma once

#include <QDateTime>

namespace mr {

// Date-time values as stored and sent: days since 1899-12-30, the fraction being the time of
// day, in local time.
using DateTime = double;

DateTime toDateTime(const QDateTime& when);
// The same value for a file time in milliseconds since 1970 UTC, without building a QDateTime:
// a folder walk converts one per file. Uses the time zone as of the last tzset().
DateTime toDateTimeFromEpochMs(qint64 ms);
QDateTime fromDateTime(DateTime value);
DateTime nowDateTime();

}  // namespace mr
