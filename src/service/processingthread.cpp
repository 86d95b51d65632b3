#include "service/processingthread.h"

#include "service/httpcompsync.h"

#include <QSocketNotifier>

namespace mr {

TProcessingThread::TProcessingThread(const THttpCompSync& manager)
    : TProcessingThread(manager.completions()) {}

TProcessingThread::TProcessingThread(std::shared_ptr<RequestQueue> completions)
    : m_completions(std::move(completions)),
      m_ready(std::make_unique<QSocketNotifier>(m_completions->fd(), QSocketNotifier::Read)),
      m_alive(std::make_shared<bool>(true)) {
    QObject::connect(m_ready.get(), &QSocketNotifier::activated, m_ready.get(),
                     [this] { handOver(); });
}

TProcessingThread::~TProcessingThread() {
    *m_alive = false;
    m_ready->setEnabled(false);
    // What was never handed over completes without a handler.
    for (const RequestPtr& request : m_completions->takeAll()) {
        request->discard();
    }
}

void TProcessingThread::handOver() {
    // No further hand-over starts while a handler runs, not even from its own nested event loop.
    // Such a loop finds the notifier ready, since completions wait: it rests from then until the
    // hand-over in progress ends, rather than on every hand-over, which would cost the loop a
    // change of its watch list and an extra turn each time.
    if (m_handing) {
        m_ready->setEnabled(false);
        return;
    }
    m_handing = true;
    const std::shared_ptr<bool> alive = m_alive;
    while (RequestPtr request = m_completions->tryTake()) {
        request->complete();
        if (!*alive) {
            return;
        }
    }
    m_handing = false;
    if (!m_ready->isEnabled()) {
        m_ready->setEnabled(true);
    }
}

}  // namespace mr
