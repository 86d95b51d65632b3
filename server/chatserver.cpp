#include "chatserver.h"

#include "core/fields.h"
#include "messaging/chatline.h"

#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace mr::server {

namespace {

// A connection must log in within this, and a closing one have its last line read.
constexpr int kLoginTimeoutMs = 30000;
constexpr int kFlushTimeoutMs = 5000;
constexpr qsizetype kMaxChannelName = 32;
constexpr qsizetype kMaxTopic = 200;
constexpr qsizetype kMaxGroupsFile = 64 * 1024;
// Member lists are sent in lines of about this size, so no client needs long lines for them.
constexpr qsizetype kMembersLineBytes = 400;
// The rest of a line too long is read in pieces of this size on its way to the bin.
constexpr qsizetype kDiscardChunk = 16 * 1024;

// Reply codes; those below 300 and the listing's are the ones clients act on.
enum Code {
    Message = 100,
    Welcome = 121,
    Joined = 201,
    Left = 202,
    UserIdReply = 204,
    ListStart = 321,
    ListEntry = 322,
    ListEnd = 323,
    MembersStart = 351,
    Members = 353,
    MembersEnd = 366,
    BadLine = 400,
    NoSuchMember = 401,
    NoSuchGroup = 403,
    TooManyChannels = 405,
    LineTooLong = 417,
    UnknownCommand = 421,
    NotInChannel = 442,
    NotLoggedIn = 451,
    MissingParameters = 461,
    AlreadyLoggedIn = 462,
    WrongLogin = 464,
    ChannelFull = 471,
    BadChannelName = 479,
};

QByteArray reply(int code, const QList<QByteArray>& words) {
    return BuildChatCommand(code, words);
}

bool hasControl(QByteArrayView text) {
    return std::any_of(text.begin(), text.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return (u < 0x20 && c != '\t') || u == 0x7f;
    });
}

QByteArray withoutAt(const QByteArray& group) {
    return group.startsWith('@') ? group.mid(1) : group;
}

}  // namespace

struct ChatChannel {
    QByteArray name;
    QByteArray topic;
    bool lasting = false;  // from the groups file; others go when their last member leaves
    QList<ChatConnection*> members;  // in the order they joined
};

struct ChatGroup {
    QByteArray name;
    QByteArray topic;
    std::vector<std::unique_ptr<ChatChannel>> channels;

    QByteArray wireName() const { return '@' + name; }
    ChatChannel* find(const QByteArray& channel) const {
        for (const auto& c : channels) {
            if (c->name == channel) {
                return c.get();
            }
        }
        return nullptr;
    }
};

// One client of the chat port: splits what it sends into lines at the allowed pace, hands them
// to the server, and writes the server's lines back.
class ChatConnection : public QObject {
public:
    ChatConnection(QTcpSocket* socket, ChatServer& server)
        : QObject(&server), m_socket(socket), m_server(server) {
        const ChatLimits& limits = server.limits();
        m_socket->setParent(this);
        // Unread input stays in the system's buffers, where TCP holds the sender back.
        m_socket->setReadBufferSize(std::max<qint64>(limits.lineLength + 2, 16 * 1024));
        m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        m_socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
        m_tokens = limits.lineBurst;
        m_clock.start();
        m_timer.setSingleShot(true);
        m_paceTimer.setSingleShot(true);
        connect(&m_timer, &QTimer::timeout, this, &ChatConnection::closeLater);
        connect(&m_paceTimer, &QTimer::timeout, this, &ChatConnection::pump);
        connect(m_socket, &QTcpSocket::readyRead, this, &ChatConnection::pump);
        connect(m_socket, &QTcpSocket::disconnected, this, &ChatConnection::closeLater);
        m_timer.start(kLoginTimeoutMs);
        // Bytes may have come before the signals were connected.
        QMetaObject::invokeMethod(this, &ChatConnection::pump, Qt::QueuedConnection);
    }

    bool loggedIn() const { return id != 0; }

    void send(const QByteArray& line) {
        if (m_closing) {
            return;
        }
        m_socket->write(line + "\r\n");
        if (m_socket->bytesToWrite() > m_server.limits().unsentBytes) {
            closeLater();
        }
    }

