#include "core/datetime.h"

#include <cmath>
#include <ctime>

namespace mr {

namespace {

const QDate kEpoch(1899, 12, 30);
constexpr double kMsPerDay = 86400000.0;

DateTime fromLocalParts(const QDate& date, qint64 msOfDay) {
    const double days = static_cast<double>(kEpoch.daysTo(date));
    const double ms = static_cast<double>(msOfDay);
    // Before the epoch the fraction still counts forward from midnight, its sign following the day.
    return days >= 0 ? days + ms / kMsPerDay : days - ms / kMsPerDay;
}

}  // namespace

DateTime toDateTime(const QDateTime& when) {
    const QDateTime local = when.toLocalTime();
    return fromLocalParts(local.date(), local.time().msecsSinceStartOfDay());
}

DateTime toDateTimeFromEpochMs(qint64 ms) {
    // Qt re-reads the zone file on every conversion; localtime_r reads it once. Outside
    // 1970..2037 Qt applies its own rules, so those times take Qt's path.
    constexpr qint64 kLastFastMs = qint64(0x7fffffff) * 1000;
    if (ms < 0 || ms >= kLastFastMs)
        return toDateTime(QDateTime::fromMSecsSinceEpoch(ms));
    const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    std::tm local{};
    if (!localtime_r(&seconds, &local))
        return toDateTime(QDateTime::fromMSecsSinceEpoch(ms));
    const qint64 msOfDay =
        (qint64(local.tm_hour) * 3600 + local.tm_min * 60 + local.tm_sec) * 1000 + ms % 1000;
    return fromLocalParts(QDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday), msOfDay);
}

QDateTime fromDateTime(DateTime value) {
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

DateTime nowDateTime() {
    return toDateTime(QDateTime::currentDateTime());
}

}  // namespace mr
