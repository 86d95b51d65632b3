#include "net/sendfile.h"

#include <cerrno>

#ifdef Q_OS_LINUX
#include <sys/sendfile.h>

#include <csignal>
#include <ctime>
#endif

namespace mr {

qint64 SendFileQuietly(int socket, int file, qint64 offset, qint64 count) {
#ifdef Q_OS_LINUX
    // The signal is held for the call, and one the call raised is taken back before it is
    // released; one that was already waiting stays.
    sigset_t pipe;
    sigset_t old;
    sigset_t pending;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    sigpending(&pending);
    const bool alreadyPending = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipe, &old);
    off_t from = static_cast<off_t>(offset);
    const ssize_t n = ::sendfile(socket, file, &from, static_cast<size_t>(count));
    const int error = errno;
    if (n < 0 && error == EPIPE && !alreadyPending) {
        const timespec now{};
        sigtimedwait(&pipe, nullptr, &now);
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    errno = error;
    return n;
#else
    Q_UNUSED(socket);
    Q_UNUSED(file);
    Q_UNUSED(offset);
    Q_UNUSED(count);
    errno = ENOSYS;
    return -1;
#endif
}

}  // namespace mr
