#include "messaging/feedbackmail.h"

#include "core/hostinfo.h"
#include "core/settingsfile.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QRegularExpression>
#include <QStringList>
#include <QUuid>

#include <curl/curl.h>
#include <dlfcn.h>

#include <algorithm>
#include <cstring>
#include <functional>

namespace mr {

namespace {

constexpr qsizetype kMaxEncodedLine = 76;
// Encoded words are at most 75 characters; 45 bytes of text make 60 in base64.
constexpr qsizetype kEncodedWordBytes = 45;

bool isHostName(const QString& host) {
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9._-]{1,253}$"));
    return pattern.match(host).hasMatch() || !QHostAddress(host).isNull();
}

// A mailbox fit for "<...>": no blanks, brackets, control characters or quotes.
bool isMailbox(const QString& address) {
    static const QRegularExpression pattern(QStringLiteral("^[^\\s<>\"()\\\\,;@]+@[^\\s<>\"]+$"));
    return address.size() <= 254 && pattern.match(address).hasMatch();
}

QString withoutControls(const QString& text) {
    QString out;
    for (const QChar c : text) {
        if (c.category() != QChar::Other_Control) {
            out.append(c);
        }
    }
    return out.trimmed();
}

// The sender's display name: a quoted string when plain ASCII, else UTF-8 encoded words.
QByteArray displayName(const QString& nickname) {
    const QString name = withoutControls(nickname);
    const bool ascii =
        std::all_of(name.begin(), name.end(), [](QChar c) { return c.unicode() < 0x7F; });
    if (ascii) {
        QByteArray out("\"");
        for (const QChar c : name) {
            if (c == u'"' || c == u'\\') {
                out.append('\\');
            }
            out.append(static_cast<char>(c.unicode()));
        }
        return out + '"';
    }
    const QByteArray utf8 = name.toUtf8();
    QByteArray out;
    qsizetype at = 0;
    while (at < utf8.size()) {
        qsizetype end = std::min(at + kEncodedWordBytes, utf8.size());
        // Never split a character: step back over continuation bytes.
        while (end < utf8.size() && end > at + 1 &&
               (static_cast<unsigned char>(utf8.at(end)) & 0xC0) == 0x80) {
            --end;
        }
        if (!out.isEmpty()) {
            out.append("\r\n ");
        }
        out.append("=?UTF-8?B?" + utf8.mid(at, end - at).toBase64() + "?=");
        at = end;
    }
    return out;
}

QString urlHost(const QString& host) {
    const QHostAddress address(host);
    if (!address.isNull() && address.protocol() == QAbstractSocket::IPv6Protocol) {
        return u'[' + host + u']';
    }
    return host;
}

QByteArray heloName() {
    const QString name = QHostInfo::localHostName();
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9.-]{1,63}$"));
    return pattern.match(name).hasMatch() ? name.toLatin1() : QByteArrayLiteral("localhost");
}

}  // namespace

FeedbackTarget FeedbackTarget::fromSettings(const SettingsFile& file) {
    FeedbackTarget target;
    const auto value = [&file](Setting setting) { return file.text(setting).value_or(QString()); };
    const QString mail = value(Setting::HostMail);
    const QString first = mail.section(u',', 0, 0).trimmed();
    if (!first.isEmpty()) {
        const TMRHostPort entry = HostStore::parseEntry(first);
        target.host = entry.host;
        if (entry.port > 0 && entry.port <= 65535) {
            target.port = static_cast<std::uint16_t>(entry.port);
        }
    } else {
        const QString web = value(Setting::HostHttp).section(u',', 0, 0).trimmed();
        if (!web.isEmpty()) {
            target.host = HostStore::parseEntry(web).host;
        }
    }
    const QString address = value(Setting::FeedbackAddress).trimmed();
    target.address = address.isEmpty() ? defaultAddress(target.host) : address;
    return target;
}

