#include "ComboText.h"

#include <QComboBox>
#include <QLocale>

namespace ComboText {

bool selectLowerCased(QComboBox* combo, const QString& lowerText) {
    const QLocale locale;
    for (int i = 0; i < combo->count(); ++i) {
        if (locale.toLower(combo->itemText(i)) == lowerText) {
            combo->setCurrentIndex(i);
            return true;
        }
    }
    return false;
}

bool selectExact(QComboBox* combo, const QString& text) {
    const int row = combo->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (row < 0)
        return false;
    combo->setCurrentIndex(row);
    return true;
}

} // namespace ComboText
