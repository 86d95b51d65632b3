#include "core/countries.h"
#include "core/datetime.h"
#include "core/hostinfo.h"
#include "core/profile.h"
#include "core/userinfo.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cmath>
#include <ctime>

namespace {

void writeFile(const QString& path, const char* text) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text);
}

QString readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

// Sets (or with a null value unsets) an environment variable until the end of the scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const QString& value)
        : m_name(name), m_had(qEnvironmentVariableIsSet(name)), m_saved(qgetenv(name)) {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value.toLocal8Bit());
    }
    ~ScopedEnv() {
        if (m_had)
            qputenv(m_name, m_saved);
        else
            qunsetenv(m_name);
    }

private:
    const char* m_name;
    bool m_had;
    QByteArray m_saved;
};

}  // namespace

TEST(UserInfo, MissingDatesReadAsTodayUnwrittenAndQuotedTextsRoundTrip) {
    QTemporaryDir dir;
    const QString path = dir.filePath("settings.ini");
    {
        mr::TUserInfo info(path);
        EXPECT_LT(std::fabs(info.bDate() - mr::nowDateTime()), 1.0 / 24);
        info.file().sync();
        EXPECT_FALSE(readFile(path).contains("BDate"));  // a default is never written
        info.setNickname("bob, the \"builder\"");
        info.setBDate(29221.75);
        info.file().sync();
    }
    EXPECT_TRUE(readFile(path).contains("BDate=29221.75"));
    mr::TUserInfo again(path);
    EXPECT_EQ(again.nickname(), "bob, the \"builder\"");
    EXPECT_EQ(again.bDate(), 29221.75);
}

TEST(UserInfo, HandWrittenFilesAreReadWithoutRegardToCase) {
    QTemporaryDir dir;
    const QString path = dir.filePath("settings.ini");
    writeFile(path,
              "[userinfo]\nFirstname=Ann\nhomepage=http://x\nconnection=4\nnickname=ann\n"
              "MaxUploads=junk\n[HOST]\nmoonrake=a:1,b:2\n");
    mr::TUserInfo info(path);
    EXPECT_EQ(info.firstName(), "Ann");
    EXPECT_EQ(info.homepage(), "http://x");
    EXPECT_EQ(info.connection(), 4);
    EXPECT_EQ(info.maxUploads(), 0);

    // Writing replaces the other spelling instead of adding a second value.
    info.setFirstName("Eve");
    info.file().sync();
    const QString text = readFile(path);
    EXPECT_TRUE(text.contains("FirstName=Eve"));
    EXPECT_FALSE(text.contains("Firstname"));
    EXPECT_EQ(mr::TUserInfo(path).firstName(), "Eve");

    mr::HostStore hosts(path);
    ASSERT_EQ(hosts.count(mr::HostStore::Moonrake), 2);
    EXPECT_EQ(hosts.get(mr::HostStore::Moonrake, 1)->host, "b");
}

TEST(HostInfo, EntriesParseAndEmptyTextChangesNothing) {
    QTemporaryDir dir;
    const QString path = dir.filePath("settings.ini");
    mr::HostStore hosts(path);
    hosts.set(mr::HostStore::Moonrake, " alpha:8080 , beta : 7000,gamma");
    ASSERT_EQ(hosts.count(mr::HostStore::Moonrake), 3);
    auto a = hosts.get(mr::HostStore::Moonrake, 0);
    EXPECT_EQ(a->host, "alpha");
    EXPECT_EQ(a->port, 8080);
    EXPECT_EQ(hosts.get(mr::HostStore::Moonrake, 1)->port, 7000);
    EXPECT_EQ(hosts.get(mr::HostStore::Moonrake, 2)->port, 0);
    EXPECT_FALSE(hosts.get(mr::HostStore::Moonrake, 3));
    EXPECT_FALSE(hosts.get(mr::HostStore::Moonrake, -1));

    hosts.set(mr::HostStore::Moonrake, "   ");
    EXPECT_EQ(hosts.count(mr::HostStore::Moonrake), 3);

    // A fresh store reads what the last one wrote, under [Host] "Moonrake".
    mr::HostStore fresh(path);
    EXPECT_EQ(fresh.count(mr::HostStore::Moonrake), 3);
    EXPECT_EQ(mr::HostStore::parseEntry("h:99999").port, 0);
    EXPECT_TRUE(readFile(path).contains("[Host]"));
}

