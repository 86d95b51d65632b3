#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <optional>

class QNetworkAccessManager;
class QNetworkReply;

namespace mr {

class TUserInfo;

// The profile fields sent with "SetUserInfo?"; an empty text is left out of the query.
struct RegistrationProfile {
    bool showInfo = true;
    QString firstName;
    QString lastName;
    QString email;
    std::optional<double> dateOfBirth;  // days since 1899-12-30; absent when not entered
    QString sex;                        // "M", "F" or empty
    QString country;
    QString homepage;
    QString languages;
    QString info;  // the greeting message
    int connection = 0;

    // The stored settings; a birth date counts only when one is stored and it is not 0.
    static RegistrationProfile fromSettings(const TUserInfo& info);
};

// What RegistrationClient::registerAndWait() did.
struct RegistrationOutcome {
    enum class Kind { Registered, NameTaken, Failed };
    Kind kind = Kind::Failed;
    qint32 id = 0;             // the new user's, once registered
    bool profileSent = false;  // registered, and the service took the profile as well
};

// Account registration on the service's web server: plain GETs of "/Search/mrSearch.dll?"
// requests against the first web host. Query values are percent-encoded (UTF-8), so "&", "="
// and blanks in a name or password reach the service as typed.
class RegistrationClient : public QObject {
    Q_OBJECT
public:
    static constexpr int kDefaultTimeoutMs = 30000;
    static constexpr std::uint16_t kDefaultPort = 80;
    // Used when the profile names no web host.
    static constexpr char kBuiltInHost[] = "localhost";

    // The endpoint is the first entry of the "Http" host list, else the built-in host.
    explicit RegistrationClient(QObject* parent = nullptr);
    ~RegistrationClient() override;

    void setEndpoint(const QString& host, std::uint16_t port);
    QString host() const { return m_host; }
    std::uint16_t port() const { return m_port; }
    void setTimeout(int ms) { m_timeoutMs = ms; }

    // "/Search/mrSearch.dll?Register?username=NAME&password=PASS"
    static QByteArray registerPath(const QString& name, const QString& password);
    // "/Search/mrSearch.dll?SetUserInfo?UserID=N&pass=PASS" then ShowInfo, Firstname,
    // Lastname, Email, DateOfBirth, Sex, Country, Homepage, Languages, Info, Connection.
    static QByteArray setUserInfoPath(qint32 userId, const QString& password,
                                      const RegistrationProfile& profile);
    // The new user's id from a "Register?" reply; 0 (name taken) unless the body is a positive
    // decimal number.
    static qint32 parseRegisterReply(const QByteArray& body);

    // Starts one GET; finished follows, with ok false on a network error, an HTTP error
    // status, a time-out or abort().
    void get(const QByteArray& pathAndQuery);
    void abort();
    bool busy() const { return !m_reply.isNull(); }
    // A GET that runs a local event loop until it ends; nothing on failure.
    std::optional<QByteArray> getAndWait(const QByteArray& pathAndQuery);
    QString lastError() const { return m_error; }
    // Registers the name, stores the new ID, Nickname and Password in the settings and sends
    // the profile they hold, each request waiting for its reply; lastError() says why the last
    // one failed.
    RegistrationOutcome registerAndWait(const QString& name, const QString& password,
                                        TUserInfo& info);

signals:
    void finished(bool ok, const QByteArray& body);

private:
    void replyFinished();

    QNetworkAccessManager* m_manager;
    QPointer<QNetworkReply> m_reply;
    QString m_host = QString::fromLatin1(kBuiltInHost);
    std::uint16_t m_port = kDefaultPort;
    int m_timeoutMs = kDefaultTimeoutMs;
    QString m_error;
};

}  // namespace mr
