// The message of the day over an arbitrary body: its lines, the host entries and the version it
// announces. When the first input byte is odd, the host lists also go through the settings file
// (slowly) and must read back from it as they were written. The same bytes as a web server's
// reply must give the same outcome however the connection cuts them into reads.
#include "service/motd.h"
#include "core/hostinfo.h"
#include "fuzz.h"

#include <QFile>
#include <QTemporaryDir>

#include <algorithm>

using namespace mr;

namespace {

void throughSettings(const QStringList& lines) {
    static QTemporaryDir dir;
    FUZZ_CHECK(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("hosts.ini"));
    QFile::remove(path);
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

MessageOfTheDay::ReplyReader::State readReply(const QByteArray& bytes, qsizetype piece,
                                              QByteArray& body) {
    MessageOfTheDay::ReplyReader reader;
    for (qsizetype at = 0; at < bytes.size(); at += piece) {
        reader.feed(QByteArrayView(bytes).sliced(at, std::min(piece, bytes.size() - at)));
    }
    const auto state = reader.end();
    FUZZ_CHECK(reader.body().size() <= MessageOfTheDay::kMaxBytes);
    body = reader.body();
    return state;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fuzz::Input in = fuzz::split(data, size);
    const QStringList lines = MessageOfTheDay::splitLines(in.rest);
    for (int i = 0; i < 3 && i < lines.size(); ++i) {
        for (const QString& entry : lines.at(i).split(QLatin1Char(','))) {
            const TMRHostPort hp = HostStore::parseEntry(entry);
            FUZZ_CHECK(hp.port >= 0 && hp.port <= 65535);
        }
    }
    if (in.choice & 1) {
        throughSettings(lines);
    }
    if (lines.size() >= 4) {
        MessageOfTheDay::isNewer(lines.at(3), QStringLiteral("1.05"));
    }
    MessageOfTheDay::fixedPoint4(QString::fromUtf8(in.rest));
    QByteArray whole;
    QByteArray pieces;
    const auto state = readReply(in.rest, std::max<qsizetype>(in.rest.size(), 1), whole);
    FUZZ_CHECK(readReply(in.rest, 1 + in.choice % 7, pieces) == state && pieces == whole);
    return 0;
}
