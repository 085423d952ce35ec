#pragma once

#include <QChar>
#include <QLocale>
#include <QString>
#include <QStringView>
#include <optional>

// The number grammar of the program's input fields, in the user's regional format.
namespace NumberText {

// Blanks before, an optional sign, decimal digits, nothing after; must fit 32 bits.
std::optional<qint32> parseWhole(QStringView text);

// Blanks before and after, an optional sign, digits with at most one decimal separator (at least
// one digit), an optional exponent (E or e and a signed whole number). No digit grouping.
std::optional<double> parseDecimal(QStringView text, QChar decimalSeparator);
std::optional<double> parseDecimal(QStringView text, const QLocale& locale = QLocale());

// Currency values: four decimals within +-922,337,203,685,477.5807.
inline constexpr double CurrencyLimit = 922337203685477.5807;
bool inCurrencyRange(double value);
// The value rounded to four decimals, as the nearest double.
double roundToFourDecimals(double value);
// A decimal number in the currency range, rounded to four decimals.
std::optional<double> parseCurrency(QStringView text, QChar decimalSeparator);

// The checks of the card's numeric fields, in their order: floor, number of storeys, area, price,
// debt. Returns the message of the first field that fails, or an empty text when all pass.
struct NumericFields {
    QString etazh;
    QString etazhnost;
    QString ploshad;
    QString stoimost;
    QString dolg;
};
QString firstNumericFailure(const NumericFields& fields, const QLocale& locale = QLocale());

} // namespace NumberText
