#include "messaging/chatclient.h"

#include "core/hostinfo.h"
#include "core/profile.h"
#include "messaging/chatline.h"

#include <QTcpSocket>
#include <QTimer>

#include <exception>

namespace mr {
namespace {

QByteArray wire(const QString& text) {
    return text.toUtf8();
}

}  // namespace

TChatClient::TChatClient(QObject* parent)
    : QObject(parent),
      m_socket(new QTcpSocket(this)),
      m_connectTimer(new QTimer(this)),
      m_tasks(defaultTasks()) {
    // Whole lines are taken out at every read, so this bounds what waits unread.
    m_socket->setReadBufferSize(4 * kMaxLineBytes);
    m_connectTimer->setSingleShot(true);
    m_connectTimer->setInterval(kConnectTimeoutMs);
    connect(m_connectTimer, &QTimer::timeout, this, [this] {
        m_socket->abort();
        failConnect();
    });
    connect(m_socket, &QTcpSocket::connected, this, &TChatClient::onConnected);
    connect(m_socket, &QTcpSocket::readyRead, this, &TChatClient::onReadyRead);
    connect(m_socket, &QTcpSocket::disconnected, this, &TChatClient::onClosed);
    connect(m_socket, &QTcpSocket::errorOccurred, this, [this] {
        if (m_established) {
            onClosed();
        } else if (m_connectTimer->isActive()) {
            m_connectTimer->stop();
            m_socket->abort();
            failConnect();
        }
    });
}

TChatClient::~TChatClient() {
    m_established = false;
    m_socket->abort();
}

std::vector<TChatTask> TChatClient::defaultTasks() {
    return {
        {0, 0, 121, &TChatClient::doWelcome, 0}, {201, 0, 0, &TChatClient::doJoin, 3},
        {202, 0, 0, &TChatClient::doPart, 4},    {351, 353, 366, &TChatClient::doMembers, 5},
        {100, 0, 0, &TChatClient::doMessage, 4}, {321, 322, 323, &TChatClient::doList, 3},
        {204, 0, 0, &TChatClient::doUserId, 2},
    };
}

int TChatClient::matchTask(const std::vector<TChatTask>& tasks, qint32 code, int* kind) {
    // 0 marks a code a task lacks; a server line "0" must not run the welcome.
    if (code == 0) {
        return -1;
    }
    for (std::size_t i = 0; i < tasks.size(); ++i) {
        const TChatTask& t = tasks[i];
        const int matched = t.endCode == code     ? 2
                            : t.itemCode == code  ? 1
                            : t.startCode == code ? 0
                                                  : -1;
        if (matched >= 0) {
            if (kind) {
                *kind = matched;
            }
            return static_cast<int>(i);
        }
    }
    return -1;
}

void TChatClient::padTokens(QList<QByteArray>& tokens, int paramCount) {
    while (tokens.size() < paramCount + 1) {
        tokens.append(QByteArray());
    }
}

bool TChatClient::connecting() const {
    return !m_established && m_socket->state() != QAbstractSocket::UnconnectedState;
}

void TChatClient::Connect(const QString& host, quint16 port) {
    if (m_connected || m_socket->state() != QAbstractSocket::UnconnectedState) {
        return;
    }
    m_buffer.clear();
    m_connectTimer->start();
    m_socket->connectToHost(host, port);
}

bool TChatClient::ConnectNext(HostStore& hosts) {
    const int count = hosts.count(HostStore::Chat);
    if (count <= 0) {
        return false;
    }
    m_lastHost = (m_lastHost + 1) % count;
    const auto entry = hosts.get(HostStore::Chat, m_lastHost);
    if (!entry || entry->port <= 0 || entry->port > 65535) {
        // An unusable entry fails like an unreachable host, so the next attempt moves on.
        QTimer::singleShot(0, this, &TChatClient::failConnect);
        return true;
    }
    Connect(entry->host, static_cast<quint16>(entry->port));
    return true;
}

void TChatClient::Disconnect() {
    m_connectTimer->stop();
    m_established = false;
    m_connected = false;
    m_buffer.clear();
    m_socket->disconnectFromHost();
}

bool TChatClient::isOpen() const {
    return m_socket->state() != QAbstractSocket::UnconnectedState;
}

void TChatClient::failConnect() {
    m_connectTimer->stop();
    emit connectFailed();
}

void TChatClient::onConnected() {
    m_connectTimer->stop();
    m_established = true;
    m_buffer.clear();
    m_nickname = UserInfo().nickname();
    send({"login", QByteArray::number(UserInfo().id()), wire(UserInfo().password())});
}

void TChatClient::onClosed() {
    if (!m_established) {
        return;
    }
    m_established = false;
    m_connected = false;
    m_buffer.clear();
    m_socket->abort();
    emit connectionLost();
}

void TChatClient::send(const QList<QByteArray>& words) {
    if (!m_established) {
        return;
    }
    m_socket->write(BuildChatCommand(0, words) + "\r\n");
}

void TChatClient::onReadyRead() {
    try {
        while (m_established) {
            m_buffer += m_socket->readAll();
            const qsizetype end = m_buffer.indexOf('\n');
            if (end < 0) {
                if (m_buffer.size() > kMaxLineBytes) {
                    onClosed();
                }
                return;
            }
            if (end > kMaxLineBytes) {
                onClosed();
                return;
            }
            const QByteArray line = m_buffer.left(end).trimmed();
            m_buffer.remove(0, end + 1);
            if (!handleLine(line)) {
                onClosed();
                return;
            }
        }
    } catch (const std::exception&) {
        onClosed();
    }
}

bool TChatClient::handleLine(const QByteArray& line) {
    QList<QByteArray> tokens = SplitChatLine(line);
    if (tokens.isEmpty()) {
        return true;
    }
    bool ok = false;
    const qint32 code = tokens.first().toInt(&ok);
    if (!ok) {
        return false;
    }
    int kind = 0;
    const int index = matchTask(m_tasks, code, &kind);
    if (index < 0 || !m_tasks[static_cast<std::size_t>(index)].handler) {
        return true;
    }
    const TChatTask& task = m_tasks[static_cast<std::size_t>(index)];
    padTokens(tokens, task.paramCount);
    m_tokens = std::move(tokens);
    (this->*task.handler)(kind);
    return true;
}

QString TChatClient::param(int index) const {
    return index < m_tokens.size() ? QString::fromUtf8(m_tokens.at(index)) : QString();
}

void TChatClient::JoinChannel(const QString& group, const QString& channel) {
    send({"JOIN", wire(QLatin1Char('@') + group), wire(channel)});
}

void TChatClient::LeaveChannel(const QString& group, const QString& channel) {
    send({"PART", wire(QLatin1Char('@') + group), wire(channel)});
}

void TChatClient::SendChannelMessage(const QString& group, const QString& channel,
                                     const QString& text) {
    send({"msg", wire(QLatin1Char('@') + group), wire(channel), wire(text)});
}

void TChatClient::RequestUserId(const QString& nickname) {
    send({"USERID", wire(nickname)});
}

void TChatClient::RequestList() {
    send({"list"});
}

bool TChatClient::EnterChannel(const QString& group, const QString& channel, bool enter) {
    TChatChannel* node = m_tree.find(group, channel);
    if (node && node->joined == enter) {
        return false;
    }
    if (enter) {
        JoinChannel(group, channel);
    } else {
        LeaveChannel(group, channel);
    }
    if (node) {
        if (!enter && node->userCount > 0) {
            --node->userCount;
        }
        node->joined = enter;
    }
    return true;
}

void TChatClient::doWelcome(int) {
    m_connected = true;
    emit welcomed();
    // Back after a dropped connection, the channels never left are entered again: their
    // windows are still open, and what is typed there must reach the channel.
    for (const auto& [group, channel] : m_tree.joinedChannels()) {
        JoinChannel(group, channel);
    }
    RequestList();
}

void TChatClient::doList(int kind) {
    if (kind == 0) {
        m_tree.clear();
    } else if (kind == 1) {
        const QString name = param(1);
        const qint32 users = param(2).toInt();
        if (name.startsWith(QLatin1Char('@'))) {
            m_tree.addGroup(name.mid(1), users, param(3));
        } else {
            m_tree.addChannel(name, users, param(3));
        }
    } else {
        emit listComplete();
    }
}

void TChatClient::doJoin(int) {
    const QString group = TChannelTree::groupName(param(1));
    const QString channel = param(2);
    const QString nick = param(3);
    const bool own = nick == m_nickname;
    if (TChatChannel* node = m_tree.find(group, channel)) {
        if (own) {
            // However the user got in, closing the window must leave.
            node->joined = true;
        } else {
            TChannelTree::addMember(*node, nick);
        }
    }
    emit memberJoined(group, channel, nick, own);
}

void TChatClient::doPart(int) {
    const QString group = TChannelTree::groupName(param(1));
    const QString channel = param(2);
    const QString nick = param(3);
    if (nick == m_nickname) {
        return;
    }
    if (TChatChannel* node = m_tree.find(group, channel)) {
        TChannelTree::removeMember(*node, nick);
    }
    emit memberLeft(group, channel, nick, param(4));
}

void TChatClient::doMembers(int kind) {
    const QString group = TChannelTree::groupName(param(1));
    const QString channel = param(2);
    TChatChannel* node = m_tree.findOrAdd(group, channel);
    if (!node) {
        return;
    }
    if (kind == 0) {
        node->members.clear();
    } else if (kind == 1) {
        for (qsizetype i = 3; i < m_tokens.size() && !m_tokens.at(i).isEmpty(); ++i) {
            if (!TChannelTree::addMember(*node, QString::fromUtf8(m_tokens.at(i)))) {
                break;
            }
        }
    } else {
        QStringList members;
        members.reserve(static_cast<qsizetype>(node->members.size()));
        for (const TChatUser& user : node->members) {
            members.append(user.nickname);
        }
        emit membersListed(group, channel, members);
    }
}

void TChatClient::doMessage(int) {
    emit messageReceived(TChannelTree::groupName(param(1)), param(2), param(3), param(4));
}

void TChatClient::doUserId(int) {
    bool ok = false;
    const qint32 id = param(2).toInt(&ok);
    if (ok) {
        emit userIdReceived(param(1), id);
    }
}

}  // namespace mr
