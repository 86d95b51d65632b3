#include "service/registrationclient.h"

#include "core/hostinfo.h"
#include "core/profile.h"
#include "core/userinfo.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

#include <algorithm>
#include <cstdint>

namespace mr {

namespace {

constexpr char kSearchProgram[] = "/Search/mrSearch.dll?";

// A query value as typed, but for what would end it or change its meaning ("&", "=", "#",
// "%", blanks, line breaks) and what a request line cannot carry: a service that reads values
// without decoding them still stores an e-mail address or a password of printable signs as it
// was typed.
QByteArray queryValue(const QString& value) {
    return QUrl::toPercentEncoding(value, "!$'()*+,/:;@?");
}

void appendField(QByteArray& out, const char* name, const QString& value) {
    out.append('&');
    out.append(name);
    out.append('=');
    out.append(queryValue(value));
}

}  // namespace

RegistrationProfile RegistrationProfile::fromSettings(const TUserInfo& info) {
    RegistrationProfile p;
    p.showInfo = info.showInfo() != 0;
    p.firstName = info.firstName();
    p.lastName = info.lastName();
    p.email = info.email();
    p.dateOfBirth = info.knownBDate();
    const QString sex = info.sex().trimmed();
    if (sex == QLatin1String("M") || sex == QLatin1String("F")) {
        p.sex = sex;
    }
    p.country = info.country();
    p.homepage = info.homepage();
    p.languages = info.languages();
    p.info = info.message();
    p.connection = info.connection();
    return p;
}

RegistrationClient::RegistrationClient(QObject* parent)
    : QObject(parent), m_manager(new QNetworkAccessManager(this)) {
    // The service is reached directly; the client has no proxy support.
    m_manager->setProxy(QNetworkProxy::NoProxy);
    if (const auto entry = HostInfo().get(HostStore::Http, 0); entry && !entry->host.isEmpty()) {
        setEndpoint(entry->host,
                    entry->port > 0 ? static_cast<std::uint16_t>(entry->port) : kDefaultPort);
    }
}

RegistrationClient::~RegistrationClient() {
    abort();
}

void RegistrationClient::setEndpoint(const QString& host, std::uint16_t port) {
    m_host = host;
    m_port = port;
}

QByteArray RegistrationClient::registerPath(const QString& name, const QString& password) {
    QByteArray out(kSearchProgram);
    out.append("Register?username=");
    out.append(queryValue(name));
    appendField(out, "password", password);
    return out;
}

QByteArray RegistrationClient::setUserInfoPath(qint32 userId, const QString& password,
                                               const RegistrationProfile& p) {
    QByteArray out(kSearchProgram);
    out.append("SetUserInfo?UserID=");
    out.append(QByteArray::number(userId));
    appendField(out, "pass", password);
    appendField(out, "ShowInfo", p.showInfo ? QStringLiteral("1") : QStringLiteral("0"));
    const auto optional = [&out](const char* name, const QString& value) {
        if (!value.isEmpty()) {
            appendField(out, name, value);
        }
    };
    optional("Firstname", p.firstName);
    optional("Lastname", p.lastName);
    optional("Email", p.email);
    if (p.dateOfBirth) {
        appendField(out, "DateOfBirth", QString::number(*p.dateOfBirth, 'g', 15));
    }
    optional("Sex", p.sex);
    optional("Country", p.country);
    optional("Homepage", p.homepage);
    optional("Languages", p.languages);
    optional("Info", p.info);
    appendField(out, "Connection", QString::number(p.connection));
    return out;
}

qint32 RegistrationClient::parseRegisterReply(const QByteArray& body) {
    const QByteArray text = body.trimmed();
    if (text.isEmpty() || text.size() > 10 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return 0;
    }
    bool ok = false;
    const qint64 id = text.toLongLong(&ok);
    return ok && id > 0 && id <= INT32_MAX ? static_cast<qint32>(id) : 0;
}

void RegistrationClient::get(const QByteArray& pathAndQuery) {
    abort();
    m_error.clear();
    QByteArray address("http://");
    const QByteArray host = QUrl::toAce(m_host);
    address.append(host.contains(':') ? '[' + host + ']' : host);
    address.append(':');
    address.append(QByteArray::number(m_port));
    address.append(pathAndQuery);
    // Already encoded: taken as it is, so the request line carries these exact bytes.
    const QUrl url = QUrl::fromEncoded(address, QUrl::StrictMode);
    if (!url.isValid()) {
        m_error = QStringLiteral("invalid web address: ") + QString::fromLatin1(address);
        QMetaObject::invokeMethod(
            this, [this] { emit finished(false, {}); }, Qt::QueuedConnection);
        return;
    }
    QNetworkRequest request(url);
    request.setTransferTimeout(m_timeoutMs);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    m_reply = m_manager->get(request);
    connect(m_reply, &QNetworkReply::finished, this, &RegistrationClient::replyFinished);
}

void RegistrationClient::abort() {
    if (m_reply) {
        m_reply->abort();
    }
}

void RegistrationClient::replyFinished() {
    QNetworkReply* reply = qobject_cast<QNetworkReply*>(sender());
    if (!reply) {
        return;
    }
    reply->deleteLater();
    if (reply == m_reply) {
        m_reply.clear();
    }
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (reply->error() != QNetworkReply::NoError || status < 200 || status >= 300) {
        m_error = reply->errorString();
        emit finished(false, {});
        return;
    }
    emit finished(true, reply->readAll());
}

RegistrationOutcome RegistrationClient::registerAndWait(const QString& name,
                                                        const QString& password, TUserInfo& info) {
    RegistrationOutcome outcome;
    const auto reply = getAndWait(registerPath(name, password));
    if (!reply) {
        return outcome;
    }
    outcome.id = parseRegisterReply(*reply);
    if (outcome.id == 0) {
        outcome.kind = RegistrationOutcome::Kind::NameTaken;
        return outcome;
    }
    outcome.kind = RegistrationOutcome::Kind::Registered;
    info.setId(outcome.id);
    info.setNickname(name);
    info.setPassword(password);
    info.file().sync();
    outcome.profileSent =
        getAndWait(setUserInfoPath(outcome.id, password, RegistrationProfile::fromSettings(info)))
            .has_value();
    return outcome;
}

std::optional<QByteArray> RegistrationClient::getAndWait(const QByteArray& pathAndQuery) {
    QEventLoop loop;
    std::optional<QByteArray> result;
    const auto connection =
        connect(this, &RegistrationClient::finished, &loop, [&](bool ok, const QByteArray& body) {
            if (ok) {
                result = body;
            }
            loop.quit();
        });
    get(pathAndQuery);
    loop.exec();
    disconnect(connection);
    return result;
}

}  // namespace mr
