#include "ui/shellpolicy.h"

namespace mr {

StartMode startModeFor(const QStringList& args, bool trayAvailable) {
    if (args.isEmpty() || args.first() != QLatin1String("-min")) {
        return StartMode::Normal;
    }
    return trayAvailable ? StartMode::HiddenInTray : StartMode::Minimized;
}

CloseAction closeActionFor(bool realClose, bool trayAvailable) {
    if (realClose) {
        return CloseAction::Quit;
    }
    return trayAvailable ? CloseAction::HideToTray : CloseAction::Minimize;
}

std::optional<int> takeExplorerCount(QStringList& args) {
    constexpr int kMostExplorers = 16;
    const qsizetype at = args.indexOf(QLatin1String("--open-explorers"));
    if (at < 0) {
        return 0;
    }
    bool number = false;
    const int count = args.value(at + 1).toInt(&number);
    if (!number || count < 0 || count > kMostExplorers) {
        return std::nullopt;
    }
    args.remove(at, 2);
    return count;
}

}  // namespace mr
