#include "presence.h"

namespace mr::server {

namespace {

void removeSession(QList<PresenceEntry>& entries, std::uint64_t session) {
    entries.removeIf([session](const PresenceEntry& e) { return e.session == session; });
}

}  // namespace

void Presence::signOn(int user, const PresenceEntry& entry, int files) {
    QList<PresenceEntry>& entries = m_entries[user];
    removeSession(entries, entry.session);
    entries.append(entry);
    m_visible.insert(user, entry);
    m_onlineFiles += files - m_files.value(user);
    m_files.insert(user, files);
}

void Presence::setFiles(int user, int files) {
    const auto it = m_files.find(user);
    if (it != m_files.end()) {
        m_onlineFiles += files - *it;
        *it = files;
    }
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
        m_onlineFiles -= m_files.take(user);
    } else if (m_visible.value(user).session == session) {
        m_visible.insert(user, it->constLast());
    }
}

const PresenceEntry* Presence::find(int user) const {
    const auto it = m_entries.constFind(user);
    return it == m_entries.constEnd() ? nullptr : &it->constLast();
}

}  // namespace mr::server