QString FeedbackTarget::defaultAddress(const QString& host) {
    if (host.isEmpty()) {
        return {};
    }
    const QHostAddress ip(host);
    if (ip.isNull()) {
        return QStringLiteral("feedback@") + host;
    }
    const QString literal =
        ip.protocol() == QAbstractSocket::IPv6Protocol ? QStringLiteral("IPv6:") + host : host;
    return QStringLiteral("feedback@[") + literal + u']';
}

QByteArray encodeQuotedPrintable(const QString& text) {
    static const QRegularExpression lineBreak(QStringLiteral("\r\n|\r|\n"));
    QByteArray out;
    const QStringList lines = text.split(lineBreak);
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray bytes = lines.at(i).toUtf8();
        qsizetype width = 0;
        for (qsizetype j = 0; j < bytes.size(); ++j) {
            const auto c = static_cast<unsigned char>(bytes.at(j));
            const bool last = j + 1 == bytes.size();
            QByteArray token;
            if ((c >= 33 && c <= 126 && c != '=') || ((c == ' ' || c == '\t') && !last)) {
                token.append(static_cast<char>(c));
            } else {
                token = '=' + QByteArray::number(c, 16).toUpper().rightJustified(2, '0');
            }
            // Room for the "=" of a soft break at the end of every full line.
            if (width + token.size() > kMaxEncodedLine - 1) {
                out.append("=\r\n");
                width = 0;
            }
            out.append(token);
            width += token.size();
        }
        out.append("\r\n");
    }
    return out;
}

QByteArray composeFeedbackMail(const QString& nickname, const QString& address, const QString& text,
                               const QDateTime& date) {
    const QByteArray mailbox = '<' + withoutControls(address).toUtf8() + '>';
    const QByteArray name = displayName(nickname);
    QByteArray mail;
    mail += "Date: " + date.toString(Qt::RFC2822Date).toLatin1() + "\r\n";
    mail += "From: " + (name == "\"\"" ? mailbox : name + ' ' + mailbox) + "\r\n";
    mail += "To: " + mailbox + "\r\n";
    mail += "Subject: FeedBack\r\n";
    mail += "Message-ID: <" + QUuid::createUuid().toString(QUuid::WithoutBraces).toLatin1() +
            "@moonrake>\r\n";
    mail += "MIME-Version: 1.0\r\n";
    mail += "Content-Type: text/plain; charset=UTF-8\r\n";
    mail += "Content-Transfer-Encoding: quoted-printable\r\n";
    mail += "X-Mailer: Moonrake\r\n";
    mail += "\r\n";
    mail += encodeQuotedPrintable(text);
    return mail;
}

// What the worker reads and reports through; shared so the callbacks never outlive it.
struct FeedbackMail::Job {
    FeedbackMail* owner = nullptr;
    std::atomic<bool>* abort = nullptr;
    QByteArray url;
    QByteArray mailbox;
    QByteArray payload;
    qsizetype offset = 0;
    bool connected = false;
    bool sending = false;
    int connectTimeoutMs = 0;
    int totalTimeoutMs = 0;
};

