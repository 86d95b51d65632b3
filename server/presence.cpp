#include "presence.h"

namespace mr::server {

namespace {

void removeSession(QList<PresenceEntry>& entries, std::uint64_t session) {
    entries.removeIf([session](const PresenceEntry& e) { return e.session == session; });
}

}  // namespace

void Presence::signOn(int user, const PresenceEntry& entry) {
    QList<PresenceEntry>& entries = m_entries[user];
    removeSession(entries, entry.session);
    entries.append(entry);
    m_visible.insert(user, entry);
}

void Presence::signOff(int user, std::uint64_t session) {
    const auto it = m_entries.find(user);
    if (it == m_entries.end()) {
        return;
    }
    removeSession(*it, session);
    if (it->isEmpty()) {
        m_entries.erase(it);
        m_visible.remove(user);
    } else if (m_visible.value(user).session == session) {
        m_visible.insert(user, it->constLast());
    }
}

const PresenceEntry* Presence::find(int user) const {
    const auto it = m_entries.constFind(user);
    return it == m_entries.constEnd() ? nullptr : &it->constLast();
}

}  // namespace mr::server
