#pragma once

#include <QMdiArea>
#include <QMdiSubWindow>
#include <QSize>

#include <functional>

class QWidget;

namespace mr {

// Window-menu arrangements. "Horizontally" stacks the open child windows one above the
// other, each as wide as the area; "vertically" sets them side by side, each as tall as it.
// Minimised windows stay where they are.
void tileHorizontally(QMdiArea* area);
void tileVertically(QMdiArea* area);

// Adds a form as a child window that is deleted when closed, at its preferred size (its size
// hint when none is given) shrunk to what the area shows but never below the form's least
// size, a little below and right of the previous one, shown and active; activated runs
// whenever it becomes the active window again. Every child window of the frame comes in this
// way.
QMdiSubWindow* addChildWindow(QMdiArea* area, QWidget* form, std::function<void()> activated,
                              const QSize& preferred = {});
// Shows a child window again, restored when minimised, and makes it the active one.
void showChildWindow(QMdiSubWindow* window);

}  // namespace mr
