#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <array>

namespace mr {

class TMRAgentHttp;
class TRequest;

// What the contacts list says, and the console with it.
inline constexpr char kContactsCaption[] = "Favorite Users";
inline constexpr char kAddContactPrompt[] = "Please Input Desired Nick";
inline constexpr char kAddYourselfText[] = "It is not possible to add yourself";
inline constexpr char kWaitingForAuthorizationText[] = "Waiting for authorization";

// One 'C' record of the contacts poll.
struct ContactState {
    qint32 userId = 0;
    bool online = false;
};

// The four integers of a 'Q' record: online files, total files, online users, members. Only
// the first and the third are shown.
using OnlineCounts = std::array<qint32, 4>;

struct ContactsPoll {
    QList<ContactState> states;
    QList<OnlineCounts> counts;
};

// The "C" reply: records end to end, each a tag byte and its data, 'C' then "IB" (user id,
// online byte) or 'Q' then "IIII". A record cut short, or one with another tag, ends the reading.
ContactsPoll ParseContactsPoll(const QByteArray& reply);

// One row of the list: the table's nickname and user id, and whether the last poll saw him.
struct Contact {
    QString nickname;
    qint32 userId = 0;
    bool online = false;
};

// The table "Contacts", in its order. An engine error ends the reading quietly with the rows
// read so far.
QList<Contact> ReadContacts();
// Appends a row; false when the nickname, in any letter case, or the member's id is already
// there. Throws DbError.
bool StoreContact(qint32 userId, const QString& nickname);
// Deletes every row with that nickname. Throws DbError.
void DeleteContact(const QString& nickname);

// The profile's own nickname, in any letter case.
bool IsOwnNickname(const QString& nickname);

// The contacts with their online state, polled from the service: first 1.5 seconds after
// loading, then every minute. A poll that fails, or is not placed, changes nothing.
class ContactList : public QObject {
    Q_OBJECT
public:
    static constexpr int kFirstPollMs = 1500;
    static constexpr int kPollMs = 60000;

    explicit ContactList(QObject* parent = nullptr);

    // Where the polls go; without one they are not placed.
    void setAgent(TMRAgentHttp* agent);
    // Reads the table, keeping the online state of members still listed.
    void load();
    // Arms the timer for the first poll.
    void startPolling();
    const QList<Contact>& contacts() const { return m_contacts; }
    QTimer& timer() { return m_timer; }

    // The timer's step: sends "C"; the first poll switches the timer to the minute.
    void poll();
    // Sends "C" now, outside the timer's rhythm: on signing on and after adding a member, so
    // that his state shows without waiting for the minute to pass.
    void refresh();
    // A poll's answer: marks the listed members, online ones first once any was marked, and
    // hands on every 'Q' record.
    void pollReply(bool failed, const QByteArray& reply);

signals:
    void contactsChanged();
    void statisticsReceived(qint32 first, qint32 second, qint32 third, qint32 fourth);

private:
    QPointer<TMRAgentHttp> m_agent;
    QList<Contact> m_contacts;
    QTimer m_timer;
};

// Adding or removing one contact through the service: "A" with the nickname, or "D" with the
// user id; the table follows the answer. finished() is emitted once, never from inside start().
class ContactAction : public QObject {
    Q_OBJECT
public:
    enum class Kind { Add, Remove };
    Q_ENUM(Kind)
    enum class Outcome { Added, AlreadyListed, NotMember, Removed, Failed };
    Q_ENUM(Outcome)

    ContactAction(TMRAgentHttp* agent, Kind kind, const QString& nickname, qint32 userId = 0,
                  QObject* parent = nullptr);

    Kind kind() const { return m_kind; }
    const QString& nickname() const { return m_nickname; }
    // "Adding NICK To Contacts" or "Removing NICK From Contacts".
    QString caption() const;
    // The status entry while the request runs: "Adding NICK" or "Deleting NICK".
    QString startText() const;

    // Sends the request; a second call does nothing.
    void start();

    // The status entry for an outcome, and whether it counts as a success.
    static QString outcomeText(Outcome outcome, const QString& nickname);
    static bool succeeded(Outcome outcome);
    // What the progress window shows when the service knows no such member.
    static QString notMemberLabel(const QString& nickname);

signals:
    void finished(mr::ContactAction::Outcome outcome);

private:
    void replied(TRequest& request);
    Outcome apply(TRequest& request);

    QPointer<TMRAgentHttp> m_agent;
    Kind m_kind;
    QString m_nickname;
    qint32 m_userId;
    bool m_started = false;
};

}  // namespace mr
