#include "ItemListModel.h"
#include "ListStyle.h"
#include "Program.h"
#include "ReportListModel.h"
#include "SortHeaderView.h"
#include "StatusPanels.h"
#include "TAboutForm.h"
#include "TDirectoryForm.h"
#include "TKvartaEditForm.h"
#include "TKvartaFilterForm.h"
#include "TMainForm.h"
#include "TRepForm.h"
#include "TTableViewForm.h"
#include "TestSupport.h"

#include "Dialogs.h"
#include "Icons.h"

#include <QPainter>
#include <QStyleOptionHeader>

#include <QAbstractItemModelTester>
#include <QAbstractSpinBox>
#include <QAccessible>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTabBar>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QTest>
#include <QToolButton>

using namespace Qt::StringLiterals;

namespace {

const QString NoFilter = u"<Не фильтровать>"_s;

// Columns: Группа, Район, Этаж, Стоимость.
const QByteArray FourColumns = "[Position]\nNum0=1\nNum1=2\nNum2=10\nNum3=20\n"
                               "[Checked]\nField1=1\nField2=1\nField10=1\nField20=1\n"
                               "[Width]\nField1=90\nField2=91\nField10=40\n";

struct Fixture {
    TempCatalogue cat;
    Program program;
    QList<int> ids;

    explicit Fixture(const QByteArray& layout = FourColumns) {
        cat.addEntries(u"grupy"_s, {u"Продажа"_s, u"Обмен"_s, u"O'Brien \"50%\""_s});
        cat.addEntries(u"rajony"_s, {u"Центр"_s, u"Заречье"_s});
        // group, district, floor, price
        add(u"Продажа"_s, u"Центр"_s, 3, 1000);
        add(u"Обмен"_s, u"Центр"_s, 1, 2000);
        add(u"Продажа"_s, u"Заречье"_s, 3, 1500);
        add(u"O'Brien \"50%\""_s, u"Заречье"_s, 2, 3000);
        add(u"Продажа"_s, u"Центр"_s, 1, 500);
        cat.writeFile(u"fields.ini"_s, layout);
        DialogsTestSeam::clear();
        if (!program.start())
            qFatal("the program did not start");
    }
    void add(const QString& group, const QString& district, int floor, double price) {
        ids.append(cat.addItem({{u"grupa"_s, group},
                                {u"rajon"_s, district},
                                {u"etazh"_s, floor},
                                {u"stoim"_s, price},
                                {u"date_reg"_s, u"2024-03-05 00:00:00"_s}}));
    }
    TMainForm& main() { return *program.mainForm(); }
    ItemListModel& model() { return *main().itemModel(); }
    QTableView& list() { return *main().itemList(); }
    SortHeaderView& header() { return *qobject_cast<SortHeaderView*>(list().horizontalHeader()); }
    QComboBox& combo(const char* name) { return *main().findChild<QComboBox*>(QLatin1StringView(name)); }
    QString count() { return main().statusBar()->panelText(0); }
    QList<int> listedIds() {
        QList<int> r;
        for (int i = 0; i < model().rowCount(); ++i)
            r.append(model().idAt(i));
        return r;
    }
    QStringList column(int c) {
        QStringList r;
        for (int i = 0; i < model().rowCount(); ++i)
            r.append(model().cellText(i, c));
        return r;
    }
    void clickHeader(int section) {
        QHeaderView& h = header();
        const QPoint at(h.sectionViewportPosition(section) + h.sectionSize(section) / 2, h.height() / 2);
        QTest::mouseClick(h.viewport(), Qt::LeftButton, {}, at);
    }
    void choose(const char* name, const QString& text) {
        QComboBox& c = combo(name);
        const int i = c.findText(text);
        QVERIFY2(i >= 0, qPrintable(text));
        c.setCurrentIndex(i);
    }
};

} // namespace

class MainFormTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void windowAsLaidOut() {
        Fixture f;
        TMainForm& m = f.main();
        QCOMPARE(m.windowTitle(), u"Tenemark 1.0"_s);
        QCOMPARE(m.frameGeometry(), QRect(50, 50, 700, 500)); // outer bounds, frame included
        const QList<QPair<const char*, QString>> buttons = {
            {"SpeedButton5", u"Новый элемент"_s},     {"SpeedButton4", u"Править элемент"_s},
            {"SpeedButton6", u"Удалить элемент"_s},   {"SpeedButton7", u"Обновить"_s},
            {"SpeedButton1", u"Расширеный фильтр"_s}, {"SpeedButton2", u"Вид таблицы"_s},
            {"SpeedButton3", u"Справочники"_s},       {"SpeedButton8", u"Отчет"_s},
            {"SpeedButton9", u"Отчет по элементу"_s}};
        int lastLeft = -1;
        for (const auto& [name, tip] : buttons) {
            auto* b = m.findChild<QToolButton*>(QLatin1StringView(name));
            QVERIFY2(b, name);
            QCOMPARE(b->toolTip(), tip);
            QCOMPARE(b->size(), QSize(41, 41));
            QVERIFY(b->autoRaise());
            QVERIFY(b->text().isEmpty() || b->toolButtonStyle() == Qt::ToolButtonIconOnly);
            QVERIFY(b->x() > lastLeft); // left to right in the table's order
            lastLeft = b->x();
        }
        QCOMPARE(m.findChild<QWidget*>(u"Panel1"_s)->height(), 57);
        for (const char* name : {"GroupCB", "LocationCB"}) {
            QCOMPARE(f.combo(name).width(), 129);
            QVERIFY(!f.combo(name).isEditable());
        }
        QCOMPARE(m.statusBar()->height(), 21);
        QCOMPARE(m.statusBar()->panelWidth(0), 200);
        QCOMPARE(m.statusBar()->panelWidth(1), 150);
        QCOMPARE(m.statusBar()->panelWidth(2), 50);
        auto* about = m.statusBar()->findChild<QPushButton*>(u"AboutButton"_s);
        QVERIFY(about);
        QCOMPARE(about->text(), u"О программе"_s);
        QCOMPARE(about->geometry(), QRect(201, 2, 145, 19));
        QCOMPARE(m.findChild<QWidget*>(u"Panel2"_s)->width(), 185);
        QVERIFY(m.findChild<QLabel*>(u"StaticText1"_s)->text().isEmpty());
    }

    void firstShowBuildsColumnsFiltersAndList() {
        Fixture f;
        QCOMPARE(f.model().columnCount(), 4);
        QCOMPARE(f.model().headerData(0, Qt::Horizontal).toString(), u"Группа"_s);
        QCOMPARE(f.model().headerData(3, Qt::Horizontal).toString(), u"Стоимость"_s);
        QCOMPARE(f.header().sectionSize(0), 90);
        QCOMPARE(f.header().sectionSize(1), 91);
        QCOMPARE(f.header().sectionSize(3), 50);
        QCOMPARE(f.combo("GroupCB").count(), 4);
        QCOMPARE(f.combo("GroupCB").itemText(0), NoFilter);
        QCOMPARE(f.combo("GroupCB").itemText(1), u"O'Brien \"50%\""_s); // ordered by naimen
        QCOMPARE(f.combo("LocationCB").count(), 3);
        QCOMPARE(f.combo("LocationCB").currentIndex(), 0);
        // Sorted by the first column ascending, ties by ascending id.
        QCOMPARE(f.main().sortColumn(), 0);
        QVERIFY(f.main().sortAscending());
        QCOMPARE(f.header().sortMark(0), SortHeaderView::Mark::Ascending);
        QCOMPARE(f.header().sortMark(1), SortHeaderView::Mark::None);
        QCOMPARE(f.listedIds(), (QList<int>{f.ids[3], f.ids[1], f.ids[0], f.ids[2], f.ids[4]}));
        QCOMPARE(f.count(), u"Отобрано записей: 5"_s);
        QCOMPARE(f.main().selectedItemId(), f.ids[3]); // row 0 when nothing was selected
        QCOMPARE(f.model().data(f.model().index(0, 2)).toString(), u"2"_s);
        QCOMPARE(f.model().data(f.model().index(0, 0), Qt::DecorationRole).value<QIcon>().pixmap(16).toImage(),
                 Icons::get(u"row").pixmap(16).toImage());
        QVERIFY(!f.model().data(f.model().index(0, 1), Qt::DecorationRole).isValid());
        QVERIFY(DialogsTestSeam::shown().isEmpty());
    }

    void quickFiltersNarrowAndWiden() {
        Fixture f;
        QAbstractItemModelTester tester(&f.model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        f.choose("GroupCB", u"Продажа"_s);
        QCOMPARE(f.listedIds(), (QList<int>{f.ids[0], f.ids[2], f.ids[4]}));
        f.choose("LocationCB", u"Центр"_s);
        QCOMPARE(f.listedIds(), (QList<int>{f.ids[0], f.ids[4]}));
        QCOMPARE(f.count(), u"Отобрано записей: 2"_s);
        f.choose("GroupCB", NoFilter); // the district still applies
        QCOMPARE(f.listedIds(), (QList<int>{f.ids[1], f.ids[0], f.ids[4]}));
        f.choose("LocationCB", NoFilter);
        QCOMPARE(f.listedIds().size(), 5);
        // Quotes and percent signs are bound, not pasted into the statement.
        f.choose("GroupCB", u"O'Brien \"50%\""_s);
        QCOMPARE(f.listedIds(), QList<int>{f.ids[3]});
        QVERIFY(DialogsTestSeam::shown().isEmpty());
        // The criteria store is the extended filter's.
        QCOMPARE(f.program.filterForm()->criteria().GetCriterion(u"grupa"_s), u"O'Brien \"50%\""_s);
        QCOMPARE(f.program.filterForm()->criteria().GetCriterion(u"rajon"_s), NoFilter);
    }

    void emptyResultHasNoRowsNoSelectionAndZeroCount() {
        Fixture f;
        f.cat.addEntries(u"grupy"_s, {u"Пусто"_s});
        f.program.filterForm()->criteria().SetCriterion(u"grupa"_s, u"Пусто"_s);
        f.main().LoadItemList();
        QCOMPARE(f.model().rowCount(), 0);
        QVERIFY(!f.main().selectedItemId());
        QCOMPARE(f.count(), u"Отобрано записей: 0"_s);
    }

    void headerClicksSortBothWaysWithTiesInIdOrder() {
        Fixture f;
        QAbstractItemModelTester tester(&f.model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        f.clickHeader(2); // floor
        QCOMPARE(f.main().sortColumn(), 2);
        QVERIFY(f.main().sortAscending());
        QCOMPARE(f.listedIds(), (QList<int>{f.ids[1], f.ids[4], f.ids[3], f.ids[0], f.ids[2]}));
        QCOMPARE(f.header().sortMark(2), SortHeaderView::Mark::Ascending);
        QCOMPARE(f.header().sortMark(0), SortHeaderView::Mark::None);
        f.clickHeader(2);
        QVERIFY(!f.main().sortAscending());
        // Equal floors keep ascending id order when descending too.
        QCOMPARE(f.listedIds(), (QList<int>{f.ids[0], f.ids[2], f.ids[3], f.ids[1], f.ids[4]}));
        QCOMPARE(f.header().sortMark(2), SortHeaderView::Mark::Descending);
        f.clickHeader(2);
        QVERIFY(f.main().sortAscending());
        f.clickHeader(2);
        f.clickHeader(3); // another column always starts ascending
        QVERIFY(f.main().sortAscending());
        QCOMPARE(f.column(3), (QStringList{u"500"_s, u"1000"_s, u"1500"_s, u"2000"_s, u"3000"_s}));
        QCOMPARE(f.header().sortMark(3), SortHeaderView::Mark::Ascending);
        QCOMPARE(f.header().sortMark(2), SortHeaderView::Mark::None);
    }

    // The marked header is the plain one with the mark's picture right of the caption: the upward
    // arrow when ascending, the downward one when descending.
    void sortMarkIsDrawnRightOfTheCaption() {
        Fixture f;
        SortHeaderView& h = f.header();
        h.resizeSection(0, 150);
        h.setSortMark(0, true, false);
        const QImage ascending = h.grab().toImage();
        h.setSortMark(0, true, true);
        const QImage descending = h.grab().toImage();
        h.setSortMark(0, false, false);
        const QImage plain = h.grab().toImage();

        QStyleOptionHeader opt;
        const int margin = h.style()->pixelMetric(QStyle::PM_HeaderMargin, &opt, &h);
        const QPoint at(margin + h.fontMetrics().horizontalAdvance(u"Группа"_s) + margin, (h.height() - 16) / 2);
        const auto withMark = [&](const char16_t* icon) {
            QImage expected = plain.copy();
            QPainter painter(&expected);
            painter.drawPixmap(at, Icons::pixmap(icon, 16));
            return expected;
        };
        QCOMPARE(ascending, withMark(u"sort_asc"));
        QCOMPARE(descending, withMark(u"sort_desc"));
        QVERIFY(ascending != descending); // the two pictures are not the same
    }

    void selectionKeptAcrossRebuildsAndDroppedWhenFilteredOut() {
        Fixture f;
        const int row = f.model().rowOfId(f.ids[2]);
        f.list().selectRow(row);
        f.clickHeader(3); // rows move; the item stays selected
        QCOMPARE(f.main().selectedItemId(), f.ids[2]);
        QCOMPARE(f.list().selectionModel()->selectedRows().first().row(), f.model().rowOfId(f.ids[2]));
        f.choose("LocationCB", u"Центр"_s); // item 2 is in Заречье
        QVERIFY(!f.main().selectedItemId());
        f.choose("LocationCB", NoFilter); // nothing remembered: row 0
        QCOMPARE(f.list().selectionModel()->selectedRows().first().row(), 0);
    }

    void programSelectionNeitherScrollsNorTakesFocus() {
        Fixture f;
        for (int i = 0; i < 80; ++i)
            f.add(u"Обмен"_s, u"Центр"_s, 5, 100);
        f.main().LoadItemList();
        QTableView& list = f.list();
        list.selectionModel()->clear();
        list.scrollToBottom();
        f.combo("GroupCB").setFocus();
        const int scrolled = list.verticalScrollBar()->value();
        QVERIFY(scrolled > 0);
        f.main().LoadItemList();
        QCOMPARE(list.selectionModel()->selectedRows().first().row(), 0);
        QCOMPARE(list.verticalScrollBar()->value(), scrolled);
        QVERIFY(!list.hasFocus());
    }

    void stripesByRowIndex() {
        Fixture f;
        for (int r = 0; r < f.model().rowCount(); ++r)
            for (int c = 0; c < f.model().columnCount(); ++c)
                QCOMPARE(f.model().data(f.model().index(r, c), Qt::BackgroundRole).value<QColor>(),
                         r % 2 == 0 ? QColor(Qt::white) : ListStyle::light3DColor());
        QVERIFY(ListStyle::light3DColor() != QColor(Qt::white));
    }

    void statementErrorKeepsCountAndReportsEngineText() {
        Fixture f;
        QCOMPARE(f.count(), u"Отобрано записей: 5"_s);
        f.cat.exec(u"alter table items rename to items_gone"_s);
        DialogsTestSeam::queueAnswer(Dialogs::Answer::Ok);
        f.main().findChild<QToolButton*>(u"SpeedButton7"_s)->click();
        QCOMPARE(DialogsTestSeam::shown().size(), 1);
        QCOMPARE(DialogsTestSeam::last().kind, Dialogs::Kind::Stop);
        QCOMPARE(DialogsTestSeam::last().title, u"Tenemark 1.0"_s);
        QVERIFY2(DialogsTestSeam::last().text.contains(u"items"_s, Qt::CaseInsensitive),
                 qPrintable(DialogsTestSeam::last().text));
        QCOMPARE(f.model().rowCount(), 0);
        QCOMPARE(f.count(), u"Отобрано записей: 5"_s);
        QVERIFY(f.list().updatesEnabled());
    }

    void lostSortColumnFallsBackToTheFirst() {
        Fixture f;
        f.clickHeader(3);
        f.clickHeader(3); // price descending
        f.cat.writeFile(u"fields.ini"_s, "[Checked]\nField10=1\nField20=1\n");
        f.main().ApplyColumnLayout();
        f.main().LoadItemList();
        QCOMPARE(f.main().sortColumn(), 0);
        QVERIFY(!f.main().sortAscending());
        QCOMPARE(f.header().sortMark(0), SortHeaderView::Mark::Descending);
        QCOMPARE(f.column(0), (QStringList{u"3"_s, u"3"_s, u"2"_s, u"1"_s, u"1"_s}));
        QCOMPARE(f.listedIds(), (QList<int>{f.ids[0], f.ids[2], f.ids[3], f.ids[1], f.ids[4]}));

        f.cat.writeFile(u"fields.ini"_s, "");
        f.main().ApplyColumnLayout();
        f.main().LoadItemList();
        QCOMPARE(f.model().columnCount(), 0);
        QCOMPARE(f.model().rowCount(), 0);
        QCOMPARE(f.count(), u"Отобрано записей: 5"_s);
        QVERIFY(DialogsTestSeam::shown().isEmpty());
    }

    // A very long text keeps its whole value in the model; the list paints only its start.
    void longTextsArePaintedShort() {
        Fixture f("[Checked]\nField3=1\nField14=1\n");
        const QString huge = u"первая строка\r\n"_s + QString(4 * 1024 * 1024, u'ж');
        const QString wide = QString(1000, u'ш');
        const int first = f.cat.addItem({{u"osob"_s, huge}, {u"obsh_plosh"_s, 100000.0}});
        const int second = f.cat.addItem({{u"osob"_s, wide}, {u"obsh_plosh"_s, 0.5}});
        f.main().LoadItemList();
        const QModelIndex hugeCell = f.model().index(f.model().rowOfId(first), 1);
        const QModelIndex wideCell = f.model().index(f.model().rowOfId(second), 1);
        QCOMPARE(hugeCell.data(Qt::DisplayRole).toString(), u"первая строка…"_s);
        QCOMPARE(hugeCell.data(ListRoles::FullText).toString(), huge);
        QCOMPARE(wideCell.data(Qt::DisplayRole).toString(), QString(300, u'ш') + u'…');
        QCOMPARE(wideCell.data(Qt::ToolTipRole).toString(), QString(300, u'ш') + u'…');
        QCOMPARE(wideCell.data(ListRoles::FullText).toString(), wide);
        // Numbers are plain fixed-point: an area of 100000 is no "1e+05".
        QCOMPARE(f.model().index(f.model().rowOfId(first), 0).data().toString(), u"100000"_s);
        QCOMPARE(f.model().index(f.model().rowOfId(second), 0).data().toString(), u"0.5"_s);
    }

    // The report window reads the list's own rows; a row deleted from the list afterwards stays in
    // the report it was taken for.
    void reportReadsTheListsRowsAndKeepsThemWhenARowGoes() {
        Fixture f;
        QAbstractItemModelTester tester(&f.model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        ReportListModel report;
        report.copyFrom(f.model(), {});
        QCOMPARE(report.rowCount(), 5);
        QCOMPARE(report.cellText(0, 0), u"O'Brien \"50%\""_s);
        QCOMPARE(f.main().selectedItemId(), f.ids[3]);
        DialogsTestSeam::queueAnswer(Dialogs::Answer::Yes);
        f.main().SpeedButton6Click(); // deletes the selected row
        QCOMPARE(f.model().rowCount(), 4);
        QCOMPARE(f.model().cellText(0, 0), u"Обмен"_s);
        QCOMPARE(report.rowCount(), 5);
        QCOMPARE(report.cellText(0, 0), u"O'Brien \"50%\""_s);
        QCOMPARE(report.itemId(0), f.ids[3]);
        QCOMPARE(report.cellText(4, 3), u"500"_s);
    }

    // The record count is painted, yet assistive technology reads it as the status bar's first child.
    void recordCountIsReadableThroughAccessibility() {
        Fixture f;
        QAccessibleInterface* bar = QAccessible::queryAccessibleInterface(f.main().statusBar());
        QVERIFY(bar);
        QCOMPARE(bar->role(), QAccessible::StatusBar);
        QCOMPARE(bar->childCount(), 5); // three panels, the note and the About button
        QAccessibleInterface* count = bar->child(0);
        QVERIFY(count);
        QCOMPARE(count->role(), QAccessible::StaticText);
        QCOMPARE(count->text(QAccessible::Name), u"Отобрано записей: 5"_s);
        QCOMPARE(count->parent(), bar);
        QCOMPARE(bar->indexOfChild(count), 0);
        QCOMPARE(bar->child(4)->text(QAccessible::Name), u"О программе"_s);
        const QRect panel = count->rect();
        QCOMPARE(panel.size(), QSize(200, f.main().statusBar()->height()));
        QCOMPARE(panel.topLeft(), f.main().statusBar()->mapToGlobal(QPoint(0, 0)));

        f.combo("GroupCB").setCurrentText(u"Продажа"_s);
        QCOMPARE(bar->child(0)->text(QAccessible::Name), u"Отобрано записей: 3"_s);
        QCOMPARE(bar->child(0), count); // the same interface, not a new one per question
    }

    // Every control of every window can be named by a screen reader: its caption or its hint.
    void everyControlHasAnAccessibleName() {
        Fixture f;
        QStringList unnamed;
        const QList<QWidget*> windows{&f.main(),           f.program.tableViewForm(), f.program.aboutForm(),
                                      f.program.directoryForm(), f.program.filterForm(), f.program.editForm(),
                                      f.program.reportForm()};
        for (QWidget* window : windows) {
            QList<QWidget*> controls = window->findChildren<QWidget*>();
            for (QWidget* w : controls) {
                const bool control = qobject_cast<QAbstractButton*>(w) || qobject_cast<QComboBox*>(w) ||
                                     qobject_cast<QLineEdit*>(w) || qobject_cast<QAbstractItemView*>(w) ||
                                     qobject_cast<QPlainTextEdit*>(w) || qobject_cast<QAbstractSpinBox*>(w) ||
                                     qobject_cast<QTabBar*>(w);
                // Parts of a list (its header, the corner button) belong to the list's own interface.
                if (!control || w->window() != window || w->objectName().isEmpty() ||
                    w->objectName().startsWith(u"qt_"_s))
                    continue;
                QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
                if (!a || a->text(QAccessible::Name).trimmed().isEmpty())
                    unnamed << window->objectName() + u'/' + w->objectName() + u'(' +
                                   QString::fromLatin1(w->metaObject()->className()) + u')';
            }
        }
        QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join(u", "_s)));
    }

    // No visible column: no rows by design, but the count and a hint tell the catalogue is not empty.
    void emptyLayoutExplainsItself() {
        Fixture f("");
        QCOMPARE(f.model().columnCount(), 0);
        QCOMPARE(f.model().rowCount(), 0);
        QCOMPARE(f.count(), u"Отобрано записей: 5"_s);
        auto* hint = f.list().findChild<QLabel*>(u"EmptyListHint"_s);
        QVERIFY(hint);
        QVERIFY(hint->isVisible());
        QCOMPARE(hint->text(), u"Нет видимых столбцов.\nСтолбцы списка выбираются в «Вид таблицы»."_s);
        // The count follows the filters even without columns.
        f.combo("GroupCB").setCurrentText(u"Продажа"_s);
        QCOMPARE(f.count(), u"Отобрано записей: 3"_s);
        QVERIFY(DialogsTestSeam::shown().isEmpty());

        f.cat.writeFile(u"fields.ini"_s, FourColumns);
        f.main().ApplyColumnLayout();
        f.main().LoadItemList();
        QVERIFY(!hint->isVisible());
        QCOMPARE(f.count(), u"Отобрано записей: 3"_s);
        QCOMPARE(f.model().rowCount(), 3);
    }
};

QTEST_MAIN(MainFormTest)
#include "MainFormTest.moc"
