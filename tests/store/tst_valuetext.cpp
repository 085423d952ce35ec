#include "AppError.h"
#include "Database.h"
#include "ItemStore.h"
#include "TestSupport.h"
#include "ValueText.h"

#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QLocale Russian(QLocale::Russian, QLocale::Russia);
const QLocale English(QLocale::English, QLocale::UnitedStates);

// Every attribute text of a plausible card, keyed by items column.
QHash<QString, QString> cardTexts() {
    return {{u"grupa"_s, u"Продажа"_s},
            {u"rajon"_s, u"Центральный"_s},
            {u"obsh_plosh"_s, u"45,5"_s},
            {u"sanuzel"_s, u"Раздельный"_s},
            {u"komnoty"_s, u"2-комнатная"_s},
            {u"tip_kv"_s, u"Сталинка"_s},
            {u"sost"_s, u"Жилое\nсостояние"_s},
            {u"pech"_s, u"Газовая плита"_s},
            {u"kolonka"_s, u"Нет"_s},
            {u"etazh"_s, u"3"_s},
            {u"etazhnost"_s, u"5"_s},
            {u"dver"_s, u"Двойная"_s},
            {u"perigorodka"_s, u"Кирпичные"_s},
            {u"osob"_s, u""_s},
            {u"gaz"_s, u"Есть"_s},
            {u"konaliz"_s, u"Центральная"_s},
            {u"garazh"_s, u"Нет"_s},
            {u"voda"_s, u"Центральная"_s},
            {u"tip_stroen"_s, u"Кирпичный"_s},
            {u"stoim"_s, u"2500000,50"_s},
            {u"dolg"_s, u"0"_s},
            {u"kontakt_inf"_s, u"Иванов\n+7 912 000-00-00"_s}};
}

} // namespace

