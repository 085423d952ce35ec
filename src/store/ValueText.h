#pragma once

#include "Schema.h"

#include <QLocale>
#include <QString>
#include <QVariant>

// The database layer's default text form of a stored value, in the user's regional format:
// null -> empty; integer -> digits; floating number -> shortest text that reads back the same;
// currency -> at most four decimals without trailing zeros; date and time -> short date, a blank
// and hh:mm:ss unless the time is midnight; text -> as stored.
class ValueText {
public:
    explicit ValueText(const QLocale& locale = QLocale());

    QString format(const QVariant& value, ColumnKind kind) const;

    QString integerText(qint64 value) const;
    QString realText(double value) const;
    QString currencyText(double value) const;
    // `stored` is the ISO form "YYYY-MM-DD HH:MM:SS"; anything else is returned unchanged.
    QString dateTimeText(const QString& stored) const;
    QString dateTimeText(const QDateTime& value) const;

    // Stored form of a date-time.
    static QString storedDateTime(const QDateTime& value);
    static QDateTime parseStoredDateTime(const QString& stored);
    // Currency values keep four decimals.
    static double roundCurrency(double value);

    // Converts the text of an input field to the type of an items column, as an engine would.
    // Throws AppError when the text does not convert.
    QVariant toColumnValue(const QString& column, const QString& text) const;

private:
    QString withSeparator(QString cText) const;
    QString formatDate(int year, int month, int day) const;

    QLocale m_locale;
    QChar m_decimal;
    QString m_shortDateFormat;
    bool m_simpleDateFormat = false;
};
