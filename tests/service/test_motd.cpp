#include "fakewebserver.h"

#include "core/hostinfo.h"
#include "core/profile.h"
#include "service/motd.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace mr;
using mr::test::FakeWebServer;

namespace {

using Motd = MessageOfTheDay;

class MotdTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        setActiveProfile(m_dir.path());
        m_ini = m_dir.filePath(QStringLiteral("update.ini"));
        qputenv("MOONRAKE_UPDATE_INI", m_ini.toLocal8Bit());
        m_motd.setTimeout(5000);
        m_motd.setLauncher([this](const QString& program) {
            m_started << program;
            return true;
        });
        QObject::connect(&m_motd, &Motd::updateAvailable,
                         [this](const QString& text, const QString& title) {
                             m_announced << title + QLatin1Char('|') + text;
                         });
    }
    void TearDown() override { qunsetenv("MOONRAKE_UPDATE_INI"); }

    void install(const QByteArray& iniText) {
        QFile f(m_ini);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(iniText);
    }
    void pointAt(const FakeWebServer& web) {
        HostInfo().set(HostStore::Http, QStringLiteral("127.0.0.1:%1").arg(web.port()));
    }

    QTemporaryDir m_dir;
    QString m_ini;
    Motd m_motd;
    QStringList m_started;
    QStringList m_announced;
};

TEST(MotdParsing, LinesSplitOnEveryKindOfBreak) {
    EXPECT_EQ(Motd::splitLines("a\r\nb\nc\rd\n"), (QStringList{"a", "b", "c", "d"}));
    EXPECT_EQ(Motd::splitLines("\n\nx"), (QStringList{"", "", "x"}));
    EXPECT_EQ(Motd::splitLines(""), QStringList{});
    EXPECT_EQ(Motd::splitLines("caf\xc3\xa9"), QStringList{QStringLiteral("caf\u00e9")});
}

TEST(MotdParsing, VersionsCompareAsFourDecimalFixedPoint) {
    EXPECT_EQ(Motd::fixedPoint4("1.05"), 10500);
    EXPECT_EQ(Motd::fixedPoint4(" 2 "), 20000);
    EXPECT_EQ(Motd::fixedPoint4(".5"), 5000);
    EXPECT_EQ(Motd::fixedPoint4("-1.5"), -15000);
    EXPECT_EQ(Motd::fixedPoint4("1.00005"), 10001);  // rounded at the fifth place
    EXPECT_EQ(Motd::fixedPoint4("1.00004"), 10000);
    for (const char* bad : {"", ".", "1,05", "1.0.5", "v1", "1e3", "123456789012345", "- 1"}) {
        EXPECT_FALSE(Motd::fixedPoint4(QString::fromLatin1(bad))) << bad;
    }

    EXPECT_TRUE(Motd::isNewer("1.06", "1.05"));
    EXPECT_TRUE(Motd::isNewer("10", "9.9999"));
    // Equal to the fourth decimal, older, or unreadable: not newer.
    for (const char* offered : {"1.05", "1.050", "1.05004", "1.04", "garbage"}) {
        EXPECT_FALSE(Motd::isNewer(offered, "1.05")) << offered;
    }
    EXPECT_FALSE(Motd::isNewer("1.06", ""));
}

TEST_F(MotdTest, HostListsAreReplacedExceptByAnEmptyLine) {
    HostInfo().set(HostStore::Chat, QStringLiteral("chat.old:6667"));
    HostInfo().set(HostStore::Moonrake, QStringLiteral("svc.old:7000"));
    Motd::applyHostLines({"", "a:1,b:2", "  ", "1.06"}, HostInfo());
    EXPECT_EQ(HostInfo().get(HostStore::Chat, 0)->host, "chat.old");
    EXPECT_EQ(HostInfo().count(HostStore::Moonrake), 2);
    EXPECT_EQ(HostInfo().get(HostStore::Moonrake, 1)->port, 2);
    EXPECT_EQ(HostInfo().count(HostStore::Http), 0);
}

