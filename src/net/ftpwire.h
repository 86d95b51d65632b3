#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <optional>

namespace mr {

// Cuts a byte stream into command or reply lines. A line ends at LF; a CR right before the LF is
// dropped. More than maxLength bytes without an LF is a framing error: the caller closes the
// connection, since no honest peer sends such a line.
class LineFramer {
public:
    explicit LineFramer(int maxLength = 1024);

    // Appends received bytes; false once the pending partial line exceeds the cap.
    bool feed(const QByteArray& bytes);
    // The next complete line without its ending, or nothing.
    std::optional<QByteArray> next();
    bool overflowed() const { return m_overflow; }

private:
    QByteArray m_buffer;
    int m_maxLength;
    bool m_overflow = false;
};

// A control line split as the server reads it: leading blanks and tabs skipped, keyword up to the
// first blank (upper-cased), parameters after it, at most 255 bytes.
struct FtpCommandLine {
    QByteArray keyword;
    QByteArray params;
};
FtpCommandLine SplitCommandLine(const QByteArray& line);
inline constexpr int kMaxParamLength = 255;
// A share path parameter: blanks and tabs before it are skipped, but none after it, since a name
// may end with a blank.
QString PathParameter(const QByteArray& params);

// A data endpoint: an IPv4 address as a number and a port.
struct FtpEndpoint {
    quint32 ipv4 = 0;
    quint16 port = 0;
};

// "h1,h2,h3,h4,p1,p2": six decimal numbers 0..255, blanks around them allowed; port = p1*256+p2.
std::optional<FtpEndpoint> ParsePortArgument(const QByteArray& argument);
QByteArray FormatPortArgument(const FtpEndpoint& endpoint);
// "227 Entering Passive Mode (h1,h2,h3,h4,p1,p2)."
QByteArray FormatPassiveReply(const FtpEndpoint& endpoint);

// The leading decimal number of a reply line (leading blanks skipped), or nothing.
std::optional<int> LeadingNumber(const QByteArray& line);

// A Qt socket error as a Winsock-style number for "Error #%d" texts; never 0.
int SocketErrorNumber(int qtSocketError);

}  // namespace mr
