#include "service/motd.h"

#include "core/hostinfo.h"
#include "service/wire.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QNetworkProxy>
#include <QProcess>
#include <QSettings>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <cctype>

namespace mr {

namespace {

// A reply head, or a chunk-size line, longer than this is not one a web server sends.
constexpr qsizetype kMaxHeadBytes = 64 * 1024;
constexpr qsizetype kMaxChunkLineBytes = 1024;

constexpr int kFractionDigits = 4;
// More integer digits would overflow once scaled; no version number has them.
constexpr int kMaxIntegerDigits = 14;

bool startDetached(const QString& program) {
    return QProcess::startDetached(program, {}, QFileInfo(program).absolutePath());
}

}  // namespace

MessageOfTheDay::MessageOfTheDay(QObject* parent) : QObject(parent), m_launcher(startDetached) {}

MessageOfTheDay::~MessageOfTheDay() {
    abort();
}

void MessageOfTheDay::fetchAndApply(HostStore& hosts) {
    m_lines.clear();
    const auto web = hosts.get(HostStore::Http, 0);
    if (!web || web->host.trimmed().isEmpty()) {
        return;
    }
    const auto port =
        web->port > 0 && web->port <= 65535 ? static_cast<std::uint16_t>(web->port) : kDefaultPort;
    const auto body = fetch(web->host.trimmed(), port);
    if (!body) {
        return;
    }
    m_lines = splitLines(*body);
    applyHostLines(m_lines, hosts);

    const auto installed = installedVersion();
    if (!installed || m_lines.size() < 4 || !isNewer(m_lines.at(3), *installed)) {
        return;
    }
    emit updateAvailable(QString::fromLatin1(kUpdateText), QString::fromLatin1(kUpdateTitle));
    if (m_launcher) {
        m_launcher(updateProgramPath());
    }
}

// One GET on a socket of its own rather than through QNetworkAccessManager, whose HTTP thread
// and code cost the desktop client far more memory than a few lines of text are worth.
std::optional<QByteArray> MessageOfTheDay::fetch(const QString& host, std::uint16_t port) {
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(host);
    url.setPort(port);
    url.setPath(QString::fromLatin1(kPath));
    if (!url.isValid() || url.host().isEmpty()) {
        return std::nullopt;
    }
    const QByteArray request = "GET " + QByteArray(kPath) + " HTTP/1.1\r\nHost: " +
                               url.authority(QUrl::FullyEncoded).toLatin1() +
                               "\r\nConnection: close\r\n\r\n";

    abort();
    QTcpSocket socket;
    // The service's web server is reached directly; the client has no proxy support.
    socket.setProxy(QNetworkProxy::NoProxy);
    m_socket = &socket;
    m_aborted = false;
    ReplyReader reader;
    QEventLoop loop;
    QTimer quiet;
    quiet.setSingleShot(true);
    bool over = false;
    const auto settle = [&](ReplyReader::State state) {
        if (state != ReplyReader::State::Reading) {
            over = true;
            loop.quit();
        }
    };
    // Every context is the loop, so nothing reaches the locals once it is gone.
    connect(&socket, &QTcpSocket::connected, &loop, [&] {
        socket.write(request);
        quiet.start(m_timeoutMs);
    });
    connect(&socket, &QTcpSocket::readyRead, &loop, [&] {
        quiet.start(m_timeoutMs);
        settle(reader.feed(socket.readAll()));
    });
    // A close by the server, a failure to connect, a time-out or abort(): what has arrived is
    // all there will be.
    connect(&socket, &QAbstractSocket::stateChanged, &loop,
            [&](QAbstractSocket::SocketState state) {
                if (state != QAbstractSocket::UnconnectedState || over) {
                    return;
                }
                if (!m_aborted && reader.feed(socket.readAll()) == ReplyReader::State::Reading) {
                    reader.end();
                }
                over = true;
                loop.quit();
            });
    connect(&quiet, &QTimer::timeout, &loop, [this] { abort(); });
    quiet.start(m_timeoutMs);
    socket.connectToHost(host, port);
    if (!over) {
        loop.exec();
    }
    const bool ok = !m_aborted && reader.state() == ReplyReader::State::Done;
    m_socket.clear();
    return ok ? std::optional<QByteArray>(reader.body()) : std::nullopt;
}

void MessageOfTheDay::abort() {
    if (m_socket) {
        m_aborted = true;
        m_socket->abort();
    }
}

MessageOfTheDay::ReplyReader::State MessageOfTheDay::ReplyReader::fail() {
    m_body.clear();
    m_pending.clear();
    return m_state = State::Failed;
}

MessageOfTheDay::ReplyReader::State MessageOfTheDay::ReplyReader::feed(QByteArrayView bytes) {
    if (m_state != State::Reading) {
        return m_state;
    }
    QByteArray rest;
    if (!m_headRead) {
        m_pending += bytes;
        // The blank line after the head; a server may end its lines with bare line feeds.
        const qsizetype crlf = m_pending.indexOf("\r\n\r\n");
        const qsizetype lf = m_pending.indexOf("\n\n");
        const bool bare = lf >= 0 && (crlf < 0 || lf < crlf);
        const qsizetype end = bare ? lf : crlf;
        if (end < 0) {
            return m_pending.size() > kMaxHeadBytes ? fail() : m_state;
        }
        if (end > kMaxHeadBytes || !parseHead(QByteArrayView(m_pending).first(end))) {
            return fail();
        }
        m_headRead = true;
        rest = m_pending.mid(end + (bare ? 2 : 4));
        bytes = rest;
        m_pending.clear();
        if (m_length == 0) {
            return m_state = State::Done;
        }
    }
    if (m_chunked) {
        m_pending += bytes;
        readChunks();
    } else {
        m_body +=
            m_length >= 0 ? bytes.first(std::min(bytes.size(), m_length - m_body.size())) : bytes;
        if (m_body.size() > kMaxBytes) {
            return fail();
        }
        if (m_body.size() == m_length) {
            m_state = State::Done;
        }
    }
    return m_state;
}

MessageOfTheDay::ReplyReader::State MessageOfTheDay::ReplyReader::end() {
    if (m_state != State::Reading) {
        return m_state;
    }
    // Only a body without length or chunks ends with the connection; anything else was cut.
    return m_headRead && !m_chunked && m_length < 0 ? m_state = State::Done : fail();
}

bool MessageOfTheDay::ReplyReader::parseHead(QByteArrayView head) {
    const QList<QByteArray> lines = head.toByteArray().split('\n');
    // "HTTP/1.1 200 OK": only a success status carries the file.
    const QByteArray status = lines.first().trimmed();
    const auto digit = [&](qsizetype i) {
        return std::isdigit(static_cast<unsigned char>(status[i])) != 0;
    };
    if (!status.startsWith("HTTP/1.") || status.size() < 12 || status[8] != ' ' ||
        status[9] != '2' || !digit(10) || !digit(11) || (status.size() > 12 && status[12] != ' ')) {
        return false;
    }
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon <= 0) {
            return false;
        }
        const QByteArray name = lines[i].left(colon).trimmed().toLower();
        const QByteArray value = lines[i].mid(colon + 1).trimmed();
        if (name == "transfer-encoding") {
            m_chunked = value.toLower().contains("chunked");
        } else if (name == "content-length") {
            const auto length = wire::parseContentLength(value);
            if (!length || *length > kMaxBytes || (m_length >= 0 && m_length != *length)) {
                return false;
            }
            m_length = *length;
        }
    }
    // Chunks delimit the body even where a length is given too.
    if (m_chunked) {
        m_length = -1;
    }
    return true;
}