    // Sends the line, then closes once it is out (or the peer has had time to read it).
    void sendAndClose(const QByteArray& line) {
        send(line);
        if (m_closing) {
            return;
        }
        m_closing = true;
        m_timer.start(kFlushTimeoutMs);
        m_socket->disconnectFromHost();
    }

    void loggedInAs(int memberId, const QByteArray& memberNickname) {
        id = memberId;
        nickname = memberNickname;
        m_timer.stop();
    }

    // Ends the connection at once: out of every channel, then gone. Only where no list of
    // members is being walked; elsewhere closeLater.
    void finish() {
        if (m_finished) {
            return;
        }
        m_finished = true;
        m_closing = true;
        m_timer.stop();
        m_paceTimer.stop();
        m_server.leaveAll(*this);
        // What the system takes now still goes out before the close.
        m_socket->flush();
        m_socket->abort();
        deleteLater();
    }

    void closeLater() {
        m_closing = true;
        QMetaObject::invokeMethod(this, &ChatConnection::finish, Qt::QueuedConnection);
    }

    int id = 0;
    QByteArray nickname;
    QList<ChatChannel*> channels;

private:
    void pump() {
        try {
            while (!m_closing) {
                const qsizetype end = m_input.indexOf('\n');
                if (end < 0) {
                    if (!readMore()) {
                        return;
                    }
                    continue;
                }
                if (!takeToken()) {
                    return;
                }
                QByteArray line = m_input.left(end);
                m_input.remove(0, end + 1);
                if (line.endsWith('\r')) {
                    line.chop(1);
                }
                handle(line);
            }
        } catch (...) {
            closeLater();
        }
    }

    // False when nothing more is there. A line grown too long is answered, and read to its end
    // and thrown away: the member stays in his channels.
    bool readMore() {
        const qsizetype room = m_server.limits().lineLength + 2 - m_input.size();
        if (room <= 0) {
            send(reply(LineTooLong, {"Line too long"}));
            m_input.clear();
            m_discarding = true;
        }
        const QByteArray chunk = m_socket->read(m_discarding ? kDiscardChunk : room);
        if (!m_discarding) {
            m_input += chunk;
        } else if (const qsizetype end = chunk.indexOf('\n'); end >= 0) {
            m_discarding = false;
            m_input = chunk.mid(end + 1);
        }
        return !chunk.isEmpty();
    }

    bool takeToken() {
        const ChatLimits& limits = m_server.limits();
        const double now = static_cast<double>(m_clock.elapsed()) / 1000.0;
        m_tokens =
            std::min<double>(limits.lineBurst, m_tokens + (now - m_last) * limits.linesPerSecond);
        m_last = now;
        if (m_tokens >= 1) {
            m_tokens -= 1;
            return true;
        }
        const double wait =
            limits.linesPerSecond > 0 ? (1 - m_tokens) / limits.linesPerSecond : 3600;
        m_paceTimer.start(static_cast<int>(std::ceil(std::min(wait, 3600.0) * 1000)));
        return false;
    }

    void handle(const QByteArray& line) {
        if (line.size() > m_server.limits().lineLength) {
            send(reply(LineTooLong, {"Line too long"}));
            return;
        }
        if (hasControl(line)) {
            send(reply(BadLine, {"Control characters are not allowed"}));
            return;
        }
        const QList<QByteArray> tokens = SplitChatLine(line);
        if (!tokens.isEmpty()) {
            m_server.handle(*this, tokens);
        }
    }

    QTcpSocket* m_socket;
    ChatServer& m_server;
    QByteArray m_input;
    bool m_discarding = false;  // inside a line too long, up to its end
    QTimer m_timer;             // the login, or the last line's flush
    QTimer m_paceTimer;
    QElapsedTimer m_clock;
    double m_tokens = 0;
    double m_last = 0;
    bool m_closing = false;
    bool m_finished = false;
};

