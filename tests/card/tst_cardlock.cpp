// The contact-information lock of the item card: the password read, the comparison, and a lock
// that, once opened, stays open for every item for the rest of the run.

#include "CardTestSupport.h"
#include "Database.h"
#include "Dialogs.h"

#include <QLabel>
#include <QTabWidget>

using namespace Qt::StringLiterals;
using namespace CardTest;

namespace {

struct Lock : Card {
    QPushButton* unlock() { return control<QPushButton>(card.get(), "UnLockBtn"); }
    QPlainTextEdit* memo() { return control<QPlainTextEdit>(card.get(), "KontaktInfMemo"); }
    QLabel* label() { return control<QLabel>(card.get(), "KontaktInfLabel"); }
    void setPassword(const QVariant& value) {
        catalogue.exec(u"delete from pwl_cell"_s);
        catalogue.exec(u"insert into pwl_cell (pwl_value) values (?)"_s, {value});
    }
    // What the page shows: whether the memo, the label and the button can be seen and used.
    QString shown() {
        return u"memo %1, label %2, button %3"_s.arg(memo()->isHidden() ? u"hidden"_s : u"shown"_s,
                                                     label()->isEnabled() ? u"enabled"_s : u"disabled"_s,
                                                     unlock()->isHidden() ? u"hidden"_s : u"shown"_s);
    }
    void showDescriptionPage(QWidget* w) { control<QTabWidget>(w, "PageControl1")->setCurrentIndex(2); }
};

const QString Locked = u"memo hidden, label disabled, button shown"_s;
const QString Unlocked = u"memo shown, label enabled, button hidden"_s;

} // namespace

class CardLockTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { DialogsTestSeam::clear(); }
    void cleanup() { DialogsTestSeam::clear(); }

    void lockedCardAsLaidOut() {
        Lock f;
        const int item = f.addItem({{u"kontakt_inf"_s, u"Иван, тел. 123"_s}});
        f.whileEditing(item, [&](QWidget* w) {
            f.showDescriptionPage(w);
            QCOMPARE(f.shown(), Locked);
            QCOMPARE(f.unlock()->text(), u"Показать информацию"_s);
            QCOMPARE(f.unlock()->geometry(), QRect(56, 280, 369, 57));
            QCOMPARE(f.memo()->geometry(), QRect(8, 264, 449, 97));
            QVERIFY(f.unlock()->geometry().intersects(f.memo()->geometry()));
            // The hidden memo still holds the item's text.
            QCOMPARE(f.memo()->toPlainText(), u"Иван, тел. 123"_s);
        });
        QVERIFY(f.card->isContactLocked());
    }

    void withoutPasswordTheButtonReveals_data() {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<bool>("row");
        QTest::newRow("no row") << QVariant() << false;
        QTest::newRow("null") << QVariant() << true;
        QTest::newRow("empty") << QVariant(u""_s) << true;
    }
    void withoutPasswordTheButtonReveals() {
        QFETCH(QVariant, stored);
        QFETCH(bool, row);
        Lock f;
        if (row)
            f.setPassword(stored);
        const int item = f.addItem();
        f.whileEditing(item, [&](QWidget* w) {
            f.showDescriptionPage(w);
            clickButton(w, "UnLockBtn");
            QCOMPARE(f.shown(), Unlocked);
        });
        // No password box, no message.
        QCOMPARE(DialogsTestSeam::shown().size(), 0);
        QVERIFY(!f.card->isContactLocked());
    }

    void onlyTheExactPasswordReveals_data() {
        QTest::addColumn<QString>("typed");
        QTest::newRow("letter case") << u"секрет Ё"_s;
        QTest::newRow("trailing blank") << u"Секрет Ё "_s;
        QTest::newRow("leading blank") << u" Секрет Ё"_s;
        QTest::newRow("empty") << u""_s;
    }
    void onlyTheExactPasswordReveals() {
        QFETCH(QString, typed);
        Lock f;
        f.setPassword(u"Секрет Ё"_s);
        const int item = f.addItem();
        f.whileEditing(item, [&](QWidget* w) {
            f.showDescriptionPage(w);
            // Refused, as often as the operator tries.
            for (int attempt = 0; attempt < 2; ++attempt) {
                DialogsTestSeam::queueAnswer(Dialogs::Answer::Ok, typed);
                DialogsTestSeam::queueAnswer(Dialogs::Answer::Ok);
                clickButton(w, "UnLockBtn");
                QCOMPARE(f.shown(), Locked);
            }
            QCOMPARE(DialogsTestSeam::shown().size(), 4);
            QCOMPARE(DialogsTestSeam::shown().at(0).kind, Dialogs::Kind::Prompt);
            QCOMPARE(DialogsTestSeam::shown().at(0).title, u"Введите пароль"_s);
            QCOMPARE(DialogsTestSeam::shown().at(0).text, u"Пароль"_s);
            QCOMPARE(DialogsTestSeam::shown().at(1).kind, Dialogs::Kind::Error);
            QCOMPARE(DialogsTestSeam::shown().at(1).text, u"Ошибка ввода пароля!"_s);

            // A cancelled box: nothing happens.
            DialogsTestSeam::clear();
            DialogsTestSeam::queueAnswer(Dialogs::Answer::Cancel, u"Секрет Ё"_s);
            clickButton(w, "UnLockBtn");
            QCOMPARE(DialogsTestSeam::shown().size(), 1);
            QCOMPARE(f.shown(), Locked);

            DialogsTestSeam::queueAnswer(Dialogs::Answer::Ok, u"Секрет Ё"_s);
            clickButton(w, "UnLockBtn");
            QCOMPARE(DialogsTestSeam::shown().size(), 2);
            QCOMPARE(f.shown(), Unlocked);
        });
    }

    void revealedStaysRevealedForEveryItem() {
        Lock f;
        f.setPassword(u"1"_s);
        const int first = f.addItem({{u"kontakt_inf"_s, u"первый"_s}});
        const int second = f.addItem({{u"kontakt_inf"_s, u"второй"_s}});
        f.whileEditing(first, [&](QWidget* w) {
            f.showDescriptionPage(w);
            DialogsTestSeam::queueAnswer(Dialogs::Answer::Ok, u"1"_s);
            clickButton(w, "UnLockBtn");
        });
        // Another item, a new item and the first one again: shown at once, nothing asked.
        QString secondShown, newShown, againShown, secondText;
        f.whileEditing(second, [&](QWidget* w) {
            f.showDescriptionPage(w);
            secondShown = f.shown();
            secondText = f.memo()->toPlainText();
        });
        f.whileNew([&](QWidget* w) {
            f.showDescriptionPage(w);
            newShown = f.shown();
        });
        f.whileEditing(first, [&](QWidget* w) {
            f.showDescriptionPage(w);
            againShown = f.shown();
        });
        QCOMPARE(secondShown, Unlocked);
        QCOMPARE(secondText, u"второй"_s);
        QCOMPARE(newShown, Unlocked);
        QCOMPARE(againShown, Unlocked);
        QCOMPARE(DialogsTestSeam::shown().size(), 1);
    }

    void lockedCardStoresTheContactInformationUnchanged() {
        Lock f;
        f.setPassword(u"1"_s);
        const int item = f.addItem({{u"kontakt_inf"_s, u"Иван\r\nтел. 123"_s}});
        QVERIFY(f.whileEditing(
            item,
            [&](QWidget* w) {
                typeInto(control<QLineEdit>(w, "EtazhEdit"), u"5"_s);
                clickButton(w, "OkBtn");
            },
            false));
        QCOMPARE(f.scalar(u"select etazh from items where id=?"_s, {item}).toInt(), 5);
        QCOMPARE(f.scalar(u"select kontakt_inf from items where id=?"_s, {item}).toString(),
                 u"Иван\r\nтел. 123"_s);

        // A new item's locked card stores it empty.
        QVERIFY(f.whileNew([&](QWidget* w) { clickButton(w, "OkBtn"); }, false));
        QCOMPARE(f.scalar(u"select kontakt_inf from items where id=(select max(id) from items)"_s).toString(),
                 QString());
        QCOMPARE(f.scalar(u"select count(*) from items where kontakt_inf=''"_s).toInt(), 1);
        QVERIFY(f.card->isContactLocked());
    }

    void passwordIsReadThroughTheGivenQuery() {
        Lock f;
        f.setPassword(u"главный"_s);
        int reads = 0;
        StoreQuery mainQuery;
        f.card->setPasswordQuery([&]() -> StoreQuery& {
            ++reads;
            return mainQuery;
        });
        const int item = f.addItem();
        f.whileEditing(item, [&](QWidget* w) {
            f.showDescriptionPage(w);
            DialogsTestSeam::queueAnswer(Dialogs::Answer::Ok, u"главный"_s);
            clickButton(w, "UnLockBtn");
        });
        QCOMPARE(reads, 1);
        QCOMPARE(mainQuery.text(), u"select * from pwl_cell"_s);
        QVERIFY(!f.card->isContactLocked());
    }

    void failingPasswordReadIsReported() {
        Lock f;
        f.catalogue.exec(u"drop table pwl_cell"_s);
        const int item = f.addItem();
        f.whileEditing(item, [&](QWidget* w) {
            f.showDescriptionPage(w);
            DialogsTestSeam::queueAnswer(Dialogs::Answer::Ok);
            clickButton(w, "UnLockBtn");
            QCOMPARE(f.shown(), Locked);
        });
        QCOMPARE(DialogsTestSeam::shown().size(), 1);
        QCOMPARE(DialogsTestSeam::last().kind, Dialogs::Kind::Stop);
        QVERIFY(DialogsTestSeam::last().text.contains(u"pwl_cell"_s));
    }
};

QTEST_MAIN(CardLockTest)
#include "tst_cardlock.moc"