void MessageOfTheDay::ReplyReader::readChunks() {
    qsizetype at = 0;
    while (m_state == State::Reading) {
        if (m_chunkLeft > 0) {
            const qsizetype take = std::min<qsizetype>(m_chunkLeft, m_pending.size() - at);
            if (take == 0) {
                break;
            }
            m_body += QByteArrayView(m_pending).sliced(at, take);
            at += take;
            m_chunkLeft -= take;
        } else if (m_chunkLeft == 0) {
            // The line break after a chunk's data.
            if (m_pending.size() - at < 2) {
                break;
            }
            if (QByteArrayView(m_pending).sliced(at, 2) != "\r\n") {
                fail();
                return;
            }
            at += 2;
            m_chunkLeft = -1;
        } else {
            const qsizetype eol = m_pending.indexOf("\r\n", at);
            if (eol < 0) {
                if (m_pending.size() - at > kMaxChunkLineBytes) {
                    fail();
                    return;
                }
                break;
            }
            // The size in hex, perhaps followed by ";" and extensions.
            QByteArray size = m_pending.mid(at, eol - at);
            if (const qsizetype semicolon = size.indexOf(';'); semicolon >= 0) {
                size.truncate(semicolon);
            }
            size = size.trimmed();
            bool number = !size.isEmpty() && size.size() <= 8;
            const qint64 length = number ? size.toLongLong(&number, 16) : -1;
            if (!number || length < 0 || m_body.size() + length > kMaxBytes) {
                fail();
                return;
            }
            at = eol + 2;
            if (length == 0) {
                // The trailer, if any, carries nothing wanted.
                m_state = State::Done;
                return;
            }
            m_chunkLeft = length;
        }
    }
    m_pending.remove(0, at);
}

