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
    // same connection replaces that connection's entry. files: how many files he shares now.
    void signOn(int user, const PresenceEntry& entry, int files);
    // Ends the sign-on of one connection; the member stays present through his others.
    void signOff(int user, std::uint64_t session);
    // A member's catalog changed: files is how many he shares now. Nothing when he is away.
    void setFiles(int user, int files);
    // The files of the members present, kept as they come and go rather than summed over
    // them for every contacts poll, which every one of them makes.
    qint64 onlineFiles() const { return m_onlineFiles; }
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
    QHash<int, int> m_files;              // of each member present
    qint64 m_onlineFiles = 0;
};

}  // namespace mr::server
