#include "ItemListReader.h"

#include "AppError.h"
#include "Database.h"
#include "ItemRowStore.h"
#include "Libpq.h"
#include "Statements.h"

#include <libpq-fe.h>
#include <sqlite3.h>

#include <charconv>
#include <memory>
#include <vector>

using namespace Qt::StringLiterals;
using Value = ItemRowStore::Value;

namespace {

[[noreturn]] void missingColumn(const QString& name) {
    throw AppError(u"Поле %1 не найдено"_s.arg(name));
}

// A number as the store keeps it: its shortest text that reads back the same.
template <typename Number> void addNumber(ItemRowStore& rows, Value type, Number value) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    rows.addCell(type, text, end - text);
}

struct StatementDeleter {
    void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementDeleter>;

[[noreturn]] void failSqlite(sqlite3* db) {
    const int code = sqlite3_extended_errcode(db);
    const QString text = Database::errorText(code, QString::fromUtf8(sqlite3_errmsg(db)));
    if ((code & 0xff) == SQLITE_BUSY)
        throw Database::BusyError(text);
    throw AppError(text);
}

Statement prepareSqlite(sqlite3* db, StoreQuery& query) {
    sqlite3_stmt* raw = nullptr;
    const QByteArray text = query.text().toUtf8();
    if (sqlite3_prepare_v2(db, text.constData(), int(text.size()), &raw, nullptr) != SQLITE_OK)
        failSqlite(db);
    Statement statement(raw);
    for (const auto& [name, value] : query.boundValues()) {
        const int index = sqlite3_bind_parameter_index(raw, (u':' + name).toUtf8().constData());
        if (index == 0)
            continue;
        int rc = SQLITE_OK;
        switch (value.typeId()) {
        case QMetaType::Int:
        case QMetaType::LongLong:
            rc = sqlite3_bind_int64(raw, index, value.toLongLong());
            break;
        case QMetaType::Double:
            rc = sqlite3_bind_double(raw, index, value.toDouble());
            break;
        default:
            if (value.isNull()) {
                rc = sqlite3_bind_null(raw, index);
            } else {
                const QByteArray utf8 = value.toString().toUtf8();
                rc = sqlite3_bind_text(raw, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
            }
        }
        if (rc != SQLITE_OK)
            failSqlite(db);
    }
    return statement;
}

int sqliteColumn(sqlite3_stmt* statement, const QString& name) {
    const int count = sqlite3_column_count(statement);
    for (int i = 0; i < count; ++i) {
        if (QString::fromUtf8(sqlite3_column_name(statement, i)).compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    missingColumn(name);
}

void readSqlite(sqlite3* db, StoreQuery& query, const ItemListReader::Request& request, ItemRowStore& rows) {
    const Statement statement = prepareSqlite(db, query);
    sqlite3_stmt* s = statement.get();
    const int idIndex = sqliteColumn(s, u"id"_s);
    std::vector<int> indexes;
    for (const QString& name : request.columns)
        indexes.push_back(sqliteColumn(s, name));
    for (;;) {
        const int rc = sqlite3_step(s);
        if (rc == SQLITE_DONE)
            break;
        if (rc != SQLITE_ROW)
            failSqlite(db);
        rows.addRow(sqlite3_column_int(s, idIndex));
        for (const int i : indexes) {
            switch (sqlite3_column_type(s, i)) {
            case SQLITE_NULL:
                rows.addNull();
                break;
            case SQLITE_INTEGER:
                addNumber(rows, Value::Integer, sqlite3_column_int64(s, i));
                break;
            case SQLITE_FLOAT:
                addNumber(rows, Value::Real, sqlite3_column_double(s, i));
                break;
            case SQLITE_TEXT: {
                const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s, i));
                rows.addCell(Value::Text, text, sqlite3_column_bytes(s, i));
                break;
            }
            default: // a blob, taken as its UTF-8 text
                rows.addCell(Value::Text, static_cast<const char*>(sqlite3_column_blob(s, i)),
                             sqlite3_column_bytes(s, i));
            }
        }
    }
}

// How the server's text form of a column's values is kept, by the column's type.
Value serverValue(Oid type) {
    switch (type) {
    case 20: // int8
    case 21: // int2
    case 23: // int4
        return Value::Integer;
    case 700:  // float4
    case 701:  // float8
    case 1700: // numeric
        return Value::Real;
    default:
        return Value::Text;
    }
}

// One statement with its criteria as parameters, its rows handed over one by one as the server
// produces them (single-row mode), in text form.
void readServer(PGconn* connection, StoreQuery& query, const ItemListReader::Request& request,
                ItemRowStore& rows) {
    const Libpq::Parameters parameters(query.text(), query.boundValues());
    // Rows of a query that Qt's driver left unread would refuse the statement ("another command is
    // already in progress"); the driver drops them itself before its next statement.
    while (PGresult* left = PQgetResult(connection))
        PQclear(left);
    if (!PQsendQueryParams(connection, parameters.statement(), parameters.count(), nullptr,
                           parameters.values(), parameters.lengths(), nullptr, 0))
        Libpq::fail(connection, nullptr);
    Libpq::PendingResults results(connection);
    PQsetSingleRowMode(connection);
    int idIndex = -1;
    std::vector<int> indexes;
    std::vector<Value> values;
    Libpq::Result failure;
    while (Libpq::Result result = results.next()) {
        const PGresult* r = result.get();
        const ExecStatusType status = PQresultStatus(r);
        if (status != PGRES_SINGLE_TUPLE && status != PGRES_TUPLES_OK) {
            if (!failure)
                failure = std::move(result);
            continue;
        }
        const int count = PQntuples(r);
        if (count == 0)
            continue;
        if (idIndex < 0) {
            idIndex = PQfnumber(r, "id");
            if (idIndex < 0)
                missingColumn(u"id"_s);
            for (const QString& name : request.columns) {
                const int index = PQfnumber(r, name.toUtf8().constData());
                if (index < 0)
                    missingColumn(name);
                indexes.push_back(index);
                values.push_back(serverValue(PQftype(r, index)));
            }
        }
        for (int t = 0; t < count; ++t) {
            const char* idText = PQgetvalue(r, t, idIndex);
            int id = 0;
            std::from_chars(idText, idText + PQgetlength(r, t, idIndex), id);
            rows.addRow(id);
            for (size_t c = 0; c < indexes.size(); ++c) {
                const int i = indexes[c];
                if (PQgetisnull(r, t, i))
                    rows.addNull();
                else
                    rows.addCell(values[c], PQgetvalue(r, t, i), PQgetlength(r, t, i));
            }
        }
    }
    if (failure || PQstatus(connection) == CONNECTION_BAD)
        Libpq::fail(connection, failure.get());
}

} // namespace

namespace ItemListReader {

void read(StoreQuery& query, const Request& request, ItemRowStore& rows) {
    query.setText(Statements::itemList(request.whereClause, request.sortColumn, request.ascending,
                                       Statements::dialectOf(query.database())));
    if (request.bindCriteria)
        request.bindCriteria(query);
    // A unit of its own: it waits for another copy's lock, and a server connection that broke under
    // way is opened again and the list read once more from its start.
    Database::read([&] {
        rows.clearRows();
        if (sqlite3* db = Database::sqliteHandle(query.database()))
            readSqlite(db, query, request, rows);
        else if (PGconn* connection = Libpq::handle(query.database()))
            readServer(connection, query, request, rows);
        else
            throw AppError(u"Драйвер базы данных не поддерживается"_s);
    });
}

int count(StoreQuery& query, const QString& whereClause,
          const std::function<void(StoreQuery&)>& bindCriteria) {
    query.setText(Statements::itemCount(whereClause));
    if (bindCriteria)
        bindCriteria(query);
    query.open();
    const int n = query.next() ? query.value(0).toInt() : 0;
    query.finish();
    return n;
}

} // namespace ItemListReader
