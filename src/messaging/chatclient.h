#pragma once

#include "messaging/channeltree.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include <vector>

class QTcpSocket;
class QTimer;

namespace mr {

class HostStore;
class TChatClient;

// A reply code of the chat server and what the client does with it. A code matches when it
// equals the end, item or start code, tried in that order; 0 stands for "no such code".
struct TChatTask {
    qint32 startCode = 0;
    qint32 itemCode = 0;
    qint32 endCode = 0;
    void (TChatClient::*handler)(int kind) = nullptr;
    // Parameters the handler may read; missing ones read as empty.
    int paramCount = 0;
};

// The connection to the chat server: signs on, keeps the channel tree from the server's
// listings and reports what happens in channels. Lives on the GUI thread.
class TChatClient : public QObject {
    Q_OBJECT
public:
    // A longer line from the server, or that much data without a line end, closes the connection.
    static constexpr qsizetype kMaxLineBytes = 64 * 1024;
    static constexpr int kConnectTimeoutMs = 15000;

    explicit TChatClient(QObject* parent = nullptr);
    ~TChatClient() override;

    // The seven tasks, in the order in which a code is looked up.
    static std::vector<TChatTask> defaultTasks();
    // The index of the first task holding code, and which of its codes matched (start 0, item
    // 1, end 2); -1 when none does.
    static int matchTask(const std::vector<TChatTask>& tasks, qint32 code, int* kind);
    // Pads tokens (the code and its parameters) with empty ones to paramCount + 1.
    static void padTokens(QList<QByteArray>& tokens, int paramCount);

    // Ignored while a connection is being made or is up.
    void Connect(const QString& host, quint16 port);
    // Connects to the entry of the chat host list after the one used last; false (and nothing
    // tried) when the list is empty.
    bool ConnectNext(HostStore& hosts);
    // Closes after what was written has gone out.
    void Disconnect();
    // Until the connection has closed completely.
    bool isOpen() const;
    // After the server's welcome, until the connection ends.
    bool connected() const { return m_connected; }
    // From Connect until the connection is up or has failed.
    bool connecting() const;

    // group without its "@".
    void JoinChannel(const QString& group, const QString& channel);
    void LeaveChannel(const QString& group, const QString& channel);
    void SendChannelMessage(const QString& group, const QString& channel, const QString& text);
    void RequestUserId(const QString& nickname);
    void RequestList();
    // Entering sends JOIN, leaving PART and lowers the channel's user count; nothing when the
    // channel is already in that state. False when nothing was sent. A channel entered stays
    // entered across a dropped connection: the next welcome sends JOIN for it again.
    bool EnterChannel(const QString& group, const QString& channel, bool enter);

    TChannelTree& tree() { return m_tree; }
    QString nickname() const { return m_nickname; }

signals:
    void connectFailed();
    // An established connection ended (not by Disconnect()).
    void connectionLost();
    void welcomed();
    void listComplete();
    // own: the nickname is the user's own.
    void memberJoined(const QString& group, const QString& channel, const QString& nickname,
                      bool own);
    void memberLeft(const QString& group, const QString& channel, const QString& nickname,
                    const QString& text);
    // The channel's member list is complete.
    void membersListed(const QString& group, const QString& channel, const QStringList& members);
    void messageReceived(const QString& group, const QString& channel, const QString& nickname,
                         const QString& text);
    void userIdReceived(const QString& nickname, qint32 userId);

private:
    void send(const QList<QByteArray>& words);
    void onConnected();
    void onReadyRead();
    void onClosed();
    void failConnect();
    // False when the line cannot be handled and the connection must close.
    bool handleLine(const QByteArray& line);
    QString param(int index) const;

    void doWelcome(int kind);
    void doJoin(int kind);
    void doPart(int kind);
    void doMembers(int kind);
    void doMessage(int kind);
    void doList(int kind);
    void doUserId(int kind);

    QTcpSocket* m_socket;
    QTimer* m_connectTimer;
    std::vector<TChatTask> m_tasks;
    QList<QByteArray> m_tokens;
    QByteArray m_buffer;
    TChannelTree m_tree;
    QString m_nickname;
    bool m_connected = false;
    bool m_established = false;
    int m_lastHost = -1;
};

}  // namespace mr
