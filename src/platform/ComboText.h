#pragma once

#include <QString>

class QComboBox;

// Selecting a drop-down's row by its text. Both leave the selection as it was when no row matches
// and return whether one did.
namespace ComboText {

// The first row whose text, lower-cased under the user's locale, equals `lowerText`.
bool selectLowerCased(QComboBox* combo, const QString& lowerText);
// The first row whose text equals `text` exactly, letter case included.
bool selectExact(QComboBox* combo, const QString& text);

} // namespace ComboText
