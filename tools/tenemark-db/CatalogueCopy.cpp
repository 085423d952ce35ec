#include "CatalogueCopy.h"

#include "AppError.h"
#include "CatalogueColumns.h"
#include "Database.h"
#include "Libpq.h"
#include "NewFile.h"
#include "NumberText.h"
#include "Statements.h"
#include "ValueText.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <libpq-fe.h>

#include <cmath>
#include <limits>
#include <optional>

using namespace Qt::StringLiterals;
using Statements::Dialect;

namespace {

const QString FromName = u"tenemark-copy-from"_s;
const QString ToName = u"tenemark-copy-to"_s;

// How a value shows in a note.
QString shown(const QVariant& value) {
    if (value.typeId() == QMetaType::QByteArray)
        return u"binary value of %1 bytes"_s.arg(value.toByteArray().size());
    return u"\"%1\""_s.arg(value.toString());
}

// A registration date already in the stored form ("YYYY-MM-DD HH:MM:SS", or the date alone for
// midnight), checked digit by digit; the local time zone plays no part, as the server's column
// has none.
std::optional<QString> storedForm(const QString& text) {
    if (text.size() != 10 && text.size() != 19)
        return std::nullopt;
    const auto number = [&text](qsizetype at, qsizetype digits) {
        int n = 0;
        for (qsizetype i = at; i < at + digits; ++i) {
            const char16_t c = text[i].unicode();
            if (c < u'0' || c > u'9')
                return -1;
            n = n * 10 + (c - u'0');
        }
        return n;
    };
    const int year = number(0, 4), month = number(5, 2), day = number(8, 2);
    if (text[4] != u'-' || text[7] != u'-' || year < 1 || !QDate::isValid(year, month, day))
        return std::nullopt;
    if (text.size() == 10)
        return text + u" 00:00:00"_s;
    const int h = number(11, 2), m = number(14, 2), sec = number(17, 2);
    if (text[10] != u' ' || text[13] != u':' || text[16] != u':' || h < 0 || h > 23 || m < 0 || m > 59 ||
        sec < 0 || sec > 59)
        return std::nullopt;
    return text;
}

// The source's value in the form the target's column takes; null with a note when it cannot.
class Converter {
public:
    explicit Converter(Dialect target) : m_target(target) {}

    QVariant convert(const CatalogueColumn& column, const QVariant& value, QString* problem) const {
        if (value.isNull())
            return QVariant();
        const int type = value.typeId();
        if (m_target == Dialect::SQLite) {
            // A file holds any value in any column; only the server's timestamps change form.
            if (type == QMetaType::QDateTime)
                return ValueText::storedDateTime(value.toDateTime());
            return value;
        }
        const bool number = type == QMetaType::LongLong || type == QMetaType::Int ||
                            type == QMetaType::Double || type == QMetaType::ULongLong ||
                            type == QMetaType::UInt;
        switch (column.kind) {
        case ValueKind::Integer: {
            std::optional<double> d;
            if (number)
                d = value.toDouble();
            else if (type == QMetaType::QString)
                d = NumberText::parseDecimal(value.toString(), QChar(u'.'));
            if (!d) {
                *problem = u"is not a number"_s;
                return QVariant();
            }
            if (std::trunc(*d) != *d || std::fabs(*d) > double(std::numeric_limits<qint32>::max())) {
                *problem = u"is not a whole number of 32 bits"_s;
                return QVariant();
            }
            return QVariant(qlonglong(*d));
        }
        case ValueKind::Real:
        case ValueKind::Money: {
            std::optional<double> d;
            if (number)
                d = value.toDouble();
            else if (type == QMetaType::QString)
                d = NumberText::parseDecimal(value.toString(), QChar(u'.'));
            if (!d) {
                *problem = u"is not a number"_s;
                return QVariant();
            }
            if (column.kind == ValueKind::Money && !NumberText::inCurrencyRange(*d)) {
                *problem = u"is out of the range of money"_s;
                return QVariant();
            }
            return *d;
        }
        case ValueKind::Date: {
            if (type != QMetaType::QString)
                break;
            const QString text = value.toString();
            if (const std::optional<QString> stored = storedForm(text))
                return *stored;
            const QDateTime dt = ValueText::parseStoredDateTime(text);
            if (dt.isValid())
                return ValueText::storedDateTime(dt);
            break;
        }
        case ValueKind::Text: {
            QString text =
                type == QMetaType::QByteArray ? QString::fromUtf8(value.toByteArray()) : value.toString();
            if (type == QMetaType::QByteArray)
                *problem = u"is binary in a text column; copied as its UTF-8 text"_s;
            if (text.contains(QChar(0))) {
                text.remove(QChar(0));
                *problem = u"holds NUL characters, which the server's text cannot; copied without them"_s;
            }
            // The note is only a remark here: the text is copied.
            return text;
        }
        case ValueKind::Binary:
            if (type == QMetaType::QByteArray)
                return value;
            *problem = u"is text in a picture column; copied as its UTF-8 bytes"_s;
            return value.toString().toUtf8();
        }
        *problem = u"is not a date"_s;
        return QVariant();
    }

private:
    Dialect m_target;
};

[[noreturn]] void fail(const QSqlQuery& q) {
    throw AppError(engineErrorText(q.lastError()));
}

QSqlQuery run(const QSqlDatabase& db, const QString& sql) {
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.exec(sql))
        fail(q);
    return q;
}

