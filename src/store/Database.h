#pragma once

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariant>

#include <functional>

#include "Schema.h"
#include "StoreSettings.h"

struct sqlite3;

// The one shared connection to the catalogue: the file (SQLite), or a database on a PostgreSQL
// server (Qt's QPSQL driver) when kvarta.ini says so (StoreSettings).
//
// On the file:
// The connection keeps the file safe for a power loss and for other copies of the program on the
// same file: a rollback journal beside the file (never WAL, so that a plain SQLite client and a
// shared network folder serve), every commit synced to the disk, and a wait of ours for a lock
// that another copy holds (up to two minutes) instead of a short timeout.
//
// On the server: every copy of the program has a connection of its own; a transaction starts with
// BEGIN and the checked update locks its row (SELECT ... FOR UPDATE), so a lock is held only for
// the few statements of one save. A statement waits at most two minutes for a lock before it gives
// up; the wait notifier is not called there. The daily backup copies the file only: a server is
// backed up with the server's own tools (pg_dump).
namespace Database {

enum class Access {
    ReadWrite, // changes are saved where the file and its folder allow it
    ReadOnly,  // nothing can be written (tests and the database tool's check)
};

// Opens the shared connection on an existing file (another copy of the program may have it open
// too; a lock held by it is waited for). Throws AppError with the engine's text.
void open(const QString& path, Access access = Access::ReadWrite);
void close();
bool isOpen();
QSqlDatabase connection();

enum class ServerLogin {
    Opened,         // the shared connection is open on the server
    PasswordNeeded, // the server asks for a password and none was given (nor found in ~/.pgpass)
};
// Opens the shared connection on the server's catalogue. Try it first with an empty password: libpq
// takes one from ~/.pgpass or the service file itself; only when the server still asks for one is
// PasswordNeeded returned, and the caller asks the user and calls again with it. Throws AppError
// with the server's text when the server cannot be reached, refuses the login (a wrong password
// too), or holds no catalogue.
ServerLogin openServer(const StoreSettings& settings, const QString& password = QString(),
                       Access access = Access::ReadWrite);
// Opens the catalogue that `settings` name: the file at `filePath` (an existing one) or the
// server. Returns PasswordNeeded only for the server.
ServerLogin openStore(const StoreSettings& settings, const QString& filePath,
                      const QString& password = QString());
// Whether the shared connection is on a server.
bool isServer();

// A server connection of its own under `connectionName` (the database tool, tests), closed with
// QSqlDatabase::removeDatabase(). Throws AppError with the server's text, also when a password is
// needed and none was found.
QSqlDatabase addServerConnection(const QString& connectionName, const StoreSettings& settings,
                                 const QString& password = QString(), Access access = Access::ReadWrite);
// The tables of `connection` that belong to the catalogue (lower case).
QStringList catalogueTablesIn(const QSqlDatabase& connection);
// Lays down every table of the catalogue on an open connection (either engine) in one transaction.
// Refuses when one of them exists already, and on a server whose database does not keep UTF-8.
void createSchema(QSqlDatabase connection);

// Creates a new file with every table of the catalogue. Refuses to overwrite an existing file.
void createSchema(const QString& path);
// The statements that lay down the file's schema, for the database tool and the tests.
QStringList schemaStatements();

// Whether changes can be saved to the open catalogue, and if not, why.
enum class WriteAccess {
    Writable,
    ReadOnlyFile,       // the file itself may not be written
    ReadOnlyFolder,     // the journal beside the file cannot be created
    ReadOnlyConnection, // the engine opened the file read-only
};
WriteAccess writeAccess();
bool isReadOnly();
// A notice for the user about a catalogue that cannot be changed; empty for Writable.
QString writeAccessText(WriteAccess access);

// Called on the connection's thread from inside a statement that waits for another copy's lock:
// `true` once it has waited about two seconds, `false` as soon as the statement went on (or gave
// up). The hook may repaint but must not use the database. An empty function removes it.
void setWaitNotifier(std::function<void(bool waiting)> notifier);
// How long a statement waits before the notifier is told and before it gives up with "database
// is locked". The defaults are 2 s and 2 min; tests shorten them. A value below 0 restores the
// default.
void setWaitLimits(int notifyAfterMs, int giveUpAfterMs);

// SQLite's own handle behind a connection of the QSQLITE driver; nullptr for another driver.
sqlite3* sqliteHandle(const QSqlDatabase& db);

// The text shown for a failure that the engine reported with `code` (its extended result code)
// and `engineText`. A full disk, a read-only file or folder, a lock held too long and a journal
// that cannot be created get a plain Russian explanation followed by the engine's text in
// parentheses; anything else is the engine's text itself.
QString errorText(int code, const QString& engineText);

} // namespace Database

// A query object on the shared connection; each window owns its own. Setting a new text
// discards the previous result. Every failure throws AppError with the engine's error text.
class StoreQuery {
public:
    StoreQuery();
    explicit StoreQuery(const QSqlDatabase& db);

    void setText(const QString& text); // prepares the statement; its :name markers become parameters
    const QString& text() const { return m_text; }
    void bind(const QString& name, const QVariant& value); // name without the colon
    void open();                                           // runs a select
    void execute();                                        // runs anything else
    // Sets and runs a statement without parameters in one step, unprepared: the server prepares only
    // selects and changes of rows, not LOCK or the schema's statements.
    void executeDirect(const QString& text);
    // Runs the select set by setText(), with nothing bound, unprepared: a server streams its rows as
    // it produces them, where a prepared one (EXECUTE) gathers them all first.
    void openDirect();
    int rowsAffected() const { return m_rowsAffected; } // by the last execute()
    // Parameters bound since the last setText(), in the order they were bound.
    const QList<std::pair<QString, QVariant>>& boundValues() const { return m_bound; }
    bool next();
    void finish();

    int columnIndex(const QString& name) const; // -1 when the result has no such column
    int columnCount() const;
    QString columnName(int index) const;
    QVariant value(int index) const;
    QVariant value(const QString& name) const;
    // The column's value in the database layer's default text form.
    QString text(const QString& name) const;
    QString text(int index) const;

    QSqlQuery& raw() { return m_query; }
    const QSqlDatabase& database() const { return m_db; }

private:
    [[noreturn]] void fail() const;

    QSqlDatabase m_db;
    QSqlQuery m_query;
    QString m_text;
    int m_rowsAffected = 0;
    QList<std::pair<QString, QVariant>> m_bound;
};

// Runs a group of statements as one unit: all of them or none. Rolls back unless committed.
// On SQLite it starts with BEGIN IMMEDIATE: the write lock is taken (or waited for) at the start,
// so two copies that both write never wait for each other in a circle. On the server it starts with
// BEGIN; the statements that need it lock their rows (Statements::itemByIdForUpdate, lockPassword).
class Transaction {
public:
    explicit Transaction(QSqlDatabase db = Database::connection());
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void commit();

private:
    QSqlDatabase m_db;
    bool m_sqlite = false;
    bool m_committed = false;
};

// Engine's error text of a failed query or connection, explained by Database::errorText(); a
// server's text is its message without the statement's position, explained by
// Database::serverErrorText().
QString engineErrorText(const class QSqlError& error);

namespace Database {
// The text shown for a failure that the server reported with SQLSTATE `state`: a full disk, missing
// rights, a read-only server, a lock held too long and a lost connection get a plain Russian
// explanation followed by the server's text in parentheses; anything else is the server's text.
QString serverErrorText(const QString& state, const QString& serverText);
} // namespace Database
