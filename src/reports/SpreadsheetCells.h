#pragma once

#include "Schema.h"

#include <QByteArray>
#include <QDate>
#include <QLocale>
#include <QString>
#include <QStringView>
#include <optional>

// What a spreadsheet needs to take a value cell of the general report as it is meant, whatever its
// own regional format. LibreOffice Calc reads two attributes of an HTML table cell: sdval, the
// value in C notation, and sdnum, "<language of sdval>;<language of the format, 0 for the
// reader's own>;<format code>". A text cell gets the text format, so that "007" or "12,5" stay
// text; a number gets its value; a date its day number counted from 1899-12-30 with the time of day
// as a fraction. A value that does not read as its column's kind is text.
class SpreadsheetCells {
public:
    // How the values were written: the decimal separator and the short date format of `locale`,
    // and a time of day as " hh:mm:ss" after the date.
    explicit SpreadsheetCells(const QLocale& locale = QLocale());

    // The kind of the column that a list caption names; Text for a caption of no attribute.
    static ColumnKind kindOfCaption(QStringView caption);

    // The cell's attributes, each led by a blank: ` sdnum="1033;0;@"`, ` sdval="12.5"
    // sdnum="1033;0;General"`, ` sdval="46000.5" sdnum="1033;0;MM/DD/YYYY HH:MM:SS"`.
    QByteArray attributes(QStringView text, ColumnKind kind) const;
    // The same written at `out`, which has room for MaxAttributesBytes; returns the end.
    static constexpr qsizetype MaxAttributesBytes = 96;
    char* writeAttributes(char* out, QStringView text, ColumnKind kind) const;

    // The day number of a date (and time) written as the list writes it; nothing for other text.
    std::optional<double> dateValue(QStringView text) const;

private:
    std::optional<QDate> readDate(QStringView text) const;

    QChar m_decimal;
    QString m_dateFormat;
};