QString MessageOfTheDay::message() const {
    return m_lines.mid(4).join(QLatin1Char('\n'));
}

QStringList MessageOfTheDay::splitLines(const QByteArray& body) {
    QString text = QString::fromUtf8(body);
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QStringList lines = text.split(QLatin1Char('\n'));
    // A final line break ends the last line rather than starting an empty one.
    if (!lines.isEmpty() && lines.last().isEmpty()) {
        lines.removeLast();
    }
    return lines;
}

void MessageOfTheDay::applyHostLines(const QStringList& lines, HostStore& hosts) {
    const HostStore::List order[] = {HostStore::Chat, HostStore::Moonrake, HostStore::Http};
    for (int i = 0; i < 3 && i < lines.size(); ++i) {
        hosts.set(order[i], lines.at(i).trimmed());
    }
}

std::optional<qint64> MessageOfTheDay::fixedPoint4(const QString& input) {
    const QString text = input.trimmed();
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == QLatin1Char('-') || text[i] == QLatin1Char('+'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    qint64 whole = 0;
    int wholeDigits = 0;
    for (; i < text.size() && text[i].isDigit() && text[i].unicode() < 128; ++i) {
        if (++wholeDigits > kMaxIntegerDigits) {
            return std::nullopt;
        }
        whole = whole * 10 + (text[i].unicode() - '0');
    }
    qint64 fraction = 0;
    int fractionDigits = 0;
    bool roundUp = false;
    if (i < text.size() && text[i] == QLatin1Char('.')) {
        for (++i; i < text.size() && text[i].isDigit() && text[i].unicode() < 128; ++i) {
            const int digit = text[i].unicode() - '0';
            if (fractionDigits < kFractionDigits) {
                fraction = fraction * 10 + digit;
            } else if (fractionDigits == kFractionDigits) {
                roundUp = digit >= 5;
            }
            ++fractionDigits;
        }
    }
    if (i != text.size() || wholeDigits + fractionDigits == 0) {
        return std::nullopt;
    }
    for (int d = std::min(fractionDigits, kFractionDigits); d < kFractionDigits; ++d) {
        fraction *= 10;
    }
    qint64 value = whole * 10000 + fraction + (roundUp ? 1 : 0);
    return negative ? -value : value;
}

bool MessageOfTheDay::isNewer(const QString& offered, const QString& installed) {
    const auto a = fixedPoint4(offered);
    const auto b = fixedPoint4(installed);
    return a && b && *a > *b;
}

std::optional<QString> MessageOfTheDay::installedVersion() {
    const QString path = qEnvironmentVariableIsSet("MOONRAKE_UPDATE_INI")
                             ? qEnvironmentVariable("MOONRAKE_UPDATE_INI")
                             : QString::fromLatin1(kDefaultUpdateIni);
    if (path.isEmpty() || !QFileInfo(path).isFile()) {
        return std::nullopt;
    }
    const QSettings settings(path, QSettings::IniFormat);
    const QVariant value =
        settings.value(QString::fromLatin1(kUpdateGroup) + QStringLiteral("/Version"));
    if (!value.isValid()) {
        return std::nullopt;
    }
    // An INI writer may split a value at its commas; a version has none, so join them back.
    return value.typeId() == QMetaType::QStringList ? value.toStringList().join(QLatin1Char(','))
                                                    : value.toString();
}

QString MessageOfTheDay::updateProgramPath() {
#ifdef Q_OS_WIN
    const QString name = QStringLiteral("wiseupdt.exe");
#else
    const QString name = QStringLiteral("wiseupdt");
#endif
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + name;
}

}  // namespace mr
