#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVariant>

#include <memory>
#include <utility>
#include <vector>

class QSqlDatabase;
struct pg_conn;
struct pg_result;

// libpq on the connection that Qt's QPSQL driver holds, for the few reads and writes that move
// many rows: the item list and the database tool's copy. Everything else on a server goes through
// Qt SQL. The handle is asked for each time it is used, never kept, since the connection may be
// opened again.
namespace Libpq {

// libpq's connection behind a connection of the QPSQL driver; nullptr for another driver.
pg_conn* handle(const QSqlDatabase& db);

// The text shown for a failure, as for the same failure through Qt SQL: a server's message with its
// SQLSTATE explained by Database::serverErrorText(), else libpq's own text. `result` may be null.
QString failureText(pg_conn* connection, const pg_result* result);
// Throws that failure as Database::fail() would: BusyError for another desk's lock,
// ConnectionLostError when the connection broke, otherwise AppError.
[[noreturn]] void fail(pg_conn* connection, const pg_result* result);

struct ResultDeleter {
    void operator()(pg_result* r) const;
};
using Result = std::unique_ptr<pg_result, ResultDeleter>;

// A statement with named markers (":name") turned into the server's positional ones ("$1") and the
// values bound to those names in the server's text form (a name without a value gets null).
// Markers inside quotes and comments, and "::" casts, stay as they are.
class Parameters {
public:
    Parameters(const QString& statement, const QList<std::pair<QString, QVariant>>& bound);
    const char* statement() const { return m_statement.constData(); }
    int count() const { return int(m_pointers.size()); }
    const char* const* values() const { return m_pointers.data(); }
    const int* lengths() const { return m_lengths.data(); }

private:
    QByteArray m_statement;
    std::vector<QByteArray> m_values;
    std::vector<const char*> m_pointers;
    std::vector<int> m_lengths;
};

// Reads the results of a statement sent with PQsend* to their end when it goes out of scope, after
// asking the server to stop one that is still running, so that the connection is free for the next
// statement also when the reading stopped on a failure.
class PendingResults {
public:
    explicit PendingResults(pg_conn* connection) : m_connection(connection) {}
    ~PendingResults();
    PendingResults(const PendingResults&) = delete;
    PendingResults& operator=(const PendingResults&) = delete;
    // The next result, or null at the end.
    Result next();

private:
    pg_conn* m_connection;
    bool m_done = false;
};

} // namespace Libpq
