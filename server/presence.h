#pragma once

#include <QHash>
#include <QList>
#include <QString>

#include <cstdint>

namespace mr::server {

// Where a signed-on member can be reached, and which connection made him present.
struct PresenceEntry {
    QString address;
    std::uint16_t infoPort = 0;
    std::uint16_t filePort = 0;
    std::uint64_t session = 0;
};

// Who is present right now; kept in memory only, as presence ends with the connection.
class Presence {
public:
    // The member's most recent live sign-on is the one others see; a sign-on again over the
    // same connection replaces that connection's entry.
    void signOn(int user, const PresenceEntry& entry);
    // Ends the sign-on of one connection; the member stays present through his others.
    void signOff(int user, std::uint64_t session);
    const PresenceEntry* find(int user) const;
    bool isPresent(int user) const { return find(user) != nullptr; }
    int count() const { return static_cast<int>(m_entries.size()); }
    QList<int> users() const { return m_entries.keys(); }
    // Each present member's visible entry, for work done off the event loop; shared, not
    // copied, until presence next changes.
    QHash<int, PresenceEntry> snapshot() const { return m_visible; }

private:
    // Per member, his live connections' entries, oldest first; never an empty list.
    QHash<int, QList<PresenceEntry>> m_entries;
    QHash<int, PresenceEntry> m_visible;  // the last of each list in m_entries
};

}  // namespace mr::server