namespace {

void post(QObject* owner, std::function<void()> call) {
    QMetaObject::invokeMethod(owner, std::move(call), Qt::QueuedConnection);
}

// libcurl is opened by the first mail object rather than linked: with the TLS, Kerberos and
// directory libraries it pulls in, it would cost every process megabytes that only a feedback
// mail needs.
struct CurlLibrary {
    decltype(&curl_global_init) globalInit = nullptr;
    decltype(&curl_easy_init) easyInit = nullptr;
    decltype(&curl_easy_setopt) easySetopt = nullptr;
    decltype(&curl_easy_perform) easyPerform = nullptr;
    decltype(&curl_easy_cleanup) easyCleanup = nullptr;
    decltype(&curl_easy_strerror) easyStrerror = nullptr;
    decltype(&curl_slist_append) slistAppend = nullptr;
    decltype(&curl_slist_free_all) slistFreeAll = nullptr;
};

template <class Function>
bool resolve(void* handle, const char* name, Function& function) {
    function = reinterpret_cast<Function>(dlsym(handle, name));
    return function != nullptr;
}

// The library, opened and initialised on the first call; null when it is not installed.
const CurlLibrary* curlLibrary() {
    static const CurlLibrary* const loaded = []() -> const CurlLibrary* {
        void* handle = nullptr;
        // The OpenSSL build first; Debian's GnuTLS build has a name of its own.
        for (const char* name : {"libcurl.so.4", "libcurl-gnutls.so.4"}) {
            if ((handle = dlopen(name, RTLD_NOW | RTLD_LOCAL)) != nullptr) {
                break;
            }
        }
        static CurlLibrary library;
        if (!handle || !resolve(handle, "curl_global_init", library.globalInit) ||
            !resolve(handle, "curl_easy_init", library.easyInit) ||
            !resolve(handle, "curl_easy_setopt", library.easySetopt) ||
            !resolve(handle, "curl_easy_perform", library.easyPerform) ||
            !resolve(handle, "curl_easy_cleanup", library.easyCleanup) ||
            !resolve(handle, "curl_easy_strerror", library.easyStrerror) ||
            !resolve(handle, "curl_slist_append", library.slistAppend) ||
            !resolve(handle, "curl_slist_free_all", library.slistFreeAll)) {
            return nullptr;
        }
        library.globalInit(CURL_GLOBAL_DEFAULT);
        return &library;
    }();
    return loaded;
}

}  // namespace

FeedbackMail::FeedbackMail(QObject* parent) : QObject(parent) {
    // Global initialisation is not thread-safe in every libcurl build: done once, from the
    // thread that creates us.
    curlLibrary();
}

FeedbackMail::~FeedbackMail() {
    m_abort = true;
    joinWorker();
}

void FeedbackMail::setTimeouts(int connectMs, int totalMs) {
    m_connectTimeoutMs = connectMs;
    m_totalTimeoutMs = totalMs;
}

QString FeedbackMail::resultText(Result result) {
    switch (result) {
        case Result::Sent:
            return QString::fromLatin1(kFeedbackCompletedText);
        case Result::ConnectFailed:
            return QString::fromLatin1(kFeedbackConnectErrorText);
        case Result::SendFailed:
            break;
    }
    return QString::fromLatin1(kFeedbackSendErrorText);
}

bool FeedbackMail::send(const FeedbackTarget& target, const QString& nickname,
                        const QString& text) {
    if (m_running) {
        return false;
    }
    joinWorker();
    m_running = true;
    m_abort = false;
    const auto fail = [this](Result result, const QString& why) {
        post(this, [this, result, why] {
            m_running = false;
            emit finished(result, why);
        });
    };
    if (!isHostName(target.host) || target.port == 0) {
        fail(Result::ConnectFailed, QStringLiteral("no usable mail host: ") + target.host);
        return true;
    }
    if (!isMailbox(target.address)) {
        fail(Result::SendFailed, QStringLiteral("no usable feedback address: ") + target.address);
        return true;
    }
    auto job = std::make_shared<Job>();
    job->owner = this;
    job->abort = &m_abort;
    job->url = "smtp://" + urlHost(target.host).toLatin1() + ':' + QByteArray::number(target.port) +
               '/' + heloName();
    job->mailbox = '<' + target.address.toUtf8() + '>';
    job->payload =
        composeFeedbackMail(nickname, target.address, text, QDateTime::currentDateTime());
    job->connectTimeoutMs = m_connectTimeoutMs;
    job->totalTimeoutMs = m_totalTimeoutMs;
    m_worker = std::thread([this, job] { run(job); });
    return true;
}

void FeedbackMail::joinWorker() {
    if (m_worker.joinable()) {
        m_worker.join();
    }
}

