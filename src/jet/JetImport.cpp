#include "JetImport.h"

#include "CatalogueColumns.h"
#include "Database.h"
#include "JetFile.h"
#include "JetValues.h"
#include "NewFile.h"
#include "NumberText.h"
#include "Statements.h"
#include "ValueText.h"

#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>

#include <cmath>
#include <limits>
#include <optional>

using namespace Qt::StringLiterals;
using Type = JetFile::Type;

namespace {

// Values in the text forms the notes show them in.
const ValueText& plainText() {
    static const ValueText text(QLocale::c());
    return text;
}

bool isWhole(Type type) {
    return type == Type::Boolean || type == Type::Byte || type == Type::Integer || type == Type::Long;
}

bool isText(Type type) {
    return type == Type::Text || type == Type::Memo;
}

// A value of the file as a note shows it.
QString shown(Type type, const QVariant& value) {
    if (value.typeId() == QMetaType::QByteArray)
        return u"binary value of %1 bytes"_s.arg(value.toByteArray().size());
    QString text = type == Type::Currency   ? JetValues::moneyText(value.toLongLong())
                   : type == Type::DateTime ? u"date %1"_s.arg(value.toDouble(), 0, 'g', 17)
                                            : value.toString();
    if (text.size() > 60)
        text = text.left(60) + u'…';
    return u"\"%1\""_s.arg(text);
}

// A number or a date of the file in a text column: its text.
QString textOf(Type type, const QVariant& value) {
    if (isWhole(type))
        return QString::number(value.toLongLong());
    if (type == Type::Currency)
        return JetValues::moneyText(value.toLongLong());
    if (type == Type::DateTime) {
        bool whole = true;
        const QString date = JetValues::dateText(value.toDouble(), &whole);
        return date.isEmpty() ? plainText().realText(value.toDouble()) : date;
    }
    return plainText().realText(value.toDouble());
}

// The number a value of the file stands for, when it is one.
std::optional<double> numberOf(Type type, const QVariant& value) {
    if (isWhole(type))
        return double(value.toLongLong());
    if (type == Type::Currency)
        return double(value.toLongLong()) / 10000.0;
    if (type == Type::Single || type == Type::Double)
        return value.toDouble();
    if (isText(type))
        return NumberText::parseDecimal(value.toString(), QChar(u'.'));
    return std::nullopt;
}

// A value of the file in the form the catalogue's column takes; `problem` says when it is not
// kept as it was (and how it is kept instead).
QVariant convert(Type type, const QVariant& value, ValueKind kind, QString* problem) {
    if (value.isNull())
        return QVariant();
    const bool binary = value.typeId() == QMetaType::QByteArray;
    switch (kind) {
    case ValueKind::Text:
        if (binary) {
            *problem = u"is binary in a text column; stored as its UTF-8 text"_s;
            return QString::fromUtf8(value.toByteArray());
        }
        return isText(type) ? value : QVariant(textOf(type, value));
    case ValueKind::Binary:
        if (binary)
            return value;
        if (isText(type)) {
            *problem = u"is text in a picture column; stored as its UTF-8 bytes"_s;
            return value.toString().toUtf8();
        }
        *problem = u"is no picture; stored as empty"_s;
        return QVariant();
    case ValueKind::Date: {
        if (type == Type::DateTime) {
            bool whole = true;
            const QString date = JetValues::dateText(value.toDouble(), &whole);
            if (date.isEmpty())
                *problem = u"is no date of the years 100 to 9999; stored as empty"_s;
            else if (!whole)
                *problem = u"has a fraction of a second; stored as %1"_s.arg(date);
            return date.isEmpty() ? QVariant() : QVariant(date);
        }
        const QDateTime date =
            isText(type) ? ValueText::parseStoredDateTime(value.toString().trimmed()) : QDateTime();
        if (date.isValid())
            return ValueText::storedDateTime(date);
        *problem = u"is no date; stored as empty"_s;
        return QVariant();
    }
    case ValueKind::Money:
        if (type == Type::Currency) {
            bool exact = true;
            const double money = JetValues::money(value.toLongLong(), &exact);
            if (!exact)
                *problem = u"is more exact than the catalogue keeps money; stored as the nearest, %1"_s.arg(
                    plainText().currencyText(money));
            return money;
        }
        break;
    default:
        break;
    }
    const std::optional<double> number = numberOf(type, value);
    if (!number) {
        *problem = u"is not a number; stored as empty"_s;
        return QVariant();
    }
    if (kind == ValueKind::Integer) {
        if (std::trunc(*number) != *number ||
            std::fabs(*number) > double(std::numeric_limits<qint32>::max())) {
            *problem = u"is not a whole number of 32 bits; stored as empty"_s;
            return QVariant();
        }
        return QVariant(qlonglong(*number));
    }
    if (kind == ValueKind::Money) {
        if (!NumberText::inCurrencyRange(*number)) {
            *problem = u"is out of the range of money; stored as empty"_s;
            return QVariant();
        }
        const double money = NumberText::roundToFourDecimals(*number);
        if (money != *number)
            *problem = u"has more than four decimals; stored as %1"_s.arg(plainText().currencyText(money));
        return money;
    }
    return *number;
}

QString rowName(const QString& table, const QVariant& id, qint64 row) {
    return id.isNull() ? u"%1 row %2"_s.arg(table).arg(row) : u"%1 %2"_s.arg(table).arg(id.toLongLong());
}

// The new file's connection, removed again when the conversion ends either way.
class Target {
public:
    explicit Target(const QString& path) : m_name(u"tenemark-import-%1"_s.arg(quintptr(this))) {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, m_name);
        db.setDatabaseName(path);
        if (!db.open())
            throw AppError(u"%1: %2"_s.arg(path, engineErrorText(db.lastError())));
    }
    ~Target() {
        {
            QSqlDatabase db = QSqlDatabase::database(m_name, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(m_name);
    }
    Target(const Target&) = delete;
    Target& operator=(const Target&) = delete;
    QSqlDatabase db() const { return QSqlDatabase::database(m_name, false); }

    QSqlQuery run(const QString& sql, const QVariantList& values = {}) const {
        QSqlQuery q(db());
        q.setForwardOnly(true);
        bool ok = q.prepare(sql);
        for (qsizetype i = 0; ok && i < values.size(); ++i)
            q.bindValue(int(i), values[i]);
        if (!ok || !q.exec())
            throw AppError(engineErrorText(q.lastError()));
        return q;
    }

private:
    QString m_name;
};

// One conversion's state while it runs.
class Conversion {
public:
    Conversion(const std::function<void(qint64, qint64)>& progress, const std::function<bool()>& cancelled,
               qint64 total)
        : m_progress(progress), m_cancelled(cancelled), m_total(total) {}

    // Converts one table of the file into the catalogue table `name`; returns the rows read.
    qint64 table(const Target& target, JetFile::Table& source, const QString& name, JetImportReport& report) {
        const QList<CatalogueColumn> columns = catalogueColumns(name);
        QList<CatalogueColumn> written;
        QList<int> from;
        for (const CatalogueColumn& column : columns) {
            const int c = source.columnIndex(column.name);
            if (c >= 0) {
                written << column;
                from << c;
            } else if (!(name == u"rooms" && column.name == u"id")) {
                // The file's rooms have no numbers of their own: the new file numbers them.
                report.notes << u"%1, column %2: not in the file; left empty"_s.arg(name, column.name);
            }
        }
        for (int c = 0; c < source.columnCount(); ++c) {
            if (!from.contains(c))
                report.notes << u"%1, column \"%2\": not part of the catalogue; left out"_s.arg(
                    name, source.columnName(c));
        }
        QStringList names, marks;
        for (const CatalogueColumn& column : written) {
            names << column.name;
            marks << u"?"_s;
        }
        QSqlQuery insert(target.db());
        const QString statement =
            written.isEmpty()
                ? u"insert into %1 default values"_s.arg(name)
                : u"insert into %1 (%2) values (%3)"_s.arg(name, names.join(u", "_s), marks.join(u", "_s));
        if (!insert.prepare(statement))
            throw AppError(engineErrorText(insert.lastError()));
        const qsizetype idAt = hasNumberedId(name) ? from.indexOf(source.columnIndex(u"id"_s)) : -1;
        const qsizetype pictureAt = name == u"slides" ? from.indexOf(source.columnIndex(u"picture"_s)) : -1;
        qint64 highestId = 0;
        while (source.next()) {
            if (m_cancelled && m_cancelled())
                throw JetImport::Cancelled();
            QVariantList values(written.size());
            for (qsizetype i = 0; i < written.size(); ++i) {
                if (i != pictureAt)
                    values[i] = source.value(from[i]);
            }
            // The picture last, without a copy: its bytes stay valid until the next long value.
            if (pictureAt >= 0)
                values[pictureAt] = source.transientValue(from[pictureAt]);
            const QVariant id = idAt >= 0 ? values[idAt] : QVariant();
            QVariant picture;
            for (qsizetype i = 0; i < written.size(); ++i) {
                const Type type = source.columnType(from[i]);
                const QVariant& value = values[i];
                QString problem;
                const QVariant converted = convert(type, value, written[i].kind, &problem);
                if (!problem.isEmpty())
                    report.notes << u"%1, %2: %3 %4"_s.arg(rowName(name, id, source.rowNumber()),
                                                           written[i].name, shown(type, value), problem);
                if (i == pictureAt)
                    picture = converted;
                insert.bindValue(int(i), converted);
            }
            if (!insert.exec())
                throw AppError(u"%1: %2"_s.arg(rowName(name, id, source.rowNumber()),
                                               engineErrorText(insert.lastError())));
            if (name == u"slides")
                comparePicture(target, insert.lastInsertId(), picture);
            highestId = std::max(highestId, id.toLongLong());
            ++m_done;
            if (m_progress)
                m_progress(m_done, m_total);
        }
        // The numbering goes on after the last number the file gave, also to rows deleted since.
        if (hasNumberedId(name) && source.lastNumber() > highestId) {
            target.run(u"delete from sqlite_sequence where name = ?"_s, {name});
            target.run(u"insert into sqlite_sequence (name, seq) values (?, ?)"_s,
                       {name, source.lastNumber()});
        }
        return source.rowNumber();
    }

    // The picture the new file holds, still in the engine's cache, against the one read from the
    // file.
    void comparePicture(const Target& target, const QVariant& rowId, const QVariant& picture) {
        if (!m_readBack) {
            m_readBack.emplace(target.db());
            m_readBack->setForwardOnly(true);
            if (!m_readBack->prepare(u"select picture from slides where rowid = ?"_s))
                throw AppError(engineErrorText(m_readBack->lastError()));
        }
        m_readBack->bindValue(0, rowId);
        if (!m_readBack->exec())
            throw AppError(engineErrorText(m_readBack->lastError()));
        const bool found = m_readBack->next();
        const QVariant stored = found ? m_readBack->value(0) : QVariant();
        m_readBack->finish();
        if (!found || stored.isNull() != picture.isNull() || stored.toByteArray() != picture.toByteArray())
            throw AppError(
                u"slides %1: в новом файле снимок не тот, что в исходном"_s.arg(rowId.toLongLong()));
        ++m_pictures;
    }

    int pictures() const { return m_pictures; }

private:
    const std::function<void(qint64, qint64)>& m_progress;
    const std::function<bool()>& m_cancelled;
    qint64 m_total;
    qint64 m_done = 0;
    std::optional<QSqlQuery> m_readBack;
    int m_pictures = 0;
};

} // namespace

JetImport::Cancelled::Cancelled() : AppError(u"Преобразование отменено"_s) {}

JetImport::JetImport(QString jetPath, QString targetPath)
    : m_jetPath(std::move(jetPath)), m_targetPath(std::move(targetPath)) {}

void JetImport::setProgress(std::function<void(qint64, qint64)> progress) {
    m_progress = std::move(progress);
}

void JetImport::setCancelCheck(std::function<bool()> cancelled) {
    m_cancelled = std::move(cancelled);
}

void JetImport::setTableDone(std::function<void(const QString&)> tableDone) {
    m_tableDone = std::move(tableDone);
}

JetImportReport JetImport::run() {
    if (QFileInfo::exists(m_targetPath))
        throw AppError(u"Файл %1 уже существует; он оставлен как есть"_s.arg(m_targetPath));
    const JetFile file(m_jetPath);
    const QStringList tables = Statements::catalogueTables();
    std::vector<std::unique_ptr<JetFile::Table>> sources;
    QStringList missing;
    qint64 total = 0;
    for (const QString& name : tables) {
        sources.push_back(file.table(name));
        if (sources.back())
            total += sources.back()->declaredRows();
        else
            missing << name;
    }
    if (!missing.isEmpty())
        throw AppError(u"В файле %1 нет таблиц каталога: %2"_s.arg(m_jetPath, missing.join(u", "_s)));
    JetImportReport report;
    for (const QString& name : file.tableNames()) {
        if (!tables.contains(name, Qt::CaseInsensitive))
            report.notes << u"table \"%1\": not part of the catalogue; left out"_s.arg(name);
    }

    NewFile newFile(m_targetPath);
    Database::createSchema(m_targetPath);
    {
        const Target target(m_targetPath);
        Transaction transaction(target.db());
        Conversion conversion(m_progress, m_cancelled, total);
        for (size_t t = 0; t < sources.size(); ++t) {
            const qint64 rows = conversion.table(target, *sources[t], tables[t], report);
            QSqlQuery count = target.run(u"select count(*) from "_s + tables[t]);
            const qint64 written = count.next() ? count.value(0).toLongLong() : -1;
            if (written != rows)
                throw AppError(
                    u"%1: в исходном файле строк %2, в новом %3"_s.arg(tables[t]).arg(rows).arg(written));
            report.counts << u"%1: %2"_s.arg(tables[t]).arg(rows);
            if (m_tableDone)
                m_tableDone(report.counts.last());
        }
        report.pictures = conversion.pictures();
        transaction.commit();
    }
    newFile.keep();
    return report;
}
