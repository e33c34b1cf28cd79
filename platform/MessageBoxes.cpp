#include "platform/MessageBoxes.h"

void showGeneralError(IMessageBoxes& boxes, const QString& message) {
    boxes.show(QStringLiteral("Pellmar"), message, MessageIcon::Error, MessageButtons::Ok);
}
