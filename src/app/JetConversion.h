#pragma once

#include <QString>

class QWidget;

// A catalogue file kept in the Jet 4 format (Microsoft Access), met at start-up: the operator is
// asked whether to convert it. Yes converts it (JetImport) off the interface thread under a
// progress window with Cancel, keeps the original beside it as db.MyDB.jet and puts the converted
// catalogue in its place; values not kept as they were are listed to the operator afterwards.
namespace JetConversion {

// Whether the file at `databasePath` is kept in the Jet format.
bool isJetFile(const QString& databasePath);

// Asks and converts. Returns true when `databasePath` now holds the converted catalogue; false
// when the operator said No or cancelled the conversion (the program then ends, and nothing was
// changed). Throws AppError with the reader's text when the file cannot be converted; nothing is
// changed then either.
bool offer(QWidget* parent, const QString& databasePath);

} // namespace JetConversion
