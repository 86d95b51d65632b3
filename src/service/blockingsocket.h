#pragma once

#include <QByteArrayView>
#include <QString>

#include <cstdint>

struct addrinfo;

namespace mr {

// A TCP client socket for the agent's workers: blocking calls with time-outs, every wait
// being one poll() on the socket and on the stop event's descriptor. A plain POSIX socket
// rather than QTcpSocket, because a worker blocked in a read for minutes must wake the moment
// the channel is stopped or the program exits, and poll() on a second descriptor gives that
// without an event loop in each worker.
class BlockingSocket {
public:
    enum class Result { Ok, Timeout, Closed, Stopped, Error };
    // What woke an idle wait.
    enum class Wake { Readable, Other, Stopped, Error };

    // stopFd: a descriptor that becomes readable when every wait must end at once.
    explicit BlockingSocket(int stopFd);
    ~BlockingSocket();
    BlockingSocket(const BlockingSocket&) = delete;
    BlockingSocket& operator=(const BlockingSocket&) = delete;

    // A negative time-out waits without limit.
    Result connectTo(const QString& host, std::uint16_t port, int timeoutMs);
    Result writeAll(QByteArrayView data, int timeoutMs);
    // Waits until bytes (or the peer's close) can be read.
    Result waitReadable(int timeoutMs);
    // Reads at most max bytes; Closed when the peer has closed the connection.
    Result readSome(char* buffer, qsizetype max, qsizetype& got, int timeoutMs);
    // Waits without limit for the socket to become readable or otherFd to become readable.
    Wake waitIdle(int otherFd);
    void close();
    bool isOpen() const { return m_fd >= 0; }

    // The last failure, for diagnostics only.
    QString errorText() const { return m_error; }

private:
    Result connectToAny(const ::addrinfo* list, int timeoutMs);
    // Polls the socket for events and the stop descriptor; Ok when the socket is ready.
    Result waitFor(short events, int timeoutMs);

    int m_stopFd;
    int m_fd = -1;
    QString m_error;
};

}  // namespace mr
