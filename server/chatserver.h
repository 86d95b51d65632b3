#pragma once

#include "limitedlistener.h"
#include "store.h"

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>

#include <memory>
#include <optional>
#include <vector>

namespace mr::server {

// What one chat server admits; each bounds the memory or the work one peer can cause.
struct ChatLimits {
    int connections = 512;
    int channels = 500;  // in all groups, the starting channels included
    int membersPerChannel = 500;
    int channelsPerMember = 20;
    qsizetype lineLength = 1024;  // bytes without the CR LF; a longer line ends the connection
    // Lines read from one connection: a burst, then a steady rate. Lines beyond them wait, and
    // TCP makes the sender wait.
    int lineBurst = 100;
    double linesPerSecond = 20;
    qint64 unsentBytes = 2 * 1024 * 1024;  // a member who reads no faster is dropped
};

struct ChatChannelSpec {
    QByteArray name;
    QByteArray topic;
};

struct ChatGroupSpec {
    QByteArray name;  // without the "@"
    QByteArray topic;
    QList<ChatChannelSpec> channels;
};

// The groups file under the data folder, read when the chat server starts.
inline constexpr char kChatGroupsFile[] = "chat-groups.txt";

// The groups and channels a server starts with when there is no groups file.
QList<ChatGroupSpec> defaultChatGroups();

// Parses a groups file: one entry a line in chat line tokens, "@GROUP [TOPIC]" opening a group
// and "CHANNEL [TOPIC]" adding a channel to the group above it; blank lines and lines starting
// with "#" are skipped. Nothing, with the reason, for a file the server should not start with.
std::optional<QList<ChatGroupSpec>> parseChatGroups(const QByteArray& text, QString* error,
                                                    const ChatLimits& limits = {});

// A name a channel can have: not empty, at most 32 bytes, no "@" in front (a client would take
// it for a group) and no control characters.
bool validChannelName(const QByteArray& name);

struct ChatGroup;
struct ChatChannel;
class ChatConnection;

// The chat port: members log in with their ID and password, list the groups and channels,
// join and leave channels and talk in them. Every line in either direction is built and split
// by the chat line codec.
class ChatServer : public QObject {
public:
    ChatServer(const Store& store, const QList<ChatGroupSpec>& groups, ChatLimits limits = {},
               QObject* parent = nullptr);
    ~ChatServer() override;

    bool listen(const QHostAddress& address, quint16 port) {
        return m_listener.listen(address, port);
    }
    QString errorString() const { return m_listener.errorString(); }
    quint16 port() const { return m_listener.port(); }
    const ChatLimits& limits() const { return m_limits; }

    // One command line of a connection, split; called by the connection.
    void handle(ChatConnection& from, const QList<QByteArray>& tokens);
    // Takes a member out of every channel, telling the others; called once as he goes.
    void leaveAll(ChatConnection& member);

private:
    void login(ChatConnection& from, const QList<QByteArray>& tokens);
    void list(ChatConnection& to);
    void join(ChatConnection& from, const QByteArray& group, const QByteArray& channel);
    void part(ChatConnection& from, const QByteArray& group, const QByteArray& channel);
    void say(ChatConnection& from, const QList<QByteArray>& tokens);
    void userId(ChatConnection& from, const QByteArray& nickname);
    void sendMembers(ChatConnection& to, const ChatGroup& group, const ChatChannel& channel);
    void remove(ChatConnection& member, ChatGroup& group, ChatChannel& channel,
                const QByteArray& reason);
    ChatGroup* findGroup(const QByteArray& name) const;

    const Store& m_store;
    ChatLimits m_limits;
    std::vector<std::unique_ptr<ChatGroup>> m_groups;
    int m_channelCount = 0;
    QHash<int, ChatConnection*> m_members;  // by ID, those logged in
    LimitedListener m_listener;
};

}  // namespace mr::server
