#pragma once

class QMdiArea;
class QMdiSubWindow;
class QSize;

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

}  // namespace mr
