#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <memory>
#include <utility>
#include <vector>

namespace mr {

// One member of a channel, as the server named him.
struct TChatUser {
    QString nickname;
};
using TChatUsers = std::vector<TChatUser>;

// A node of the channel tree: the root, a group (a child of the root) or a channel (a child of
// a group).
class TChatChannel {
public:
    TChatChannel(QString name, QString topic, qint32 userCount, TChatChannel* parent);

    QString name;
    QString topic;
    qint32 userCount = 0;
    TChatUsers members;
    // Set while the user is in the channel.
    bool joined = false;

    TChatChannel* parent() const { return m_parent; }
    const std::vector<std::unique_ptr<TChatChannel>>& children() const { return m_children; }
    bool isGroup() const { return m_parent && !m_parent->m_parent; }
    bool isChannel() const { return m_parent && m_parent->isGroup(); }

private:
    friend class TChannelTree;
    TChatChannel* m_parent;
    std::vector<std::unique_ptr<TChatChannel>> m_children;
};

// The groups and channels the chat server listed, under the root "Moonrake Chat". Bounded:
// what a server sends beyond the caps is dropped.
class TChannelTree {
public:
    static constexpr int kMaxNodes = 20000;
    static constexpr int kMaxMembers = 5000;
    static constexpr char kRootName[] = "Moonrake Chat";

    TChannelTree();

    TChatChannel& root() { return *m_root; }
    // Removes every group and channel. Which channels the user is in survives a new listing.
    void clear();
    TChatChannel* addGroup(const QString& name, qint32 users, const QString& topic);
    // Adds under the group that was added last (the root's last child); null without one.
    TChatChannel* addChannel(const QString& name, qint32 users, const QString& topic);
    TChatChannel* addChannelTo(TChatChannel& group, const QString& name);
    TChatChannel* findGroup(const QString& group);
    // group may carry its leading "@".
    TChatChannel* find(const QString& group, const QString& channel);
    // The channel, added to its group when the group is known but the channel is not.
    TChatChannel* findOrAdd(const QString& group, const QString& channel);
    // The entered channels, as (group, channel) pairs in tree order.
    QList<std::pair<QString, QString>> joinedChannels() const;
    // False when the channel already has the most members it may hold.
    static bool addMember(TChatChannel& channel, const QString& nickname);
    static void removeMember(TChatChannel& channel, const QString& nickname);
    int nodeCount() const { return m_nodes; }

    static QString groupName(const QString& group);

private:
    TChatChannel* add(TChatChannel& parent, const QString& name, qint32 users,
                      const QString& topic);

    std::unique_ptr<TChatChannel> m_root;
    int m_nodes = 0;
    // Joined channels of the tree before the last clear, by group and channel name.
    QHash<QString, bool> m_joined;
};

}  // namespace mr
