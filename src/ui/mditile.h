#pragma once

#include <QMdiArea>
#include <QMdiSubWindow>

#include <functional>

class QSize;
class QWidget;

namespace mr {

// Window-menu arrangements. "Horizontally" stacks the open child windows one above the
// other, each as wide as the area; "vertically" sets them side by side, each as tall as it.
// Minimised windows stay where they are.
void tileHorizontally(QMdiArea* area);
void tileVertically(QMdiArea* area);

// Gives a new child window its preferred size, shrunk to what the area shows, and a place
// inside the area a little below and right of the previous one, so that no part of it
// opens out of sight.
void placeChildWindow(QMdiArea* area, QMdiSubWindow* window, const QSize& preferred);

// Brings the area's window showing a Form to the front; null when the area has none.
template <typename Form>
QMdiSubWindow* raiseChildWindow(QMdiArea* area) {
    for (QMdiSubWindow* sub : area->subWindowList()) {
        if (qobject_cast<Form*>(sub->widget())) {
            sub->showNormal();
            area->setActiveSubWindow(sub);
            return sub;
        }
    }
    return nullptr;
}

// Adds a form as a child window that is deleted when closed, at its preferred size, shown
// and active; activated runs whenever it becomes the active window again.
QMdiSubWindow* addChildWindow(QMdiArea* area, QWidget* form, std::function<void()> activated);

}  // namespace mr
