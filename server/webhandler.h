#pragma once

#include "core/version.h"
#include "store.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace mr::server {

inline constexpr char kDefaultMotd[] =
    "Welcome to the Moonrake Network!\nShare your files, find others' and have fun.";

// What the message of the day announces.
struct WebSite {
    QString chatEndpoint;  // empty while no chat server runs
    QString serviceEndpoint;
    QString webEndpoint;
    QString latestVersion = QString::fromLatin1(kVersionNumber);
    QByteArray message = kDefaultMotd;
};

struct HttpResponse {
    int status = 200;
    QByteArray body;
};

// Serves "/motd/motd.txt" and the "Register?" and "SetUserInfo?" commands of
// "/Search/mrSearch.dll"; other paths are 404, other methods 405.
HttpResponse handleWebRequest(Store& store, const WebSite& site, QByteArrayView method,
                              QByteArrayView target);

// "HTTP/1.0 " status line, Content-Type, Content-Length and "Connection: close", then the body.
QByteArray encodeResponse(const HttpResponse& response);

// A nickname a member may register: not empty, not too long, no blanks or control characters.
bool validNickname(const QString& nickname);

}  // namespace mr::server
