// The rooms of the item card: the grid and its navigator over the item's rows of `rooms`, posting
// and refusing rows, the keyboard, regional area input and the area sum.

#include "CardTestSupport.h"
#include "DBNavigator.h"
#include "Dialogs.h"
#include "RoomsEditor.h"
#include "RoomsGrid.h"
#include "RoomsModel.h"

#include <QAbstractItemModelTester>
#include <QClipboard>
#include <QGroupBox>
#include <QHeaderView>
#include <QMessageBox>
#include <QTabWidget>
#include <QToolButton>

using namespace Qt::StringLiterals;
using namespace CardTest;

namespace {

struct Rooms : Card {
    std::unique_ptr<QAbstractItemModelTester> tester;

    Rooms() {
        tester = std::make_unique<QAbstractItemModelTester>(
            card->rooms()->model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    }

    RoomsEditor& rooms() { return *card->rooms(); }
    RoomsGrid& grid() { return *rooms().grid(); }
    RoomsModel& model() { return *rooms().model(); }
    QToolButton* nav(DBNavigator::Button button) { return rooms().navigator()->button(button); }
    void press(DBNavigator::Button button) { QTest::mouseClick(nav(button), Qt::LeftButton); }
    QLineEdit* area(QWidget* w) { return control<QLineEdit>(w, "PloshadEdit"); }

    void addRoom(int item, const QString& name, const QVariant& p) {
        catalogue.exec(u"insert into rooms (Items_ID, RoomName, P) values (?, ?, ?)"_s, {item, name, p});
    }
    int roomCount() { return scalar(u"select count(*) from rooms"_s).toInt(); }

    // What the grid shows, row by row: "name=area".
    QStringList shown() {
        QStringList rows;
        for (int row = 0; row < model().rowCount(); ++row)
            rows << model().index(row, model().nameColumn()).data().toString() + u'=' +
                        model().index(row, model().areaColumn()).data().toString();
        return rows;
    }
    // What the database holds for the item, by name: "name=area:type of area".
    QStringList stored(int item) {
        QStringList rows;
        QSqlQuery q(Database::connection());
        q.prepare(u"select RoomName, P, typeof(P) from rooms where Items_ID=? order by RoomName"_s);
        q.addBindValue(item);
        q.exec();
        while (q.next())
            rows << q.value(0).toString() + u'=' + q.value(1).toString() + u':' + q.value(2).toString();
        return rows;
    }

    void showNumbersPage(QWidget* w) { control<QTabWidget>(w, "PageControl1")->setCurrentIndex(1); }

    QLineEdit* editor() { return qobject_cast<QLineEdit*>(grid().roomsDelegate()->openEditor()); }
    // Enter in a cell editor: the grid takes the text once the event loop runs.
    void commit(QLineEdit* cellEditor) {
        QTest::keyClick(cellEditor, Qt::Key_Return);
        QTRY_VERIFY(!grid().isEditorOpen());
    }

    // Types into a cell as the operator does: the first key on the grid opens the editor, the
    // rest goes to the editor, and Enter takes the text.
    void enterCell(int row, int column, const QString& text) {
        grid().setFocus();
        grid().setCurrentIndex(model().index(row, column));
        QTest::sendKeyEvent(QTest::Click, &grid(), Qt::Key_unknown, text.left(1), Qt::NoModifier);
        QVERIFY(editor());
        typeText(editor(), text.mid(1));
        commit(editor());
    }
    // A new row through the navigator: its name editor is open at once; Tab leads to the area,
    // whose text is typed or pasted.
    void insertRow(const QString& name, const QString& p, bool paste = false) {
        press(DBNavigator::Insert);
        QVERIFY(editor());
        QCOMPARE(editor()->objectName(), u"NameEditor"_s);
        typeText(editor(), name);
        QTest::keyClick(editor(), Qt::Key_Tab);
        QVERIFY(editor());
        QCOMPARE(editor()->objectName(), u"AreaEditor"_s);
        if (paste) {
            QGuiApplication::clipboard()->setText(p);
            QTest::keySequence(editor(), QKeySequence::Paste);
        } else {
            typeText(editor(), p);
        }
        commit(editor());
    }

    // Answers the next "Delete record?" with its OK or Cancel button; returns the text shown.
    void answerDelete(bool ok, QString* text) {
        onNextModal([ok, text](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            QVERIFY(box);
            *text = box->windowTitle() + u": "_s + box->text();
            for (QAbstractButton* b : box->buttons())
                if (b->text() == (ok ? u"OK"_s : u"Cancel"_s))
                    QTest::mouseClick(b, Qt::LeftButton);
        });
    }
};

} // namespace

class CardRoomsTest : public QObject {
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

