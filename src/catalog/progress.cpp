#include "catalog/progress.h"

#include <QEventLoop>

namespace mr {

TProgress::TProgress(QObject* parent) : QObject(parent) {}

int TProgress::percentage(int done, int total) {
    if (total <= 0)
        return 0;
    return static_cast<int>(static_cast<qint64>(done) * 95 / total);
}

void TProgress::postStep() {
    const int percent = percentage(done, total);
    if (percent % 6 != 0 || m_lastStep.exchange(percent) == percent)
        return;
    postProgress(percent);
}

TProgressView::~TProgressView() = default;

void TProgressView::exec(TProgress& progress, const QString&, const QString&,
                         const std::function<void()>& start) {
    QEventLoop loop;
    bool closed = false;
    QObject::connect(&progress, &TProgress::closeRequested, &loop, [&] {
        closed = true;
        loop.quit();
    });
    start();
    if (!closed)
        loop.exec();
}

void TProgressView::setBusy(bool) {}

TProgressView& silentProgressView() {
    static TProgressView view;
    return view;
}

}  // namespace mr
