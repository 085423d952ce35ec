#include "GeneralReport.h"

#include "HtmlPage.h"
#include "ReportFileName.h"
#include "ReportListModel.h"
#include "ShellLaunch.h"
#include "SpreadsheetCells.h"
#include "Windows1251.h"

#include <cstring>

using namespace Qt::StringLiterals;

namespace {

// The page is handed to the file in pieces of about this size.
constexpr qsizetype PieceSize = 1 << 20;

// The markup repeated per row and cell, all ASCII. A value cell carries the attributes that
// tell a spreadsheet what it holds (SpreadsheetCells); its leading non-breaking space comes from
// the page's style, so that it shows in a browser and is no part of the value.
constexpr char RowStart[] = "<tr>\r\n<td align=\"right\" valign=\"middle\">&nbsp;";
constexpr char NumberEnd[] = "</td>\r\n";
constexpr char CellStart[] = "<td align=\"justiful\" valign=\"middle\"";
constexpr char CellTextStart[] = ">";
constexpr char CellEnd[] = "</td>\r\n";
constexpr char RowEnd[] = "</tr>\r\n";
constexpr qsizetype NumberDigits = 11;
constexpr auto ValueCellStyle = u"<style>td[sdnum]:before{content:\"\\00A0\"}</style>";

template <size_t N> char* put(char* p, const char (&text)[N]) {
    std::memcpy(p, text, N - 1);
    return p + (N - 1);
}

char* putNumber(char* p, int number) {
    char digits[NumberDigits];
    int n = 0;
    do {
        digits[n++] = char('0' + number % 10);
        number /= 10;
    } while (number != 0);
    while (n > 0)
        *p++ = digits[--n];
    return p;
}

void writeRow(HtmlPage& page, const ReportListModel& list, const SpreadsheetCells& cells,
              const QList<ColumnKind>& kinds, int row, int number, QList<QString>& texts) {
    const int columns = list.columnCount();
    // Each cell's text is made once.
    texts.resize(columns);
    for (int c = 0; c < columns; ++c)
        texts[c] = list.cellText(row, c);
    qsizetype room = qsizetype(sizeof RowStart + NumberDigits + sizeof NumberEnd + sizeof RowEnd);
    for (int c = 0; c < columns; ++c)
        room += qsizetype(sizeof CellStart + SpreadsheetCells::MaxAttributesBytes + sizeof CellTextStart +
                          sizeof CellEnd) +
                Windows1251::MaxBytesPerUnit * texts[c].size();
    char* p = page.beginAppend(room);
    p = put(p, RowStart);
    p = putNumber(p, number);
    p = put(p, NumberEnd);
    for (int c = 0; c < columns; ++c) {
        p = put(p, CellStart);
        p = cells.writeAttributes(p, texts[c], kinds.at(c));
        p = put(p, CellTextStart);
        p = Windows1251::writeHtmlTextLines(p, texts[c]);
        p = put(p, CellEnd);
    }
    p = put(p, RowEnd);
    page.endAppend(p);
}

} // namespace

namespace GeneralReport {

void write(const ReportListModel& list, const QString& path) {
    ReportFile file(path);
    HtmlPage page;
    page.reserve(PieceSize * 2);
    page.head(u"Общий отчет", ValueCellStyle);
    page.line(u"Общий отчет</H3><br>");
    page.line(u"<Table align=center width=95% border=1 cellspacing=\"0\">");
    page.line(u"<tr>");
    page.line(u"<td align=\"center\" valign=\"middle\">№ п/п</td>");
    for (const ReportListModel::Column& column : list.columns())
        page.markup(u"<td align=\"center\" valign=\"middle\">")
            .text(column.caption)
            .markup(u"</td>")
            .endLine();
    page.line(u"</tr>");

    const SpreadsheetCells cells;
    QList<ColumnKind> kinds;
    for (const ReportListModel::Column& column : list.columns())
        kinds.append(SpreadsheetCells::kindOfCaption(column.caption));
    // Unticked rows give nothing and take no number.
    const int rows = list.rowCount();
    int number = 0;
    QList<QString> texts;
    for (int r = 0; r < rows; ++r) {
        if (!list.isChecked(r))
            continue;
        writeRow(page, list, cells, kinds, r, ++number, texts);
        if (page.size() >= PieceSize)
            file.write(page);
    }
    page.line(u"</table>");
    page.line(u"</Body></Html>");
    file.write(page);
    file.close();
}

QString run(const ReportListModel& list) {
    const QString path = ReportFileName(QString::fromUtf16(BaseText));
    write(list, path);
    ShellLaunch::openDocument(ShellLaunch::Opener::Spreadsheet, path);
    return path;
}

} // namespace GeneralReport
