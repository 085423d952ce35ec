#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class StoreQuery;

// Reads the item list statement as the list shows it: one text per visible column and the id.
// On an SQLite connection the rows are stepped through SQLite's own interface, which costs a
// fraction of the generic driver's per-value work; other engines go through Qt SQL.
namespace ItemListReader {

struct Request {
    QString whereClause;                           // from the filter criteria
    std::function<void(StoreQuery&)> bindCriteria; // binds the clause's parameters
    QString sortColumn;                            // items column
    bool ascending = true;
    QStringList columns; // items columns, one per visible column, in display order
};

// Runs the list statement on `query` and calls `addRow(id)` for each row in order; it returns
// where the row's texts go (one per column), filled before the next call. Directory columns
// repeat a handful of texts, so rows share one copy of each. Throws AppError with the engine's
// text; rows added before a failure stay added.
void read(StoreQuery& query, const Request& request, const std::function<QString*(int id)>& addRow);

// Number of items the criteria select, whatever columns are shown.
int count(StoreQuery& query, const QString& whereClause, const std::function<void(StoreQuery&)>& bindCriteria);

} // namespace ItemListReader
