#pragma once

#include <QStringList>

namespace mr {

// How the frame appears at start and what the title-bar close does. Where the desktop has no
// system tray the window is minimised instead of hidden, so it can never become unreachable.
enum class StartMode { Normal, HiddenInTray, Minimized };
enum class CloseAction { Quit, HideToTray, Minimize };

// "-min" counts only as the first argument, spelt exactly so.
StartMode startModeFor(const QStringList& args, bool trayAvailable);
CloseAction closeActionFor(bool realClose, bool trayAvailable);

}  // namespace mr