bool validChannelName(const QByteArray& name) {
    return !name.isEmpty() && name.size() <= kMaxChannelName && !name.startsWith('@') &&
           !hasControl(name) && !name.contains('\t');
}

QList<ChatGroupSpec> defaultChatGroups() {
    return {
        {"General", "Talk about anything", {{"lobby", "Say hello"}, {"help", "Ask and answer"}}},
        {"Music", "Share the sound", {{"rock", "Rock talk"}, {"jazz", ""}, {"classical", ""}}},
        {"Movies", "Films and series", {{"films", ""}, {"series", ""}}},
        {"Software", "Programs and programming", {{"linux", ""}, {"coding", ""}}},
    };
}

std::optional<QList<ChatGroupSpec>> parseChatGroups(const QByteArray& text, QString* error,
                                                    const ChatLimits& limits) {
    QList<ChatGroupSpec> groups;
    int channels = 0;
    int number = 0;
    auto fail = [&](const QString& why) {
        *error = QStringLiteral("line %1: %2").arg(number).arg(why);
        return std::nullopt;
    };
    if (text.size() > kMaxGroupsFile) {
        *error = QStringLiteral("larger than %1 bytes").arg(kMaxGroupsFile);
        return std::nullopt;
    }
    for (QByteArray line : text.split('\n')) {
        ++number;
        if (line.endsWith('\r')) {
            line.chop(1);
        }
        const QList<QByteArray> tokens = SplitChatLine(line);
        if (tokens.isEmpty() || tokens.first().startsWith('#')) {
            continue;
        }
        if (tokens.size() > 2) {
            return fail("a name and a topic at most; put a topic with blanks in single quotes");
        }
        const QByteArray topic = tokens.value(1);
        if (topic.size() > kMaxTopic || hasControl(topic)) {
            return fail(QStringLiteral("a topic has at most %1 bytes and no control characters")
                            .arg(kMaxTopic));
        }
        const QByteArray& name = tokens.first();
        if (name.startsWith('@')) {
            const QByteArray group = name.mid(1);
            if (!validChannelName(group) ||
                std::any_of(groups.begin(), groups.end(),
                            [&](const ChatGroupSpec& g) { return g.name == group; })) {
                return fail("a group name must be new, short and plain");
            }
            groups.append({group, topic, {}});
            continue;
        }
        if (groups.isEmpty()) {
            return fail("a channel before any group");
        }
        auto& list = groups.last().channels;
        if (!validChannelName(name) ||
            std::any_of(list.begin(), list.end(),
                        [&](const ChatChannelSpec& c) { return c.name == name; })) {
            return fail("a channel name must be new in its group, short and plain");
        }
        if (++channels > limits.channels) {
            return fail(QStringLiteral("more than %1 channels").arg(limits.channels));
        }
        list.append({name, topic});
    }
    return groups;
}

ChatServer::ChatServer(const Store& store, const QList<ChatGroupSpec>& groups, ChatLimits limits,
                       QObject* parent)
    : QObject(parent),
      m_store(store),
      m_limits(limits),
      m_listener(
          limits.connections,
          [this](QTcpSocket* socket) { return new ChatConnection(socket, *this); },
          [](const QObject* served) {
              return !static_cast<const ChatConnection*>(served)->loggedIn();
          }) {
    for (const ChatGroupSpec& spec : groups) {
        auto group = std::make_unique<ChatGroup>();
        group->name = spec.name;
        group->topic = spec.topic;
        for (const ChatChannelSpec& c : spec.channels) {
            group->channels.push_back(
                std::make_unique<ChatChannel>(ChatChannel{c.name, c.topic, true, {}}));
            ++m_channelCount;
        }
        m_groups.push_back(std::move(group));
    }
}

// The connections go first, silently, while the channels they are in still exist.
ChatServer::~ChatServer() {
    const auto connections = findChildren<ChatConnection*>(Qt::FindDirectChildrenOnly);
    for (ChatConnection* c : connections) {
        c->channels.clear();
        delete c;
    }
}

ChatGroup* ChatServer::findGroup(const QByteArray& name) const {
    const QByteArray plain = withoutAt(name);
    for (const auto& g : m_groups) {
        if (g->name == plain) {
            return g.get();
        }
    }
    return nullptr;
}

