#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

namespace mr {

// Where a user can be reached: the "H" reply, layout "AWW".
struct UserLocation {
    QString address;  // empty when the user is offline
    std::uint16_t infoPort = 0;
    std::uint16_t fileServerPort = 0;

    static std::optional<UserLocation> parse(const QByteArray& reply);
};

// Asks the service where a user is; done runs on the main thread with the location, or with
// nothing when the request failed. Returns false when the request could not be placed. A
// request whose owner is destroyed first never calls done.
using UserLocator = std::function<bool(QObject* owner, qint32 userId,
                                       std::function<void(std::optional<UserLocation>)> done)>;

}  // namespace mr
