#include "service/processingthread.h"

#include "service/httpcompsync.h"

#include <poll.h>

#include <cerrno>

namespace mr {

TProcessingThread::TProcessingThread(const THttpCompSync& manager)
    : TProcessingThread(manager.completions()) {}

TProcessingThread::TProcessingThread(std::shared_ptr<RequestQueue> completions)
    : m_completions(std::move(completions)), m_thread([this] { run(); }) {}

TProcessingThread::~TProcessingThread() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_stop.set();
    m_handedOver.notify_all();
    m_thread.join();
    // What was never handed over completes without a handler.
    for (const RequestPtr& request : m_completions->takeAll()) {
        request->discard();
    }
}

void TProcessingThread::run() {
    for (;;) {
        pollfd fds[2] = {{m_completions->fd(), POLLIN, 0}, {m_stop.fd(), POLLIN, 0}};
        const int n = ::poll(fds, 2, -1);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 || (fds[1].revents & POLLIN)) {
            return;
        }
        // Everything finished by now goes over in one hand-over, whose handlers run there in
        // completion order: a burst of replies wakes the main thread once, not once each.
        std::vector<RequestPtr> batch = m_completions->takeAll();
        if (batch.empty()) {
            continue;
        }
        std::unique_lock lock(m_mutex);
        m_done = false;
        // Not a blocking queued call: the destructor, running on the main thread, must be
        // able to end this wait.
        QMetaObject::invokeMethod(
            &m_mainThread,
            [this, batch = std::move(batch)] {
                for (const RequestPtr& request : batch) {
                    request->complete();
                }
                std::lock_guard doneLock(m_mutex);
                m_done = true;
                m_handedOver.notify_all();
            },
            Qt::QueuedConnection);
        m_handedOver.wait(lock, [this] { return m_done || m_stopping; });
        if (m_stopping) {
            return;
        }
    }
}

}  // namespace mr