void ChatServer::handle(ChatConnection& from, const QList<QByteArray>& tokens) {
    const QByteArray command = tokens.first().toLower();
    const auto needs = [&](qsizetype count) {
        if (tokens.size() > count) {
            return true;
        }
        from.send(reply(MissingParameters, {tokens.first(), "Missing parameters"}));
        return false;
    };
    if (command == "login") {
        if (from.loggedIn()) {
            from.send(reply(AlreadyLoggedIn, {"Already logged in"}));
        } else {
            login(from, tokens);
        }
        return;
    }
    if (!from.loggedIn()) {
        from.sendAndClose(reply(NotLoggedIn, {"Log in first"}));
        return;
    }
    if (command == "list") {
        list(from);
    } else if (command == "join") {
        if (needs(2)) {
            join(from, tokens[1], tokens[2]);
        }
    } else if (command == "part") {
        if (needs(2)) {
            part(from, tokens[1], tokens[2]);
        }
    } else if (command == "msg") {
        if (needs(3)) {
            say(from, tokens);
        }
    } else if (command == "userid") {
        if (needs(1)) {
            userId(from, tokens[1]);
        }
    } else {
        from.send(reply(UnknownCommand, {tokens.first().left(kMaxChannelName), "Unknown command"}));
    }
}

void ChatServer::login(ChatConnection& from, const QList<QByteArray>& tokens) {
    bool ok = false;
    const int id = tokens.value(1).toInt(&ok);
    const QString password = TextFromPeer(tokens.value(2));
    const auto account =
        ok && id > 0 && m_store.checkPassword(id, password) ? m_store.account(id) : std::nullopt;
    if (!account) {
        from.sendAndClose(reply(WrongLogin, {"Wrong ID or password"}));
        return;
    }
    // A member logs in again after his connection broke, before the old one timed out: the
    // old one goes, so he is never twice in a channel.
    if (ChatConnection* old = m_members.value(id)) {
        old->send(reply(WrongLogin, {"Logged in from elsewhere"}));
        old->finish();
    }
    from.loggedInAs(id, account->nickname.toUtf8());
    m_members.insert(id, &from);
    from.send(reply(Welcome, {"Welcome To Moonrake"}));
}

void ChatServer::list(ChatConnection& to) {
    to.send(reply(ListStart, {"List Start"}));
    for (const auto& group : m_groups) {
        qsizetype users = 0;
        for (const auto& channel : group->channels) {
            users += channel->members.size();
        }
        to.send(reply(ListEntry, {group->wireName(), QByteArray::number(users), group->topic}));
        for (const auto& channel : group->channels) {
            to.send(reply(ListEntry, {channel->name, QByteArray::number(channel->members.size()),
                                      channel->topic}));
        }
    }
    to.send(reply(ListEnd, {"List End"}));
}

void ChatServer::join(ChatConnection& from, const QByteArray& groupName,
                      const QByteArray& channelName) {
    ChatGroup* group = findGroup(groupName);
    if (!group) {
        from.send(reply(NoSuchGroup, {groupName.left(kMaxChannelName + 1), "No such group"}));
        return;
    }
    ChatChannel* channel = group->find(channelName);
    if (channel && channel->members.contains(&from)) {
        sendMembers(from, *group, *channel);
        return;
    }
    if (from.channels.size() >= m_limits.channelsPerMember) {
        from.send(reply(TooManyChannels, {"You are in too many channels"}));
        return;
    }
    if (!channel) {
        if (!validChannelName(channelName)) {
            from.send(reply(BadChannelName, {"Bad channel name"}));
            return;
        }
        if (m_channelCount >= m_limits.channels) {
            from.send(reply(TooManyChannels, {"No room for another channel"}));
            return;
        }
        group->channels.push_back(
            std::make_unique<ChatChannel>(ChatChannel{channelName, {}, false, {}}));
        ++m_channelCount;
        channel = group->channels.back().get();
    }
    if (channel->members.size() >= m_limits.membersPerChannel) {
        from.send(reply(ChannelFull, {group->wireName(), channel->name, "Channel is full"}));
        return;
    }
    channel->members.append(&from);
    from.channels.append(channel);
    const QByteArray joined = reply(Joined, {group->wireName(), channel->name, from.nickname});
    for (ChatConnection* member : channel->members) {
        member->send(joined);
    }
    sendMembers(from, *group, *channel);
}

