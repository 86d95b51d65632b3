#include "ui/mditile.h"

#include <QEvent>
#include <QMdiArea>
#include <QMdiSubWindow>

#include <algorithm>

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

// Grows a child window whose form has outgrown it: a form of fixed size that a longer status
// line widened would otherwise be cut off, its buttons out of reach.
class FollowFormSize : public QObject {
public:
    explicit FollowFormSize(QMdiSubWindow* window) : QObject(window), m_window(window) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Resize) {
            // The form where it now stands, with a border as wide on the right and at the
            // bottom as on the left.
            const auto* form = static_cast<const QWidget*>(watched);
            const int border = form->x();
            const QSize least(form->x() + form->width() + border,
                              form->y() + form->height() + border);
            if (least.width() > m_window->width() || least.height() > m_window->height()) {
                m_window->resize(m_window->size().expandedTo(least));
            }
        }
        return false;
    }

private:
    QMdiSubWindow* m_window;
};

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

QMdiSubWindow* addChildWindow(QMdiArea* area, QWidget* form, std::function<void()> activated,
                              const QSize& preferred) {
    // Heard before the window is added: a form that holds the focus is made the active window
    // as it comes in.
    QObject::connect(area, &QMdiArea::subWindowActivated, form,
                     [form, activated = std::move(activated)](QMdiSubWindow* active) {
                         if (active && active->widget() == form && activated) {
                             activated();
                         }
                     });
    // The form's own title-bar buttons and border, as it would have as a window of its own.
    QMdiSubWindow* sub = area->addSubWindow(form, form->windowFlags());
    sub->setAttribute(Qt::WA_DeleteOnClose);
    // Its preferred size, shrunk to what the area shows, stepped away from the previous one so
    // that no part of it opens out of sight. Never below the least size of the form with its
    // frame: a form of fixed size would be cut off, and the area scrolls to what it cannot show.
    constexpr int kStep = 24;
    const QRect view = area->viewport()->rect();
    const int others = static_cast<int>(area->subWindowList().size()) - 1;
    const int offset = kStep * (others % 6);
    const QSize room(std::max(view.width() - offset, 1), std::max(view.height() - offset, 1));
    sub->resize((preferred.isValid() ? preferred : sub->sizeHint())
                    .boundedTo(room)
                    .expandedTo(sub->minimumSizeHint()));
    sub->move(offset, offset);
    form->installEventFilter(new FollowFormSize(sub));
    sub->show();
    area->setActiveSubWindow(sub);
    return sub;
}

void showChildWindow(QMdiSubWindow* window) {
    if (!window) {
        return;
    }
    if (window->isMinimized() || window->isHidden()) {
        window->showNormal();
    }
    if (QMdiArea* area = window->mdiArea()) {
        area->setActiveSubWindow(window);
    }
}

}  // namespace mr
