#pragma once

#include "net/ftpwire.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

class QFile;
class QTcpServer;
class QTcpSocket;
class QTimer;

namespace mr {

// A command handler's failure; the session answers "501 " and the message.
class FtpCommandError : public std::runtime_error {
public:
    explicit FtpCommandError(const QString& message);
    QString message() const;
};

enum class FtpSessionState { Invalid, WaitUser, WaitPassword, Ready, WaitAnswer };

// Command types, numbered from 0 in this order.
enum class FtpCmdType {
    PORT,
    STOR,
    RETR,
    CWD,
    XPWD,
    PWD,
    USER,
    PASS,
    LIST,
    RMD,
    TYPE,
    SYST,
    QUIT,
    DELE,
    RNFR,
    MKD,
    RNTO,
    NOOP,
    NLST,
    ABOR,
    CDUP,
    SIZE,
    REST,
    APPE,
    STRU,
    REQF,
    PUTBR,
    REQD,
    CHKP,
    None
};

// What the data connection of a session is doing.
enum class FtpDataMode { None, Send, Receive };

// One accepted control connection and what the dialect keeps about it.
class FtpCtrlSession : public QObject {
    Q_OBJECT
public:
    explicit FtpCtrlSession(QTcpSocket* control, QObject* parent = nullptr);
    ~FtpCtrlSession() override;

    QTcpSocket* control() const { return m_control; }
    // The peer's address as text, IPv4 without the mapped prefix.
    QString peerAddress() const;

    FtpSessionState State = FtpSessionState::WaitUser;
    QString UserName;
    QString PassWord;
    FtpCmdType CmdType = FtpCmdType::None;
    quint32 DataAddress = 0;
    quint16 DataPort = 0;
    bool Passive = false;
    QString FileName;
    QString FilePath;
    QString Directory;
    qint64 RestartPos = 0;
    bool Aborting = false;
    // Why the receiving side itself ended the push it was storing (Aborting is set as well).
    enum class StoreFailure { None, CannotWrite, TooLong };
    StoreFailure StoreFailed = StoreFailure::None;
    QString TransferError = QStringLiteral("Transfer Ok");
    // REQF fields kept for the hook that runs once the reply is out.
    QString ReqPath;
    qint64 ReqResumeOffset = 0;
    quint16 ReqCallbackPort = 0;
    qint32 ReqRequesterId = 0;
    QString ReqRequesterName;
    QByteArray DataStream;
    qint32 DownloadItemId = -1;

private:
    friend class TFtpServer;
    QTcpSocket* m_control;
    LineFramer m_framer;
    QTimer* m_idle = nullptr;
    QTcpServer* m_passive = nullptr;
    QPointer<QTcpSocket> m_data;
    FtpDataMode m_dataMode = FtpDataMode::None;
    bool m_dataConnected = false;
    std::unique_ptr<QFile> m_file;
    bool m_closing = false;
    bool m_quit = false;
};

// The control-session server of the FTP dialect: line framing, sessions, a 32-entry command
// table, login, PORT/PASV data connections, sending a buffer and receiving into a file.
class TFtpServer : public QObject {
    Q_OBJECT
public:
    // Fills answer; throws FtpCommandError for a "501" answer.
    using Handler = std::function<void(FtpCtrlSession&, const QByteArray& params, QString& answer)>;
    static constexpr int kMaxCommands = 32;

    explicit TFtpServer(QObject* parent = nullptr);
    ~TFtpServer() override;

    // Listens on a system-chosen port when port is 0.
    bool start(const QHostAddress& address = QHostAddress::Any, quint16 port = 0);
    void stop();
    quint16 port() const;

    void clearCommands();
    // Throws FtpCommandError("Too many command") when the table is full. Commands that need a
    // login answer "530 ..." before their handler runs.
    void addCommand(const QByteArray& keyword, Handler handler, bool loginRequired);
    int commandCount() const { return static_cast<int>(m_commands.size()); }