void FeedbackMail::run(std::shared_ptr<Job> job) {
    const CurlLibrary* const lib = curlLibrary();
    CURL* curl = lib ? lib->easyInit() : nullptr;
    if (!curl) {
        post(this, [this, lib] {
            m_running = false;
            emit finished(Result::ConnectFailed,
                          lib ? QStringLiteral("the mail library failed")
                              : QStringLiteral("the mail library (libcurl 4) is not installed"));
        });
        return;
    }
    char errorBuffer[CURL_ERROR_SIZE] = {};
    curl_slist* recipients = lib->slistAppend(nullptr, job->mailbox.constData());

    using ReadFn = size_t (*)(char*, size_t, size_t, void*);
    const ReadFn read = [](char* buffer, size_t size, size_t count, void* data) -> size_t {
        auto* j = static_cast<Job*>(data);
        if (!j->sending) {
            j->sending = true;
            post(j->owner, [owner = j->owner] { emit owner->sendingStarted(); });
        }
        const size_t room = size * count;
        const size_t left = static_cast<size_t>(j->payload.size() - j->offset);
        const size_t n = std::min(room, left);
        std::memcpy(buffer, j->payload.constData() + j->offset, n);
        j->offset += static_cast<qsizetype>(n);
        return n;
    };
    // The server's first words are its greeting: from then on we are connected.
    using DebugFn = int (*)(CURL*, curl_infotype, char*, size_t, void*);
    const DebugFn debug = [](CURL*, curl_infotype type, char*, size_t, void* data) -> int {
        auto* j = static_cast<Job*>(data);
        if (type == CURLINFO_HEADER_IN && !j->connected) {
            j->connected = true;
            post(j->owner, [owner = j->owner] { emit owner->connected(); });
        }
        return 0;
    };
    using ProgressFn = int (*)(void*, curl_off_t, curl_off_t, curl_off_t, curl_off_t);
    const ProgressFn progress = [](void* data, curl_off_t, curl_off_t, curl_off_t,
                                   curl_off_t) -> int {
        return static_cast<Job*>(data)->abort->load() ? 1 : 0;
    };

    lib->easySetopt(curl, CURLOPT_URL, job->url.constData());
    lib->easySetopt(curl, CURLOPT_PROTOCOLS_STR, "smtp");
    lib->easySetopt(curl, CURLOPT_NOPROXY, "*");
    lib->easySetopt(curl, CURLOPT_NOSIGNAL, 1L);
    lib->easySetopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(job->connectTimeoutMs));
    lib->easySetopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(job->totalTimeoutMs));
    lib->easySetopt(curl, CURLOPT_ERRORBUFFER, errorBuffer);
    lib->easySetopt(curl, CURLOPT_MAIL_FROM, job->mailbox.constData());
    lib->easySetopt(curl, CURLOPT_MAIL_RCPT, recipients);
    lib->easySetopt(curl, CURLOPT_UPLOAD, 1L);
    lib->easySetopt(curl, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(job->payload.size()));
    lib->easySetopt(curl, CURLOPT_READFUNCTION, read);
    lib->easySetopt(curl, CURLOPT_READDATA, job.get());
    lib->easySetopt(curl, CURLOPT_VERBOSE, 1L);
    lib->easySetopt(curl, CURLOPT_DEBUGFUNCTION, debug);
    lib->easySetopt(curl, CURLOPT_DEBUGDATA, job.get());
    lib->easySetopt(curl, CURLOPT_NOPROGRESS, 0L);
    lib->easySetopt(curl, CURLOPT_XFERINFOFUNCTION, progress);
    lib->easySetopt(curl, CURLOPT_XFERINFODATA, job.get());

    const CURLcode code = lib->easyPerform(curl);
    lib->slistFreeAll(recipients);
    lib->easyCleanup(curl);
    if (m_abort) {
        return;
    }
    Result result = Result::Sent;
    QString detail;
    if (code != CURLE_OK) {
        result = job->connected ? Result::SendFailed : Result::ConnectFailed;
        detail = QString::fromUtf8(errorBuffer[0] ? errorBuffer : lib->easyStrerror(code));
    }
    post(this, [this, result, detail] {
        m_running = false;
        joinWorker();
        emit finished(result, detail);
    });
}

}  // namespace mr
