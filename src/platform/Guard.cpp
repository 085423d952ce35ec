#include "Guard.h"

#include "Dialogs.h"

namespace GuardDetail {

void report(QWidget* parent, const QString& text) {
    try {
        Dialogs::reportError(parent, text);
    } catch (...) {
        // Nothing more can be shown; the action has already stopped.
    }
}

QString unknownFailure() {
    return QStringLiteral("Неизвестная ошибка");
}

} // namespace GuardDetail
