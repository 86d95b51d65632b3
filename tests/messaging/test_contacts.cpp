#include "fakeservice.h"

#include "core/hostinfo.h"
#include "core/profile.h"
#include "core/record.h"
#include "core/userinfo.h"
#include "messaging/contacts.h"
#include "service/agent.h"
#include "service/idlequeue.h"
#include "service/processingthread.h"
#include "service/wire.h"
#include "transfer/datamodule.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace mr {
namespace {

using test::FakeConnection;
using test::FakeService;
using test::waitUntil;

QByteArray contactRecord(qint32 userId, int online) {
    return 'C' + PackRecord("IB", {userId, online}).bytes;
}

QByteArray countsRecord(qint32 a, qint32 b, qint32 c, qint32 d) {
    return 'Q' + PackRecord("IIII", {a, b, c, d}).bytes;
}

QStringList listed(const ContactList& list) {
    QStringList rows;
    for (const Contact& c : list.contacts()) {
        rows.append(c.nickname + (c.online ? "+" : "-"));
    }
    return rows;
}

// A profile with its tables and a signed-on agent whose service answers "A", "D" and "C" from
// the script: "A" by nickname, "D" by user id.
class ContactsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        setActiveProfile(m_dir.path());
        UserInfo().setId(7);
        UserInfo().setNickname("tester");
        ASSERT_EQ(m_data.create(false), TMRDataModule::StartResult::Started);
    }

    TMRAgentHttp& signOn() {
        m_fake = std::make_unique<FakeService>([this](FakeConnection& c, int) {
            for (auto r = c.readRequest(); r; r = c.readRequest()) {
                if (!c.send(answer(r->code(), r->body.mid(3)))) {
                    return;
                }
            }
        });
        HostInfo().set(HostStore::Moonrake, m_fake->host());
        m_agent = std::make_unique<TMRAgentHttp>(&m_idle);
        m_agent->connection().setTimeout(5000);
        m_processing = std::make_unique<TProcessingThread>(m_agent->connection());
        std::optional<bool> login;
        QObject::connect(m_agent.get(), &TMRAgentHttp::OnLogin, [&](bool ok) { login = ok; });
        m_agent->ServiceLogin(1, 2);
        EXPECT_TRUE(waitUntil([&] { return login.has_value(); }) && *login);
        return *m_agent;
    }

    static QByteArray answer(char code, const QByteArray& payload) {
        const QByteArray fail = wire::endRecord('E', true);
        switch (code) {
            case 'A': {
                const QByteArray nick = payload.left(payload.indexOf('\0'));
                if (nick == "broken") {
                    return fail;
                }
                const int id = nick.compare("bob", Qt::CaseInsensitive) == 0 ? 2 : 0;
                return wire::replyRecord('R', PackRecord("I", {id}).bytes);
            }
            case 'D':
                return payload == PackRecord("I", {66}).bytes ? fail : wire::endRecord('T', true);
            case 'C':
                return wire::replyRecord('R', contactRecord(2, 1) + countsRecord(5, 6, 7, 8)) +
                       wire::endRecord('T', true);
            default:
                return wire::endRecord('T', true);
        }
    }

    // Runs one action to its end; finished() must not come from inside start().
    ContactAction::Outcome run(ContactAction::Kind kind, const QString& nick, qint32 id = 0) {
        ContactAction action(m_agent.get(), kind, nick, id);
        std::optional<ContactAction::Outcome> outcome;
        QObject::connect(&action, &ContactAction::finished,
                         [&](ContactAction::Outcome o) { outcome = o; });
        action.start();
        EXPECT_FALSE(outcome.has_value());
        EXPECT_TRUE(waitUntil([&] { return outcome.has_value(); }));
        return outcome.value_or(ContactAction::Outcome::Failed);
    }

    QTemporaryDir m_dir;
    TMRDataModule m_data{m_dir.path()};
    std::unique_ptr<FakeService> m_fake;
    TIdleQueue m_idle;
    std::unique_ptr<TMRAgentHttp> m_agent;
    std::unique_ptr<TProcessingThread> m_processing;
};

TEST(ContactsPollReply, RecordsReadUntilTheDataIsUsedUpOrCutShort) {
    const ContactsPoll poll = ParseContactsPoll(contactRecord(3, 1) + countsRecord(10, 20, 2, 30) +
                                                contactRecord(-1, 0) + 'C' + test::hex("0400"));
    ASSERT_EQ(poll.states.size(), 2);
    EXPECT_EQ(poll.states[0].userId, 3);
    EXPECT_TRUE(poll.states[0].online);
    EXPECT_EQ(poll.states[1].userId, -1);
    EXPECT_FALSE(poll.states[1].online);
    EXPECT_EQ(poll.counts, QList<OnlineCounts>{(OnlineCounts{10, 20, 2, 30})});
    // A tag of no known length ends the reading.
    EXPECT_TRUE(ParseContactsPoll("X" + contactRecord(3, 1)).states.isEmpty());
}