class TestValueText : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cleanup() { QLocale::setDefault(QLocale::c()); }

    // Values stored by the engine, read back through a query as the list and the reports do.
    void storedValuesAsText_data() {
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<QString>("column");
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QString>("shown");
        for (const auto& [name, locale] : {std::pair{"ru", Russian}, std::pair{"en", English}}) {
            const bool ru = locale == Russian;
            auto row = [&](const char* what) -> QTestData& { return QTest::addRow("%s %s", name, what); };
            row("null area") << locale << u"obsh_plosh"_s << QVariant() << QString();
            row("null text") << locale << u"grupa"_s << QVariant() << QString();
            row("floor") << locale << u"etazh"_s << QVariant(7) << u"7"_s;
            row("negative floor") << locale << u"etazh"_s << QVariant(-1) << u"-1"_s;
            row("area") << locale << u"obsh_plosh"_s << QVariant(45.5) << (ru ? u"45,5"_s : u"45.5"_s);
            row("whole area") << locale << u"obsh_plosh"_s << QVariant(43.0) << u"43"_s;
            // Fixed-point always, with the digits the value has.
            row("large area") << locale << u"obsh_plosh"_s << QVariant(100000.0) << u"100000"_s;
            row("very large area") << locale << u"obsh_plosh"_s << QVariant(1.5e21)
                                   << u"1500000000000000000000"_s;
            row("tiny area") << locale << u"obsh_plosh"_s << QVariant(0.0000125)
                             << (ru ? u"0,0000125"_s : u"0.0000125"_s);
            row("negative zero") << locale << u"obsh_plosh"_s << QVariant(-0.0) << u"0"_s;
            row("large price") << locale << u"stoim"_s << QVariant(123456789012.5)
                               << (ru ? u"123456789012,5"_s : u"123456789012.5"_s);
            row("tenth") << locale << u"obsh_plosh"_s << QVariant(0.1) << (ru ? u"0,1"_s : u"0.1"_s);
            row("price") << locale << u"stoim"_s << QVariant(2500000) << u"2500000"_s;
            row("price with kopecks")
                << locale << u"stoim"_s << QVariant(1234.5) << (ru ? u"1234,5"_s : u"1234.5"_s);
            row("four decimals") << locale << u"dolg"_s << QVariant(0.1234)
                                 << (ru ? u"0,1234"_s : u"0.1234"_s);
            row("rounded to four") << locale << u"dolg"_s << QVariant(2.00005)
                                   << (ru ? u"2,0001"_s : u"2.0001"_s);
            row("zero debt") << locale << u"dolg"_s << QVariant(0.0) << u"0"_s;
            row("date and time") << locale << u"date_reg"_s << QVariant(u"2024-10-05 13:03:08"_s)
                                 << (ru ? u"05.10.2024 13:03:08"_s : u"10/5/24 13:03:08"_s);
            row("midnight") << locale << u"date_reg"_s << QVariant(u"2024-10-05 00:00:00"_s)
                            << (ru ? u"05.10.2024"_s : u"10/5/24"_s);
            row("one second past") << locale << u"date_reg"_s << QVariant(u"2024-10-05 00:00:01"_s)
                                   << (ru ? u"05.10.2024 00:00:01"_s : u"10/5/24 00:00:01"_s);
            row("date only") << locale << u"date_reg"_s << QVariant(u"2024-01-31"_s)
                             << (ru ? u"31.01.2024"_s : u"1/31/24"_s);
            row("not a date") << locale << u"date_reg"_s << QVariant(u"вчера"_s) << u"вчера"_s;
            row("impossible date") << locale << u"date_reg"_s << QVariant(u"2024-02-30 10:00:00"_s)
                                   << u"2024-02-30 10:00:00"_s;
            row("text") << locale << u"sost"_s << QVariant(u"строка 1\nстрока 2"_s)
                        << u"строка 1\nстрока 2"_s;
        }
    }

    void storedValuesAsText() {
        QFETCH(QLocale, locale);
        QFETCH(QString, column);
        QFETCH(QVariant, stored);
        QFETCH(QString, shown);
        QLocale::setDefault(locale);
        TempCatalogue catalogue;
        const int id = catalogue.addItem({{column, stored}});
        StoreQuery query;
        QVERIFY(ItemStore::openItem(query, id));
        QCOMPARE(query.text(column), shown);
        // By position too, as the list reads the columns.
        QCOMPARE(query.text(query.columnIndex(column)), shown);
    }

    void toColumnValue() {
        const ValueText ru(Russian);
        QCOMPARE(ru.toColumnValue(u"obsh_plosh"_s, u"45,5"_s), QVariant(45.5));
        QCOMPARE(ru.toColumnValue(u"OBSH_PLOSH"_s, u" 45,5 "_s), QVariant(45.5));
        QCOMPARE(ru.toColumnValue(u"etazh"_s, u"3"_s), QVariant(qlonglong(3)));
        QCOMPARE(ru.toColumnValue(u"etazh"_s, u"3,0"_s), QVariant(qlonglong(3)));
        QCOMPARE(ru.toColumnValue(u"stoim"_s, u"1,23456"_s), QVariant(1.2346));
        // Money keeps four decimals within its range and is refused outside it.
        QCOMPARE(ru.toColumnValue(u"stoim"_s, u"922337203685477,5807"_s), QVariant(922337203685477.5807));
        QCOMPARE(ru.toColumnValue(u"dolg"_s, u"-922337203685477,5807"_s), QVariant(-922337203685477.5807));
        QCOMPARE(ru.toColumnValue(u"dolg"_s, u"0,00005"_s), QVariant(0.0001));
        QCOMPARE(ru.toColumnValue(u"dolg"_s, u"-0,00001"_s), QVariant(0.0));
        QCOMPARE(ru.toColumnValue(u"stoim"_s, u"12345678901,23456"_s), QVariant(12345678901.2346));
        QVERIFY_THROWS_EXCEPTION(AppError, ru.toColumnValue(u"stoim"_s, u"1e305"_s));
        QVERIFY_THROWS_EXCEPTION(AppError, ru.toColumnValue(u"dolg"_s, u"1e20"_s));
        QVERIFY_THROWS_EXCEPTION(AppError, ru.toColumnValue(u"dolg"_s, u"-1e16"_s));
        QCOMPARE(ru.toColumnValue(u"grupa"_s, u" как есть "_s), QVariant(u" как есть "_s));
        QVERIFY_THROWS_EXCEPTION(AppError, ru.toColumnValue(u"obsh_plosh"_s, u"abc"_s));
        QVERIFY_THROWS_EXCEPTION(AppError, ru.toColumnValue(u"obsh_plosh"_s, u"45.5"_s));
        QVERIFY_THROWS_EXCEPTION(AppError, ru.toColumnValue(u"etazh"_s, u"3,5"_s));
        QVERIFY_THROWS_EXCEPTION(AppError, ru.toColumnValue(u"etazh"_s, u"1e12"_s));
        QVERIFY_THROWS_EXCEPTION(AppError, ru.toColumnValue(u"dolg"_s, u""_s));
        const ValueText en(English);
        QCOMPARE(en.toColumnValue(u"obsh_plosh"_s, u"45.5"_s), QVariant(45.5));
        QVERIFY_THROWS_EXCEPTION(AppError, en.toColumnValue(u"obsh_plosh"_s, u"45,5"_s));
    }

    void storedDateTimeForm() {
        const QDateTime dt(QDate(2023, 3, 9), QTime(7, 5, 2));
        QCOMPARE(ValueText::storedDateTime(dt), u"2023-03-09 07:05:02"_s);
        QCOMPARE(ValueText::parseStoredDateTime(u"2023-03-09 07:05:02"_s), dt);
        QCOMPARE(ValueText::parseStoredDateTime(u"2023-03-09"_s), QDateTime(QDate(2023, 3, 9), QTime(0, 0)));
        QVERIFY(!ValueText::parseStoredDateTime(u"09.03.2023"_s).isValid());
    }

    void updateConvertsNumbersToTheirTypes() {
        QLocale::setDefault(Russian);
        TempCatalogue catalogue;
        const int id = catalogue.addItem({{u"grupa"_s, u"Обмен"_s}, {u"obsh_plosh"_s, 30.0}});
        StoreQuery query;
        const QDateTime registered(QDate(2024, 5, 17), QTime(10, 30, 0));
        ItemStore::updateItem(query, id, cardTexts(), registered);

        QCOMPARE(catalogue.scalar(u"select typeof(obsh_plosh) from items where id=?"_s, {id}).toString(),
                 u"real"_s);
        QCOMPARE(catalogue.scalar(u"select obsh_plosh from items where id=?"_s, {id}).toDouble(), 45.5);
        QCOMPARE(catalogue.scalar(u"select typeof(etazh) from items where id=?"_s, {id}).toString(),
                 u"integer"_s);
        QCOMPARE(catalogue.scalar(u"select stoim from items where id=?"_s, {id}).toDouble(), 2500000.5);
        QCOMPARE(catalogue.scalar(u"select date_reg from items where id=?"_s, {id}).toString(),
                 u"2024-05-17 10:30:00"_s);
        QCOMPARE(catalogue.scalar(u"select grupa from items where id=?"_s, {id}).toString(), u"Продажа"_s);
        // An empty memo is stored as empty text, not as null.
        QCOMPARE(catalogue.scalar(u"select typeof(osob) from items where id=?"_s, {id}).toString(),
                 u"text"_s);

        StoreQuery read;
        QVERIFY(ItemStore::openItem(read, id));
        QCOMPARE(read.text(u"obsh_plosh"_s), u"45,5"_s);
        QCOMPARE(read.text(u"stoim"_s), u"2500000,5"_s);
        QCOMPARE(read.text(u"date_reg"_s), u"17.05.2024 10:30:00"_s);
    }

    void updateRefusesTextThatIsNoNumberAndWritesNothing() {
        QLocale::setDefault(Russian);
        TempCatalogue catalogue;
        const int id =
            catalogue.addItem({{u"grupa"_s, u"Обмен"_s}, {u"obsh_plosh"_s, 30.0}, {u"etazh"_s, 2}});
        auto texts = cardTexts();
        texts[u"obsh_plosh"_s] = u"abc"_s;
        StoreQuery query;
        try {
            ItemStore::updateItem(query, id, texts, QDateTime::currentDateTime());
            QFAIL("the update went through");
        } catch (const AppError& e) {
            QVERIFY2(e.text().contains(u"abc"_s), qPrintable(e.text()));
        }
        QCOMPARE(catalogue.scalar(u"select grupa from items where id=?"_s, {id}).toString(), u"Обмен"_s);
        QCOMPARE(catalogue.scalar(u"select obsh_plosh from items where id=?"_s, {id}).toDouble(), 30.0);
        QCOMPARE(catalogue.scalar(u"select etazh from items where id=?"_s, {id}).toInt(), 2);
    }

    void insertStoresTypedValues() {
        TempCatalogue catalogue;
        ItemStore::NewItem item;
        item.texts = {{u"grupa"_s, u"Обмен"_s}, {u"kontakt_inf"_s, u"Петров"_s}};
        item.obshPlosh = 52.3;
        item.etazh = 4;
        item.etazhnost = 9;
        item.stoim = 3100000.123456;
        item.dolg = 0;
        item.dateReg = QDateTime(QDate(2025, 1, 2), QTime(0, 0));
        StoreQuery query;
        ItemStore::insertItem(query, item);
        const int id = catalogue.scalar(u"select max(id) from items"_s).toInt();
        QCOMPARE(catalogue.scalar(u"select typeof(obsh_plosh) from items where id=?"_s, {id}).toString(),
                 u"real"_s);
        QCOMPARE(catalogue.scalar(u"select stoim from items where id=?"_s, {id}).toDouble(), 3100000.1235);
        QCOMPARE(catalogue.scalar(u"select date_reg from items where id=?"_s, {id}).toString(),
                 u"2025-01-02 00:00:00"_s);
        // Text columns not given are empty text.
        QCOMPARE(catalogue.scalar(u"select rajon from items where id=?"_s, {id}).toString(), u""_s);
        QCOMPARE(catalogue.scalar(u"select typeof(rajon) from items where id=?"_s, {id}).toString(),
                 u"text"_s);
    }
};

QTEST_GUILESS_MAIN(TestValueText)
#include "tst_valuetext.moc"
