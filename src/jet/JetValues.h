#pragma once

#include <QString>

// Values of a Jet 4 file decoded from their stored bytes into the catalogue's forms.
namespace JetValues {

// A Text or Memo value: UTF-16LE, or Jet 4's compressed form (FF FE, then one byte per character
// below U+0100, a 00 byte switching to and from two-byte characters). Characters outside the
// Basic Multilingual Plane stay as their surrogate pairs.
QString text(const unsigned char* bytes, qsizetype size);

// A Currency value, a count of ten-thousandths, as the catalogue keeps money: the nearest double.
// `exact` tells whether that double reads back as the same four decimals.
double money(qint64 tenThousandths, bool* exact);
// The count of ten-thousandths written as a decimal number: "-1520.5", "922337203685477.5807".
QString moneyText(qint64 tenThousandths);

// A Date/Time value (days since 1899-12-30, the time of day as the fraction of the day after the
// sign) in the catalogue's stored form "yyyy-MM-dd HH:mm:ss", to the nearest second. Empty for a
// value outside the years 100 to 9999. `wholeSecond` tells whether no fraction of a second was
// rounded off.
QString dateText(double days, bool* wholeSecond);

// A Single value as the double of the same shortest decimal text (18.3f gives 18.3, not
// 18.299999237060547).
double single(float value);

} // namespace JetValues
