#include "Dialogs.h"
#include "IniFile.h"
#include "ItemListModel.h"
#include "Program.h"
#include "ShellLaunch.h"
#include "SortHeaderView.h"
#include "StatusPanels.h"
#include "TKvartaEditForm.h"
#include "TMainForm.h"
#include "TTableViewForm.h"
#include "TestSupport.h"

#include <QComboBox>
#include <QAbstractItemView>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QToolButton>

using namespace Qt::StringLiterals;

namespace {

struct Fixture {
    TempCatalogue cat;
    Program program;
    QList<int> ids;

    Fixture() {
        cat.addEntries(u"grupy"_s, {u"Продажа"_s, u"Обмен"_s});
        for (int i = 0; i < 4; ++i)
            ids.append(cat.addItem({{u"grupa"_s, i == 1 ? u"Обмен"_s : u"Продажа"_s},
                                    {u"etazh"_s, i + 1},
                                    {u"stoim"_s, 1000 * (i + 1)}}));
        cat.exec(u"insert into rooms (Items_ID, RoomName, P) values (?, ?, ?)"_s, {ids[2], u"Кухня"_s, 9.5});
        cat.exec(u"insert into slides (parent_id, ext, picture, notes) values (?, ?, ?, ?)"_s,
                 {ids[2], u".jpg"_s, QByteArray("x"), u""_s});
        cat.writeFile(u"fields.ini"_s, "[Checked]\nField1=1\nField10=1\nField20=1\n[Width]\nField1=100\n");
        DialogsTestSeam::clear();
        if (!program.start())
            qFatal("the program did not start");
    }
    TMainForm& main() { return *program.mainForm(); }
    ItemListModel& model() { return *main().itemModel(); }
    QToolButton* button(const char* name) { return main().findChild<QToolButton*>(QLatin1StringView(name)); }
    void selectId(int id) { main().itemList()->selectRow(model().rowOfId(id)); }
    QString count() { return main().statusBar()->panelText(0); }
    int scalar(const QString& sql) { return cat.scalar(sql).toInt(); }
};

// Fills the card's numeric fields and presses OK.
void confirmCard(QWidget* card, const QString& floor) {
    auto set = [card](const char* name, const QString& text) {
        auto* edit = card->findChild<QLineEdit*>(QLatin1StringView(name));
        QVERIFY2(edit, name);
        edit->setText(text);
    };
    set("EtazhEdit", floor);
    set("EtazhnostEdit", u"9"_s);
    set("PloshadEdit", u"40"_s);
    set("StoimostEdit", u"100"_s);
    set("DolgEdit", u"0"_s);
    card->findChild<QPushButton*>(u"OkBtn"_s)->click();
}

// A user's double click: press, release, then the double-click event.
void doubleClick(QWidget* viewport, QPoint at) {
    QTest::mousePress(viewport, Qt::LeftButton, {}, at);
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, at);
    QTest::mouseDClick(viewport, Qt::LeftButton, {}, at);
}

} // namespace

class MainCommandsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void deleteAskedNoChangesNothing() {
        Fixture f;
        f.selectId(f.ids[2]);
        DialogsTestSeam::queueAnswer(Dialogs::Answer::No);
        f.button("SpeedButton6")->click();
        QCOMPARE(DialogsTestSeam::last().kind, Dialogs::Kind::Confirmation);
        QCOMPARE(DialogsTestSeam::last().text, u"Вы действительно хотите удалить выделенный элемент?"_s);
        QCOMPARE(f.model().rowCount(), 4);
        QCOMPARE(f.scalar(u"select count(*) from items"_s), 4);
        QCOMPARE(f.scalar(u"select count(*) from rooms"_s), 1);
    }

    void deleteRemovesItemDependantsAndRowButKeepsCount() {
        for (const Dialogs::Answer answer : {Dialogs::Answer::Yes, Dialogs::Answer::Closed}) {
            Fixture f;
            f.selectId(f.ids[2]);
            DialogsTestSeam::queueAnswer(answer); // any answer but No deletes
            f.button("SpeedButton6")->click();
            QCOMPARE(f.scalar(u"select count(*) from items"_s), 3);
            QCOMPARE(f.scalar(u"select count(*) from rooms"_s), 0);
            QCOMPARE(f.scalar(u"select count(*) from slides"_s), 0);
            QCOMPARE(f.model().rowCount(), 3);
            QCOMPARE(f.model().rowOfId(f.ids[2]), -1);
            QCOMPARE(f.count(), u"Отобрано записей: 4"_s);
        }
    }

    // The real confirmation answered Yes (with Return, its default button) twice: the second press
    // finds no row selected and deletes nothing.
    void secondDeleteFindsNothingSelected() {
        Fixture f;
        f.selectId(f.ids[1]);
        onNextModal([](QWidget* box) {
            QCOMPARE(box->windowTitle(), u"Confirm"_s);
            QTest::keyClick(box, Qt::Key_Return);
        });
        f.button("SpeedButton6")->click();
        QCOMPARE(f.scalar(u"select count(*) from items"_s), 3);
        QCOMPARE(f.main().selectedItemId(), std::nullopt);
        QVERIFY(f.main().itemList()->selectionModel()->selectedRows().isEmpty());

        // No confirmation appears now: an unexpected box would fail the test.
        f.button("SpeedButton6")->click();
        QCOMPARE(f.scalar(u"select count(*) from items"_s), 3);
        QCOMPARE(f.model().rowCount(), 3);
        QCOMPARE(f.scalar(u"select count(*) from items where id = "_s + QString::number(f.ids[2])), 1);
        QCOMPARE(DialogsTestSeam::shown().size(), 1);
    }

    // "Отчет" opens the report window on a fresh copy of the list; "Отчет по элементу" writes the
    // selected item's page and hands it to the word processor, and does nothing without a selection.
    void reportButtons() {
        Fixture f;
        ShellLaunchTestSeam::setRecording(true);
        ShellLaunchTestSeam::clear();
        int copied = -1;
        onNextModal([&](QWidget* window) {
            auto* list = window->findChild<QAbstractItemView*>(u"ListView1"_s);
            QVERIFY(list);
            copied = list->model()->rowCount();
            QTest::keyClick(window, Qt::Key_Escape);
        });
        f.button("SpeedButton8")->click();
        QCOMPARE(copied, 4);

        f.selectId(f.ids[2]);
        f.button("SpeedButton9")->click();
        QCOMPARE(ShellLaunchTestSeam::launches().size(), 1);
        const ShellLaunchTestSeam::Launch launch = ShellLaunchTestSeam::launches().first();
        QCOMPARE(launch.opener, ShellLaunch::Opener::WordProcessor);
        QVERIFY2(QFileInfo(launch.target).isFile(), qPrintable(launch.target));
        QCOMPARE(QFileInfo(launch.target).absolutePath(), QFileInfo(f.cat.path(u"RepTmp"_s)).absoluteFilePath());

        f.main().itemList()->selectionModel()->clear();
        f.button("SpeedButton9")->click();
        QCOMPARE(ShellLaunchTestSeam::launches().size(), 1);
        QCOMPARE(QDir(f.cat.path(u"RepTmp"_s)).entryList({u"*.htm"_s}, QDir::Files).size(), 1);
        ShellLaunchTestSeam::setRecording(false);
    }

    // The About box opens from the status bar; each of its closings writes the settings file.
    void aboutBoxClosingSavesTheSettings() {
        Fixture f;
        auto* about = f.main().findChild<QPushButton*>(u"AboutButton"_s);
        QVERIFY(about);
        for (const int left : {61, 73}) {
            f.main().move(left, 44);
            QString title;
            onNextModal([&](QWidget* box) {
                title = box->windowTitle();
                QTest::keyClick(box, Qt::Key_Escape);
            });
            about->click();
            QCOMPARE(title, u"О программе"_s);
            QCOMPARE(IniFile(f.cat.path(u"kvarta.ini"_s)).readInteger(u"MainForm"_s, u"Left"_s, 0), left);
        }
    }

    void failingDeleteLosesNothing() {
        Fixture f;
        // The item row itself cannot be deleted: the rooms and slides deleted before must come back.
        f.cat.exec(
            u"create trigger keep_items before delete on items begin select raise(abort, 'locked'); end"_s);
        f.selectId(f.ids[2]);
        DialogsTestSeam::queueAnswer(Dialogs::Answer::Yes);
        DialogsTestSeam::queueAnswer(Dialogs::Answer::Ok);
        f.button("SpeedButton6")->click();
        QCOMPARE(DialogsTestSeam::last().kind, Dialogs::Kind::Stop);
        QCOMPARE(DialogsTestSeam::last().text, u"locked."_s);
        QCOMPARE(f.scalar(u"select count(*) from items"_s), 4);
        QCOMPARE(f.scalar(u"select count(*) from rooms"_s), 1);
        QCOMPARE(f.scalar(u"select count(*) from slides"_s), 1);
        QCOMPARE(f.model().rowCount(), 4); // the row stays
    }

    void editAndDeleteDoNothingWithoutSelection() {
        Fixture f;
        f.main().itemList()->selectionModel()->clear();
        f.button("SpeedButton6")->click();
        f.button("SpeedButton4")->click(); // would block on the card if it opened
        doubleClick(f.main().itemList()->viewport(),
                    QPoint(5, f.main().itemList()->viewport()->height() - 3));
        QVERIFY(DialogsTestSeam::shown().isEmpty());
        QCOMPARE(f.scalar(u"select count(*) from items"_s), 4);
    }

    void newItemSelectsTheLargestListedId() {
        Fixture f;
        onNextModal([](QWidget* card) { confirmCard(card, u"7"_s); });
        f.button("SpeedButton5")->click();
        QCOMPARE(f.scalar(u"select count(*) from items"_s), 5);
        const int newId = f.scalar(u"select max(id) from items"_s);
        QCOMPARE(f.model().rowCount(), 5);
        QCOMPARE(f.main().selectedItemId(), newId);
        QCOMPARE(f.count(), u"Отобрано записей: 5"_s);
    }

    void newItemExcludedByFilterSelectsAnotherRow() {
        Fixture f;
        auto* group = f.main().findChild<QComboBox*>(u"GroupCB"_s);
        group->setCurrentIndex(group->findText(u"Продажа"_s));
        QCOMPARE(f.model().rowCount(), 3);
        // The card offers the first group, "Обмен", which the filter excludes.
        onNextModal([](QWidget* card) { confirmCard(card, u"2"_s); });
        f.button("SpeedButton5")->click();
        QCOMPARE(f.scalar(u"select count(*) from items"_s), 5);
        QCOMPARE(f.cat.scalar(u"select grupa from items order by id desc"_s).toString(), u"Обмен"_s);
        QCOMPARE(f.model().rowCount(), 3);
        QCOMPARE(f.main().selectedItemId(), f.ids[3]);
    }

    void cancelledNewItemLeavesTheList() {
        Fixture f;
        f.selectId(f.ids[3]);
        onNextModal([](QWidget* card) { card->findChild<QPushButton*>(u"CancelBtn"_s)->click(); });
        f.button("SpeedButton5")->click();
        QCOMPARE(f.scalar(u"select count(*) from items"_s), 4);
        QCOMPARE(f.main().selectedItemId(), f.ids[3]);
    }

    void editByDoubleClickReselectsTheItem() {
        Fixture f;
        f.main().ItemsLVColumnClick(1); // by floor
        f.selectId(f.ids[0]);
        QTableView* list = f.main().itemList();
        const QRect cell = list->visualRect(f.model().index(f.model().rowOfId(f.ids[0]), 1));
        onNextModal([](QWidget* card) {
            QCOMPARE(card->findChild<QLineEdit*>(u"EtazhEdit"_s)->text(), u"1"_s);
            confirmCard(card, u"8"_s);
        });
        doubleClick(list->viewport(), cell.center());
        QCOMPARE(f.scalar(u"select etazh from items where id=%1"_s.arg(f.ids[0])), 8);
        // Now last by floor, and still selected.
        QCOMPARE(f.model().rowOfId(f.ids[0]), 3);
        QCOMPARE(f.main().selectedItemId(), f.ids[0]);
    }

    void refreshShowsChangesMadeElsewhere() {
        Fixture f;
        f.cat.addItem({{u"grupa"_s, u"Обмен"_s}});
        QCOMPARE(f.model().rowCount(), 4);
        f.button("SpeedButton7")->click();
        QCOMPARE(f.model().rowCount(), 5);
        QCOMPARE(f.count(), u"Отобрано записей: 5"_s);
    }

    void layoutCommandSavesWidthsAndRebuildsOnOk() {
        Fixture f;
        f.main().ItemsLVColumnClick(2); // sorted by price
        QHeaderView* header = f.main().itemList()->horizontalHeader();
        header->resizeSection(1, 77);
        // Cancel: widths are written all the same, the columns stay.
        onNextModal([](QWidget* w) { w->findChild<QPushButton*>(u"CancelBtn"_s)->click(); });
        f.button("SpeedButton2")->click();
        QCOMPARE(IniFile(f.cat.path(u"fields.ini"_s)).readInteger(u"Width"_s, u"Field10"_s, 0), 77);
        QCOMPARE(f.model().columnCount(), 3);

        // OK with "Долг" ticked as well: four columns, sort state kept, no mark shown.
        onNextModal([](QWidget* w) {
            auto* list = w->findChild<QListWidget*>(u"CheckListBox1"_s);
            list->item(21)->setCheckState(Qt::Checked);
            w->findChild<QPushButton*>(u"OkBtn"_s)->click();
        });
        f.button("SpeedButton2")->click();
        QCOMPARE(f.model().columnCount(), 4);
        QCOMPARE(f.model().headerData(3, Qt::Horizontal).toString(), u"Долг"_s);
        QCOMPARE(header->sectionSize(0), 100);
        QCOMPARE(header->sectionSize(1), 77);
        QCOMPARE(f.main().sortColumn(), 2);
        auto* marks = qobject_cast<SortHeaderView*>(header);
        for (int i = 0; i < 4; ++i)
            QCOMPARE(marks->sortMark(i), SortHeaderView::Mark::None);
        QCOMPARE(f.model().cellText(0, 2), u"1000"_s);
    }

    void closingWritesSettingsAndWidths() {
        Fixture f;
        f.cat.writeFile(u"kvarta.ini"_s, "[DirectoryForm]\nDirLV_Width=260\n[Foreign]\nA=1\n");
        f.main().itemList()->horizontalHeader()->resizeSection(2, 133);
        f.main().close();
        const IniFile kvarta(f.cat.path(u"kvarta.ini"_s));
        QCOMPARE(kvarta.readString(u"MainForm"_s, u"State"_s, QString()), u"NORMAL"_s);
        QCOMPARE(kvarta.readInteger(u"MainForm"_s, u"Width"_s, 0), 700);
        QCOMPARE(kvarta.readInteger(u"MainForm"_s, u"Panel2"_s, 0), 185);
        QCOMPARE(kvarta.readInteger(u"DirectoryForm"_s, u"DirLV_Width"_s, 0), 260);
        QVERIFY(kvarta.hasKey(u"DirectoryForm"_s, u"DirLV_Column0"_s));
        QVERIFY(kvarta.hasKey(u"DirectoryForm"_s, u"DirItemsLV_Column0"_s));
        QCOMPARE(kvarta.readString(u"Foreign"_s, u"A"_s, QString()), u"1"_s);
        const QByteArray fields = f.cat.readFile(u"fields.ini"_s);
        // Three visible columns: exactly three keys in the width section.
        const qsizetype start = fields.indexOf("[Width]");
        QVERIFY2(start >= 0, fields.constData());
        const qsizetype end = fields.indexOf('[', start + 1);
        const QByteArray widths = fields.mid(start, end < 0 ? -1 : end - start);
        QCOMPARE(widths.count("Field"), 3);
        QCOMPARE(IniFile(f.cat.path(u"fields.ini"_s)).readInteger(u"Width"_s, u"Field20"_s, 0), 133);
    }

    void unwritableSettingsAreReportedAndWidthsStillSaved() {
        Fixture f;
        QVERIFY(QDir(f.cat.folder()).mkdir(u"kvarta.ini"_s)); // a folder where the file should be
        f.main().itemList()->horizontalHeader()->resizeSection(0, 140);
        DialogsTestSeam::queueAnswer(Dialogs::Answer::Ok);
        f.main().close();
        QCOMPARE(DialogsTestSeam::shown().size(), 1);
        QCOMPARE(DialogsTestSeam::last().kind, Dialogs::Kind::Stop);
        QCOMPARE(IniFile(f.cat.path(u"fields.ini"_s)).readInteger(u"Width"_s, u"Field1"_s, 0), 140);
    }
};

QTEST_MAIN(MainCommandsTest)
#include "MainCommandsTest.moc"
