#pragma once

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariant>

#include <functional>
#include <optional>
#include <type_traits>

#include "AppError.h"

#include "Schema.h"
#include "StoreSettings.h"

struct sqlite3;
class QSqlError;

// The one shared connection to the catalogue: the file (SQLite), or a database on a PostgreSQL
// server (Qt's QPSQL driver) when kvarta.ini says so (StoreSettings).
//
// On the file:
// The connection keeps the file safe for a power loss and for other copies of the program on the
// same file: a rollback journal beside the file (never WAL, so that a plain SQLite client and a
// shared network folder serve) and every commit synced to the disk.
//
// On the server: every copy of the program has a connection of its own; a transaction starts with
// BEGIN and the checked update locks its row (SELECT ... FOR UPDATE), so a lock is held only for
// the few statements of one save. The daily backup copies the file only: a server is backed up
// with the server's own tools (pg_dump).
//
// Waiting for another copy: a statement of the shared connection waits for a lock at most a short
// slice (25 ms), then fails with BusyError; the unit of work it belongs to (run(): one statement,
// or a function that holds its Transaction) is rolled back and run again after a pause that the
// waiter fills (the program's event loop and its progress window, or a plain sleep), until the
// lock is free, the operator abandons the wait, or the wait has lasted too long (two minutes). On
// the server the same holds with the session's lock_timeout.
//
// A lost server connection: the first statement of a unit finds a connection that the server has
// closed and opens it again (the password it had; asked for only when the server asks). A read
// broken under way is run once more on a new connection; a write is not: SaveUncertain tells that
// it may not have been stored.
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

// A lock that another connection holds kept a statement from running: nothing of it took effect.
// Given up, its text says that the catalogue was taken too long.
class BusyError : public AppError {
public:
    using AppError::AppError;
};
// The server connection broke (the server stopped or restarted, the network went away).
class ConnectionLostError : public AppError {
public:
    using AppError::AppError;
};
// The operator stopped waiting for another copy: nothing of the operation was written.
class WaitAbandoned : public AppError {
public:
    using AppError::AppError;
};
// The server connection broke while a change was under way, before the server confirmed it: the
// change may or may not be stored. The window that asked shows what is stored.
class SaveUncertain : public AppError {
public:
    using AppError::AppError;
};
// The server refused the password that was given.
class PasswordRefused : public AppError {
public:
    using AppError::AppError;
};

enum class Work { Read, Write };
// Runs a unit of work on this thread: a statement, or a function holding its Transaction, that
// leaves nothing behind when it fails. Waits for another connection's lock and runs the unit again
// (BusyError); a read that a lost server connection broke runs once more on a new connection, a
// write throws SaveUncertain. Inside another unit (or an open Transaction) the unit just runs and
// its failures go to the outer one. While a wait is under way (the waiter's pause), a unit that an
// event or a timer starts is refused: nothing runs a statement meanwhile.
void runUnit(Work work, const std::function<void()>& unit);
template <class F> auto run(Work work, F&& unit) -> std::invoke_result_t<F&> {
    using Result = std::invoke_result_t<F&>;
    if constexpr (std::is_void_v<Result>) {
        runUnit(work, unit);
    } else {
        std::optional<Result> result;
        runUnit(work, [&] { result.emplace(unit()); });
        return std::move(*result);
    }
}
template <class F> auto read(F&& unit) {
    return run(Work::Read, std::forward<F>(unit));
}
template <class F> auto write(F&& unit) {
    return run(Work::Write, std::forward<F>(unit));
}
// Whether a unit (or a Transaction) is under way on this thread.
bool insideUnit();
// Runs `save`; when the server connection broke before the save was confirmed (SaveUncertain), runs
// `reload` too, so that the window shows what is stored, and passes the failure on.
template <class Save, class Reload> auto reloadIfUncertain(Save&& save, Reload&& reload) {
    try {
        return save();
    } catch (const SaveUncertain&) {
        try {
            reload();
        } catch (const AppError&) {
            // The failure already says that the server is not answering.
        }
        throw;
    }
}

// How a unit waits between two attempts. `pause` is given the time waited so far; it returns after
// a short slice (about 10 ms), false when the operator abandoned the wait. `finished` ends a wait,
// however it ended. Without a waiter (the tool, tests) the thread sleeps in the same slices.
struct Waiter {
    std::function<bool(qint64 waitedMs)> pause;
    std::function<void()> finished;
};
void setWaiter(Waiter waiter);

// Told `true` once a unit has waited notifyAfterMs for another copy, `false` when that wait ended.
// An empty function removes it.
void setWaitNotifier(std::function<void(bool waiting)> notifier);
// How long a unit waits before the notifier is told and before it gives up with "database is
// locked". The defaults are 2 s and 2 min; tests shorten them. A value below 0 restores the
// default.
void setWaitLimits(int notifyAfterMs, int giveUpAfterMs);

// Told `false` when the shared connection's server could not be reached again, `true` when a new
// connection to it was opened after that.
void setServerStateNotifier(std::function<void(bool reachable)> notifier);
// Asks the operator for the server's password when a new connection needs one that the server
// did not take; false when the operator declined.
void setPasswordPrompt(std::function<bool(QString& password)> prompt);

// Throws the failure that `error` of a statement on `db` stands for: BusyError for another
// connection's lock, ConnectionLostError for a broken server connection, otherwise AppError with
// the explained engine text (never an empty one).
[[noreturn]] void fail(const QSqlError& error, const QSqlDatabase& db);
// The same for a server's failure with its SQLSTATE and message.
[[noreturn]] void failServer(const QString& state, const QString& serverText);

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

    StoreQuery(StoreQuery&& other) noexcept;
    StoreQuery& operator=(StoreQuery&&) = default;
    ~StoreQuery();

    // Sets the statement; its :name markers become parameters. It is prepared when it runs.
    void setText(const QString& text);
    const QString& text() const { return m_text; }
    void bind(const QString& name, const QVariant& value);      // name without the colon; null text as ""
    void bindExact(const QString& name, const QVariant& value); // the value as it is, null included
    // Each runs as a unit of its own (Database::run) unless a unit is under way.
    void open();    // runs a select
    void execute(); // runs anything else
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

    // Drops the statement prepared on a connection that has gone (a new one replaces it).
    void forgetStatement();

private:
    [[noreturn]] void fail() const;
    void prepareAndBind();

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
// Opened outside a unit, its start waits as a unit does, and its statements form one unit with it.
class Transaction {
public:
    explicit Transaction(QSqlDatabase db = Database::connection());
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void commit();

private:
    void begin();

    QSqlDatabase m_db;
    bool m_sqlite = false;
    bool m_committed = false;
    bool m_ownsUnit = false;
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