TEST_F(MotdTest, NewerVersionAnnouncesAndStartsTheUpdateProgram) {
    install("[Apps/Moonrake]\nVersion=1.05\n");
    FakeWebServer web;
    pointAt(web);
    const QString self = QStringLiteral("127.0.0.1:%1").arg(web.port());
    web.setBody(("\nsvc.new:7000\n" + self + "\n1.06\n<b>Hello</b>\r\nsecond line\n").toUtf8());
    HostInfo().set(HostStore::Chat, QStringLiteral("chat.old:6667"));

    m_motd.fetchAndApply(HostInfo());
    EXPECT_EQ(web.lastRequestLine(), "GET /motd/motd.txt HTTP/1.1");
    EXPECT_EQ(m_motd.lines().size(), 6);
    EXPECT_EQ(m_motd.message(), "<b>Hello</b>\nsecond line");
    EXPECT_EQ(HostInfo().get(HostStore::Chat, 0)->host, "chat.old");
    EXPECT_EQ(HostInfo().get(HostStore::Moonrake, 0)->host, "svc.new");
    ASSERT_EQ(m_announced.size(), 1);
    EXPECT_EQ(m_announced.first(),
              "Moonrake update|A new version of Moonrake is available! The update wizard will "
              "run now.");
    ASSERT_EQ(m_started.size(), 1);
    EXPECT_TRUE(m_started.first().endsWith(QStringLiteral("/wiseupdt")));

    // The same or an equal version does nothing; each fetch replaces the kept lines.
    for (const char* offered : {"1.05", "1.050", "1.04", "soon"}) {
        web.setBody(QByteArray("\n\n\n") + offered + "\n");
        m_motd.fetchAndApply(HostInfo());
        EXPECT_EQ(m_motd.lines().size(), 4) << offered;
        EXPECT_TRUE(m_motd.message().isEmpty());
    }
    EXPECT_EQ(m_started.size(), 1);
    EXPECT_EQ(m_announced.size(), 1);
}

TEST_F(MotdTest, NothingIsAnnouncedWithoutAnInstalledVersion) {
    FakeWebServer web("\n\n\n9.99\n");
    pointAt(web);
    for (const QByteArray& ini : {QByteArray(), QByteArray("[Other]\nVersion=9\n")}) {
        install(ini);
        EXPECT_FALSE(Motd::installedVersion());
        m_motd.fetchAndApply(HostInfo());
        EXPECT_EQ(m_motd.lines().size(), 4);
    }
    EXPECT_TRUE(m_announced.isEmpty());
    EXPECT_TRUE(m_started.isEmpty());
}

TEST_F(MotdTest, FailedFetchesLeaveHostsAloneAndKeepNoMessage) {
    install("[Apps/Moonrake]\nVersion=1.00\n");
    HostInfo().set(HostStore::Moonrake, QStringLiteral("svc.old:7000"));

    // No web host at all: nothing is fetched.
    m_motd.fetchAndApply(HostInfo());
    EXPECT_TRUE(m_motd.lines().isEmpty());

    FakeWebServer missing("\nsvc.new:1\n\n2.0\n", "404 Not Found");
    pointAt(missing);
    m_motd.fetchAndApply(HostInfo());
    EXPECT_EQ(missing.requests(), 1);
    EXPECT_TRUE(m_motd.lines().isEmpty());

    // A file beyond the cap is not read to its end.
    FakeWebServer huge("\nsvc.new:1\n\n2.0\n" + QByteArray(Motd::kMaxBytes, 'x'));
    pointAt(huge);
    m_motd.fetchAndApply(HostInfo());
    EXPECT_TRUE(m_motd.lines().isEmpty());

    EXPECT_EQ(HostInfo().get(HostStore::Moonrake, 0)->host, "svc.old");
    EXPECT_TRUE(m_started.isEmpty());
}

}  // namespace
