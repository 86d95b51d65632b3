#pragma once

#include <QStringList>

#include <optional>

namespace mr {

// How the frame appears at start and what the title-bar close does. Where the desktop has no
// system tray the window is minimised instead of hidden, so it can never become unreachable.
enum class StartMode { Normal, HiddenInTray, Minimized };
enum class CloseAction { Quit, HideToTray, Minimize };

// "-min" counts only as the first argument, spelt exactly so.
StartMode startModeFor(const QStringList& args, bool trayAvailable);
CloseAction closeActionFor(bool realClose, bool trayAvailable);

// "--open-explorers N", taken out of the arguments: the number of explorer windows to open
// with the program (0 without the option); nothing when N is missing or not 0 to 16.
std::optional<int> takeExplorerCount(QStringList& args);

}  // namespace mr
