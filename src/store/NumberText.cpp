#include "NumberText.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace NumberText {

namespace {
bool isDigit(QChar c) {
    return c.unicode() >= u'0' && c.unicode() <= u'9';
}
} // namespace

std::optional<qint32> parseWhole(QStringView text) {
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && text[i] == QLatin1Char(' '))
        ++i;
    bool negative = false;
    if (i < n && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    if (i == n)
        return std::nullopt;
    qint64 value = 0;
    for (; i < n; ++i) {
        if (!isDigit(text[i]))
            return std::nullopt;
        value = value * 10 + (text[i].unicode() - u'0');
        if (value > qint64(std::numeric_limits<qint32>::max()) + 1)
            return std::nullopt;
    }
    if (negative)
        value = -value;
    if (value > std::numeric_limits<qint32>::max() || value < std::numeric_limits<qint32>::min())
        return std::nullopt;
    return qint32(value);
}

std::optional<double> parseDecimal(QStringView text, QChar decimalSeparator) {
    qsizetype i = 0;
    qsizetype n = text.size();
    while (i < n && text[i] == QLatin1Char(' '))
        ++i;
    while (n > i && text[n - 1] == QLatin1Char(' '))
        --n;
    std::string c; // the number rewritten in the C locale's form
    if (i < n && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-')))
        c += char(text[i++].unicode());
    int digits = 0;
    bool separatorSeen = false;
    for (; i < n; ++i) {
        const QChar ch = text[i];
        if (isDigit(ch)) {
            c += char(ch.unicode());
            ++digits;
        } else if (ch == decimalSeparator && !separatorSeen) {
            c += '.';
            separatorSeen = true;
        } else {
            break;
        }
    }
    if (digits == 0)
        return std::nullopt;
    if (i < n) {
        if (text[i] != QLatin1Char('e') && text[i] != QLatin1Char('E'))
            return std::nullopt;
        c += 'e';
        ++i;
        if (i < n && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-')))
            c += char(text[i++].unicode());
        int expDigits = 0;
        for (; i < n && isDigit(text[i]); ++i) {
            c += char(text[i].unicode());
            ++expDigits;
        }
        if (expDigits == 0 || i != n)
            return std::nullopt;
    }
    // from_chars ignores the C locale and rejects a leading '+'.
    const char* first = c.data();
    if (*first == '+')
        ++first;
    double value = 0;
    const auto [end, ec] = std::from_chars(first, c.data() + c.size(), value);
    if (ec != std::errc() || end != c.data() + c.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<double> parseDecimal(QStringView text, const QLocale& locale) {
    return parseDecimal(text, locale.decimalPoint().at(0));
}

bool inCurrencyRange(double value) {
    return std::isfinite(value) && std::fabs(value) <= CurrencyLimit;
}

double roundToFourDecimals(double value) {
    if (!std::isfinite(value))
        return value;
    // Round the shortest decimal form of the value (the digits as typed), half away from zero,
    // and read the result back as the nearest double.
    char buffer[400];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer - 1, value, std::chars_format::fixed);
    if (ec != std::errc())
        return value;
    std::string digits(buffer, end);
    const std::size_t point = digits.find('.');
    if (point != std::string::npos && digits.size() - point - 1 > 4) {
        const bool up = digits[point + 5] >= '5';
        digits.resize(point + 5);
        if (up) {
            std::size_t i = digits.size();
            while (i-- > 0) {
                if (digits[i] == '.' || digits[i] == '-')
                    continue;
                if (digits[i] != '9') {
                    ++digits[i];
                    break;
                }
                digits[i] = '0';
                if (i == 0 || (i == 1 && digits[0] == '-')) {
                    digits.insert(i, 1, '1');
                    break;
                }
            }
        }
    }
    double rounded = 0;
    std::from_chars(digits.data(), digits.data() + digits.size(), rounded);
    return rounded == 0 ? 0.0 : rounded; // no negative zero
}

std::optional<double> parseCurrency(QStringView text, QChar decimalSeparator) {
    const std::optional<double> value = parseDecimal(text, decimalSeparator);
    if (!value || !inCurrencyRange(*value))
        return std::nullopt;
    return roundToFourDecimals(*value);
}

QString firstNumericFailure(const NumericFields& fields, const QLocale& locale) {
    const QChar separator = locale.decimalPoint().at(0);
    if (!parseWhole(fields.etazh))
        return QStringLiteral("Этаж не является числом.");
    if (!parseWhole(fields.etazhnost))
        return QStringLiteral("Этажность не является числом.");
    if (!parseDecimal(fields.ploshad, separator))
        return QStringLiteral("Площадь не является числом.");
    if (!parseCurrency(fields.stoimost, separator))
        return QStringLiteral("Стоимость не является числом.");
    if (!parseCurrency(fields.dolg, separator))
        return QStringLiteral("Долг не является числом.");
    return QString();
}

} // namespace NumberText
