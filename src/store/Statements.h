#pragma once

#include <QString>
#include <QStringList>

class QSqlDatabase;

// Every statement text of the program, in one place. Keys are appended as decimal digits;
// everything else is bound through the named parameters written in the texts.
//
// The same texts serve the catalogue file (SQLite) and a PostgreSQL server. Where the server needs
// another spelling to give the same result, the function takes the dialect and says why; nothing
// else in the program spells a statement for one engine only.
namespace Statements {

enum class Dialect { SQLite, PostgreSQL };
// The dialect of a connection, by its driver.
Dialect dialectOf(const QSqlDatabase& db);

// Items. On the server nulls sort first when ascending and last when descending, as in SQLite, and
// the list's registration date comes as the file's text form.
QString itemList(const QString& whereClause, const QString& sortColumn, bool ascending,
                 Dialect dialect = Dialect::SQLite);
QString itemCount(const QString& whereClause);
QString itemById(int id);
// The item's row, locked against other writers until the transaction ends. On SQLite the
// transaction's write lock already covers it.
QString itemByIdForUpdate(int id, Dialect dialect);
QString insertItem();
QString updateItem();
QString deleteItem(int id);

// Slides. SQLite returns them in id order through its index; the server says so, since an
// updated row changes its place there.
QString slidesOfItem(int parentId, Dialect dialect = Dialect::SQLite);
QString insertSlide();
QString slideNotes(int slideId);
QString updateSlideNotes();
QString deleteSlide(int slideId);
QString deleteSlidesOfItem(int parentId);

// Rooms
QString roomsFilter(int itemId);
QString roomAreaSum(int itemId);
QString deleteRoomsOfItem(int itemId);
// The rooms grid's order (RoomName, a room without a name first).
QString roomsOrderBy(Dialect dialect);

// The id that the connection's last insert gave an automatically numbered row.
QString lastInsertId(Dialect dialect);

// Password
QString selectPassword();
QString deletePassword();
QString insertPassword();
// Held while the password is replaced, so that two changes at once leave one row. Empty on SQLite,
// where the transaction's write lock does it.
QString lockPassword(Dialect dialect);

// Lookup tables; the table name must come from DirectoryTables.
QString lookupSelect(const QString& table);
QString lookupInsert(const QString& table);
QString lookupUpdate(const QString& table);
QString lookupDelete(const QString& table);

// The tables of a new catalogue. The server keeps money as numeric(19,4), pictures as bytea and
// the registration date as a timestamp; its text columns order by code point (COLLATE "C") as
// SQLite's do, whatever the database's own collation is.
QStringList schema(Dialect dialect);
// The tables of the catalogue, dependants after their items: items, slides, rooms, pwl_cell, then
// the fourteen directories.
QStringList catalogueTables();

} // namespace Statements
