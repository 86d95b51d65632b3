// The message of the day over an arbitrary body: its lines, the host lists it replaces (which
// must read back from the settings file as they were written) and the version it announces.
#include "service/motd.h"
#include "core/hostinfo.h"
#include "fuzz.h"

#include <QFile>
#include <QTemporaryDir>

using namespace mr;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static QTemporaryDir dir;
    FUZZ_CHECK(dir.isValid());
    const QByteArray body(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QStringList lines = MessageOfTheDay::splitLines(body);
    const QString path = dir.filePath(QStringLiteral("hosts.ini"));
    QFile::remove(path);
    {
        HostStore hosts(path);
        MessageOfTheDay::applyHostLines(lines, hosts);
        HostStore reread(path);
        for (const auto list : {HostStore::Chat, HostStore::Moonrake, HostStore::Http}) {
            FUZZ_CHECK(reread.count(list) == hosts.count(list));
            for (int i = 0; i < hosts.count(list); ++i) {
                const auto written = hosts.get(list, i);
                const auto read = reread.get(list, i);
                FUZZ_CHECK(written && read && written->host == read->host &&
                           written->port == read->port);
            }
        }
    }
    if (lines.size() >= 4) {
        MessageOfTheDay::isNewer(lines.at(3), QStringLiteral("1.05"));
    }
    MessageOfTheDay::fixedPoint4(QString::fromUtf8(body));
    return 0;
}
