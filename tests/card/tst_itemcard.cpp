#include "Dialogs.h"
#include "TDirectoryForm.h"
#include "TKvartaEditForm.h"
#include "TestSupport.h"

#include <QComboBox>
#include <QDateEdit>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

// A fresh catalogue with a few entries in every directory, and the two windows on it.
struct Fixture {
    TempCatalogue catalogue;
    std::unique_ptr<TDirectoryForm> directory;
    std::unique_ptr<TKvartaEditForm> card;

    Fixture() {
        catalogue.addEntries(u"rajony"_s, {u"Центр"_s, u"Север"_s, u"Юг"_s});
        catalogue.addEntries(u"grupy"_s, {u"Бюджет"_s, u"Элит"_s});
        catalogue.addEntries(u"tipy_kv"_s, {u"Хрущёвка"_s, u"Сталинка"_s});
        catalogue.addEntries(u"komnaty"_s, {u"2"_s, u"1"_s, u"3"_s});
        catalogue.addEntries(u"gazy"_s, {u"Есть"_s, u"Нет"_s});
        directory = std::make_unique<TDirectoryForm>();
        card = std::make_unique<TKvartaEditForm>(directory.get());
    }
    ~Fixture() {
        card.reset();
        directory.reset();
    }

    int count(const QString& sql) { return catalogue.scalar(sql).toInt(); }
    QVariant item(int id, const QString& column) {
        return catalogue.scalar(u"select %1 from items where id=?"_s.arg(column), {id});
    }
};

template <class T> T* control(QWidget* window, const char* name) {
    T* widget = window->findChild<T*>(QLatin1StringView(name));
    if (!widget)
        qFatal("control %s not found", name);
    return widget;
}

QLineEdit* edit(QWidget* w, const char* name) {
    return control<QLineEdit>(w, name);
}
QComboBox* combo(QWidget* w, const char* name) {
    return control<QComboBox>(w, name);
}
QPlainTextEdit* memo(QWidget* w, const char* name) {
    return control<QPlainTextEdit>(w, name);
}

// Key clicks for any characters, Cyrillic included.
void typeText(QWidget* widget, const QString& text) {
    for (const QChar c : text)
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

// Types into a field as the operator would: select everything, then type over it.
void typeInto(QLineEdit* field, const QString& text) {
    field->setFocus();
    field->selectAll();
    if (text.isEmpty())
        QTest::keyClick(field, Qt::Key_Delete);
    else
        typeText(field, text);
}

void clickOk(QWidget* w) {
    QTest::mouseClick(control<QPushButton>(w, "OkBtn"), Qt::LeftButton);
}
void clickCancel(QWidget* w) {
    QTest::mouseClick(control<QPushButton>(w, "CancelBtn"), Qt::LeftButton);
}

// An item's columns with every numeric field set, so that the card's checks pass.
QVariantMap withNumbers(QVariantMap columns) {
    const QVariantMap numbers{
        {u"etazh"_s, 1}, {u"etazhnost"_s, 9}, {u"obsh_plosh"_s, 40.0}, {u"stoim"_s, 0}, {u"dolg"_s, 0}};
    for (auto it = numbers.begin(); it != numbers.end(); ++it)
        if (!columns.contains(it.key()))
            columns.insert(it.key(), it.value());
    return columns;
}

const char* const NumericFields[] = {"EtazhEdit", "EtazhnostEdit", "PloshadEdit", "StoimostEdit", "DolgEdit"};

} // namespace

class ItemCardTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() {
        QLocale::setDefault(QLocale(u"ru_RU"_s));
        DialogsTestSeam::clear();
    }
    void cleanup() {
        QLocale::setDefault(QLocale::c());
        DialogsTestSeam::clear();
    }

    void newItemIsInsertedWithTypedValues() {
        Fixture f;
        QStringList rajonRows;
        onNextModal([&](QWidget* w) {
            QComboBox* rajon = combo(w, "RajonCB");
            for (int i = 0; i < rajon->count(); ++i)
                rajonRows << rajon->itemText(i);
            rajon->setCurrentIndex(1);
            typeInto(edit(w, "EtazhEdit"), u"3"_s);
            typeInto(edit(w, "EtazhnostEdit"), u"5"_s);
            typeInto(edit(w, "PloshadEdit"), u"45,5"_s);
            typeInto(edit(w, "StoimostEdit"), u"1234,56789"_s);
            typeInto(edit(w, "DolgEdit"), u"-10"_s);
            memo(w, "SostMemo")->setFocus();
            typeText(memo(w, "SostMemo"), u"первая"_s);
            QTest::keyClick(memo(w, "SostMemo"), Qt::Key_Return);
            typeText(memo(w, "SostMemo"), u"вторая"_s);
            memo(w, "KontaktInfMemo")->setPlainText(u"тел. 123"_s);
            clickOk(w);
        });
        QVERIFY(f.card->OpenForNew());

        // Selectors list their directory in naimen order.
        QCOMPARE(rajonRows, (QStringList{u"Север"_s, u"Центр"_s, u"Юг"_s}));
        QCOMPARE(f.count(u"select count(*) from items"_s), 1);
        const int id = f.catalogue.scalar(u"select max(id) from items"_s).toInt();
        QCOMPARE(f.item(id, u"rajon"_s).toString(), u"Центр"_s);
        QCOMPARE(f.item(id, u"grupa"_s).toString(), u"Бюджет"_s);
        QCOMPARE(f.item(id, u"komnoty"_s).toString(), u"1"_s);
        // An empty directory stores empty text.
        QCOMPARE(f.item(id, u"dver"_s).toString(), QString());
        QCOMPARE(f.item(id, u"typeof(dver)"_s).toString(), u"text"_s);
        QCOMPARE(f.item(id, u"typeof(etazh)"_s).toString(), u"integer"_s);
        QCOMPARE(f.item(id, u"etazh"_s).toInt(), 3);
        QCOMPARE(f.item(id, u"etazhnost"_s).toInt(), 5);
        QCOMPARE(f.item(id, u"typeof(obsh_plosh)"_s).toString(), u"real"_s);
        QCOMPARE(f.item(id, u"obsh_plosh"_s).toDouble(), 45.5);
        QCOMPARE(f.item(id, u"stoim"_s).toDouble(), 1234.5679);
        QCOMPARE(f.item(id, u"dolg"_s).toDouble(), -10.0);
        QCOMPARE(f.item(id, u"sost"_s).toString(), u"первая\r\nвторая"_s);
        QCOMPARE(f.item(id, u"osob"_s).toString(), QString());
        QCOMPARE(f.item(id, u"kontakt_inf"_s).toString(), u"тел. 123"_s);
    }

    void editShowsStoredValuesAndUpdates() {
        Fixture f;
        const int id = f.catalogue.addItem({{u"date_reg"_s, u"2023-04-05 10:20:30"_s},
                                            {u"rajon"_s, u"Юг"_s},
                                            {u"grupa"_s, u"Элит"_s},
                                            {u"gaz"_s, u"Нет"_s},
                                            {u"obsh_plosh"_s, 62.75},
                                            {u"etazh"_s, 4},
                                            {u"etazhnost"_s, 12},
                                            {u"stoim"_s, 1500000.5},
                                            {u"dolg"_s, 0},
                                            {u"sost"_s, u"хорошее\r\nпосле ремонта"_s},
                                            {u"osob"_s, u"балкон"_s},
                                            {u"kontakt_inf"_s, u"Иван"_s}});
        QStringList shown;
        QDate shownDate;
        onNextModal([&](QWidget* w) {
            shownDate = control<QDateEdit>(w, "Date_RegDTP")->date();
            for (const char* name : {"RajonCB", "GrupaCB", "GazCB"})
                shown << combo(w, name)->currentText();
            for (const char* name : NumericFields)
                shown << edit(w, name)->text();
            for (const char* name : {"SostMemo", "OsobEdit", "KontaktInfMemo"})
                shown << memo(w, name)->toPlainText();
            typeInto(edit(w, "EtazhEdit"), u"7"_s);
            typeInto(edit(w, "PloshadEdit"), u" 50,25 "_s);
            combo(w, "GrupaCB")->setCurrentIndex(0);
            clickOk(w);
        });
        QVERIFY(f.card->OpenForEdit(id));

        QCOMPARE(shownDate, QDate(2023, 4, 5));
        QCOMPARE(shown,
                 (QStringList{u"Юг"_s, u"Элит"_s, u"Нет"_s, u"4"_s, u"12"_s, u"62,75"_s, u"1500000,5"_s,
                              u"0"_s, u"хорошее\nпосле ремонта"_s, u"балкон"_s, u"Иван"_s}));
        QCOMPARE(f.count(u"select count(*) from items"_s), 1);
        QCOMPARE(f.item(id, u"typeof(etazh)"_s).toString(), u"integer"_s);
        QCOMPARE(f.item(id, u"etazh"_s).toInt(), 7);
        QCOMPARE(f.item(id, u"typeof(obsh_plosh)"_s).toString(), u"real"_s);
        QCOMPARE(f.item(id, u"obsh_plosh"_s).toDouble(), 50.25);
        QCOMPARE(f.item(id, u"stoim"_s).toDouble(), 1500000.5);
        QCOMPARE(f.item(id, u"grupa"_s).toString(), u"Бюджет"_s);
        QCOMPARE(f.item(id, u"rajon"_s).toString(), u"Юг"_s);
        QCOMPARE(f.item(id, u"sost"_s).toString(), u"хорошее\r\nпосле ремонта"_s);
        // The picker shows the date; the stored value keeps its time of day.
        QCOMPARE(f.item(id, u"date_reg"_s).toString(), u"2023-04-05 10:20:30"_s);
    }

    void numbersFollowTheRegionalFormat_data() {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("message"); // empty: accepted

        const QString area = u"Площадь не является числом."_s;
        const QString floor = u"Этаж не является числом."_s;
        QTest::newRow("comma area") << u"ru_RU"_s << u"PloshadEdit"_s << u"45,5"_s << QString();
        QTest::newRow("point area, comma locale") << u"ru_RU"_s << u"PloshadEdit"_s << u"45.5"_s << area;
        QTest::newRow("point area") << u"en_US"_s << u"PloshadEdit"_s << u"45.5"_s << QString();
        QTest::newRow("comma area, point locale") << u"en_US"_s << u"PloshadEdit"_s << u"45,5"_s << area;
        QTest::newRow("empty floor") << u"ru_RU"_s << u"EtazhEdit"_s << QString() << floor;
        QTest::newRow("blanks before floor") << u"ru_RU"_s << u"EtazhEdit"_s << u"  12"_s << QString();
        QTest::newRow("blank after floor") << u"ru_RU"_s << u"EtazhEdit"_s << u"12 "_s << floor;
        QTest::newRow("negative floor") << u"ru_RU"_s << u"EtazhEdit"_s << u"-1"_s << QString();
        QTest::newRow("decimal floor") << u"ru_RU"_s << u"EtazhEdit"_s << u"2,0"_s << floor;
        QTest::newRow("largest floor") << u"ru_RU"_s << u"EtazhEdit"_s << u"2147483647"_s << QString();
        QTest::newRow("floor overflow") << u"ru_RU"_s << u"EtazhEdit"_s << u"2147483648"_s << floor;
        QTest::newRow("storeys underflow")
            << u"ru_RU"_s << u"EtazhnostEdit"_s << u"-2147483649"_s << u"Этажность не является числом."_s;
        QTest::newRow("blanks around area") << u"ru_RU"_s << u"PloshadEdit"_s << u" 45,5 "_s << QString();
        QTest::newRow("exponent") << u"ru_RU"_s << u"PloshadEdit"_s << u"1,5e3"_s << QString();
        QTest::newRow("bare exponent") << u"ru_RU"_s << u"PloshadEdit"_s << u"1e"_s << area;
        QTest::newRow("two separators") << u"ru_RU"_s << u"PloshadEdit"_s << u"1,5,0"_s << area;
        QTest::newRow("grouped price, point locale")
            << u"en_US"_s << u"StoimostEdit"_s << u"1,000"_s << u"Стоимость не является числом."_s;
        QTest::newRow("grouped price, comma locale")
            << u"ru_RU"_s << u"StoimostEdit"_s << u"1 000"_s << u"Стоимость не является числом."_s;
        QTest::newRow("empty debt") << u"ru_RU"_s << u"DolgEdit"_s << QString()
                                    << u"Долг не является числом."_s;
        QTest::newRow("signed debt") << u"en_US"_s << u"DolgEdit"_s << u"+0.5"_s << QString();
    }

    void numbersFollowTheRegionalFormat() {
        QFETCH(QString, locale);
        QFETCH(QString, field);
        QFETCH(QString, text);
        QFETCH(QString, message);
        QLocale::setDefault(QLocale(locale));
        Fixture f;
        if (!message.isEmpty())
            DialogsTestSeam::queueAnswer(Dialogs::Answer::Ok);

        bool stillOpen = false;
        QString fieldAfter;
        onNextModal([&](QWidget* w) {
            QLineEdit* target = edit(w, field.toLatin1().constData());
            typeInto(target, text);
            clickOk(w);
            stillOpen = w->isVisible();
            fieldAfter = target->text();
            if (stillOpen)
                clickCancel(w);
        });
        const bool saved = f.card->OpenForNew();

        if (message.isEmpty()) {
            QVERIFY(saved);
            QVERIFY(DialogsTestSeam::shown().isEmpty());
            QCOMPARE(f.count(u"select count(*) from items"_s), 1);
        } else {
            QVERIFY(!saved);
            QVERIFY(stillOpen);
            QCOMPARE(fieldAfter, text);
            QCOMPARE(DialogsTestSeam::shown().size(), 1);
            QCOMPARE(DialogsTestSeam::last().kind, Dialogs::Kind::Error);
            QCOMPARE(DialogsTestSeam::last().text, message);
            QCOMPARE(f.count(u"select count(*) from items"_s), 0);
        }
    }

    void acceptedNumbersAreStoredConverted() {
        QLocale::setDefault(QLocale(u"en_US"_s));
        Fixture f;
        onNextModal([&](QWidget* w) {
            typeInto(edit(w, "EtazhEdit"), u" -2147483648"_s);
            typeInto(edit(w, "PloshadEdit"), u"1.5e3"_s);
            typeInto(edit(w, "StoimostEdit"), u"0.00005"_s);
            typeInto(edit(w, "DolgEdit"), u"-1E-2"_s);
            clickOk(w);
        });
        QVERIFY(f.card->OpenForNew());
        const int id = f.catalogue.scalar(u"select max(id) from items"_s).toInt();
        QCOMPARE(f.item(id, u"etazh"_s).toLongLong(), -2147483648LL);
        QCOMPARE(f.item(id, u"obsh_plosh"_s).toDouble(), 1500.0);
        QCOMPARE(f.item(id, u"stoim"_s).toDouble(), 0.0001);
        QCOMPARE(f.item(id, u"dolg"_s).toDouble(), -0.01);
    }

    void onlyTheFirstFailureIsReportedAndFocusStays() {
        Fixture f;
        DialogsTestSeam::queueAnswer(Dialogs::Answer::Ok);
        QWidget* focusBefore = nullptr;
        QWidget* focusAfter = nullptr;
        QStringList texts;
        onNextModal([&](QWidget* w) {
            typeInto(edit(w, "DolgEdit"), u"x"_s);
            typeInto(edit(w, "StoimostEdit"), u"y"_s);
            typeInto(edit(w, "EtazhnostEdit"), u"z"_s);
            typeInto(edit(w, "PloshadEdit"), u"w"_s);
            focusBefore = w->focusWidget();
            QTest::keyClick(focusBefore, Qt::Key_Return, Qt::ControlModifier);
            focusAfter = w->focusWidget();
            for (const char* name : NumericFields)
                texts << edit(w, name)->text();
            clickCancel(w);
        });
        QVERIFY(!f.card->OpenForNew());
        QCOMPARE(DialogsTestSeam::shown().size(), 1);
        QCOMPARE(DialogsTestSeam::last().text, u"Этажность не является числом."_s);
        QCOMPARE(focusAfter, focusBefore);
        QCOMPARE(texts, (QStringList{u"1"_s, u"z"_s, u"w"_s, u"y"_s, u"x"_s}));
        QCOMPARE(f.count(u"select count(*) from items"_s), 0);
    }

    void lookupValuesMatchIgnoringCaseOrFallBack() {
        Fixture f;
        const int id = f.catalogue.addItem({{u"date_reg"_s, u"2024-01-02 00:00:00"_s},
                                            {u"rajon"_s, u"юГ"_s},
                                            {u"tip_kv"_s, u"СТАЛИНКА"_s},
                                            {u"grupa"_s, u"Удалённая"_s},
                                            {u"gaz"_s, QVariant()},
                                            {u"etazh"_s, 1},
                                            {u"etazhnost"_s, 9},
                                            {u"obsh_plosh"_s, 30},
                                            {u"stoim"_s, 1},
                                            {u"dolg"_s, 0}});
        QStringList shown;
        onNextModal([&](QWidget* w) {
            for (const char* name : {"RajonCB", "Tip_KvCB", "GrupaCB", "GazCB"})
                shown << combo(w, name)->currentText();
            clickOk(w);
        });
        QVERIFY(f.card->OpenForEdit(id));
        QCOMPARE(shown, (QStringList{u"Юг"_s, u"Сталинка"_s, u"Бюджет"_s, u"Есть"_s}));
        QCOMPARE(f.item(id, u"rajon"_s).toString(), u"Юг"_s);
        QCOMPARE(f.item(id, u"tip_kv"_s).toString(), u"Сталинка"_s);
        QCOMPARE(f.item(id, u"grupa"_s).toString(), u"Бюджет"_s);
        QCOMPARE(f.item(id, u"gaz"_s).toString(), u"Есть"_s);
    }

    void editLookupReselectsOrFallsBack_data() {
        QTest::addColumn<QString>("change");   // run while the directory editor is open
        QTest::addColumn<QStringList>("rows"); // selector rows afterwards
        QTest::addColumn<QString>("selected");
        QTest::newRow("other entry added")
            << u"insert into rajony values ('Запад')"_s
            << QStringList{u"Запад"_s, u"Север"_s, u"Центр"_s, u"Юг"_s} << u"Центр"_s;
        QTest::newRow("entry renamed in case only")
            << u"update rajony set naimen='центр' where naimen='Центр'"_s
            << QStringList{u"Север"_s, u"Юг"_s, u"центр"_s} << u"Север"_s;
        QTest::newRow("entry deleted")
            << u"delete from rajony where naimen='Центр'"_s << QStringList{u"Север"_s, u"Юг"_s} << u"Север"_s;
        QTest::newRow("directory emptied") << u"delete from rajony"_s << QStringList{} << QString();
    }

    void editLookupReselectsOrFallsBack() {
        QFETCH(QString, change);
        QFETCH(QStringList, rows);
        QFETCH(QString, selected);
        Fixture f;
        bool directoryOpened = false;
        QStringList rowsAfter;
        QString selectedAfter;
        onNextModal([&](QWidget* w) {
            QComboBox* rajon = combo(w, "RajonCB");
            rajon->setCurrentIndex(rajon->findText(u"Центр"_s));
            onNextModal([&](QWidget* editor) {
                directoryOpened = qobject_cast<TDirectoryForm*>(editor) != nullptr;
                f.catalogue.exec(change);
                static_cast<QDialog*>(editor)->reject();
            });
            QTest::mouseClick(control<QToolButton>(w, "SpeedButton1"), Qt::LeftButton);
            for (int i = 0; i < rajon->count(); ++i)
                rowsAfter << rajon->itemText(i);
            selectedAfter = rajon->currentText();
            clickCancel(w);
        });
        QVERIFY(!f.card->OpenForNew());
        QVERIFY(directoryOpened);
        QCOMPARE(rowsAfter, rows);
        QCOMPARE(selectedAfter, selected);
    }

    void keysCancelAndConfirm() {
        Fixture f;
        const int id = f.catalogue.addItem({{u"etazh"_s, 2},
                                            {u"etazhnost"_s, 5},
                                            {u"obsh_plosh"_s, 40},
                                            {u"stoim"_s, 100},
                                            {u"dolg"_s, 0},
                                            {u"sost"_s, u"старое"_s}});

        // Esc from any control cancels; nothing is written.
        onNextModal([&](QWidget* w) {
            typeInto(edit(w, "EtazhEdit"), u"8"_s);
            memo(w, "SostMemo")->setFocus();
            typeText(memo(w, "SostMemo"), u"новое"_s);
            QTest::keyClick(memo(w, "SostMemo"), Qt::Key_Escape);
        });
        QVERIFY(!f.card->OpenForEdit(id));
        QCOMPARE(f.item(id, u"etazh"_s).toInt(), 2);
        QCOMPARE(f.item(id, u"sost"_s).toString(), u"старое"_s);

        // Plain Enter stays with the focused control; Ctrl+Enter inside a memo confirms.
        bool openAfterEnter = false;
        onNextModal([&](QWidget* w) {
            typeInto(edit(w, "EtazhEdit"), u"6"_s);
            QTest::keyClick(edit(w, "EtazhEdit"), Qt::Key_Return);
            openAfterEnter = w->isVisible();
            QPlainTextEdit* sost = memo(w, "SostMemo");
            sost->setFocus();
            sost->selectAll();
            typeText(sost, u"а"_s);
            QTest::keyClick(sost, Qt::Key_Return);
            typeText(sost, u"б"_s);
            QTest::keyClick(sost, Qt::Key_Return, Qt::ControlModifier);
        });
        QVERIFY(f.card->OpenForEdit(id));
        QVERIFY(openAfterEnter);
        QCOMPARE(f.item(id, u"etazh"_s).toInt(), 6);
        QCOMPARE(f.item(id, u"sost"_s).toString(), u"а\r\nб"_s);

        // The close box counts as Cancel.
        onNextModal([&](QWidget* w) {
            typeInto(edit(w, "EtazhEdit"), u"9"_s);
            w->close();
        });
        QVERIFY(!f.card->OpenForNew());
        QCOMPARE(f.count(u"select count(*) from items"_s), 1);
    }

    void newItemGetsTheTimeOfOpening() {
        Fixture f;
        const QDateTime before = QDateTime::currentDateTime().addMSecs(-1000);
        QDateTime opened;
        onNextModal([&](QWidget* w) {
            opened = QDateTime::currentDateTime();
            QTest::qWait(2100);
            clickOk(w);
        });
        QVERIFY(f.card->OpenForNew());
        const QDateTime stored = QDateTime::fromString(
            f.catalogue.scalar(u"select date_reg from items"_s).toString(), u"yyyy-MM-dd HH:mm:ss"_s);
        QVERIFY2(stored >= before && stored <= opened, qPrintable(stored.toString(Qt::ISODate)));
    }

    void itemIdAndPageSurviveBetweenOpenings() {
        Fixture f;
        const int first = f.catalogue.addItem({{u"etazh"_s, 1}});
        const int second = f.catalogue.addItem({{u"etazh"_s, 3}});
        QCOMPARE(f.card->itemId(), 0);

        int pageShown = -1;
        onNextModal([&](QWidget* w) {
            QTabWidget* pages = control<QTabWidget>(w, "PageControl1");
            pageShown = pages->currentIndex();
            pages->setCurrentIndex(3);
            clickCancel(w);
        });
        QVERIFY(!f.card->OpenForEdit(second));
        QCOMPARE(pageShown, 0);
        QCOMPARE(f.card->itemId(), second);

        QString etazhShown;
        onNextModal([&](QWidget* w) {
            pageShown = control<QTabWidget>(w, "PageControl1")->currentIndex();
            etazhShown = edit(w, "EtazhEdit")->text();
            clickCancel(w);
        });
        QVERIFY(!f.card->OpenForNew());
        QCOMPARE(pageShown, 3);
        QCOMPARE(etazhShown, u"1"_s); // defaults again, not the edited item's 3
        QCOMPARE(f.card->itemId(), second);

        onNextModal([&](QWidget* w) { clickCancel(w); });
        QVERIFY(!f.card->OpenForEdit(first));
        QCOMPARE(f.card->itemId(), first);
    }

    void vanishedItemOpensWithDefaults() {
        Fixture f;
        const int id = f.catalogue.addItem({{u"date_reg"_s, u"2020-02-03 04:05:06"_s}, {u"etazh"_s, 5}});
        // The picker keeps the value of the last opening when the row is gone.
        onNextModal([&](QWidget* w) { clickCancel(w); });
        QVERIFY(!f.card->OpenForEdit(id));

        QStringList shown;
        QDate date;
        onNextModal([&](QWidget* w) {
            for (const char* name : NumericFields)
                shown << edit(w, name)->text();
            shown << combo(w, "RajonCB")->currentText();
            date = control<QDateEdit>(w, "Date_RegDTP")->date();
            clickOk(w);
        });
        QVERIFY(f.card->OpenForEdit(id + 100));
        QCOMPARE(shown, (QStringList{u"1"_s, u"9"_s, u"0"_s, u"0"_s, u"0"_s, u"Север"_s}));
        QCOMPARE(date, QDate(2020, 2, 3));
        QCOMPARE(f.count(u"select count(*) from items"_s), 1);
        QCOMPARE(f.item(id, u"etazh"_s).toInt(), 5);
    }

    // An item without a readable registration date shows no date, never the previous item's, and
    // keeps its stored value unless the operator picks a date.
    void unreadableRegistrationDateIsKept_data() {
        QTest::addColumn<QVariant>("stored");
        QTest::newRow("null") << QVariant();
        QTest::newRow("garbage") << QVariant(u"вчера"_s);
        QTest::newRow("impossible") << QVariant(u"2024-02-30 10:00:00"_s);
    }
    void unreadableRegistrationDateIsKept() {
        QFETCH(QVariant, stored);
        Fixture f;
        const int dated = f.catalogue.addItem(withNumbers({{u"date_reg"_s, u"2020-02-03 04:05:06"_s}}));
        const int undated = f.catalogue.addItem(withNumbers({{u"date_reg"_s, stored}}));
        onNextModal([&](QWidget* w) { clickCancel(w); });
        QVERIFY(!f.card->OpenForEdit(dated));

        QString pickerText;
        onNextModal([&](QWidget* w) {
            pickerText = control<QDateEdit>(w, "Date_RegDTP")->text();
            typeInto(edit(w, "EtazhEdit"), u"2"_s);
            clickOk(w);
        });
        QVERIFY(f.card->OpenForEdit(undated));
        QCOMPARE(pickerText.trimmed(), QString());
        QCOMPARE(f.item(undated, u"etazh"_s).toInt(), 2);
        QCOMPARE(f.item(undated, u"date_reg is null"_s).toInt(), stored.isNull() ? 1 : 0);
        if (!stored.isNull())
            QCOMPARE(f.item(undated, u"date_reg"_s).toString(), stored.toString());

        // A date the operator picks is stored.
        onNextModal([&](QWidget* w) {
            control<QDateEdit>(w, "Date_RegDTP")->setDate(QDate(2025, 6, 7));
            clickOk(w);
        });
        QVERIFY(f.card->OpenForEdit(undated));
        QCOMPARE(f.item(undated, u"date_reg"_s).toString(), u"2025-06-07 00:00:00"_s);

        // A valid date shows again after the undated item.
        QDate shown;
        onNextModal([&](QWidget* w) {
            shown = control<QDateEdit>(w, "Date_RegDTP")->date();
            clickCancel(w);
        });
        QVERIFY(!f.card->OpenForEdit(dated));
        QCOMPARE(shown, QDate(2020, 2, 3));
    }

    // Each numeric field goes into its own column (distinct values, so a swap shows).
    void updateStoresEveryNumberInItsOwnColumn() {
        Fixture f;
        const int id = f.catalogue.addItem(withNumbers({}));
        onNextModal([&](QWidget* w) {
            typeInto(edit(w, "EtazhEdit"), u"2"_s);
            typeInto(edit(w, "EtazhnostEdit"), u"16"_s);
            typeInto(edit(w, "PloshadEdit"), u"33,5"_s);
            typeInto(edit(w, "StoimostEdit"), u"44000,25"_s);
            typeInto(edit(w, "DolgEdit"), u"550,5"_s);
            clickOk(w);
        });
        QVERIFY(f.card->OpenForEdit(id));
        QCOMPARE(f.item(id, u"etazh"_s), QVariant(qlonglong(2)));
        QCOMPARE(f.item(id, u"etazhnost"_s), QVariant(qlonglong(16)));
        QCOMPARE(f.item(id, u"obsh_plosh"_s), QVariant(33.5));
        QCOMPARE(f.item(id, u"stoim"_s), QVariant(44000.25));
        QCOMPARE(f.item(id, u"dolg"_s), QVariant(550.5));
    }

    void priceOutOfRangeIsRefusedWithItsOwnMessage() {
        Fixture f;
        const int id = f.catalogue.addItem(withNumbers({{u"stoim"_s, 100}, {u"dolg"_s, 5}}));
        for (const char* field : {"StoimostEdit", "DolgEdit"}) {
            DialogsTestSeam::clear();
            DialogsTestSeam::queueAnswer(Dialogs::Answer::Ok);
            bool stillOpen = false;
            onNextModal([&](QWidget* w) {
                typeInto(edit(w, field), u"1e305"_s);
                clickOk(w);
                stillOpen = w->isVisible();
                clickCancel(w);
            });
            QVERIFY(!f.card->OpenForEdit(id));
            QVERIFY(stillOpen);
            QCOMPARE(DialogsTestSeam::last().text, qstrcmp(field, "StoimostEdit") == 0
                                                       ? u"Стоимость не является числом."_s
                                                       : u"Долг не является числом."_s);
        }
        QCOMPARE(f.item(id, u"stoim"_s).toDouble(), 100.0);
        QCOMPARE(f.item(id, u"dolg"_s).toDouble(), 5.0);
    }

    void datePickerShowsFourDigitYears() {
        QLocale::setDefault(QLocale(u"en_US"_s)); // short format M/d/yy
        Fixture f;
        const int id = f.catalogue.addItem({{u"date_reg"_s, u"2023-04-05 10:20:30"_s}});
        QString format, text;
        onNextModal([&](QWidget* w) {
            format = control<QDateEdit>(w, "Date_RegDTP")->displayFormat();
            text = control<QDateEdit>(w, "Date_RegDTP")->text();
            clickCancel(w);
        });
        QVERIFY(!f.card->OpenForEdit(id));
        QCOMPARE(format, u"M/d/yyyy"_s);
        QCOMPARE(text, u"4/5/2023"_s);
    }

    void failingStatementsAreReported() {
        Fixture f;
        // A lookup load that fails ends the opening before the card is shown.
        f.catalogue.exec(u"alter table gazy rename to gazy_old"_s);
        DialogsTestSeam::queueAnswer(Dialogs::Answer::Ok);
        // A card shown here would be an unexpected modal window: the test support fails on it.
        QVERIFY(!f.card->OpenForNew());
        QVERIFY(!f.card->isVisible());
        QCOMPARE(DialogsTestSeam::shown().size(), 1);
        QCOMPARE(DialogsTestSeam::last().kind, Dialogs::Kind::Stop);
        QVERIFY(DialogsTestSeam::last().text.contains(u"gazy"_s));
        f.catalogue.exec(u"alter table gazy_old rename to gazy"_s);

        // A refused insert is reported and keeps the card open with what was typed.
        DialogsTestSeam::clear();
        f.catalogue.exec(u"create trigger refuse before insert on items "
                         u"begin select raise(abort, 'запись запрещена'); end"_s);
        DialogsTestSeam::queueAnswer(Dialogs::Answer::Ok);
        bool openAfterFailure = false;
        QString typed;
        onNextModal([&](QWidget* w) {
            typeInto(edit(w, "EtazhEdit"), u"4"_s);
            clickOk(w);
            openAfterFailure = w->isVisible();
            typed = edit(w, "EtazhEdit")->text();
            clickCancel(w);
        });
        QVERIFY(!f.card->OpenForNew());
        QVERIFY(openAfterFailure);
        QCOMPARE(typed, u"4"_s);
        QCOMPARE(DialogsTestSeam::shown().size(), 1);
        QCOMPARE(DialogsTestSeam::last().text, u"запись запрещена."_s);
        QCOMPARE(f.count(u"select count(*) from items"_s), 0);
    }
};

QTEST_MAIN(ItemCardTest)
#include "tst_itemcard.moc"