qint64 scalar(const QSqlDatabase& db, const QString& sql) {
    QSqlQuery q = run(db, sql);
    return q.next() ? q.value(0).toLongLong() : 0;
}

// The highest id the table's numbering has given out, also for rows deleted since.
qint64 numberingOf(const QSqlDatabase& db, const QString& table) {
    const qint64 highest = scalar(db, u"select coalesce(max(id), 0) from "_s + table);
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (Statements::dialectOf(db) == Dialect::PostgreSQL) {
        QSqlQuery name = run(db, u"select pg_get_serial_sequence('%1', 'id')"_s.arg(table));
        if (!name.next() || name.value(0).isNull())
            return highest;
        QSqlQuery last = run(db, u"select case when is_called then last_value else 0 end from "_s +
                                     name.value(0).toString());
        return last.next() ? std::max(highest, last.value(0).toLongLong()) : highest;
    }
    // sqlite_sequence is there once an autoincrement table has had a row.
    if (q.exec(u"select seq from sqlite_sequence where name = '%1'"_s.arg(table)) && q.next())
        return std::max(highest, q.value(0).toLongLong());
    return highest;
}

void setNumbering(const QSqlDatabase& db, const QString& table, qint64 value) {
    if (value <= 0)
        return;
    if (Statements::dialectOf(db) == Dialect::PostgreSQL) {
        run(db, u"select setval(pg_get_serial_sequence('%1', 'id'), %2, true)"_s.arg(table).arg(value));
        return;
    }
    run(db, u"delete from sqlite_sequence where name = '%1'"_s.arg(table));
    run(db, u"insert into sqlite_sequence (name, seq) values ('%1', %2)"_s.arg(table).arg(value));
}

// The order in which rows were stored: rows without an id keep it too (the first password row).
QString storageOrder(const QSqlDatabase& db, const QString& table) {
    if (hasNumberedId(table))
        return u" order by id"_s;
    return Statements::dialectOf(db) == Dialect::PostgreSQL ? u" order by ctid"_s : u" order by rowid"_s;
}

QString rowName(const QString& table, const QVariant& id, qint64 row) {
    return id.isValid() ? u"%1 %2"_s.arg(table).arg(id.toLongLong()) : u"%1 row %2"_s.arg(table).arg(row);
}

// Rows written into a server's table with COPY in its text form, sent in pieces of about a
// megabyte on the target's own connection (inside its transaction). A copy that is not finished
// is abandoned when this goes, which fails the transaction.
class ServerCopy {
public:
    ServerCopy(const QSqlDatabase& target, const QString& table, const QStringList& columns)
        : m_connection(Libpq::handle(target)), m_table(table) {
        if (!m_connection)
            throw AppError(u"%1: no server connection"_s.arg(table));
        const QByteArray statement = u"copy %1 (%2) from stdin"_s.arg(table, columns.join(u", "_s)).toUtf8();
        const Libpq::Result result(PQexec(m_connection, statement.constData()));
        if (PQresultStatus(result.get()) != PGRES_COPY_IN)
            throw AppError(u"%1: %2"_s.arg(table, Libpq::failureText(m_connection, result.get())));
        m_buffer.reserve(PieceSize + PieceSize / 4);
    }
    ~ServerCopy() {
        if (m_open) {
            PQputCopyEnd(m_connection, "copy abandoned");
            while (PGresult* r = PQgetResult(m_connection))
                PQclear(r);
        }
    }
    ServerCopy(const ServerCopy&) = delete;
    ServerCopy& operator=(const ServerCopy&) = delete;

    void addRow(const QVariantList& values) {
        for (qsizetype c = 0; c < values.size(); ++c) {
            if (c > 0)
                m_buffer += '\t';
            append(values[c]);
        }
        m_buffer += '\n';
        if (m_buffer.size() >= PieceSize)
            send();
    }

