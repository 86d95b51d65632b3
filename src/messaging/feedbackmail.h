#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

namespace mr {

class SettingsFile;

// Texts the feedback window and the headless client show while a mail goes out.
inline constexpr char kFeedbackConnectedText[] = "Connected to server.";
inline constexpr char kFeedbackSendingText[] = "Sending feedback...";
inline constexpr char kFeedbackCompletedText[] = "Send completed. Thank you for your participation";
inline constexpr char kFeedbackConnectErrorText[] = "Error while connecting to server!";
inline constexpr char kFeedbackSendErrorText[] = "Error sending feedback!";

// Where feedback goes: the operator's mail host and the address that is both sender and
// recipient of the mail.
struct FeedbackTarget {
    static constexpr std::uint16_t kDefaultPort = 25;

    QString host;
    std::uint16_t port = kDefaultPort;
    QString address;

    // [Host] "Mail" (host:port, first entry) else the first "Http" host's name on port 25;
    // [Host] "FeedbackAddress" else "feedback@" + the mail host.
    static FeedbackTarget fromSettings(const SettingsFile& file);
    // "feedback@host", with an IP address written as an address literal.
    static QString defaultAddress(const QString& host);
};

// The whole mail as it goes over the wire, before dot-stuffing: RFC 5322 headers (sender
// "nickname" <address>, recipient address, subject "FeedBack", mailer "Moonrake"), a blank
// line, then the text as UTF-8 quoted-printable with CRLF line ends.
QByteArray composeFeedbackMail(const QString& nickname, const QString& address, const QString& text,
                               const QDateTime& date);
// RFC 2045 quoted-printable; line breaks of the text become CRLF, no encoded line is longer
// than 76 characters.
QByteArray encodeQuotedPrintable(const QString& text);

// Sends one feedback mail over SMTP on a thread of its own; the signals arrive on the thread
// that owns this object, in the order connected, sendingStarted, then finished. Destroying
// the object abandons a send in progress without any signal.
class FeedbackMail : public QObject {
    Q_OBJECT
public:
    enum class Result { Sent, ConnectFailed, SendFailed };

    explicit FeedbackMail(QObject* parent = nullptr);
    ~FeedbackMail() override;

    void setTimeouts(int connectMs, int totalMs);
    // False when a send is already running.
    bool send(const FeedbackTarget& target, const QString& nickname, const QString& text);
    bool busy() const { return m_running; }

    // The text the user sees for a result.
    static QString resultText(Result result);

signals:
    void connected();
    void sendingStarted();
    // detail: the mail library's own words on a failure, for logs and the headless client.
    void finished(mr::FeedbackMail::Result result, const QString& detail);

private:
    struct Job;
    void run(std::shared_ptr<Job> job);
    void joinWorker();

    std::thread m_worker;
    std::atomic<bool> m_abort{false};
    bool m_running = false;
    int m_connectTimeoutMs = 15000;
    int m_totalTimeoutMs = 60000;
};

}  // namespace mr