    void navigatorAndGridAsLaidOut() {
        Rooms f;
        auto* group = control<QGroupBox>(f.card.get(), "GroupBox1");
        DBNavigator* navigator = f.rooms().navigator();
        QCOMPARE(navigator->objectName(), u"DBNavigator1"_s);
        QCOMPARE(navigator->parentWidget(), group);
        QCOMPARE(navigator->size(), QSize(224, 25));
        const QList<QToolButton*> buttons = navigator->findChildren<QToolButton*>();
        QStringList hints;
        int left = -1;
        for (int i = 0; i < DBNavigator::ButtonCount; ++i) {
            QToolButton* b = navigator->button(DBNavigator::Button(i));
            QVERIFY(b->autoRaise());
            QCOMPARE(b->focusPolicy(), Qt::NoFocus);
            QVERIFY(b->x() > left);
            left = b->x();
            hints << b->toolTip();
        }
        QCOMPARE(buttons.size(), DBNavigator::ButtonCount);
        QCOMPARE(hints, (QStringList{u"Предыдущая запись"_s, u"Следующая запись"_s, u"Вставить запись"_s,
                                     u"Удалить запись"_s, u"Редактировать запись"_s, u"Применить изменения"_s,
                                     u"Отменить изменения"_s, u"Обновить"_s}));

        QCOMPARE(f.grid().objectName(), u"DBGrid1"_s);
        QCOMPARE(f.grid().parentWidget(), group);
        QCOMPARE(f.grid().width(), 425);
        QStringList columns;
        for (int c = 0; c < f.model().columnCount(); ++c)
            if (!f.grid().isColumnHidden(c))
                columns << f.model().headerData(c, Qt::Horizontal).toString() + u'/' +
                               QString::number(f.grid().columnWidth(c));
        QCOMPARE(columns, (QStringList{u"Комната/283"_s, u"Площадь/85"_s}));
        QCOMPARE(f.model()
                         .headerData(f.model().areaColumn(), Qt::Horizontal, Qt::TextAlignmentRole)
                         .value<Qt::Alignment>() &
                     Qt::AlignHorizontal_Mask,
                 Qt::AlignRight);
        QCOMPARE(control<QPushButton>(f.card.get(), "BitBtn3")->text(), u"Вычислить"_s);
        // Before any item is opened the grid and the navigator are disabled.
        QVERIFY(!f.grid().isEnabled());
        QVERIFY(!navigator->isEnabled());
    }

    void gridShowsTheItemsRoomsByName() {
        Rooms f;
        const int item = f.addItem();
        const int other = f.addItem();
        f.addRoom(item, u"Спальня"_s, 12.0);
        f.addRoom(other, u"Чужая"_s, 99.0);
        f.addRoom(item, u"Гостиная"_s, 18.25);
        f.addRoom(item, u"Кухня"_s, QVariant());
        f.whileEditing(item, [&](QWidget*) {
            QVERIFY(f.grid().isEnabled());
            QCOMPARE(f.shown(), (QStringList{u"Гостиная=18,25"_s, u"Кухня="_s, u"Спальня=12"_s}));
            QCOMPARE(f.grid().currentIndex().row(), 0);
            QVERIFY(!f.nav(DBNavigator::Prior)->isEnabled());
            QVERIFY(f.nav(DBNavigator::Next)->isEnabled());
            QVERIFY(!f.nav(DBNavigator::Post)->isEnabled());
            f.press(DBNavigator::Next);
            f.press(DBNavigator::Next);
            QCOMPARE(f.grid().currentIndex().row(), 2);
            QVERIFY(!f.nav(DBNavigator::Next)->isEnabled());
            f.press(DBNavigator::Prior);
            QCOMPARE(f.grid().currentIndex().row(), 1);
            // Refresh re-reads the rows: another copy's room appears in its place, and the grid
            // stays on the room it was on.
            f.addRoom(item, u"Балкон"_s, 4.5);
            f.press(DBNavigator::Refresh);
            QCOMPARE(f.shown(),
                     (QStringList{u"Балкон=4,5"_s, u"Гостиная=18,25"_s, u"Кухня="_s, u"Спальня=12"_s}));
            QCOMPARE(f.grid().currentIndex().row(), 2);
        });
    }

