#pragma once

#include <QIcon>
#include <QList>
#include <QPixmap>

namespace mr {

// Tool-bar and menu images by their index in the command table (0 to 17); an index without
// an image gives a null icon.
QIcon commandImage(int index);

// The program's own icon, also used by the tray.
QIcon applicationIcon();

// The program's drawing at 64 by 64 pixels, for the about box.
QPixmap logoImage();

// The online indicator's two states.
QPixmap onlineImage(bool online);

// The status box's 25 task images: 0 and 1 running (they alternate), 2 to 9 a success and
// 10 to 24 a failure, each step fainter than the one before; null for any other index. Drawn
// at each call: only the few tasks on show hold one.
QIcon taskImage(int index);

}  // namespace mr
