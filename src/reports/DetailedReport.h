#pragma once

#include <QString>
#include <optional>

class StoreQuery;

// The detailed report of one item: a page with its attributes and, when it has photographs, a
// photo folder beside the page and a table of the pictures with their notes. Runs its statements
// on the query object it is given, which keeps the last result.
namespace DetailedReport {

inline constexpr auto BaseText = u"Детальный отчет ";

// Writes the item's page (and photos) into the report folder and hands the page to the word
// processor. Does nothing at all without an id or when the item is gone. Returns the page's path,
// or empty text when nothing was written. Throws AppError when a file cannot be written; the page
// is then not opened, and the page and photos written so far are removed again.
QString run(StoreQuery& query, std::optional<int> itemId);

// The same without handing the page on.
QString write(StoreQuery& query, int itemId);

} // namespace DetailedReport
