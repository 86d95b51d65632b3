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

}  // namespace mr
