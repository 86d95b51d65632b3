#include "catalog/confirmations.h"

namespace mr {

QString shareConfirmationText(int count) {
    return QStringLiteral("You are about to share ") + QString::number(count) +
           QStringLiteral(
               " file(s)\nThis operation may take a long while, since a very large amount of "
               "data\nwill be sent to Moonrake Server\n\nDo you wish to continue?");
}

QString removeConfirmationText(const QString& fullPath) {
    return QStringLiteral("Are you sure you want to remove ") + fullPath +
           QStringLiteral(
               "?\nNOTE: The entire folder and all sub-folder will not be shared any "
               "longer!");
}

}  // namespace mr
