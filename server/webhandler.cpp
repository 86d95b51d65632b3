#include "webhandler.h"

#include "core/fields.h"
#include "httprequest.h"

#include <QHash>

#include <algorithm>

namespace mr::server {

namespace {

// Query values by lower-case name; the first of a repeated name wins.
QHash<QByteArray, QString> queryValues(QByteArrayView query) {
    QHash<QByteArray, QString> values;
    for (const QByteArray& pair : query.toByteArray().split('&')) {
        if (pair.isEmpty()) {
            continue;
        }
        const qsizetype eq = pair.indexOf('=');
        const QByteArray name = percentDecode(eq < 0 ? pair : pair.left(eq)).toLower();
        const QByteArray value = eq < 0 ? QByteArray() : percentDecode(pair.mid(eq + 1));
        if (!values.contains(name)) {
            values.insert(name, TextFromPeer(value));
        }
    }
    return values;
}

QByteArray registerAccount(Store& store, const QHash<QByteArray, QString>& q) {
    const QString nickname = q.value("username");
    const QString password = q.value("password");
    if (!validNickname(nickname) || password.isEmpty() ||
        password.toUtf8().size() > kMaxPasswordLength) {
        return "0";
    }
    return QByteArray::number(store.createAccount(nickname, password));
}

QByteArray setUserInfo(Store& store, const QHash<QByteArray, QString>& q) {
    bool ok = false;
    const int id = q.value("userid").toInt(&ok);
    if (!ok || !store.checkPassword(id, q.value("pass"))) {
        return "0";
    }
    ProfileUpdate u;
    auto text = [&q](const char* name, std::optional<QString>& field) {
        if (q.contains(name)) {
            field = q.value(name);
        }
    };
    text("firstname", u.firstName);
    text("lastname", u.lastName);
    text("email", u.email);
    text("sex", u.sex);
    text("country", u.country);
    text("homepage", u.homepage);
    text("languages", u.languages);
    text("info", u.message);
    // A number that does not read leaves its value as it was.
    if (const int v = q.value("showinfo").toInt(&ok); ok) {
        u.showInfo = v != 0;
    }
    if (const int v = q.value("connection").toInt(&ok); ok && v >= 0 && v <= 255) {
        u.connection = v;
    }
    if (const double v = q.value("dateofbirth").toDouble(&ok); ok) {
        u.birthDate = v;
    }
    if (!u.withinLimits() || !store.updateProfile(id, u)) {
        return "0";
    }
    return "1";
}

QByteArray reason(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 400:
            return "Bad Request";
        case 404:
            return "Not Found";
        case 405:
            return "Method Not Allowed";
        default:
            return "Error";
    }
}

}  // namespace

bool validNickname(const QString& nickname) {
    if (nickname.isEmpty() || nickname.size() > kMaxNicknameLength) {
        return false;
    }
    return std::none_of(nickname.begin(), nickname.end(), [](QChar c) {
        return c.isSpace() || c.category() == QChar::Other_Control;
    });
}

HttpResponse handleWebRequest(Store& store, const WebSite& site, QByteArrayView method,
                              QByteArrayView target) {
    if (method != "GET") {
        return {405, "Method Not Allowed\n"};
    }
    const qsizetype question = target.indexOf('?');
    const QByteArrayView path = question < 0 ? target : target.first(question);
    const QByteArrayView rest = question < 0 ? QByteArrayView() : target.sliced(question + 1);
    if (path.compare("/motd/motd.txt", Qt::CaseInsensitive) == 0) {
        QByteArray body;
        for (const QString& line :
             {site.chatEndpoint, site.serviceEndpoint, site.webEndpoint, site.latestVersion}) {
            body += line.toUtf8() + '\n';
        }
        return {200, body + site.message};
    }
    if (path.compare("/Search/mrSearch.dll", Qt::CaseInsensitive) == 0) {
        // "Register?name=value&..." — the command ends at the second "?" (or at an "&").
        qsizetype end = rest.indexOf('?');
        if (end < 0) {
            end = rest.indexOf('&');
        }
        const QByteArrayView command = end < 0 ? rest : rest.first(end);
        const auto values = queryValues(end < 0 ? QByteArrayView() : rest.sliced(end + 1));
        if (command.compare("Register", Qt::CaseInsensitive) == 0) {
            return {200, registerAccount(store, values)};
        }
        if (command.compare("SetUserInfo", Qt::CaseInsensitive) == 0) {
            return {200, setUserInfo(store, values)};
        }
    }
    return {404, "Not Found\n"};
}

QByteArray encodeResponse(const HttpResponse& response) {
    QByteArray out =
        "HTTP/1.0 " + QByteArray::number(response.status) + ' ' + reason(response.status) + "\r\n";
    out += "Content-Type: text/plain; charset=utf-8\r\n";
    out += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
    out += "Connection: close\r\n\r\n";
    return out + response.body;
}

}  // namespace mr::server
