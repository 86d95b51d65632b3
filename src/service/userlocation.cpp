#include "service/userlocation.h"

#include "core/record.h"

namespace mr {

std::optional<UserLocation> UserLocation::parse(const QByteArray& reply) {
    UserLocation location;
    QByteArray address;
    const UnpackResult r =
        UnpackRecord(reply, "AWW", {&address, &location.infoPort, &location.fileServerPort});
    if (!r.ok()) {
        return std::nullopt;
    }
    location.address = QString::fromUtf8(address);
    return location;
}

}  // namespace mr
