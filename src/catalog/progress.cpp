#include "catalog/progress.h"

#include <QEventLoop>

namespace mr {

Progress::Progress(QObject* parent) : QObject(parent) {}

int Progress::percentage(int done, int total) {
    if (total <= 0)
        return 0;
    return static_cast<int>(static_cast<qint64>(done) * 95 / total);
}

void Progress::postStep() {
    const int percent = percentage(done, total);
    if (percent % 6 != 0 || m_lastStep.exchange(percent) == percent)
        return;
    postProgress(percent);
}

ProgressView::~ProgressView() = default;

void ProgressView::exec(Progress& progress, const QString&, const QString&,
                        const std::function<void()>& start) {
    QEventLoop loop;
    bool closed = false;
    QObject::connect(&progress, &Progress::closeRequested, &loop, [&] {
        closed = true;
        loop.quit();
    });
    start();
    if (!closed)
        loop.exec();
}

void ProgressView::setBusy(bool) {}

ProgressView& silentProgressView() {
    static ProgressView view;
    return view;
}

}  // namespace mr
