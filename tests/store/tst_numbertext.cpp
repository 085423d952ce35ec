#include "NumberText.h"

#include <QTest>

using namespace Qt::StringLiterals;

class TestNumberText : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void whole_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("value");
        QTest::newRow("digits") << u"12"_s << true << 12;
        QTest::newRow("blanks before") << u"   7"_s << true << 7;
        QTest::newRow("plus") << u"+5"_s << true << 5;
        QTest::newRow("minus") << u"-3"_s << true << -3;
        QTest::newRow("leading zeros") << u"007"_s << true << 7;
        QTest::newRow("largest") << u"2147483647"_s << true << 2147483647;
        QTest::newRow("smallest") << u"-2147483648"_s << true << int(-2147483648LL);
        QTest::newRow("overflow") << u"2147483648"_s << false << 0;
        QTest::newRow("underflow") << u"-2147483649"_s << false << 0;
        QTest::newRow("far too long") << u"123456789012345678901234567890"_s << false << 0;
        QTest::newRow("empty") << u""_s << false << 0;
        QTest::newRow("blanks only") << u"   "_s << false << 0;
        QTest::newRow("blank after") << u"12 "_s << false << 0;
        QTest::newRow("sign only") << u"-"_s << false << 0;
        QTest::newRow("blank after sign") << u"- 5"_s << false << 0;
        QTest::newRow("two signs") << u"+-5"_s << false << 0;
        QTest::newRow("grouped") << u"1 000"_s << false << 0;
        QTest::newRow("decimal") << u"12,0"_s << false << 0;
        QTest::newRow("point") << u"12.0"_s << false << 0;
        QTest::newRow("exponent") << u"1e3"_s << false << 0;
        QTest::newRow("hex") << u"0x10"_s << false << 0;
        QTest::newRow("letters") << u"abc"_s << false << 0;
        QTest::newRow("arabic-indic digit") << u"١٢"_s << false << 0;
    }

    void whole() {
        QFETCH(QString, text);
        QFETCH(bool, ok);
        QFETCH(int, value);
        const auto parsed = NumberText::parseWhole(text);
        QCOMPARE(parsed.has_value(), ok);
        if (ok)
            QCOMPARE(*parsed, value);
    }

    void decimal_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QChar>("separator");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<double>("value");
        const QChar comma = u',';
        const QChar point = u'.';
        QTest::newRow("comma") << u"45,5"_s << comma << true << 45.5;
        QTest::newRow("point") << u"45.5"_s << point << true << 45.5;
        QTest::newRow("point under comma") << u"45.5"_s << comma << false << 0.0;
        QTest::newRow("comma under point") << u"45,5"_s << point << false << 0.0;
        QTest::newRow("whole") << u"12"_s << comma << true << 12.0;
        QTest::newRow("blanks around") << u"  1,5  "_s << comma << true << 1.5;
        QTest::newRow("plus") << u"+1,5"_s << comma << true << 1.5;
        QTest::newRow("minus") << u"-1,5"_s << comma << true << -1.5;
        QTest::newRow("no integer part") << u",5"_s << comma << true << 0.5;
        QTest::newRow("no fraction") << u"5,"_s << comma << true << 5.0;
        QTest::newRow("exponent") << u"1e3"_s << comma << true << 1000.0;
        QTest::newRow("capital exponent") << u"1,5E-2"_s << comma << true << 0.015;
        QTest::newRow("signed exponent") << u"2e+2"_s << point << true << 200.0;
        QTest::newRow("exponent then blank") << u"2e2 "_s << point << true << 200.0;
        QTest::newRow("exponent without digits") << u"1E"_s << comma << false << 0.0;
        QTest::newRow("exponent sign only") << u"1e-"_s << comma << false << 0.0;
        QTest::newRow("exponent alone") << u"e5"_s << comma << false << 0.0;
        QTest::newRow("decimal exponent") << u"1e2,5"_s << comma << false << 0.0;
        QTest::newRow("blank in exponent") << u"1e 2"_s << comma << false << 0.0;
        QTest::newRow("separator alone") << u","_s << comma << false << 0.0;
        QTest::newRow("two separators") << u"1,2,3"_s << comma << false << 0.0;
        QTest::newRow("grouped with blank") << u"1 000"_s << comma << false << 0.0;
        QTest::newRow("grouped with comma") << u"1,000.5"_s << point << false << 0.0;
        QTest::newRow("grouped with point") << u"1.000,5"_s << comma << false << 0.0;
        QTest::newRow("empty") << u""_s << comma << false << 0.0;
        QTest::newRow("blanks only") << u"   "_s << comma << false << 0.0;
        QTest::newRow("sign only") << u"-"_s << comma << false << 0.0;
        QTest::newRow("letters after") << u"12abc"_s << comma << false << 0.0;
        QTest::newRow("infinite") << u"1e400"_s << comma << false << 0.0;
        QTest::newRow("nan") << u"nan"_s << point << false << 0.0;
        QTest::newRow("inf word") << u"inf"_s << point << false << 0.0;
        QTest::newRow("hex") << u"0x1p3"_s << point << false << 0.0;
    }

    void decimal() {
        QFETCH(QString, text);
        QFETCH(QChar, separator);
        QFETCH(bool, ok);
        QFETCH(double, value);
        const auto parsed = NumberText::parseDecimal(text, separator);
        QCOMPARE(parsed.has_value(), ok);
        if (ok)
            QCOMPARE(*parsed, value);
    }

    void decimalFollowsTheLocale() {
        QCOMPARE(NumberText::parseDecimal(u"2,25", QLocale(QLocale::Russian, QLocale::Russia)), 2.25);
        QVERIFY(!NumberText::parseDecimal(u"2.25", QLocale(QLocale::Russian, QLocale::Russia)));
        QCOMPARE(NumberText::parseDecimal(u"2.25", QLocale(QLocale::English, QLocale::UnitedStates)), 2.25);
        QVERIFY(!NumberText::parseDecimal(u"2,25", QLocale(QLocale::English, QLocale::UnitedStates)));
    }

    void currencyRangeAndRounding_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<double>("value");
        QTest::newRow("plain") << u"2500000"_s << true << 2500000.0;
        QTest::newRow("four decimals") << u"0,1234"_s << true << 0.1234;
        QTest::newRow("rounded up") << u"0,12345"_s << true << 0.1235;
        QTest::newRow("rounded down") << u"1,00004"_s << true << 1.0;
        QTest::newRow("half as typed") << u"2,00005"_s << true << 2.0001;
        QTest::newRow("negative half") << u"-2,00005"_s << true << -2.0001;
        QTest::newRow("carry") << u"9,99995"_s << true << 10.0;
        QTest::newRow("carry into a new digit") << u"-99,99999"_s << true << -100.0;
        QTest::newRow("largest") << u"922337203685477,5807"_s << true << 922337203685477.5807;
        QTest::newRow("smallest") << u"-922337203685477,5807"_s << true << -922337203685477.5807;
        QTest::newRow("1e20") << u"1e20"_s << false << 0.0;
        QTest::newRow("1e305") << u"1e305"_s << false << 0.0;
        QTest::newRow("just past") << u"922337203685478"_s << false << 0.0;
        QTest::newRow("not a number") << u"abc"_s << false << 0.0;
    }

    void currencyRangeAndRounding() {
        QFETCH(QString, text);
        QFETCH(bool, ok);
        QFETCH(double, value);
        const auto parsed = NumberText::parseCurrency(text, u',');
        QCOMPARE(parsed.has_value(), ok);
        if (ok)
            QCOMPARE(*parsed, value);
    }

    void priceAndDebtOutOfRangeGetTheirOwnMessage() {
        const QLocale ru(QLocale::Russian, QLocale::Russia);
        NumberText::NumericFields f{u"3"_s, u"9"_s, u"45,5"_s, u"1e20"_s, u"0"_s};
        QCOMPARE(NumberText::firstNumericFailure(f, ru), u"Стоимость не является числом."_s);
        f.stoimost = u"100"_s;
        f.dolg = u"1e305"_s;
        QCOMPARE(NumberText::firstNumericFailure(f, ru), u"Долг не является числом."_s);
        // The area is no currency: a large area is still a number.
        f.dolg = u"0"_s;
        f.ploshad = u"1e20"_s;
        QCOMPARE(NumberText::firstNumericFailure(f, ru), QString());
    }

    void firstFailureInFieldOrder() {
        const QLocale ru(QLocale::Russian, QLocale::Russia);
        NumberText::NumericFields f{u"x"_s, u"x"_s, u"x"_s, u"x"_s, u"x"_s};
        QCOMPARE(NumberText::firstNumericFailure(f, ru), u"Этаж не является числом."_s);
        f.etazh = u"3"_s;
        QCOMPARE(NumberText::firstNumericFailure(f, ru), u"Этажность не является числом."_s);
        f.etazhnost = u"9"_s;
        QCOMPARE(NumberText::firstNumericFailure(f, ru), u"Площадь не является числом."_s);
        f.ploshad = u"45,5"_s;
        QCOMPARE(NumberText::firstNumericFailure(f, ru), u"Стоимость не является числом."_s);
        f.stoimost = u"2500000"_s;
        QCOMPARE(NumberText::firstNumericFailure(f, ru), u"Долг не является числом."_s);
        f.dolg = u"0"_s;
        QCOMPARE(NumberText::firstNumericFailure(f, ru), QString());

        // The area with a comma is a number only where the comma is the separator.
        QCOMPARE(NumberText::firstNumericFailure(f, QLocale(QLocale::English, QLocale::UnitedStates)),
                 u"Площадь не является числом."_s);
        // A floor must be whole even where the area may be decimal.
        f.etazh = u"3,0"_s;
        QCOMPARE(NumberText::firstNumericFailure(f, ru), u"Этаж не является числом."_s);
        f.etazh = u"3"_s;
        f.dolg = u""_s;
        QCOMPARE(NumberText::firstNumericFailure(f, ru), u"Долг не является числом."_s);
    }
};

QTEST_GUILESS_MAIN(TestNumberText)
#include "tst_numbertext.moc"
