#pragma once

#include <QString>

class HtmlPage;
class ReportListModel;

// The general report: the ticked rows of the report window's list as one HTML table.
namespace GeneralReport {

inline constexpr auto BaseText = u"Общий отчет ";

// Writes the table into a new file at `path`. Throws AppError when the file cannot be written; a
// file begun there is removed again.
void write(const ReportListModel& list, const QString& path);

// Chooses the next free name in the report folder, writes the report there and hands it to the
// spreadsheet program. Returns the file's path.
QString run(const ReportListModel& list);

} // namespace GeneralReport