    void navigatorInsertsPostsCancelsAndDeletes() {
        Rooms f;
        const int item = f.addItem();
        f.addRoom(item, u"Кухня"_s, 9.0);
        f.whileEditing(item, [&](QWidget* w) {
            f.showNumbersPage(w);
            // Insert and post: written at once, with the item's id and a real area.
            f.insertRow(u"Гостиная"_s, u"18,5"_s);
            QVERIFY(f.model().isInserting());
            QCOMPARE(f.model().headerData(f.model().editRow(), Qt::Vertical).toString(), u"*"_s);
            QVERIFY(f.nav(DBNavigator::Post)->isEnabled());
            QCOMPARE(f.stored(item), (QStringList{u"Кухня=9:real"_s}));
            f.press(DBNavigator::Post);
            QVERIFY(!f.model().isEditing());
            QCOMPARE(f.stored(item), (QStringList{u"Гостиная=18.5:real"_s, u"Кухня=9:real"_s}));
            QCOMPARE(f.shown(), (QStringList{u"Гостиная=18,5"_s, u"Кухня=9"_s}));
            // The posted row stays current.
            QCOMPARE(f.grid().currentIndex().row(), 0);

            // Insert and cancel: nothing is written and the row disappears.
            f.insertRow(u"Кладовка"_s, u"2"_s);
            QCOMPARE(f.model().rowCount(), 3);
            f.press(DBNavigator::Cancel);
            QCOMPARE(f.model().rowCount(), 2);
            QCOMPARE(f.roomCount(), 2);

            // Edit a stored row and cancel: it shows and keeps its values.
            f.grid().setCurrentIndex(f.model().index(1, f.model().nameColumn()));
            f.press(DBNavigator::Edit);
            QVERIFY(f.model().isEditing());
            QCOMPARE(f.model().headerData(1, Qt::Vertical).toString(), u"I"_s);
            QVERIFY(f.editor());
            typeText(f.editor(), u"Столовая"_s);
            f.commit(f.editor());
            QCOMPARE(f.shown().at(1), u"Столовая=9"_s);
            f.press(DBNavigator::Cancel);
            QCOMPARE(f.shown(), (QStringList{u"Гостиная=18,5"_s, u"Кухня=9"_s}));

            // Delete asks first; Cancel keeps the row, OK removes it at once.
            QString question;
            f.answerDelete(false, &question);
            f.press(DBNavigator::Delete);
            QCOMPARE(question, u"Confirm: Delete record?"_s);
            QCOMPARE(f.roomCount(), 2);
            f.grid().setCurrentIndex(f.model().index(0, f.model().nameColumn()));
            f.answerDelete(true, &question);
            f.press(DBNavigator::Delete);
            QCOMPARE(f.stored(item), (QStringList{u"Кухня=9:real"_s}));
            QCOMPARE(f.shown(), (QStringList{u"Кухня=9"_s}));
        });
        // Rooms do not wait for the card's OK: Cancel keeps what was posted and deleted.
        QCOMPARE(f.stored(item), (QStringList{u"Кухня=9:real"_s}));
    }

