#include "ui/mditile.h"

#include <QMdiArea>
#include <QMdiSubWindow>

namespace mr {

namespace {

QList<QMdiSubWindow*> tileable(QMdiArea* area) {
    QList<QMdiSubWindow*> windows;
    for (QMdiSubWindow* window : area->subWindowList(QMdiArea::CreationOrder)) {
        if (!window->isHidden() && !window->isMinimized()) {
            windows.append(window);
        }
    }
    return windows;
}

void tile(QMdiArea* area, bool stacked) {
    const QList<QMdiSubWindow*> windows = tileable(area);
    if (windows.isEmpty()) {
        return;
    }
    const QRect space = area->viewport()->rect();
    const int n = static_cast<int>(windows.size());
    const int extent = stacked ? space.height() : space.width();
    int offset = 0;
    for (int i = 0; i < n; ++i) {
        // The last window takes what the division leaves over.
        const int size = i == n - 1 ? extent - offset : extent / n;
        QMdiSubWindow* window = windows.at(i);
        if (window->isMaximized()) {
            window->showNormal();
        }
        if (stacked) {
            window->setGeometry(space.left(), space.top() + offset, space.width(), size);
        } else {
            window->setGeometry(space.left() + offset, space.top(), size, space.height());
        }
        offset += size;
    }
}

}  // namespace

void tileHorizontally(QMdiArea* area) {
    tile(area, true);
}

void tileVertically(QMdiArea* area) {
    tile(area, false);
}

}  // namespace mr