void ChatServer::sendMembers(ChatConnection& to, const ChatGroup& group,
                             const ChatChannel& channel) {
    const QList<QByteArray> head{group.wireName(), channel.name};
    to.send(reply(MembersStart, head));
    QList<QByteArray> words = head;
    qsizetype bytes = 0;
    for (const ChatConnection* member : channel.members) {
        words.append(member->nickname);
        bytes += member->nickname.size() + 1;
        if (bytes >= kMembersLineBytes) {
            to.send(reply(Members, words));
            words = head;
            bytes = 0;
        }
    }
    if (words.size() > head.size()) {
        to.send(reply(Members, words));
    }
    to.send(reply(MembersEnd, head));
}

void ChatServer::part(ChatConnection& from, const QByteArray& groupName,
                      const QByteArray& channelName) {
    ChatGroup* group = findGroup(groupName);
    ChatChannel* channel = group ? group->find(channelName) : nullptr;
    if (!channel || !channel->members.contains(&from)) {
        from.send(reply(NotInChannel, {groupName.left(kMaxChannelName + 1),
                                       channelName.left(kMaxChannelName), "Not in that channel"}));
        return;
    }
    remove(from, *group, *channel, "Left");
}

void ChatServer::remove(ChatConnection& member, ChatGroup& group, ChatChannel& channel,
                        const QByteArray& reason) {
    channel.members.removeOne(&member);
    member.channels.removeOne(&channel);
    if (channel.members.isEmpty()) {
        if (!channel.lasting) {
            std::erase_if(group.channels, [&](const auto& c) { return c.get() == &channel; });
            --m_channelCount;
        }
        return;
    }
    // The bookkeeping above must hold even when telling the others fails.
    try {
        const QByteArray left =
            reply(Left, {group.wireName(), channel.name, member.nickname, reason});
        for (ChatConnection* other : channel.members) {
            other->send(left);
        }
    } catch (...) {
        // They miss one leave line; the channel is right all the same.
    }
}

void ChatServer::leaveAll(ChatConnection& member) {
    while (!member.channels.isEmpty()) {
        ChatChannel* channel = member.channels.first();
        for (const auto& group : m_groups) {
            if (group->find(channel->name) == channel) {
                remove(member, *group, *channel, "Connection closed");
                break;
            }
        }
    }
    if (member.loggedIn() && m_members.value(member.id) == &member) {
        m_members.remove(member.id);
    }
}

void ChatServer::say(ChatConnection& from, const QList<QByteArray>& tokens) {
    ChatGroup* group = findGroup(tokens[1]);
    ChatChannel* channel = group ? group->find(tokens[2]) : nullptr;
    if (!channel || !channel->members.contains(&from)) {
        from.send(reply(NotInChannel, {tokens[1].left(kMaxChannelName + 1),
                                       tokens[2].left(kMaxChannelName), "Not in that channel"}));
        return;
    }
    // A client that did not quote its text still has all of it said.
    const QByteArray text = tokens.mid(3).join(' ');
    const QByteArray line = reply(Message, {group->wireName(), channel->name, from.nickname, text});
    for (ChatConnection* member : channel->members) {
        member->send(line);
    }
}

void ChatServer::userId(ChatConnection& from, const QByteArray& nickname) {
    const int id = m_store.idOfNickname(QString::fromUtf8(nickname));
    const auto account = id != 0 ? m_store.account(id) : std::nullopt;
    if (!account) {
        from.send(reply(NoSuchMember, {nickname.left(kMaxNicknameLength), "No such member"}));
        return;
    }
    from.send(reply(UserIdReply, {account->nickname.toUtf8(), QByteArray::number(id)}));
}

}  // namespace mr::server