    void keyboardInsertsMovesAndDeletes() {
        Rooms f;
        const int item = f.addItem();
        f.addRoom(item, u"Б"_s, 5.0);
        f.whileEditing(item, [&](QWidget* w) {
            f.showNumbersPage(w);
            f.grid().setFocus();
            // Insert starts a row before the current one; moving to another row posts it.
            QTest::keyClick(&f.grid(), Qt::Key_Insert);
            QVERIFY(f.model().isInserting());
            typeText(f.editor(), u"А"_s);
            QTest::keyClick(f.editor(), Qt::Key_Tab);
            typeText(f.editor(), u"7,25"_s);
            f.commit(f.editor());
            QCOMPARE(f.roomCount(), 1);
            QTest::keyClick(&f.grid(), Qt::Key_Down);
            QTRY_VERIFY(!f.model().isEditing());
            QCOMPARE(f.stored(item), (QStringList{u"А=7.25:real"_s, u"Б=5:real"_s}));
            // The grid stays on the row it moved to.
            QCOMPARE(f.model().index(f.grid().currentIndex().row(), f.model().nameColumn()).data().toString(),
                     u"Б"_s);

            // Typing over a cell edits the row; moving away posts it.
            f.enterCell(1, f.model().areaColumn(), u"6"_s);
            QVERIFY(f.model().isEditing());
            QTest::keyClick(&f.grid(), Qt::Key_Up);
            QTRY_VERIFY(!f.model().isEditing());
            QCOMPARE(f.stored(item), (QStringList{u"А=7.25:real"_s, u"Б=6:real"_s}));

            // A new row left untouched is dropped when the grid moves on.
            QTest::keyClick(&f.grid(), Qt::Key_Insert);
            QTest::keyClick(f.editor(), Qt::Key_Down);
            QTRY_VERIFY(!f.model().isEditing());
            QCOMPARE(f.roomCount(), 2);
            QCOMPARE(f.model().rowCount(), 2);

            // Ctrl+Delete asks, then deletes the current row.
            f.grid().setFocus();
            f.grid().setCurrentIndex(f.model().index(0, f.model().nameColumn()));
            QString question;
            f.answerDelete(true, &question);
            QTest::keyClick(&f.grid(), Qt::Key_Delete, Qt::ControlModifier);
            QCOMPARE(question, u"Confirm: Delete record?"_s);
            QCOMPARE(f.stored(item), (QStringList{u"Б=6:real"_s}));
        });
    }

    // The area typed or pasted in the regional format; a separator of the other habit gives the
    // value meant or a refusal with the field's message, never another number.
    void areaFollowsTheRegionalFormat_data() {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("pasted");
        QTest::addColumn<QString>("stored"); // empty: refused with the message
        QTest::addColumn<QString>("shown");
        const QString ru = u"ru_RU"_s;
        QTest::newRow("ru_RU") << ru << u"10,5"_s << false << u"10.5:real"_s << u"10,5"_s;
        QTest::newRow("en_US") << u"en_US"_s << u"10.5"_s << false << u"10.5:real"_s << u"10.5"_s;
        QTest::newRow("no letters") << ru << u"12x;e+3"_s << false << u"12000:real"_s << u"12000"_s;
        QTest::newRow("point typed") << ru << u"12.5"_s << false << u"12.5:real"_s << u"12,5"_s;
        QTest::newRow("point pasted") << ru << u"12.5"_s << true << u"12.5:real"_s << u"12,5"_s;
        QTest::newRow("comma pasted") << ru << u"12,5"_s << true << u"12.5:real"_s << u"12,5"_s;
        QTest::newRow("both typed") << ru << u"1.234,5"_s << false << QString() << QString();
        QTest::newRow("garbage pasted, not taken") << ru << u"12 кв.м"_s << true << u":null"_s << QString();
        QTest::newRow("comma, point regional") << u"en_US"_s << u"12,5"_s << false << QString() << QString();
    }
    void areaFollowsTheRegionalFormat() {
        QFETCH(QString, locale);
        QFETCH(QString, text);
        QFETCH(bool, pasted);
        QFETCH(QString, stored);
        QFETCH(QString, shown);
        QLocale::setDefault(QLocale(locale));
        Rooms f;
        const int item = f.addItem();
        f.whileEditing(item, [&](QWidget* w) {
            f.showNumbersPage(w);
            DialogsTestSeam::queueAnswer(Dialogs::Answer::Ok);
            f.insertRow(u"Зал"_s, text, pasted);
            if (stored.isEmpty()) {
                QTRY_COMPARE(DialogsTestSeam::shown().size(), 1);
                QCOMPARE(DialogsTestSeam::last().text, RoomsModel::invalidAreaMessage(text));
                return;
            }
            f.press(DBNavigator::Post);
            QVERIFY(DialogsTestSeam::shown().isEmpty());
            QCOMPARE(f.stored(item), (QStringList{u"Зал="_s + stored}));
            QCOMPARE(f.shown(), (QStringList{u"Зал="_s + shown}));
        });
        if (stored.isEmpty())
            QCOMPARE(f.roomCount(), 0);
    }

