#include "service/motd.h"

#include "core/hostinfo.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QSettings>
#include <QUrl>

#include <algorithm>

namespace mr {

namespace {

constexpr int kFractionDigits = 4;
// More integer digits would overflow once scaled; no version number has them.
constexpr int kMaxIntegerDigits = 14;

bool startDetached(const QString& program) {
    return QProcess::startDetached(program, {}, QFileInfo(program).absolutePath());
}

}  // namespace

MessageOfTheDay::MessageOfTheDay(QObject* parent)
    : QObject(parent), m_manager(new QNetworkAccessManager(this)), m_launcher(startDetached) {
    // The service's web server is reached directly; the client has no proxy support.
    m_manager->setProxy(QNetworkProxy::NoProxy);
}

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

std::optional<QByteArray> MessageOfTheDay::fetch(const QString& host, std::uint16_t port) {
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(host);
    url.setPort(port);
    url.setPath(QString::fromLatin1(kPath));
    if (!url.isValid() || url.host().isEmpty()) {
        return std::nullopt;
    }
    QNetworkRequest request(url);
    request.setTransferTimeout(m_timeoutMs);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);

    abort();
    QNetworkReply* reply = m_manager->get(request);
    m_reply = reply;
    QByteArray body;
    bool tooLong = false;
    QEventLoop loop;
    // Only what has arrived: read(n) sets n bytes aside first, a megabyte for a few lines.
    const auto readArrived = [&] {
        body += reply->read(std::min<qint64>(reply->bytesAvailable(), kMaxBytes + 1 - body.size()));
    };
    connect(reply, &QNetworkReply::readyRead, &loop, [&] {
        readArrived();
        if (body.size() > kMaxBytes) {
            tooLong = true;
            reply->abort();
        }
    });
    connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!reply->isFinished()) {
        loop.exec();
    }
    if (!tooLong && reply->isOpen()) {
        readArrived();
        tooLong = body.size() > kMaxBytes;
    }
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const bool ok =
        !tooLong && reply->error() == QNetworkReply::NoError && status >= 200 && status < 300;
    m_reply.clear();
    reply->deleteLater();
    return ok ? std::optional<QByteArray>(body) : std::nullopt;
}

void MessageOfTheDay::abort() {
    if (m_reply) {
        m_reply->abort();
    }
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
