#include "core/datetime.h"

#include <cmath>

namespace mr {

namespace {

const QDate kEpoch(1899, 12, 30);
constexpr double kMsPerDay = 86400000.0;

}  // namespace

TDateTime toDateTime(const QDateTime& when) {
    const QDateTime local = when.toLocalTime();
    const double days = static_cast<double>(kEpoch.daysTo(local.date()));
    const double ms = static_cast<double>(local.time().msecsSinceStartOfDay());
    // Before the epoch the fraction still counts forward from midnight, its sign following the day.
    return days >= 0 ? days + ms / kMsPerDay : days - ms / kMsPerDay;
}

QDateTime fromDateTime(TDateTime value) {
    if (!std::isfinite(value) || std::fabs(value) > 3.0e6) {
        return {};
    }
    const double whole = std::trunc(value);
    const double fraction = std::fabs(value - whole);
    qint64 ms = std::llround(fraction * kMsPerDay);
    qint64 days = static_cast<qint64>(whole);
    if (ms >= static_cast<qint64>(kMsPerDay)) {
        ms -= static_cast<qint64>(kMsPerDay);
        days += value >= 0 ? 1 : -1;
    }
    return QDateTime(kEpoch.addDays(days), QTime::fromMSecsSinceStartOfDay(static_cast<int>(ms)));
}

TDateTime nowDateTime() { return toDateTime(QDateTime::currentDateTime()); }

}  // namespace mr
