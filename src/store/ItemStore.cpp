#include "ItemStore.h"

#include "AppError.h"
#include "Database.h"
#include "Schema.h"
#include "Statements.h"
#include "ValueText.h"

#include <QSqlDatabase>
#include <QSqlError>

using namespace Qt::StringLiterals;

namespace {

// Columns bound by the insert and the update besides the date and the key.
const char* const AttributeParameters[] = {
    "grupa",   "rajon", "obsh_plosh", "sanuzel", "komnoty",     "tip_kv",     "sost", "pech",
    "kolonka", "etazh", "etazhnost",  "dver",    "perigorodka", "osob",       "gaz",  "konaliz",
    "garazh",  "voda",  "tip_stroen", "stoim",   "dolg",        "kontakt_inf"};

using BoundValues = QList<QPair<QString, QVariant>>;

// The card's texts converted to the columns' types; throws before anything is written.
BoundValues convertedValues(const QHash<QString, QString>& texts) {
    const ValueText converter;
    BoundValues values;
    for (const char* p : AttributeParameters) {
        const QString name = QString::fromLatin1(p);
        values.append({name, converter.toColumnValue(name, texts.value(name, u""_s))});
    }
    return values;
}

void runUpdate(StoreQuery& query, int id, const BoundValues& values, const QVariant& dateReg) {
    query.setText(Statements::updateItem());
    for (const auto& [name, value] : values)
        query.bind(name, value);
    if (dateReg.typeId() == QMetaType::QDateTime && dateReg.toDateTime().isValid())
        query.bind(u"d_r"_s, ValueText::storedDateTime(dateReg.toDateTime()));
    else if (dateReg.isNull())
        query.bindExact(u"d_r"_s, QVariant()); // the server hands out a null date as a QDateTime
    else
        query.bindExact(u"d_r"_s, dateReg); // as stored
    query.bind(u"id"_s, id);
    query.execute();
}

bool sameValue(const QVariant& a, const QVariant& b) {
    if (a.isNull() || b.isNull())
        return a.isNull() == b.isNull();
    if (a.typeId() != b.typeId())
        return false;
    switch (a.typeId()) {
    case QMetaType::Double:
        return a.toDouble() == b.toDouble();
    case QMetaType::LongLong:
    case QMetaType::Int:
        return a.toLongLong() == b.toLongLong();
    case QMetaType::QString:
        return a.toString() == b.toString();
    case QMetaType::QByteArray:
        return a.toByteArray() == b.toByteArray();
    default:
        return a == b;
    }
}

} // namespace

