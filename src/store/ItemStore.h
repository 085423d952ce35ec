#pragma once

#include <QDateTime>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <functional>

class StoreQuery;

// Named operations on items and their dependants.
namespace ItemStore {

// Opens the list statement; `bindCriteria` gives the WHERE clause's parameters their values.
void openItemList(StoreQuery& query, const QString& whereClause, const QString& sortColumn, bool ascending,
                  const std::function<void(StoreQuery&)>& bindCriteria);

// Opens "select * from items where id=" + id; returns whether the item has a row.
bool openItem(StoreQuery& query, int id);

// Values of a new item, already converted from the card's fields.
struct NewItem {
    QHash<QString, QString> texts; // lookup columns and the memos: grupa, rajon, ..., sost, osob, kontakt_inf
    double obshPlosh = 0;
    qint32 etazh = 0;
    qint32 etazhnost = 0;
    double stoim = 0;
    double dolg = 0;
    QDateTime dateReg;
};
void insertItem(StoreQuery& query, const NewItem& item);

// Updates an item from the card's field texts, keyed by items column (all 22 attributes but
// date_reg). Numeric texts are converted with the regional format; text that does not convert
// is refused with an error and nothing is written. `dateReg` is a QDateTime to store, or the
// value read from the row, written back unchanged (an unreadable or missing date stays as it was).
void updateItem(StoreQuery& query, int id, const QHash<QString, QString>& texts, const QVariant& dateReg);

// Deletes the item with its rooms and slides, all or nothing.
void deleteItem(StoreQuery& query, int id);

// An item's stored row as it was read: every column with its raw value.
struct ItemSnapshot {
    int id = 0;
    bool exists = false; // false when the item has no row
    QStringList columns;
    QVariantList values;

    QVariant value(const QString& column) const; // invalid when there is no such column
    // The same row: the same columns holding the same kinds of value with the same contents.
    bool sameAs(const ItemSnapshot& other) const;
};

// The current row of `query`, opened by openItem(); read before the query moves on.
ItemSnapshot snapshot(const StoreQuery& query, int id);
// Reads the item's row now ("select * from items where id=" + id) and finishes the query.
ItemSnapshot readSnapshot(StoreQuery& query, int id);

enum class SaveOutcome {
    Saved,            // the row was as loaded and now holds the new values
    ChangedElsewhere, // someone else changed the row since it was loaded; nothing was written
    Deleted,          // the row is gone; nothing was written
};
struct SaveResult {
    SaveOutcome outcome = SaveOutcome::Saved;
    // The row as stored when the operation ended: after the update when saved, otherwise the
    // other writer's version. Saving again with it as `loaded` overwrites that version.
    ItemSnapshot current;
};

// updateItem() that writes only when the stored row still equals `loaded`: the comparison and
// the update run in one transaction that holds the write lock, so no other copy can change the
// row in between. Conversion failures throw before anything is read or written.
SaveResult updateItemIfUnchanged(StoreQuery& query, int id, const ItemSnapshot& loaded,
                                 const QHash<QString, QString>& texts, const QVariant& dateReg);

} // namespace ItemStore

namespace LookupStore {

// Entries of a directory table in naimen order (first column of each row).
QStringList loadEntries(StoreQuery& query, const QString& table);
void addEntry(StoreQuery& query, const QString& table, const QString& text);
// Both return the number of rows changed: 0 when no row holds the text (any more).
int renameEntry(StoreQuery& query, const QString& table, const QString& oldText, const QString& newText);
int deleteEntry(StoreQuery& query, const QString& table, const QString& text);

} // namespace LookupStore
