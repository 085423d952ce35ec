#include "ValueText.h"

#include "AppError.h"
#include "NumberText.h"

#include <QDateTime>
#include <cmath>

using namespace Qt::StringLiterals;

namespace {

// A short date format made only of d, dd, M, MM, yy, yyyy and separators can be rendered
// without QLocale's general formatter, which is slow for a hundred thousand rows.
bool isSimpleDateFormat(const QString& format) {
    for (qsizetype i = 0; i < format.size();) {
        const QChar c = format[i];
        qsizetype run = 1;
        while (i + run < format.size() && format[i + run] == c)
            ++run;
        if (c == u'd' && run > 2)
            return false;
        if (c == u'M' && run > 2)
            return false;
        if (c == u'y' && run != 2 && run != 4)
            return false;
        if (c.isLetter() && c != u'd' && c != u'M' && c != u'y')
            return false;
        if (c == u'\'')
            return false;
        i += run;
    }
    return true;
}

void appendNumber(QString& out, int value, int width) {
    QString digits = QString::number(value);
    if (digits.size() < width)
        out += QString(width - digits.size(), u'0');
    out += digits;
}

int digitsAt(const QString& s, qsizetype pos, qsizetype count, bool* ok) {
    int v = 0;
    for (qsizetype i = pos; i < pos + count; ++i) {
        const char16_t c = s[i].unicode();
        if (c < u'0' || c > u'9') {
            *ok = false;
            return 0;
        }
        v = v * 10 + (c - u'0');
    }
    return v;
}

} // namespace

ValueText::ValueText(const QLocale& locale)
    : m_locale(locale), m_decimal(locale.decimalPoint().at(0)),
      m_shortDateFormat(locale.dateFormat(QLocale::ShortFormat)) {
    m_simpleDateFormat = isSimpleDateFormat(m_shortDateFormat);
}

QString ValueText::withSeparator(QString cText) const {
    if (m_decimal != u'.')
        cText.replace(u'.', m_decimal);
    return cText;
}

QString ValueText::integerText(qint64 value) const {
    return QString::number(value);
}

namespace {

// Whole numbers that a double holds exactly: written as digits at once.
bool isWhole(double value) {
    return std::fabs(value) < 9007199254740992.0 && std::trunc(value) == value;
}

} // namespace

QString ValueText::realText(double value) const {
    // Plain fixed-point with the digits the value has: 100000, never 1e+05.
    if (isWhole(value))
        return QString::number(qint64(value) == 0 ? 0 : qint64(value));
    if (!std::isfinite(value))
        return withSeparator(QString::number(value));
    QString text = QString::number(value, 'f', QLocale::FloatingPointShortest);
    if (text == u"-0"_s)
        text = u"0"_s;
    return withSeparator(text);
}

double ValueText::roundCurrency(double value) {
    return NumberText::roundToFourDecimals(value);
}

QString ValueText::currencyText(double value) const {
    if (isWhole(value)) // prices mostly are
        return QString::number(qint64(value));
    QString text = QString::number(roundCurrency(value), 'f', 4);
    while (text.endsWith(u'0'))
        text.chop(1);
    if (text.endsWith(u'.'))
        text.chop(1);
    if (text == u"-0"_s)
        text = u"0"_s;
    return withSeparator(text);
}

QString ValueText::formatDate(int year, int month, int day) const {
    if (!m_simpleDateFormat)
        return m_locale.toString(QDate(year, month, day), m_shortDateFormat);
    QString out;
    out.reserve(m_shortDateFormat.size() + 2);
    const QString& f = m_shortDateFormat;
    for (qsizetype i = 0; i < f.size();) {
        const QChar c = f[i];
        qsizetype run = 1;
        while (i + run < f.size() && f[i + run] == c)
            ++run;
        if (c == u'd')
            appendNumber(out, day, int(run));
        else if (c == u'M')
            appendNumber(out, month, int(run));
        else if (c == u'y')
            appendNumber(out, run == 2 ? year % 100 : year, int(run));
        else
            out += QString(run, c);
        i += run;
    }
    return out;
}

