#include "messaging/channeltree.h"

#include <algorithm>

namespace mr {
namespace {

QString joinedKey(const QString& group, const QString& channel) {
    return group + QLatin1Char('\n') + channel;
}

}  // namespace

TChatChannel::TChatChannel(QString name_, QString topic_, qint32 users, TChatChannel* parent)
    : name(std::move(name_)), topic(std::move(topic_)), userCount(users), m_parent(parent) {}

TChannelTree::TChannelTree()
    : m_root(
          std::make_unique<TChatChannel>(QString::fromLatin1(kRootName), QString(), 0, nullptr)) {}

void TChannelTree::clear() {
    for (const auto& group : m_root->m_children) {
        for (const auto& channel : group->m_children) {
            if (channel->joined) {
                m_joined.insert(joinedKey(group->name, channel->name), true);
            }
        }
    }
    m_root->m_children.clear();
    m_nodes = 0;
}

TChatChannel* TChannelTree::add(TChatChannel& parent, const QString& name, qint32 users,
                                const QString& topic) {
    if (m_nodes >= kMaxNodes) {
        return nullptr;
    }
    ++m_nodes;
    parent.m_children.push_back(std::make_unique<TChatChannel>(name, topic, users, &parent));
    TChatChannel* node = parent.m_children.back().get();
    if (node->isChannel()) {
        node->joined = m_joined.take(joinedKey(parent.name, name));
    }
    return node;
}

TChatChannel* TChannelTree::addGroup(const QString& name, qint32 users, const QString& topic) {
    return add(*m_root, name, users, topic);
}

TChatChannel* TChannelTree::addChannel(const QString& name, qint32 users, const QString& topic) {
    if (m_root->m_children.empty()) {
        return nullptr;
    }
    return add(*m_root->m_children.back(), name, users, topic);
}

TChatChannel* TChannelTree::addChannelTo(TChatChannel& group, const QString& name) {
    return add(group, name, 0, QString());
}

QString TChannelTree::groupName(const QString& group) {
    return group.startsWith(QLatin1Char('@')) ? group.mid(1) : group;
}

TChatChannel* TChannelTree::findGroup(const QString& group) {
    const QString name = groupName(group);
    for (const auto& node : m_root->m_children) {
        if (node->name == name) {
            return node.get();
        }
    }
    return nullptr;
}

TChatChannel* TChannelTree::find(const QString& group, const QString& channel) {
    TChatChannel* g = findGroup(group);
    if (!g) {
        return nullptr;
    }
    for (const auto& node : g->m_children) {
        if (node->name == channel) {
            return node.get();
        }
    }
    return nullptr;
}

TChatChannel* TChannelTree::findOrAdd(const QString& group, const QString& channel) {
    if (TChatChannel* found = find(group, channel)) {
        return found;
    }
    TChatChannel* g = findGroup(group);
    return g ? addChannelTo(*g, channel) : nullptr;
}

QList<std::pair<QString, QString>> TChannelTree::joinedChannels() const {
    QList<std::pair<QString, QString>> joined;
    for (const auto& group : m_root->m_children) {
        for (const auto& channel : group->m_children) {
            if (channel->joined) {
                joined.append({group->name, channel->name});
            }
        }
    }
    return joined;
}

bool TChannelTree::addMember(TChatChannel& channel, const QString& nickname) {
    if (channel.members.size() >= static_cast<std::size_t>(kMaxMembers)) {
        return false;
    }
    channel.members.push_back(TChatUser{nickname});
    return true;
}

void TChannelTree::removeMember(TChatChannel& channel, const QString& nickname) {
    auto it = std::find_if(channel.members.begin(), channel.members.end(),
                           [&](const TChatUser& u) { return u.nickname == nickname; });
    if (it != channel.members.end()) {
        channel.members.erase(it);
    }
}

}  // namespace mr