    void finish() {
        send();
        m_open = false;
        if (PQputCopyEnd(m_connection, nullptr) != 1)
            fail(nullptr);
        const Libpq::Result result(PQgetResult(m_connection));
        const bool done = PQresultStatus(result.get()) == PGRES_COMMAND_OK;
        QString failure;
        if (!done) {
            failure = Libpq::failureText(m_connection, result.get());
            if (const char* where = PQresultErrorField(result.get(), PG_DIAG_CONTEXT))
                failure += u" ("_s + QString::fromUtf8(where) + u')';
        }
        while (PGresult* r = PQgetResult(m_connection))
            PQclear(r);
        if (!done)
            throw AppError(u"%1: %2"_s.arg(m_table, failure));
    }

private:
    static constexpr qsizetype PieceSize = 1 << 20;

    [[noreturn]] void fail(const PGresult* result) const {
        throw AppError(u"%1: %2"_s.arg(m_table, Libpq::failureText(m_connection, result)));
    }

    void send() {
        if (m_buffer.isEmpty())
            return;
        if (PQputCopyData(m_connection, m_buffer.constData(), int(m_buffer.size())) != 1)
            fail(nullptr);
        m_buffer.resize(0);
    }

    // A value in COPY's text form: \N for null, pictures as "\x" and hex digits, texts with their
    // backslashes, tabs and line ends escaped.
    void append(const QVariant& value) {
        if (value.isNull()) {
            m_buffer += "\\N";
            return;
        }
        switch (value.typeId()) {
        case QMetaType::QByteArray:
            m_buffer += "\\\\x";
            m_buffer += value.toByteArray().toHex();
            return;
        case QMetaType::Int:
        case QMetaType::LongLong:
            m_buffer += QByteArray::number(value.toLongLong());
            return;
        case QMetaType::Double:
            m_buffer += QByteArray::number(value.toDouble(), 'g', QLocale::FloatingPointShortest);
            return;
        default:
            break;
        }
        const QByteArray text = value.toString().toUtf8();
        const char* run = text.constData();
        const char* end = run + text.size();
        for (const char* p = run; p < end; ++p) {
            char escaped = 0;
            switch (*p) {
            case '\\':
                escaped = '\\';
                break;
            case '\n':
                escaped = 'n';
                break;
            case '\r':
                escaped = 'r';
                break;
            case '\t':
                escaped = 't';
                break;
            default:
                continue;
            }
            m_buffer.append(run, p - run);
            m_buffer += '\\';
            m_buffer += escaped;
            run = p + 1;
        }
        m_buffer.append(run, end - run);
    }

    PGconn* m_connection;
    QString m_table;
    QByteArray m_buffer;
    bool m_open = true;
};

// Both connections, removed when the copy ends either way.
class Connections {
public:
    ~Connections() {
        for (const QString& name : {FromName, ToName}) {
            if (!QSqlDatabase::contains(name))
                continue;
            {
                QSqlDatabase db = QSqlDatabase::database(name, false);
                db.close();
            }
            QSqlDatabase::removeDatabase(name);
        }
    }
};

QSqlDatabase openFile(const QString& name, const QString& path, bool readOnly) {
    QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, name);
    db.setDatabaseName(path);
    if (readOnly)
        db.setConnectOptions(u"QSQLITE_OPEN_READONLY"_s);
    if (!db.open())
        throw AppError(u"%1: %2"_s.arg(path, db.lastError().text()));
    return db;
}

void compareCounts(const QSqlDatabase& from, const QSqlDatabase& to, const QString& table) {
    const qint64 source = scalar(from, u"select count(*) from "_s + table);
    const qint64 target = scalar(to, u"select count(*) from "_s + table);
    if (source != target)
        throw AppError(u"%1: %2 rows in the source, %3 in the copy"_s.arg(table).arg(source).arg(target));
}

// Every picture's bytes as the copy holds them against the source's.
int comparePictures(const QSqlDatabase& from, const QSqlDatabase& to, const Converter& converter) {
    QSqlQuery source = run(from, u"select id, picture from slides order by id"_s);
    QSqlQuery target = run(to, u"select id, picture from slides order by id"_s);
    const CatalogueColumn picture{u"picture"_s, ValueKind::Binary};
    int compared = 0;
    while (source.next()) {
        if (!target.next())
            throw AppError(u"slides: the copy has fewer rows"_s);
        QString ignored;
        const QVariant expected = converter.convert(picture, source.value(1), &ignored);
        if (source.value(0).toLongLong() != target.value(0).toLongLong() ||
            expected.isNull() != target.value(1).isNull() ||
            expected.toByteArray() != target.value(1).toByteArray())
            throw AppError(u"slides %1: the copy's picture differs from the source's"_s.arg(
                source.value(0).toLongLong()));
        ++compared;
    }
    if (target.next())
        throw AppError(u"slides: the copy has more rows"_s);
    return compared;
}

} // namespace

QString CatalogueLocation::describe() const {
    return isServer() ? u"server "_s + server.describe() : path;
}

