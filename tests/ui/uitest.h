#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QString>

namespace mr::test {

// The nickname stored in the profile every window test runs on.
inline const QString kNickname = QStringLiteral("tester");

// Runs the event loop until the condition holds or the time is up.
template <typename Condition>
bool waitUntil(Condition condition, int timeoutMs = 2000) {
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

}  // namespace mr::test
