#pragma once

#include <QtGlobal>

namespace mr {

// Moves up to count bytes of file, from offset on, into socket with sendfile(2), never through
// our memory: the bytes moved, 0 at the end of the file, or -1 with errno set. A receiver gone
// away gives EPIPE without the SIGPIPE that would end the program. Always -1 with ENOSYS where
// the call does not exist.
qint64 SendFileQuietly(int socket, int file, qint64 offset, qint64 count);

}  // namespace mr
