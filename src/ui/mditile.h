#pragma once

class QMdiArea;

namespace mr {

// Window-menu arrangements. "Horizontally" stacks the open child windows one above the
// other, each as wide as the area; "vertically" sets them side by side, each as tall as it.
// Minimised windows stay where they are.
void tileHorizontally(QMdiArea* area);
void tileVertically(QMdiArea* area);

}  // namespace mr
