#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class ItemRowStore;
class StoreQuery;

// Reads the item list statement as the list shows it: one value per visible column and the id,
// kept as the engine hands them over (ItemRowStore). On the file the rows are stepped through
// SQLite's own interface, on a server they are streamed one by one through libpq on the shared
// connection; both cost a fraction of the generic driver's per-value work.
namespace ItemListReader {

struct Request {
    QString whereClause;                           // from the filter criteria
    std::function<void(StoreQuery&)> bindCriteria; // binds the clause's parameters
    QString sortColumn;                            // items column
    bool ascending = true;
    QStringList columns; // items columns, one per visible column, in display order
};

// Runs the list statement on `query` (it takes its text and bound criteria) and adds each row in
// order to `rows`, whose columns are `request.columns`. Throws AppError with the engine's text, as
// Qt SQL would report it; rows added before a failure stay added.
void read(StoreQuery& query, const Request& request, ItemRowStore& rows);

// Number of items the criteria select, whatever columns are shown.
int count(StoreQuery& query, const QString& whereClause, const std::function<void(StoreQuery&)>& bindCriteria);

} // namespace ItemListReader
