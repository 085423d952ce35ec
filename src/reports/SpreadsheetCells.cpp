#include "SpreadsheetCells.h"

#include "NumberText.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace {

// sdval is read in US English (a point before the decimals); the format codes are US English
// ones that the spreadsheet turns into its own regional form (language 0).
constexpr char TextAttributes[] = " sdnum=\"1033;0;@\"";
constexpr char NumberFormat[] = "1033;0;General";
constexpr char DateFormat[] = "1033;0;MM/DD/YYYY";
constexpr char DateTimeFormat[] = "1033;0;MM/DD/YYYY HH:MM:SS";

const QDate DayZero(1899, 12, 30);

int digit(QChar c) {
    return c >= u'0' && c <= u'9' ? c.unicode() - u'0' : -1;
}

// Reads `count` digits at `at`; -1 when they are not all there.
int digitsAt(QStringView text, qsizetype at, qsizetype count) {
    int value = 0;
    for (qsizetype i = at; i < at + count; ++i) {
        const int d = i < text.size() ? digit(text[i]) : -1;
        if (d < 0)
            return -1;
        value = value * 10 + d;
    }
    return value;
}

// A two-digit year: the one of this century, or of the last when that would lie more than twenty
// years ahead.
int fullYear(int twoDigits) {
    const int now = QDate::currentDate().year();
    const int year = now / 100 * 100 + twoDigits;
    return year > now + 20 ? year - 100 : year;
}

template <size_t N> char* put(char* p, const char (&text)[N]) {
    std::memcpy(p, text, N - 1);
    return p + (N - 1);
}

// ` sdval="<value>" sdnum="<format>"`; the value in at most 24 characters ("-1.2345678901234567e-308").
template <size_t N> char* putValue(char* p, double value, const char (&format)[N]) {
    p = put(p, " sdval=\"");
    // The shortest text that reads back as the same value, in C notation.
    p = std::to_chars(p, p + 24, value).ptr;
    p = put(p, "\" sdnum=\"");
    p = put(p, format);
    *p++ = '"';
    return p;
}

} // namespace

SpreadsheetCells::SpreadsheetCells(const QLocale& locale)
    : m_decimal(locale.decimalPoint().isEmpty() ? u'.' : locale.decimalPoint().front()),
      m_dateFormat(locale.dateFormat(QLocale::ShortFormat)) {}

ColumnKind SpreadsheetCells::kindOfCaption(QStringView caption) {
    for (const ItemAttribute& a : ItemAttributes) {
        if (caption == QStringView(a.caption))
            return itemColumnKind(QString::fromLatin1(a.column));
    }
    return ColumnKind::Text;
}

QByteArray SpreadsheetCells::attributes(QStringView text, ColumnKind kind) const {
    char out[MaxAttributesBytes];
    return QByteArray(out, writeAttributes(out, text, kind) - out);
}

char* SpreadsheetCells::writeAttributes(char* out, QStringView text, ColumnKind kind) const {
    switch (kind) {
    case ColumnKind::Integer:
    case ColumnKind::Real:
    case ColumnKind::Currency:
        if (const std::optional<double> number = NumberText::parseDecimal(text, m_decimal);
            number && std::isfinite(*number))
            return putValue(out, *number, NumberFormat);
        break;
    case ColumnKind::DateTime:
        if (const std::optional<double> day = dateValue(text))
            return std::floor(*day) == *day ? putValue(out, *day, DateFormat)
                                            : putValue(out, *day, DateTimeFormat);
        break;
    case ColumnKind::Text:
        break;
    }
    return put(out, TextAttributes);
}

std::optional<double> SpreadsheetCells::dateValue(QStringView text) const {
    // The time of day, when there is one, as the list writes it: " hh:mm:ss" after the date.
    int seconds = 0;
    const qsizetype timeAt = text.size() - 9;
    if (timeAt > 0 && text[timeAt] == u' ' && text[timeAt + 3] == u':' && text[timeAt + 6] == u':') {
        const int h = digitsAt(text, timeAt + 1, 2);
        const int m = digitsAt(text, timeAt + 4, 2);
        const int s = digitsAt(text, timeAt + 7, 2);
        if (h < 0 || h > 23 || m < 0 || m > 59 || s < 0 || s > 59)
            return std::nullopt;
        seconds = (h * 60 + m) * 60 + s;
        text = text.first(timeAt);
    }
    const std::optional<QDate> date = readDate(text);
    if (!date)
        return std::nullopt;
    return double(DayZero.daysTo(*date)) + seconds / 86400.0;
}

// The short date format read back when it is made of day, month and year digits (d, dd, M, MM,
// yy, yyyy) and separators; a format with names of months or days is not read.
std::optional<QDate> SpreadsheetCells::readDate(QStringView text) const {
    const QString& f = m_dateFormat;
    qsizetype at = 0;
    int day = -1;
    int month = -1;
    int year = -1;
    for (qsizetype i = 0; i < f.size();) {
        const QChar c = f[i];
        qsizetype run = 1;
        while (i + run < f.size() && f[i + run] == c)
            ++run;
        i += run;
        if (c == u'd' || c == u'M' || c == u'y') {
            if ((c == u'y' && run != 2 && run != 4) || (c != u'y' && run > 2))
                return std::nullopt;
            // A single letter takes one or two digits.
            const qsizetype count = run == 1 && at + 1 < text.size() && digit(text[at + 1]) >= 0 ? 2 : run;
            const int value = digitsAt(text, at, count);
            if (value < 0)
                return std::nullopt;
            at += count;
            if (c == u'd')
                day = value;
            else if (c == u'M')
                month = value;
            else
                year = run == 2 ? fullYear(value) : value;
        } else {
            if (c.isLetter() || c == u'\'')
                return std::nullopt;
            for (qsizetype k = 0; k < run; ++k, ++at) {
                if (at >= text.size() || text[at] != c)
                    return std::nullopt;
            }
        }
    }
    if (at != text.size() || !QDate::isValid(year, month, day))
        return std::nullopt;
    return QDate(year, month, day);
}
