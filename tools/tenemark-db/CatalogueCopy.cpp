#include "CatalogueCopy.h"

#include "AppError.h"
#include "CatalogueColumns.h"
#include "Database.h"
#include "NewFile.h"
#include "NumberText.h"
#include "Statements.h"
#include "ValueText.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <cmath>
#include <limits>

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
            const QDateTime dt =
                type == QMetaType::QString ? ValueText::parseStoredDateTime(value.toString()) : QDateTime();
            if (dt.isValid())
                return ValueText::storedDateTime(dt);
            *problem = u"is not a date"_s;
            return QVariant();
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
        return value;
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
            QSqlQuery insert(target);
            if (!insert.prepare(u"insert into %1 (%2) values (%3)"_s.arg(table, names.join(u", "_s),
                                                                         marks.join(u", "_s))))
                fail(insert);
            QSqlQuery rows = run(source, u"select %1 from %2%3"_s.arg(names.join(u", "_s), table,
                                                                      storageOrder(source, table)));
            qint64 count = 0;
            while (rows.next()) {
                ++count;
                const QVariant id = hasNumberedId(table) ? rows.value(0) : QVariant();
                for (qsizetype c = 0; c < columns.size(); ++c) {
                    QString problem;
                    const QVariant value = rows.value(int(c));
                    const QVariant converted = converter.convert(columns[c], value, &problem);
                    if (!problem.isEmpty()) {
                        const QString kept = converted.isNull() ? u"copied as empty"_s : QString();
                        report.notes << u"%1, %2: %3 %4%5"_s.arg(rowName(table, id, count), columns[c].name,
                                                                 shown(value), problem,
                                                                 kept.isEmpty() ? QString() : u"; "_s + kept);
                    }
                    insert.bindValue(int(c), converted);
                }
                if (!insert.exec())
                    throw AppError(
                        u"%1: %2"_s.arg(rowName(table, id, count), engineErrorText(insert.lastError())));
            }
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
