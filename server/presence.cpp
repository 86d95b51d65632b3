#include "presence.h"

namespace mr::server {

void Presence::signOn(int user, const PresenceEntry& entry) {
    m_entries.insert(user, entry);
}

void Presence::signOff(int user, std::uint64_t session) {
    const auto it = m_entries.constFind(user);
    if (it != m_entries.constEnd() && it->session == session) {
        m_entries.erase(it);
    }
}

const PresenceEntry* Presence::find(int user) const {
    const auto it = m_entries.constFind(user);
    return it == m_entries.constEnd() ? nullptr : &*it;
}

}  // namespace mr::server
