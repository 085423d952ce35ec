#include "ItemListReader.h"

#include "AppError.h"
#include "Database.h"
#include "Schema.h"
#include "Statements.h"
#include "ValueText.h"

#include <QSet>
#include <QSqlQuery>
#include <sqlite3.h>

#include <memory>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

// Keeps one copy of each text of a directory column.
class SharedTexts {
public:
    explicit SharedTexts(const QStringList& columns) {
        for (const QString& c : columns)
            m_shared.push_back(isDirectoryColumn(c));
        m_pools.resize(m_shared.size());
    }
    void share(qsizetype column, QString& text) {
        if (!m_shared[size_t(column)])
            return;
        QSet<QString>& pool = m_pools[size_t(column)];
        const auto it = pool.constFind(text);
        if (it != pool.constEnd())
            text = *it;
        else
            pool.insert(text);
    }

private:
    std::vector<bool> m_shared;
    std::vector<QSet<QString>> m_pools;
};

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
    throw AppError(u"Поле %1 не найдено"_s.arg(name));
}

// The same text as ValueText::format() gives for the value the generic driver would hand out.
QString sqliteText(sqlite3_stmt* statement, int index, ColumnKind kind, const ValueText& texts) {
    switch (sqlite3_column_type(statement, index)) {
    case SQLITE_NULL:
        return QString();
    case SQLITE_INTEGER:
        return texts.format(QVariant(qlonglong(sqlite3_column_int64(statement, index))), kind);
    case SQLITE_FLOAT:
        return texts.format(QVariant(sqlite3_column_double(statement, index)), kind);
    case SQLITE_TEXT: {
        const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(statement, index));
        QString text = QString::fromUtf8(data, sqlite3_column_bytes(statement, index));
        return kind == ColumnKind::DateTime ? texts.dateTimeText(text) : text;
    }
    default: {
        const auto* data = static_cast<const char*>(sqlite3_column_blob(statement, index));
        return texts.format(QVariant(QByteArray(data, sqlite3_column_bytes(statement, index))), kind);
    }
    }
}

void readSqlite(sqlite3* db, StoreQuery& query, const ItemListReader::Request& request,
                const std::function<QString*(int)>& addRow) {
    // The first step takes the file's read lock, waited for as a unit; the rows come in one go.
    Statement statement;
    int rc = SQLITE_DONE;
    Database::read([&] {
        statement = prepareSqlite(db, query);
        rc = sqlite3_step(statement.get());
        if (rc != SQLITE_ROW && rc != SQLITE_DONE)
            failSqlite(db);
    });
    const int idIndex = sqliteColumn(statement.get(), u"id"_s);
    QList<int> indexes;
    QList<ColumnKind> kinds;
    for (const QString& name : request.columns) {
        indexes.append(sqliteColumn(statement.get(), name));
        kinds.append(itemColumnKind(name));
    }
    SharedTexts shared(request.columns);
    const ValueText texts;
    const qsizetype columns = request.columns.size();
    for (; rc != SQLITE_DONE; rc = sqlite3_step(statement.get())) {
        if (rc != SQLITE_ROW)
            failSqlite(db);
        QString* cells = addRow(sqlite3_column_int(statement.get(), idIndex));
        for (qsizetype c = 0; c < columns; ++c) {
            QString text = sqliteText(statement.get(), indexes[c], kinds[c], texts);
            shared.share(c, text);
            cells[c] = std::move(text);
        }
    }
}

void readGeneric(StoreQuery& query, const ItemListReader::Request& request,
                 const std::function<QString*(int)>& addRow) {
    // Forward only: a server hands the rows over one by one as it produces them (libpq's single-row
    // mode), so that reading them here overlaps with the server's work. The whole list goes
    // unprepared, which the server streams; a filtered one binds its criteria.
    if (query.boundValues().isEmpty())
        query.openDirect();
    else
        query.open();
    const int idIndex = query.columnIndex(u"id"_s);
    if (idIndex < 0)
        throw AppError(u"Поле id не найдено"_s);
    QList<int> indexes;
    QList<ColumnKind> kinds;
    for (const QString& name : request.columns) {
        const int index = query.columnIndex(name);
        if (index < 0)
            throw AppError(u"Поле %1 не найдено"_s.arg(name));
        indexes.append(index);
        kinds.append(itemColumnKind(name));
    }
    SharedTexts shared(request.columns);
    const ValueText texts;
    QSqlQuery& raw = query.raw();
    const qsizetype columns = request.columns.size();
    while (query.next()) {
        QString* cells = addRow(raw.value(idIndex).toInt());
        for (qsizetype c = 0; c < columns; ++c) {
            QVariant value = raw.value(indexes[c]);
            // Text as it came, without a copy through the general formatter.
            QString text = kinds[c] == ColumnKind::Text && value.typeId() == QMetaType::QString
                               ? std::move(*static_cast<QString*>(value.data()))
                               : texts.format(value, kinds[c]);
            shared.share(c, text);
            cells[c] = std::move(text);
        }
    }
    query.finish();
}

} // namespace

namespace ItemListReader {

void read(StoreQuery& query, const Request& request, const std::function<QString*(int id)>& addRow) {
    query.setText(Statements::itemList(request.whereClause, request.sortColumn, request.ascending,
                                       Statements::dialectOf(query.database())));
    if (request.bindCriteria)
        request.bindCriteria(query);
    if (sqlite3* db = Database::sqliteHandle(query.database()))
        readSqlite(db, query, request, addRow);
    else
        readGeneric(query, request, addRow);
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