CopyReport copyCatalogue(const CatalogueLocation& from, const CatalogueLocation& to,
                         const std::function<void(const QString&)>& progress) {
    const auto say = [&](const QString& line) {
        if (progress)
            progress(line);
    };
    if (!from.isServer() && !QFileInfo(from.path).isFile())
        throw AppError(u"%1: no such file"_s.arg(from.path));
    if (!to.isServer() && QFileInfo::exists(to.path))
        throw AppError(u"%1 already exists; it is left as it is"_s.arg(to.path));

    Connections connections;
    NewFile newFile(to.isServer() ? QString() : to.path);
    const QSqlDatabase source =
        from.isServer()
            ? Database::addServerConnection(FromName, from.server, QString(), Database::Access::ReadOnly)
            : openFile(FromName, from.path, true);
    const QStringList tables = Statements::catalogueTables();
    QStringList missing = tables;
    for (const QString& t : Database::catalogueTablesIn(source))
        missing.removeOne(t);
    if (!missing.isEmpty())
        throw AppError(
            u"%1 is no catalogue: it lacks the tables %2"_s.arg(from.describe(), missing.join(u", "_s)));

    QSqlDatabase target;
    if (to.isServer()) {
        target = Database::addServerConnection(ToName, to.server);
        const QStringList present = Database::catalogueTablesIn(target);
        if (present.isEmpty()) {
            Database::createSchema(target);
        } else if (present.size() != tables.size()) {
            QStringList lacking = tables;
            for (const QString& t : present)
                lacking.removeOne(t);
            throw AppError(u"%1 holds only part of a catalogue: it lacks the tables %2"_s.arg(
                to.describe(), lacking.join(u", "_s)));
        }
        for (const QString& t : tables) {
            const qint64 rows = scalar(target, u"select count(*) from "_s + t);
            if (rows > 0)
                throw AppError(u"%1 already holds a catalogue (%2: %3 rows); the copy needs empty tables"_s
                                   .arg(to.describe(), t)
                                   .arg(rows));
        }
    } else {
        Database::createSchema(to.path);
        target = openFile(ToName, to.path, false);
    }

    const Dialect targetDialect = Statements::dialectOf(target);
    const Converter converter(targetDialect);
    CopyReport report;
    {
        Transaction transaction(target);
        for (const QString& table : tables) {
            const QList<CatalogueColumn> columns = catalogueColumns(table);
            QStringList names, marks;
            for (qsizetype c = 0; c < columns.size(); ++c) {
                names << columns[c].name;
                marks << u":c%1"_s.arg(c);
            }
            // A server takes the rows with COPY, a file through a prepared insert.
            std::optional<ServerCopy> copyIn;
            QSqlQuery insert(target);
            if (targetDialect == Dialect::PostgreSQL)
                copyIn.emplace(target, table, names);
            else if (!insert.prepare(u"insert into %1 (%2) values (%3)"_s.arg(table, names.join(u", "_s),
                                                                              marks.join(u", "_s))))
                fail(insert);
            QSqlQuery rows = run(source, u"select %1 from %2%3"_s.arg(names.join(u", "_s), table,
                                                                      storageOrder(source, table)));
            qint64 count = 0;
            QVariantList converted(columns.size());
            while (rows.next()) {
                ++count;
                const QVariant id = hasNumberedId(table) ? rows.value(0) : QVariant();
                for (qsizetype c = 0; c < columns.size(); ++c) {
                    QString problem;
                    const QVariant value = rows.value(int(c));
                    converted[c] = converter.convert(columns[c], value, &problem);
                    if (!problem.isEmpty()) {
                        const QString kept = converted[c].isNull() ? u"copied as empty"_s : QString();
                        report.notes << u"%1, %2: %3 %4%5"_s.arg(rowName(table, id, count), columns[c].name,
                                                                 shown(value), problem,
                                                                 kept.isEmpty() ? QString() : u"; "_s + kept);
                    }
                }
                if (copyIn) {
                    copyIn->addRow(converted);
                    continue;
                }
                for (qsizetype c = 0; c < columns.size(); ++c)
                    insert.bindValue(int(c), converted[c]);
                if (!insert.exec())
                    throw AppError(
                        u"%1: %2"_s.arg(rowName(table, id, count), engineErrorText(insert.lastError())));
            }
            if (copyIn)
                copyIn->finish();
            if (rows.lastError().isValid())
                fail(rows);
            if (hasNumberedId(table))
                setNumbering(target, table, numberingOf(source, table));
            report.counts << u"%1: %2"_s.arg(table).arg(count);
            say(report.counts.last());
        }
        for (const QString& table : tables)
            compareCounts(source, target, table);
        report.pictures = comparePictures(source, target, converter);
        transaction.commit();
    }
    newFile.keep();
    return report;
}