TEST_F(ContactsTest, PollTimerStepsAndRepliesMarkOnlineRowsFirst) {
    for (const auto& [id, nick] : {std::pair{1, "ann"}, {2, "bob"}, {3, "cy"}}) {
        ASSERT_TRUE(StoreContact(id, nick));
    }
    ContactList list;
    EXPECT_FALSE(list.timer().isActive());
    EXPECT_EQ(list.timer().interval(), 0);
    list.load();
    EXPECT_EQ(listed(list), QStringList({"ann-", "bob-", "cy-"}));
    list.startPolling();
    EXPECT_TRUE(list.timer().isActive());
    EXPECT_EQ(list.timer().interval(), 1500);
    // Without a service the poll is not placed, yet the next one is a minute away.
    list.poll();
    EXPECT_EQ(list.timer().interval(), 60000);
    list.poll();
    EXPECT_EQ(list.timer().interval(), 60000);

    QList<OnlineCounts> counts;
    QObject::connect(&list, &ContactList::statisticsReceived,
                     [&](qint32 a, qint32 b, qint32 c, qint32 d) {
                         counts.append({a, b, c, d});
                     });
    int changed = 0;
    QObject::connect(&list, &ContactList::contactsChanged, [&] { ++changed; });
    list.pollReply(true, contactRecord(1, 1) + countsRecord(1, 1, 1, 1));
    list.pollReply(false, countsRecord(10, 20, 2, 30));
    EXPECT_EQ(changed, 0);
    EXPECT_EQ(counts, QList<OnlineCounts>{(OnlineCounts{10, 20, 2, 30})});
    // An id not listed changes nothing; online rows come first, each group in its old order.
    list.pollReply(false, contactRecord(3, 1) + contactRecord(99, 1) + contactRecord(2, 1));
    EXPECT_EQ(listed(list), QStringList({"bob+", "cy+", "ann-"}));
    list.pollReply(false, contactRecord(2, 0));
    EXPECT_EQ(listed(list), QStringList({"cy+", "bob-", "ann-"}));

    // The poll over the service: its own answer marks bob and hands on the counts. One asked
    // for out of rhythm leaves the timer as it was.
    list.setAgent(&signOn());
    list.timer().setInterval(ContactList::kFirstPollMs);
    list.refresh();
    ASSERT_TRUE(waitUntil([&] { return counts.size() == 2; }));
    EXPECT_EQ(list.timer().interval(), ContactList::kFirstPollMs);
    EXPECT_EQ(listed(list), QStringList({"cy+", "bob+", "ann-"}));
    EXPECT_EQ(counts[1], (OnlineCounts{5, 6, 7, 8}));
}

TEST_F(ContactsTest, EveryAddAndRemoveOutcomeWithItsText) {
    using O = ContactAction::Outcome;
    using K = ContactAction::Kind;
    // Not signed on: the request is not placed.
    EXPECT_EQ(run(K::Add, "bob"), O::Failed);
    signOn();
    EXPECT_EQ(run(K::Add, "bob"), O::Added);
    EXPECT_EQ(run(K::Add, "BOB"), O::AlreadyListed);
    EXPECT_EQ(run(K::Add, "nobody"), O::NotMember);
    EXPECT_EQ(run(K::Add, "broken"), O::Failed);
    ASSERT_EQ(ReadContacts().size(), 1);
    EXPECT_EQ(ReadContacts()[0].nickname, "bob");
    EXPECT_EQ(ReadContacts()[0].userId, 2);
    EXPECT_EQ(run(K::Remove, "bob", 66), O::Failed);
    EXPECT_EQ(ReadContacts().size(), 1);
    EXPECT_EQ(run(K::Remove, "bob", 2), O::Removed);
    EXPECT_TRUE(ReadContacts().isEmpty());
    // The other outcomes' texts and exit codes are the command line's, seen end to end.
    EXPECT_EQ(ContactAction::outcomeText(O::Failed, "bob"), "Error while adding/removing bob");
    EXPECT_FALSE(ContactAction::succeeded(O::Failed));
    const auto seen = m_fake->requests();
    EXPECT_EQ(seen[1].body.mid(3), PackRecord("A", {"bob"}).bytes);
    EXPECT_EQ(seen.back().body.mid(3), PackRecord("I", {2}).bytes);
}

}  // namespace
}  // namespace mr
