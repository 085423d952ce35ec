#include "JetValues.h"

#include <QDate>
#include <QDateTime>

#include <charconv>
#include <cmath>

using namespace Qt::StringLiterals;

namespace JetValues {

QString text(const unsigned char* bytes, qsizetype size) {
    if (size >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        QString out;
        out.reserve(size);
        bool narrow = true;
        for (qsizetype i = 2; i < size;) {
            if (bytes[i] == 0) {
                narrow = !narrow;
                ++i;
            } else if (narrow) {
                out += QChar(char16_t(bytes[i++]));
            } else if (i + 1 < size) {
                out += QChar(char16_t(bytes[i] | bytes[i + 1] << 8));
                i += 2;
            } else {
                break;
            }
        }
        return out;
    }
    QString out(size / 2, Qt::Uninitialized);
    char16_t* units = reinterpret_cast<char16_t*>(out.data());
    for (qsizetype i = 0; i + 1 < size; i += 2)
        units[i / 2] = char16_t(bytes[i] | bytes[i + 1] << 8);
    return out;
}

namespace {

// The count as a decimal number with four decimals: "-1520.5000".
QByteArray fixedText(qint64 tenThousandths) {
    const qint64 whole = tenThousandths / 10000;
    const qint64 fraction = tenThousandths % 10000;
    QByteArray text = tenThousandths < 0 ? "-" : "";
    text += QByteArray::number(whole < 0 ? -whole : whole) + '.';
    return text + QByteArray::number(fraction < 0 ? -fraction : fraction).rightJustified(4, '0');
}

} // namespace

QString moneyText(qint64 tenThousandths) {
    QByteArray text = fixedText(tenThousandths);
    while (text.endsWith('0'))
        text.chop(1);
    if (text.endsWith('.'))
        text.chop(1);
    return QString::fromLatin1(text);
}

double money(qint64 tenThousandths, bool* exact) {
    // The nearest double: below 2^53 the count is an exact double and one division rounds;
    // above, through the decimal text, which from_chars rounds correctly.
    constexpr qint64 ExactCount = qint64(1) << 53;
    double value = double(tenThousandths) / 10000.0;
    // Below 2^33 a double carries four decimals without loss; above, its own decimal expansion
    // must round back to the same four decimals.
    if (std::fabs(value) < 8589934592.0) {
        *exact = true;
        return value;
    }
    const QByteArray decimal = fixedText(tenThousandths);
    if (tenThousandths <= -ExactCount || tenThousandths >= ExactCount)
        std::from_chars(decimal.constData(), decimal.constData() + decimal.size(), value);
    char back[64];
    const auto end = std::to_chars(back, back + sizeof back, value, std::chars_format::fixed, 4).ptr;
    *exact = QByteArrayView(back, end - back) == decimal;
    return value;
}

QString dateText(double days, bool* wholeSecond) {
    *wholeSecond = true;
    // 0100-01-01 and the last second of 9999-12-31.
    if (!std::isfinite(days) || days < -657434.0 || days >= 2958466.0)
        return QString();
    const double day = std::trunc(days);
    const double seconds = std::fabs(days - day) * 86400.0;
    const double rounded = std::round(seconds);
    *wholeSecond = std::fabs(seconds - rounded) < 0.001;
    const QDateTime at =
        QDateTime(QDate(1899, 12, 30).addDays(qint64(day)), QTime(0, 0), Qt::UTC).addSecs(qint64(rounded));
    if (at.date().year() > 9999)
        return QString();
    return at.toString(u"yyyy-MM-dd HH:mm:ss"_s);
}

double single(float value) {
    char digits[32];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    double widened = value;
    std::from_chars(digits, end, widened);
    return widened;
}

} // namespace JetValues