    void areaSum_data() {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("sum");
        QTest::addColumn<QString>("none");
        QTest::newRow("ru_RU") << u"ru_RU"_s << u"22,75"_s << u"0,00"_s;
        QTest::newRow("en_US") << u"en_US"_s << u"22.75"_s << u"0.00"_s;
    }
    void areaSum() {
        QFETCH(QString, locale);
        QFETCH(QString, sum);
        QFETCH(QString, none);
        QLocale::setDefault(QLocale(locale));
        Rooms f;
        const int item = f.addItem({{u"obsh_plosh"_s, 40.0}});
        const int bare = f.addItem();
        f.addRoom(item, u"А"_s, 10.5);
        f.addRoom(item, u"Б"_s, 12.25);
        f.whileEditing(item, [&](QWidget* w) {
            f.showNumbersPage(w);
            // A row not yet posted is not counted.
            f.insertRow(u"В"_s, u"100"_s);
            clickButton(w, "BitBtn3");
            QCOMPARE(f.area(w)->text(), sum);
            f.press(DBNavigator::Cancel);
        });
        // The sum is stored only with the item, on OK.
        QCOMPARE(f.scalar(u"select obsh_plosh from items where id=?"_s, {item}).toDouble(), 40.0);

        f.whileEditing(bare, [&](QWidget* w) {
            clickButton(w, "BitBtn3");
            QCOMPARE(f.area(w)->text(), none);
        });
        // A new item's card sums nothing, never the rooms of the item opened before.
        f.whileNew([&](QWidget* w) {
            QVERIFY(!f.grid().isEnabled());
            QVERIFY(!f.rooms().navigator()->isEnabled());
            QCOMPARE(f.model().rowCount(), 0);
            clickButton(w, "BitBtn3");
            QCOMPARE(f.area(w)->text(), none);
        });
        f.whileEditing(item, [&](QWidget* w) {
            QCOMPARE(f.model().rowCount(), 2);
            clickButton(w, "BitBtn3");
            QCOMPARE(f.area(w)->text(), sum);
        });
    }

    void invalidAreaIsRefusedAndStaysInEditing() {
        Rooms f;
        const int item = f.addItem();
        f.addRoom(item, u"Я"_s, 3.0);
        const QString message =
            u"Площадь комнаты «1,2,3» не является числом. Введите число, например 12,5."_s;
        f.whileEditing(item, [&](QWidget* w) {
            f.showNumbersPage(w);
            // Leaving the cell refuses the text; the editor comes back on it.
            DialogsTestSeam::queueAnswer(Dialogs::Answer::Ok);
            f.insertRow(u"Холл"_s, u"1,2,3"_s);
            QTRY_COMPARE(DialogsTestSeam::shown().size(), 1);
            QCOMPARE(DialogsTestSeam::last().kind, Dialogs::Kind::Stop);
            QCOMPARE(DialogsTestSeam::last().text, message);
            QVERIFY(f.model().isInserting());
            QCOMPARE(f.grid().currentIndex(), f.model().index(f.model().editRow(), f.model().areaColumn()));
            QVERIFY(f.editor());
            QCOMPARE(f.editor()->text(), u"1,2,3"_s);
            DialogsTestSeam::queueAnswer(Dialogs::Answer::Ok);
            QTest::keyClick(f.editor(), Qt::Key_Tab);
            QTRY_COMPARE(DialogsTestSeam::shown().size(), 2);
            QVERIFY(f.editor());
            QCOMPARE(f.grid().currentIndex().row(), f.model().editRow());

            // Moving to another row does not post it: the grid comes back to it.
            f.grid().setFocus();
            f.grid().abandonEditing();
            DialogsTestSeam::queueAnswer(Dialogs::Answer::Ok);
            f.grid().setCurrentIndex(f.model().index(1, f.model().nameColumn()));
            QTRY_COMPARE(DialogsTestSeam::shown().size(), 3);
            QCOMPARE(DialogsTestSeam::last().text, message);
            QCOMPARE(f.grid().currentIndex().row(), f.model().editRow());
            // The navigator's post refuses it too.
            f.grid().abandonEditing();
            DialogsTestSeam::queueAnswer(Dialogs::Answer::Ok);
            f.press(DBNavigator::Post);
            QCOMPARE(DialogsTestSeam::shown().size(), 4);
            QVERIFY(f.model().isEditing());
            QCOMPARE(f.roomCount(), 1);

            // Corrected, it is stored as a number.
            QVERIFY(f.editor());
            f.editor()->selectAll();
            typeText(f.editor(), u"4,5"_s);
            f.commit(f.editor());
            f.press(DBNavigator::Post);
            QVERIFY(!f.model().isEditing());
        });
        QCOMPARE(DialogsTestSeam::shown().size(), 4);
        QCOMPARE(f.stored(item), (QStringList{u"Холл=4.5:real"_s, u"Я=3:real"_s}));
    }

