#pragma once

#include "net/ftpwire.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>

class QFile;
class QSocketNotifier;
class QTcpServer;
class QTcpSocket;
class QTimer;

namespace mr {

// The requests an FTP client runs one at a time.
enum class FtpRequest { None, Open, Quit, Custom, PutByRequest };

// Asynchronous FTP control client: connect-and-login, one custom command with a range of
// accepted reply numbers, a push (PORT, PUTBR, file data from an offset) and QUIT. Every
// request ends with requestDone(request, error): 0 for success, else the reply number or a
// socket error number.
class TFtpClient : public QObject {
    Q_OBJECT
public:
    explicit TFtpClient(QObject* parent = nullptr);
    ~TFtpClient() override;

    QString HostName;
    QString Port;
    QString UserName;
    QString PassWord;
    QString HostDirName;
    QString HostFileName;
    QString LocalFileName;
    qint64 RestartOffset = 0;

    // No reply or data for this long ends the running request with an error.
    void setTimeout(int ms) { m_timeoutMs = ms; }
    bool busy() const { return m_request != FtpRequest::None; }
    bool connected() const;
    // The last reply line received.
    QByteArray lastResponse() const { return m_lastResponse; }

    // Each returns false (and starts nothing) while another request runs.
    bool OpenAsync();
    bool QuitAsync();
    // Sends line and accepts replies whose leading number is in [low, high].
    bool CustomAsync(const QByteArray& line, int low, int high);
    bool PutByRequestAsync();
    // Writes raw bytes on the control connection and stops any push; the session closes once
    // the receiver has dropped the push's data connection (or after a short grace).
    void abortRaw(const QByteArray& bytes);
    // Drops the connection without a word.
    void closeNow();

signals:
    void requestDone(mr::FtpRequest request, int error);
    // Every reply line as it arrives.
    void response(const QByteArray& line);
    // Bytes of the local file that a push has sent, counted from its start.
    void progress(qint64 count);
    void sessionClosed(int error);

private:
    enum class Step {
        Idle,
        Connecting,
        Greeting,
        User,
        Pass,
        Custom,
        Port,
        Putbr,
        Sending,
        PutResult,
        Quit
    };

    bool begin(FtpRequest request);
    void finish(int error);
    void sendLine(const QByteArray& line, Step step);
    void onConnected();
    void onReadyRead();
    void onReply(const QByteArray& line, int code);
    void onSocketError(int error);
    void onDataAccepted();
    void watchDirect();
    // One turn of the push: the file handed to the data socket until it takes no more.
    void pump();
    void fail(int error);
    void touch();
    void endAbort();
    // Closes a push's data listener and drops its file and chunk; the data connection is left
    // to the caller, since a finished push and an aborted one end it differently.
    void releasePush();

    QTcpSocket* m_control;
    LineFramer m_framer;
    QTimer* m_timer;
    QTcpServer* m_dataListener = nullptr;
    QPointer<QTcpSocket> m_data;
    QPointer<QSocketNotifier> m_direct;
    std::unique_ptr<QFile> m_file;
    // The chunk of the file on its way to the data socket: [m_chunkAt, m_chunkEnd) not sent yet.
    std::unique_ptr<char[]> m_chunk;
    qint64 m_chunkAt = 0;
    qint64 m_chunkEnd = 0;
    FtpRequest m_request = FtpRequest::None;
    Step m_step = Step::Idle;
    int m_low = 0;
    int m_high = 0;
    int m_timeoutMs = 60000;
    bool m_putAccepted = false;
    bool m_fileDone = false;
    qint64 m_sent = 0;
    QByteArray m_lastResponse;
    bool m_closedReported = false;
};

}  // namespace mr
