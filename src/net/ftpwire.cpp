#include "net/ftpwire.h"

#include <QAbstractSocket>
#include <QList>

namespace mr {

LineFramer::LineFramer(int maxLength) : m_maxLength(maxLength) {}

bool LineFramer::feed(const QByteArray& bytes) {
    if (m_overflow) {
        return false;
    }
    m_buffer.append(bytes);
    // Only the tail after the last LF can be an over-long line.
    const qsizetype lastLf = m_buffer.lastIndexOf('\n');
    const qsizetype pending = m_buffer.size() - (lastLf + 1);
    if (pending > m_maxLength) {
        m_overflow = true;
        m_buffer.clear();
        return false;
    }
    return true;
}

std::optional<QByteArray> LineFramer::next() {
    const qsizetype lf = m_buffer.indexOf('\n');
    if (lf < 0) {
        return std::nullopt;
    }
    QByteArray line = m_buffer.left(lf);
    m_buffer.remove(0, lf + 1);
    if (line.endsWith('\r')) {
        line.chop(1);
    }
    if (line.size() > m_maxLength) {
        m_overflow = true;
        m_buffer.clear();
        return std::nullopt;
    }
    return line;
}

FtpCommandLine SplitCommandLine(const QByteArray& line) {
    qsizetype start = 0;
    while (start < line.size() && (line[start] == ' ' || line[start] == '\t')) {
        ++start;
    }
    FtpCommandLine result;
    const qsizetype blank = line.indexOf(' ', start);
    if (blank < 0) {
        result.keyword = line.mid(start).toUpper();
    } else {
        result.keyword = line.mid(start, blank - start).toUpper();
        result.params = line.mid(blank + 1, kMaxParamLength);
    }
    return result;
}

QString PathParameter(const QByteArray& params) {
    qsizetype start = 0;
    while (start < params.size() && (params[start] == ' ' || params[start] == '\t')) {
        ++start;
    }
    return QString::fromUtf8(params.mid(start));
}

std::optional<FtpEndpoint> ParsePortArgument(const QByteArray& argument) {
    const QList<QByteArray> parts = argument.trimmed().split(',');
    if (parts.size() != 6) {
        return std::nullopt;
    }
    quint32 values[6] = {};
    for (int i = 0; i < 6; ++i) {
        const QByteArray part = parts[i].trimmed();
        if (part.isEmpty() || part.size() > 3) {
            return std::nullopt;
        }
        for (char c : part) {
            if (c < '0' || c > '9') {
                return std::nullopt;
            }
        }
        values[i] = part.toUInt();
        if (values[i] > 255) {
            return std::nullopt;
        }
    }
    FtpEndpoint endpoint;
    endpoint.ipv4 = (values[0] << 24) | (values[1] << 16) | (values[2] << 8) | values[3];
    endpoint.port = static_cast<quint16>(values[4] * 256 + values[5]);
    return endpoint;
}

QByteArray FormatPortArgument(const FtpEndpoint& endpoint) {
    const quint32 a = endpoint.ipv4;
    return QByteArray::number(a >> 24) + ',' + QByteArray::number((a >> 16) & 0xFF) + ',' +
           QByteArray::number((a >> 8) & 0xFF) + ',' + QByteArray::number(a & 0xFF) + ',' +
           QByteArray::number(endpoint.port >> 8) + ',' + QByteArray::number(endpoint.port & 0xFF);
}

QByteArray FormatPassiveReply(const FtpEndpoint& endpoint) {
    return "227 Entering Passive Mode (" + FormatPortArgument(endpoint) + ").";
}

std::optional<int> LeadingNumber(const QByteArray& line) {
    qsizetype i = 0;
    while (i < line.size() && line[i] == ' ') {
        ++i;
    }
    qint64 value = 0;
    qsizetype digits = 0;
    while (i < line.size() && line[i] >= '0' && line[i] <= '9') {
        value = value * 10 + (line[i] - '0');
        ++i;
        // Reply codes are short; a longer run is not a code.
        if (++digits > 9) {
            return std::nullopt;
        }
    }
    if (digits == 0) {
        return std::nullopt;
    }
    return static_cast<int>(value);
}

int SocketErrorNumber(int qtSocketError) {
    switch (static_cast<QAbstractSocket::SocketError>(qtSocketError)) {
        case QAbstractSocket::ConnectionRefusedError:
            return 10061;
        case QAbstractSocket::RemoteHostClosedError:
            return 10054;
        case QAbstractSocket::HostNotFoundError:
            return 11001;
        case QAbstractSocket::SocketTimeoutError:
            return 10060;
        case QAbstractSocket::NetworkError:
            return 10050;
        default:
            return 10000 + qtSocketError + 1;
    }
}

}  // namespace mr