    // A row still in editing when the card closes: OK posts it when it converts and keeps the
    // card open when it does not; Cancel drops it.
    void rowInEditingWhenTheCardCloses() {
        Rooms f;
        const int item = f.addItem();
        QVERIFY(f.whileEditing(
            item,
            [&](QWidget* w) {
                f.showNumbersPage(w);
                f.insertRow(u"Зал"_s, u"20"_s);
                clickButton(w, "OkBtn");
            },
            false));
        QCOMPARE(f.stored(item), (QStringList{u"Зал=20:real"_s}));

        bool stillOpen = false;
        QString page;
        QVERIFY(!f.whileEditing(item, [&](QWidget* w) {
            f.showNumbersPage(w);
            f.insertRow(u"Кухня"_s, u"8,5"_s);
            // An editor still open takes part too: its text is what OK posts.
            f.grid().setFocus();
            QTest::sendKeyEvent(QTest::Click, &f.grid(), Qt::Key_unknown, u"9"_s, Qt::NoModifier);
            QVERIFY(f.editor());
            typeText(f.editor(), u"e"_s);
            control<QTabWidget>(w, "PageControl1")->setCurrentIndex(0);
            DialogsTestSeam::queueAnswer(Dialogs::Answer::Ok);
            clickButton(w, "OkBtn");
            stillOpen = w->isVisible();
            page = control<QTabWidget>(w, "PageControl1")->currentWidget()->objectName();
            QCOMPARE(DialogsTestSeam::last().text, RoomsModel::invalidAreaMessage(u"9e"_s));
        }));
        QVERIFY(stillOpen);
        QCOMPARE(page, u"TabSheet2"_s);
        // Cancel dropped the unposted row.
        QCOMPARE(f.stored(item), (QStringList{u"Зал=20:real"_s}));
        QCOMPARE(f.model().rowCount(), 1);
        QVERIFY(!f.model().isEditing());
    }

    void refusedPostKeepsTheRow() {
        Rooms f;
        const int item = f.addItem();
        f.catalogue.exec(u"pragma max_page_count = "_s + f.scalar(u"pragma page_count"_s).toString());
        f.whileEditing(item, [&](QWidget* w) {
            f.showNumbersPage(w);
            DialogsTestSeam::queueAnswer(Dialogs::Answer::Ok);
            f.insertRow(QString(3000, u'ж'), u"5"_s);
            f.press(DBNavigator::Post);
            QCOMPARE(DialogsTestSeam::shown().size(), 1);
            QCOMPARE(DialogsTestSeam::last().text,
                     u"Недостаточно места на диске: изменения не сохранены (database or disk is full)"_s);
            QVERIFY(f.model().isInserting());
            QCOMPARE(f.shown(), (QStringList{QString(3000, u'ж') + u"=5"_s}));
            QVERIFY(w->isVisible());
        });
        QCOMPARE(f.roomCount(), 0);
    }
};

QTEST_MAIN(CardRoomsTest)
#include "tst_cardrooms.moc"
