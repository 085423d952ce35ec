#pragma once

#include <QString>

class QWidget;

// Opens the shared connection at start-up on the catalogue that kvarta.ini names: the file
// db.MyDB beside the program, or a database on a PostgreSQL server ([Database] Driver=QPSQL).
// When the server asks for a password that libpq found nowhere, the operator is asked for it. A
// file kept in the Jet format is offered for conversion first (JetConversion).
// Returns false after telling the operator why the catalogue could not be opened (a missing file,
// a server that cannot be reached or refuses the login, a prompt cancelled); the program then ends.
namespace CatalogueOpener {

bool open(QWidget* parent, const QString& settingsPath, const QString& databasePath);

} // namespace CatalogueOpener
