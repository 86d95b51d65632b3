#include "messaging/contacts.h"

#include "core/profile.h"
#include "core/record.h"
#include "core/userinfo.h"
#include "db/cursor.h"
#include "db/database.h"
#include "db/dberror.h"
#include "db/filters.h"
#include "service/agent.h"

#include <QHash>

#include <algorithm>
#include <cstdint>

namespace mr {

namespace {

// The name the contacts list opens its table by; the engine drops the ".db".
const QString kContactsTable = QStringLiteral("Contacts.db");

db::Cursor openContacts() {
    return db::Cursor(QString::fromLatin1(db::kDatabaseName), kContactsTable);
}

}  // namespace

ContactsPoll ParseContactsPoll(const QByteArray& reply) {
    ContactsPoll poll;
    const QByteArrayView data(reply);
    qsizetype offset = 0;
    while (offset < data.size()) {
        const char tag = data.at(offset);
        const QByteArrayView rest = data.sliced(offset + 1);
        UnpackResult r;
        if (tag == 'C') {
            ContactState state;
            std::uint8_t online = 0;
            r = UnpackRecord(rest, "IB", {&state.userId, &online});
            state.online = online != 0;
            if (r.ok()) {
                poll.states.append(state);
            }
        } else if (tag == 'Q') {
            OnlineCounts counts{};
            r = UnpackRecord(rest, "IIII", {&counts[0], &counts[1], &counts[2], &counts[3]});
            if (r.ok()) {
                poll.counts.append(counts);
            }
        }
        // An unknown tag has no length to skip by.
        if (!r.ok() || r.consumed == 0) {
            break;
        }
        offset += 1 + r.consumed;
    }
    return poll;
}

QList<Contact> ReadContacts() {
    QList<Contact> contacts;
    try {
        db::Cursor rows = openContacts();
        for (rows.first(); !rows.eof(); rows.next()) {
            contacts.append({rows.asString(u"Username"),
                             static_cast<qint32>(rows.asInteger(u"UserID")), false});
        }
    } catch (const db::DbError&) {
        // The rows read so far are the list.
    }
    return contacts;
}

bool StoreContact(qint32 userId, const QString& nickname) {
    db::Cursor rows = openContacts();
    for (rows.first(); !rows.eof(); rows.next()) {
        if (rows.asInteger(u"UserID") == userId ||
            rows.asString(u"Username").compare(nickname, Qt::CaseInsensitive) == 0) {
            return false;
        }
    }
    rows.append();
    rows.setString(u"Username", nickname);
    rows.setInteger(u"UserID", userId);
    rows.post();
    return true;
}

void DeleteContact(const QString& nickname) {
    db::Cursor rows = openContacts();
    rows.setFilter(db::contactByName(nickname));
    while (!rows.eof()) {
        rows.remove();
    }
}

bool IsOwnNickname(const QString& nickname) {
    return nickname.compare(UserInfo().nickname(), Qt::CaseInsensitive) == 0;
}

ContactList::ContactList(QObject* parent) : QObject(parent) {
    m_timer.setObjectName(QStringLiteral("tmrFavorites"));
    m_timer.setInterval(0);
    connect(&m_timer, &QTimer::timeout, this, &ContactList::poll);
}

void ContactList::setAgent(TMRAgentHttp* agent) {
    m_agent = agent;
}

void ContactList::load() {
    QHash<qint32, bool> seen;
    for (const Contact& c : std::as_const(m_contacts)) {
        seen.insert(c.userId, c.online);
    }
    m_contacts = ReadContacts();
    for (Contact& c : m_contacts) {
        c.online = seen.value(c.userId, false);
    }
    emit contactsChanged();
}

void ContactList::startPolling() {
    m_timer.setInterval(kFirstPollMs);
    m_timer.start();
}

void ContactList::poll() {
    refresh();
    if (m_timer.interval() == kFirstPollMs) {
        m_timer.setInterval(kPollMs);
    }
}

void ContactList::refresh() {
    if (m_agent) {
        m_agent->PollContacts(
            this, [this](TRequest& request) { pollReply(request.failed(), request.replyData()); });
    }
}

void ContactList::pollReply(bool failed, const QByteArray& reply) {
    if (failed) {
        return;
    }
    const ContactsPoll poll = ParseContactsPoll(reply);
    for (const ContactState& state : poll.states) {
        for (Contact& c : m_contacts) {
            if (c.userId == state.userId) {
                c.online = state.online;
            }
        }
    }
    if (!poll.states.isEmpty()) {
        std::stable_partition(m_contacts.begin(), m_contacts.end(),
                              [](const Contact& c) { return c.online; });
        emit contactsChanged();
    }
    for (const OnlineCounts& counts : poll.counts) {
        emit statisticsReceived(counts[0], counts[1], counts[2], counts[3]);
    }
}

ContactAction::ContactAction(TMRAgentHttp* agent, Kind kind, const QString& nickname, qint32 userId,
                             QObject* parent)
    : QObject(parent), m_agent(agent), m_kind(kind), m_nickname(nickname), m_userId(userId) {}

QString ContactAction::caption() const {
    return m_kind == Kind::Add
               ? QStringLiteral("Adding ") + m_nickname + QStringLiteral(" To Contacts")
               : QStringLiteral("Removing ") + m_nickname + QStringLiteral(" From Contacts");
}

QString ContactAction::startText() const {
    return (m_kind == Kind::Add ? QStringLiteral("Adding ") : QStringLiteral("Deleting ")) +
           m_nickname;
}

void ContactAction::start() {
    if (m_started) {
        return;
    }
    m_started = true;
    auto handler = [this](TRequest& request) { replied(request); };
    const bool placed =
        m_agent && (m_kind == Kind::Add ? m_agent->AddContact(this, handler, m_nickname)
                                        : m_agent->RemoveContact(this, handler, m_userId));
    if (!placed) {
        QMetaObject::invokeMethod(
            this, [this] { emit finished(Outcome::Failed); }, Qt::QueuedConnection);
    }
}

void ContactAction::replied(TRequest& request) {
    Outcome outcome = Outcome::Failed;
    try {
        outcome = apply(request);
    } catch (const db::DbError&) {
        // The table could not follow the service: reported like a failed request.
    }
    emit finished(outcome);
}

ContactAction::Outcome ContactAction::apply(TRequest& request) {
    if (request.failed()) {
        return Outcome::Failed;
    }
    if (m_kind == Kind::Remove) {
        DeleteContact(m_nickname);
        return Outcome::Removed;
    }
    qint32 userId = 0;
    if (!UnpackRecord(request.replyData(), "I", {&userId}).ok()) {
        return Outcome::Failed;
    }
    if (userId == 0) {
        return Outcome::NotMember;
    }
    return StoreContact(userId, m_nickname) ? Outcome::Added : Outcome::AlreadyListed;
}

QString ContactAction::outcomeText(Outcome outcome, const QString& nickname) {
    switch (outcome) {
        case Outcome::Added:
            return nickname + QStringLiteral(" Added to contact list");
        case Outcome::AlreadyListed:
            return nickname + QStringLiteral(" already in contact list");
        case Outcome::NotMember:
            return nickname + QStringLiteral(" is not Moonrake member.");
        case Outcome::Removed:
            return nickname + QStringLiteral(" removed from contact list");
        case Outcome::Failed:
            break;
    }
    return QStringLiteral("Error while adding/removing ") + nickname;
}

bool ContactAction::succeeded(Outcome outcome) {
    return outcome == Outcome::Added || outcome == Outcome::Removed;
}

QString ContactAction::notMemberLabel(const QString& nickname) {
    return QStringLiteral("User ") + nickname + QStringLiteral(" is not Moonrake member.");
}

}  // namespace mr