namespace ItemStore {

void openItemList(StoreQuery& query, const QString& whereClause, const QString& sortColumn, bool ascending,
                  const std::function<void(StoreQuery&)>& bindCriteria) {
    query.setText(
        Statements::itemList(whereClause, sortColumn, ascending, Statements::dialectOf(query.database())));
    if (bindCriteria)
        bindCriteria(query);
    query.open();
}

bool openItem(StoreQuery& query, int id) {
    query.setText(Statements::itemById(id));
    query.open();
    return query.next();
}

void insertItem(StoreQuery& query, const NewItem& item) {
    query.setText(Statements::insertItem());
    for (const char* p : AttributeParameters) {
        const QString name = QString::fromLatin1(p);
        if (itemColumnKind(name) == ColumnKind::Text)
            query.bind(name, item.texts.value(name, u""_s));
    }
    query.bind(u"obsh_plosh"_s, item.obshPlosh);
    query.bind(u"etazh"_s, item.etazh);
    query.bind(u"etazhnost"_s, item.etazhnost);
    query.bind(u"stoim"_s, ValueText::roundCurrency(item.stoim));
    query.bind(u"dolg"_s, ValueText::roundCurrency(item.dolg));
    if (item.dateReg.isValid())
        query.bind(u"d_r"_s, ValueText::storedDateTime(item.dateReg));
    else
        query.bindExact(u"d_r"_s, QVariant()); // no date: null on either store
    query.execute();
}

void updateItem(StoreQuery& query, int id, const QHash<QString, QString>& texts, const QVariant& dateReg) {
    // Convert everything first, so that a refused value leaves the row untouched.
    runUpdate(query, id, convertedValues(texts), dateReg);
}

void deleteItem(StoreQuery& query, int id) {
    Database::write([&] {
        Transaction transaction(query.database());
        query.setText(Statements::deleteRoomsOfItem(id));
        query.execute();
        query.setText(Statements::deleteSlidesOfItem(id));
        query.execute();
        query.setText(Statements::deleteItem(id));
        query.execute();
        transaction.commit();
    });
}

QVariant ItemSnapshot::value(const QString& column) const {
    const qsizetype index = columns.indexOf(column);
    return index < 0 ? QVariant() : values.at(index);
}

bool ItemSnapshot::sameAs(const ItemSnapshot& other) const {
    if (id != other.id || exists != other.exists || columns != other.columns ||
        values.size() != other.values.size())
        return false;
    for (qsizetype i = 0; i < values.size(); ++i) {
        if (!sameValue(values.at(i), other.values.at(i)))
            return false;
    }
    return true;
}

ItemSnapshot snapshot(const StoreQuery& query, int id) {
    ItemSnapshot s;
    s.id = id;
    s.exists = true;
    const int count = query.columnCount();
    for (int i = 0; i < count; ++i) {
        s.columns.append(query.columnName(i).toLower());
        s.values.append(query.value(i));
    }
    return s;
}

ItemSnapshot readSnapshot(StoreQuery& query, int id) {
    ItemSnapshot s;
    if (openItem(query, id))
        s = snapshot(query, id);
    s.id = id;
    query.finish();
    return s;
}

namespace {

// The row read inside the save's transaction and kept from other writers until it ends.
ItemSnapshot lockedSnapshot(StoreQuery& query, int id) {
    ItemSnapshot s;
    query.setText(Statements::itemByIdForUpdate(id, Statements::dialectOf(query.database())));
    query.open();
    if (query.next())
        s = snapshot(query, id);
    s.id = id;
    query.finish();
    return s;
}

} // namespace

SaveResult updateItemIfUnchanged(StoreQuery& query, int id, const ItemSnapshot& loaded,
                                 const QHash<QString, QString>& texts, const QVariant& dateReg) {
    const BoundValues values = convertedValues(texts);
    return Database::write([&] {
        Transaction transaction(query.database());
        SaveResult result;
        result.current = lockedSnapshot(query, id);
        if (!result.current.exists) {
            result.outcome = SaveOutcome::Deleted;
            return result;
        }
        if (!result.current.sameAs(loaded)) {
            result.outcome = SaveOutcome::ChangedElsewhere;
            return result;
        }
        runUpdate(query, id, values, dateReg);
        result.current = readSnapshot(query, id);
        transaction.commit();
        result.outcome = SaveOutcome::Saved;
        return result;
    });
}

} // namespace ItemStore

namespace LookupStore {

QStringList loadEntries(StoreQuery& query, const QString& table) {
    query.setText(Statements::lookupSelect(table));
    query.open();
    QStringList entries;
    while (query.next())
        entries.append(query.value(0).toString());
    return entries;
}

void addEntry(StoreQuery& query, const QString& table, const QString& text) {
    query.setText(Statements::lookupInsert(table));
    query.bind(u"naimen"_s, text);
    query.execute();
}

int renameEntry(StoreQuery& query, const QString& table, const QString& oldText, const QString& newText) {
    query.setText(Statements::lookupUpdate(table));
    query.bind(u"naimen2"_s, newText);
    query.bind(u"naimen"_s, oldText);
    query.execute();
    return query.rowsAffected();
}

int deleteEntry(StoreQuery& query, const QString& table, const QString& text) {
    query.setText(Statements::lookupDelete(table));
    query.bind(u"naimen"_s, text);
    query.execute();
    return query.rowsAffected();
}

} // namespace LookupStore