    // Standard handlers, for registration by a derived server.
    void CommandPORT(FtpCtrlSession& s, const QByteArray& params, QString& answer);
    void CommandUSER(FtpCtrlSession& s, const QByteArray& params, QString& answer);
    void CommandPASS(FtpCtrlSession& s, const QByteArray& params, QString& answer);
    void CommandQUIT(FtpCtrlSession& s, const QByteArray& params, QString& answer);
    void CommandABOR(FtpCtrlSession& s, const QByteArray& params, QString& answer);
    void CommandNOOP(FtpCtrlSession& s, const QByteArray& params, QString& answer);
    void CommandTYPE(FtpCtrlSession& s, const QByteArray& params, QString& answer);
    void CommandPASV(FtpCtrlSession& s, const QByteArray& params, QString& answer);
    // Push into a file chosen by TriggerValidatePut, appending from its current size.
    void CommandPUTBR(FtpCtrlSession& s, const QByteArray& params, QString& answer);

    // Control sessions silent for this long (control and data) are closed.
    void setIdleTimeout(int ms) { m_idleTimeoutMs = ms; }
    // 0: no limit; above it a client gets "421 Too many users connected.".
    void setMaxClients(int count) { m_maxClients = count; }
    int sessionCount() const { return static_cast<int>(m_sessions.size()); }
    const std::vector<FtpCtrlSession*>& sessions() const { return m_sessions; }

signals:
    void sessionClosed(mr::FtpCtrlSession* session);

protected:
    // Runs after each reply line has been written.
    virtual void TriggerAnswerSent(FtpCtrlSession& s, const QString& answer);
    // Decides whether a push may be stored and sets s.FilePath; false refuses it.
    virtual bool TriggerValidatePut(FtpCtrlSession& s);
    // The data connection of a push opened (error 0) or failed.
    virtual void StorSessionConnected(FtpCtrlSession& s, int error);
    // Whether a push whose sender closed in order brought its whole file (s.FilePath holds
    // everything written); one cut short is answered as a broken transfer.
    virtual bool StoredWhole(FtpCtrlSession& s);
    // A push's data connection ended; error 0 for an orderly close.
    virtual void StorSessionClosed(FtpCtrlSession& s, int error);
    // Bytes of a push written to its file.
    virtual void StoredData(FtpCtrlSession& s, qint64 bytes);
    // How many more bytes the push may store, or -1 for no bound; a push that sends more ends
    // as failed, and what passes the bound is never written.
    virtual qint64 StoreRoom(FtpCtrlSession& s);

    // Sends s.DataStream on the data connection, then "226 File sent ok" or "426 ...".
    void startSendStream(FtpCtrlSession& s);
    // Ends the data connection at once; a push is reported as aborted.
    void abortData(FtpCtrlSession& s, const QString& reason);
    // Ends the push being stored as this side's own failure.
    void failStore(FtpCtrlSession& s, FtpCtrlSession::StoreFailure why);
    bool hasData(const FtpCtrlSession& s) const;

private:
    struct Command {
        QByteArray keyword;
        Handler handler;
        bool loginRequired;
    };

    void onNewConnection();
    void onControlReadyRead(FtpCtrlSession* s);
    void handleLine(FtpCtrlSession& s, const QByteArray& line);
    void closeSession(FtpCtrlSession* s);
    void touch(FtpCtrlSession& s);
    bool openDataConnection(FtpCtrlSession& s, FtpDataMode mode);
    void attachData(FtpCtrlSession& s, QTcpSocket* socket);
    void onDataConnected(FtpCtrlSession* s);
    void onDataReadyRead(FtpCtrlSession* s);
    void onDataBytesWritten(FtpCtrlSession* s);
    void onDataError(FtpCtrlSession* s, int error);
    void storeAvailable(FtpCtrlSession& s);
    void finishData(FtpCtrlSession& s, int error, bool sendReply);
    void writeLine(FtpCtrlSession& s, const QString& answer);

    QTcpServer* m_listener;
    std::vector<Command> m_commands;
    std::vector<FtpCtrlSession*> m_sessions;
    QByteArray m_received;
    int m_idleTimeoutMs = 120000;
    int m_maxClients = 0;
};

}  // namespace mr