QString ValueText::dateTimeText(const QString& stored) const {
    // "YYYY-MM-DD HH:MM:SS" (the time may be missing)
    if (stored.size() != 10 && stored.size() != 19)
        return stored;
    bool ok = true;
    const int year = digitsAt(stored, 0, 4, &ok);
    const int month = digitsAt(stored, 5, 2, &ok);
    const int day = digitsAt(stored, 8, 2, &ok);
    if (!ok || stored[4] != u'-' || stored[7] != u'-' || !QDate::isValid(year, month, day))
        return stored;
    QString out = formatDate(year, month, day);
    if (stored.size() == 19) {
        const int h = digitsAt(stored, 11, 2, &ok);
        const int m = digitsAt(stored, 14, 2, &ok);
        const int s = digitsAt(stored, 17, 2, &ok);
        if (!ok)
            return stored;
        if (h != 0 || m != 0 || s != 0) {
            out += u' ';
            appendNumber(out, h, 2);
            out += u':';
            appendNumber(out, m, 2);
            out += u':';
            appendNumber(out, s, 2);
        }
    }
    return out;
}

QString ValueText::dateTimeText(const QDateTime& value) const {
    return dateTimeText(storedDateTime(value));
}

QString ValueText::storedDateTime(const QDateTime& value) {
    return value.toString(u"yyyy-MM-dd HH:mm:ss"_s);
}

QDateTime ValueText::parseStoredDateTime(const QString& stored) {
    QDateTime dt = QDateTime::fromString(stored, u"yyyy-MM-dd HH:mm:ss"_s);
    if (!dt.isValid())
        dt = QDateTime(QDate::fromString(stored, u"yyyy-MM-dd"_s), QTime(0, 0));
    return dt;
}

QString ValueText::format(const QVariant& value, ColumnKind kind) const {
    if (value.isNull())
        return QString();
    const int type = value.typeId();
    switch (kind) {
    case ColumnKind::DateTime:
        if (type == QMetaType::QDateTime)
            return dateTimeText(value.toDateTime());
        return dateTimeText(value.toString());
    case ColumnKind::Currency:
        if (type == QMetaType::LongLong || type == QMetaType::Int)
            return integerText(value.toLongLong());
        if (type == QMetaType::Double)
            return currencyText(value.toDouble());
        return value.toString();
    default:
        break;
    }
    switch (type) {
    case QMetaType::LongLong:
    case QMetaType::Int:
    case QMetaType::ULongLong:
    case QMetaType::UInt:
        return integerText(value.toLongLong());
    case QMetaType::Double:
        return realText(value.toDouble());
    default:
        return value.toString();
    }
}

QVariant ValueText::toColumnValue(const QString& column, const QString& text) const {
    const ColumnKind kind = itemColumnKind(column);
    switch (kind) {
    case ColumnKind::Text:
        return text;
    case ColumnKind::Integer: {
        if (const auto whole = NumberText::parseWhole(text))
            return QVariant(qlonglong(*whole));
        // An engine also takes a decimal number that is whole.
        if (const auto d = NumberText::parseDecimal(text, m_decimal);
            d && std::trunc(*d) == *d && std::fabs(*d) <= 2147483647.0)
            return QVariant(qlonglong(*d));
        break;
    }
    case ColumnKind::Real:
        if (const auto d = NumberText::parseDecimal(text, m_decimal))
            return *d;
        break;
    case ColumnKind::Currency:
        if (const auto d = NumberText::parseCurrency(text, m_decimal))
            return *d;
        break;
    case ColumnKind::DateTime: {
        const QDateTime dt = ValueText::parseStoredDateTime(text);
        if (dt.isValid())
            return storedDateTime(dt);
        break;
    }
    }
    throw AppError(u"Значение \"%1\" поля %2 не является числом"_s.arg(text, column));
}
