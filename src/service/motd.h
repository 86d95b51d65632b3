#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <optional>

class QTcpSocket;

namespace mr {

class HostStore;

// The message of the day: fetched from the first web host at every connect, it refreshes the
// host lists, announces the newest program version and carries a message for the user.
class MessageOfTheDay : public QObject {
    Q_OBJECT
public:
    static constexpr char kPath[] = "/motd/motd.txt";
    static constexpr std::uint16_t kDefaultPort = 80;
    static constexpr int kDefaultTimeoutMs = 30000;
    // A longer file is not a message of the day; the fetch fails.
    static constexpr qsizetype kMaxBytes = 1 << 20;
    static constexpr char kUpdateText[] =
        "A new version of Moonrake is available! The update wizard will run now.";
    static constexpr char kUpdateTitle[] = "Moonrake update";
    // The machine-wide file the update program keeps its version in, and its group.
    static constexpr char kDefaultUpdateIni[] = "/etc/moonrake/update.ini";
    static constexpr char kUpdateGroup[] = "Apps/Moonrake";

    // Starts the update program without waiting for it; false when it could not be started.
    using Launcher = std::function<bool(const QString& program)>;

    explicit MessageOfTheDay(QObject* parent = nullptr);
    ~MessageOfTheDay() override;

    void setTimeout(int ms) { m_timeoutMs = ms; }
    // Replaces the detached process start, for programs that must not start anything.
    void setLauncher(Launcher launcher) { m_launcher = std::move(launcher); }

    // The whole stage: fetch, refresh the host lists, compare the versions and start the
    // update program when a newer one is announced. Runs a local event loop while it fetches;
    // every failure ends the stage silently.
    void fetchAndApply(HostStore& hosts);
    // Ends a running fetch at once; it then counts as failed.
    void abort();
    bool fetching() const { return !m_socket.isNull(); }

    // Reads the reply to one GET as it arrives: the status line, the headers, then a body
    // delimited by Content-Length, chunks or the end of the connection, at most kMaxBytes.
    class ReplyReader {
    public:
        enum class State { Reading, Done, Failed };
        State feed(QByteArrayView bytes);
        // The server closed the connection: a body delimited by the close is complete.
        State end();
        State state() const { return m_state; }
        const QByteArray& body() const { return m_body; }

    private:
        State fail();
        bool parseHead(QByteArrayView head);
        void readChunks();

        State m_state = State::Reading;
        QByteArray m_pending;  // the head, or chunk framing, not read yet
        QByteArray m_body;
        bool m_headRead = false;
        bool m_chunked = false;
        qint64 m_length = -1;     // from Content-Length; -1 when the close ends the body
        qint64 m_chunkLeft = -1;  // bytes of the current chunk still to come; -1 at a size line
    };

    // The lines of the last fetch (empty before the first or after a failed one).
    QStringList lines() const { return m_lines; }
    // Line 5 onward, as one text: what the message window shows.
    QString message() const;

    static QStringList splitLines(const QByteArray& body);
    // Lines 1 to 3 replace the chat, service and web host lists; an empty line changes nothing.
    static void applyHostLines(const QStringList& lines, HostStore& hosts);
    // A decimal number with "." as separator, as a fixed-point value with four decimal places
    // (1.05 -> 10500); nothing when the text is not such a number.
    static std::optional<qint64> fixedPoint4(const QString& text);
    // True only when both read as numbers and offered is the greater.
    static bool isNewer(const QString& offered, const QString& installed);
    // The value "Version" of the update program's settings (MOONRAKE_UPDATE_INI, else the
    // default file); nothing when the file or the value is absent.
    static std::optional<QString> installedVersion();
    // "wiseupdt" in the executable's folder.
    static QString updateProgramPath();

signals:
    // Shown to the user before the update program starts: a box in the desktop program, a
    // printed line in the console one.
    void updateAvailable(const QString& text, const QString& title);

private:
    std::optional<QByteArray> fetch(const QString& host, std::uint16_t port);

    QPointer<QTcpSocket> m_socket;
    bool m_aborted = false;
    QStringList m_lines;
    int m_timeoutMs = kDefaultTimeoutMs;
    Launcher m_launcher;
};

}  // namespace mr