TEST(DateTime, DayCountsFromTheEpoch) {
    EXPECT_EQ(mr::toDateTime(QDateTime(QDate(1899, 12, 30), QTime(0, 0))), 0.0);
    EXPECT_EQ(mr::toDateTime(QDateTime(QDate(1900, 1, 1), QTime(18, 0))), 2.75);
    EXPECT_EQ(mr::toDateTime(QDateTime(QDate(1899, 12, 29), QTime(6, 0))), -1.25);
    EXPECT_EQ(mr::fromDateTime(-1.25), QDateTime(QDate(1899, 12, 29), QTime(6, 0)));
    EXPECT_EQ(mr::fromDateTime(45000.5), QDateTime(QDate(2023, 3, 15), QTime(12, 0)));
    EXPECT_FALSE(mr::fromDateTime(std::nan("")).isValid());
}

TEST(DateTime, FileTimesMatchTheQtConversionAcrossZoneChanges) {
    const QByteArray saved = qgetenv("TZ");
    const bool had = qEnvironmentVariableIsSet("TZ");
    for (const char* zone : {"Europe/Berlin", "America/New_York", "Australia/Lord_Howe", "UTC"}) {
        qputenv("TZ", zone);
        tzset();
        // Around both changes of a year, before 1970 and past 2038.
        for (const qint64 seconds :
             {qint64(0), qint64(1679792400), qint64(1698541200), qint64(1711846800),
              qint64(1730595599), qint64(946684799), qint64(-86400 * 400), qint64(2147483647),
              qint64(4102444800)}) {
            for (const qint64 delta :
                 {qint64(-3600), qint64(-1), qint64(0), qint64(1), qint64(1800)}) {
                const qint64 ms = (seconds + delta) * 1000 + 123;
                EXPECT_EQ(mr::toDateTimeFromEpochMs(ms),
                          mr::toDateTime(QDateTime::fromMSecsSinceEpoch(ms)))
                    << zone << " " << ms;
            }
        }
    }
    if (had)
        qputenv("TZ", saved);
    else
        qunsetenv("TZ");
    tzset();
}

TEST(Profile, OptionThenEnvironmentThenPortableThenHome) {
    QTemporaryDir exeDir;
    QTemporaryDir home;
    const ScopedEnv homeVar("HOME", home.path());
    const ScopedEnv dataHome("XDG_DATA_HOME", QString());
    QStringList args{"-min", "--profile", "/tmp/p1", "x"};
    EXPECT_EQ(mr::Profile::resolve(args, exeDir.path()), "/tmp/p1");
    EXPECT_EQ(args, QStringList({"-min", "x"}));

    args = {"--profile=/tmp/p2"};
    EXPECT_EQ(mr::Profile::resolve(args, exeDir.path()), "/tmp/p2");
    EXPECT_TRUE(args.isEmpty());

    qputenv("MOONRAKE_PROFILE", "/tmp/p3");
    args = {};
    EXPECT_EQ(mr::Profile::resolve(args, exeDir.path()), "/tmp/p3");
    qunsetenv("MOONRAKE_PROFILE");

    EXPECT_EQ(mr::Profile::resolve(args, exeDir.path()), home.path() + "/.local/share/Moonrake");
    QDir(exeDir.path()).mkdir("data");
    EXPECT_EQ(mr::Profile::resolve(args, exeDir.path()), exeDir.path());
}

// XDG_DATA_HOME is followed, except that a profile where earlier versions kept it stays in use
// until one exists there.
TEST(Profile, UserFolderFollowsXdgDataHomeWithoutStrandingAnOldProfile) {
    QTemporaryDir home;
    const ScopedEnv homeVar("HOME", home.path());
    const ScopedEnv dataHome("XDG_DATA_HOME", home.path() + "/xdg/");
    const QString legacy = home.path() + "/.local/share/Moonrake";
    const QString xdg = home.path() + "/xdg/Moonrake";
    EXPECT_EQ(mr::Profile::userDirectory(), xdg);

    ASSERT_TRUE(QDir().mkpath(legacy));
    EXPECT_EQ(mr::Profile::userDirectory(), xdg) << "an empty folder is no profile";
    writeFile(legacy + "/settings.ini", "[UserInfo]\nNickname=alice\n");
    EXPECT_EQ(mr::Profile::userDirectory(), legacy);
    ASSERT_TRUE(QDir().mkpath(xdg));
    EXPECT_EQ(mr::Profile::userDirectory(), xdg);

    qputenv("XDG_DATA_HOME", "relative/share");
    EXPECT_EQ(mr::Profile::userDirectory(), legacy);
}

TEST(Countries, TheTablesOwnCodes) {
    ASSERT_EQ(mr::countries().size(), 238);
    EXPECT_EQ(mr::countryCodeAt(238), QString());
    // The table's own codes, not today's: the United Kingdom is "UK", East Timor "TP".
    EXPECT_EQ(mr::countryNames().at(mr::countryIndexOf("UK")), "United Kingdom");
    EXPECT_EQ(mr::countryNames().at(mr::countryIndexOf("TP")), "East Timor");
    EXPECT_EQ(mr::countryIndexOf("GB"), -1);
}
