#include "transfer/peerdialect.h"

#include "core/fields.h"

#include <limits>

namespace mr {

namespace {

// The numbers of the dialect: surrounding blanks and a "+" are tolerated.
std::optional<qint64> decimal(const QByteArray& text, qint64 low, qint64 high) {
    return ParseDecimal(text.trimmed(), low, high, true);
}

QString notInteger(const QByteArray& text) {
    return QStringLiteral("'%1' is not a valid integer value").arg(QString::fromUtf8(text));
}

}  // namespace

QByteArray BuildReqfParameter(const ReqfParams& p) {
    QByteArray out = p.path.toUtf8();
    out += '*' + QByteArray::number(p.resumeOffset) + '*' + QByteArray::number(p.callbackPort) +
           '*' + QByteArray::number(p.requesterId);
    out += '\0';
    out += '*' + p.requesterName.toUtf8() + '*';
    return out;
}

ReqfParse ParseReqfParameter(const QByteArray& parameter, const QString& ownerNickname) {
    ReqfParse result;
    const QByteArray text = parameter.trimmed();
    qsizetype stars[4] = {-1, -1, -1, -1};
    qsizetype from = 0;
    int found = 0;
    for (; found < 4; ++found) {
        stars[found] = text.indexOf('*', from);
        if (stars[found] < 0) {
            break;
        }
        from = stars[found] + 1;
    }
    if (found < 3) {
        result.error = QStringLiteral("Missing fields in file request");
        return result;
    }
    ReqfParams p;
    p.path = QString::fromUtf8(text.left(stars[0]));
    const QByteArray offset = text.mid(stars[0] + 1, stars[1] - stars[0] - 1);
    const QByteArray port = text.mid(stars[1] + 1, stars[2] - stars[1] - 1);
    QByteArray id;
    if (found == 4) {
        id = text.mid(stars[2] + 1, stars[3] - stars[2] - 1);
        const QByteArray rest = text.mid(stars[3] + 1);
        // The name runs to the closing "*"; a name that itself holds a "*" survives.
        p.requesterName = QString::fromUtf8(rest.endsWith('*') ? rest.chopped(1) : rest);
    } else {
        id = text.mid(stars[2] + 1);
        p.requesterName = ownerNickname;
    }
    if (id.endsWith('\0')) {
        id.chop(1);
    }
    const auto o =
        decimal(offset, std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::max());
    const auto pt =
        decimal(port, std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::max());
    const auto i =
        decimal(id, std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max());
    if (!o) {
        result.error = notInteger(offset);
    } else if (!pt) {
        result.error = notInteger(port);
    } else if (!i) {
        result.error = notInteger(id);
    } else if (*o < 0) {
        result.error = QStringLiteral("Invalid resume offset %1").arg(*o);
    } else if (*pt < 1 || *pt > 65535) {
        result.error = QStringLiteral("Invalid callback port %1").arg(*pt);
    } else if (p.path.isEmpty()) {
        result.error = QStringLiteral("Missing path in file request");
    } else {
        p.resumeOffset = *o;
        p.callbackPort = static_cast<quint16>(*pt);
        p.requesterId = static_cast<qint32>(*i);
        result.params = p;
    }
    return result;
}

QByteArray FormatVerdict(const RequestVerdict& v) {
    return QByteArray::number(v.Code) + ' ' + QByteArray::number(v.RatioStyle) + ' ' +
           QByteArray::number(v.Credit) + ' ' + QByteArray::number(v.Reserved) + ' ' +
           QByteArray::number(v.Size);
}

std::optional<int> VerdictCode(const QByteArray& line) {
    const qsizetype blank = line.indexOf(' ');
    const auto code = decimal(blank < 0 ? line : line.left(blank), 0, 255);
    return code ? std::optional<int>(static_cast<int>(*code)) : std::nullopt;
}

std::optional<qint64> VerdictSize(const QByteArray& line) {
    qsizetype pos = 0;
    for (int token = 0; token < 4; ++token) {
        const qsizetype blank = line.indexOf(' ', pos);
        if (blank < 0) {
            return std::nullopt;
        }
        pos = blank + 1;
    }
    return decimal(line.mid(pos), 0, std::numeric_limits<qint64>::max());
}

QString JoinSharePath(const QString& dir, const QString& file) {
    return dir.endsWith(QLatin1Char('/')) ? dir + file : dir + QLatin1Char('/') + file;
}

std::pair<QString, QString> SplitSharePath(const QString& path) {
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return {path.left(slash + 1), path.mid(slash + 1)};
}

bool IsSafeLocalFileName(const QString& name) {
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..")) {
        return false;
    }
    for (const QChar c : name) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c.unicode() < 0x20 ||
            c.unicode() == 0x7F) {
            return false;
        }
    }
    return true;
}

std::pair<TTransferStatus, TTransferError> VerdictState(int code) {
    switch (code) {
        case 0:
            return {TTransferStatus::RemotelyQueued, TTransferError::None};
        case 3:
            return {TTransferStatus::Error, TTransferError::NotEnoughCredit};
        case 4:
            return {TTransferStatus::Error, TTransferError::Banned};
        case 5:
            return {TTransferStatus::Error, TTransferError::FileNotFound};
        case 6:
            return {TTransferStatus::Error, TTransferError::IncorrectPassword};
        default:
            return {TTransferStatus::Error, TTransferError::Error};
    }
}

}  // namespace mr
