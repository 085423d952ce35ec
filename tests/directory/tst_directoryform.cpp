#include "Dialogs.h"
#include "ListStyle.h"
#include "RowListModel.h"
#include "TDirectoryForm.h"
#include "TestSupport.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QToolButton>
#include <memory>

using namespace Qt::StringLiterals;
using Dialogs::Answer;

namespace {

struct Fixture {
    TempCatalogue catalogue;
    std::unique_ptr<TDirectoryForm> form = std::make_unique<TDirectoryForm>();

    Fixture() { DialogsTestSeam::clear(); }
    ~Fixture() {
        form.reset();
        DialogsTestSeam::clear();
    }

    QStringList listed() const {
        QStringList texts;
        const auto* model = form->entriesList()->model();
        for (int r = 0; r < model->rowCount(); ++r)
            texts << model->index(r, 0).data().toString();
        return texts;
    }
    QString title() const { return form->findChild<QLabel*>(u"ChapterLabel"_s)->text(); }
    QStringList stored(const QString& table) {
        QStringList texts;
        const int n = catalogue.scalar(u"select count(*) from "_s + table).toInt();
        for (int i = 0; i < n; ++i)
            texts << catalogue
                         .scalar(
                             u"select naimen from %1 order by naimen limit 1 offset %2"_s.arg(table).arg(i))
                         .toString();
        return texts;
    }
    void selectEntry(int row) {
        form->entriesList()->selectionModel()->select(form->entriesList()->model()->index(row, 0),
                                                      QItemSelectionModel::ClearAndSelect |
                                                          QItemSelectionModel::Rows);
    }
    void click(const char* name) { form->findChild<QAbstractButton*>(QLatin1StringView(name))->click(); }
};

} // namespace

class TestDirectoryForm : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void modelContract() {
        RowListModel model(u"Заголовок"_s, QIcon());
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.setRows({{u"a"_s, 1}, {u"b"_s, 2}, {u"c"_s, 3}});
        model.removeRowAt(1);
        model.removeRowAt(5);
        QCOMPARE(model.rowCount(), 2);
        QCOMPARE(model.index(1, 0).data().toString(), u"c"_s);
        QCOMPARE(model.index(1, 0).data(Qt::UserRole).toInt(), 3);
        QCOMPARE(model.headerData(0, Qt::Horizontal).toString(), u"Заголовок"_s);
    }

    void requestedDirectoryIsSelected_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("table");
        QTest::newRow("empty") << QString() << u"Группы"_s << u"grupy"_s;
        QTest::newRow("capitals") << u"KOMNATY"_s << u"Комнаты"_s << u"komnaty"_s;
        QTest::newRow("mixed") << u"Tipy_Stroenij"_s << u"Типы строений"_s << u"tipy_stroenij"_s;
    }
    void requestedDirectoryIsSelected() {
        QFETCH(QString, name);
        QFETCH(QString, title);
        QFETCH(QString, table);
        Fixture f;
        f.catalogue.addEntries(table, {u"Б"_s, u"А"_s, u"В"_s});
        f.catalogue.addEntries(u"rajony"_s, {u"Чужое"_s});
        f.form->FillDirectoryList(name);
        QCOMPARE(f.form->selectedTable(), table);
        QCOMPARE(f.title(), title);
        QCOMPARE(f.listed(), QStringList({u"А"_s, u"Б"_s, u"В"_s}));
        QVERIFY(!f.form->entriesList()->selectionModel()->hasSelection());
        QCOMPARE(f.form->dirList()->model()->rowCount(), 14);
    }

    // With no directory selected the title and entries stay, and add, rename, delete do nothing.
    void unknownNameSelectsNothing() {
        Fixture f;
        f.catalogue.addEntries(u"grupy"_s, {u"Эконом"_s});
        f.form->FillDirectoryList(u"grupy"_s);
        f.form->FillDirectoryList(u"nosuch"_s);
        QVERIFY(f.form->selectedTable().isEmpty());
        QVERIFY(!f.form->dirList()->selectionModel()->hasSelection());
        QCOMPARE(f.title(), u"Группы"_s);
        QCOMPARE(f.listed(), QStringList{u"Эконом"_s});

        f.selectEntry(0);
        DialogsTestSeam::queueAnswer(Answer::Yes);
        f.click("DelBtn");
        DialogsTestSeam::queueAnswer(Answer::Ok, u"Новое"_s);
        f.click("EditBtn");
        f.click("AddBtn");
        QVERIFY(DialogsTestSeam::shown().isEmpty());
        QCOMPARE(f.stored(u"grupy"_s), QStringList{u"Эконом"_s});
        QCOMPARE(f.listed(), QStringList{u"Эконом"_s});
    }

    void addStoresTextAsTyped() {
        Fixture f;
        f.form->FillDirectoryList(u"dveri"_s);
        // The real prompt, accepted as it comes.
        QString initial;
        onNextModal([&](QWidget* prompt) {
            initial = prompt->findChild<QLineEdit*>(u"PromptEdit"_s)->text();
            prompt->findChild<QPushButton*>(u"OkButton"_s)->click();
        });
        f.click("AddBtn");
        QCOMPARE(initial, u"Новая запись"_s);
        QCOMPARE(DialogsTestSeam::last().title, u"Новая запись"_s);
        QCOMPARE(DialogsTestSeam::last().text, u"Значение"_s);
        QCOMPARE(f.stored(u"dveri"_s), QStringList{u"Новая запись"_s});
        QCOMPARE(f.listed(), QStringList{u"Новая запись"_s});

        DialogsTestSeam::queueAnswer(Answer::Ok, u"  Железная \"сейф\" "_s);
        f.click("AddBtn");
        DialogsTestSeam::queueAnswer(Answer::Cancel);
        f.click("AddBtn");
        QCOMPARE(f.stored(u"dveri"_s), QStringList({u"  Железная \"сейф\" "_s, u"Новая запись"_s}));
        QCOMPARE(f.listed(), f.stored(u"dveri"_s));
    }

    void renameToSameTextRunsAndReloads() {
        Fixture f;
        f.catalogue.addEntries(u"komnaty"_s, {u"Две"_s});
        f.catalogue.exec(u"create table log (n integer)"_s);
        f.catalogue.exec(
            u"create trigger komnaty_upd after update on komnaty begin insert into log values (1); end"_s);
        f.form->FillDirectoryList(u"komnaty"_s);
        f.selectEntry(0);
        QString initial;
        onNextModal([&](QWidget* prompt) {
            initial = prompt->findChild<QLineEdit*>(u"PromptEdit"_s)->text();
            f.catalogue.addEntries(u"komnaty"_s, {u"Три"_s}); // shows up only if the list reloads
            prompt->findChild<QPushButton*>(u"OkButton"_s)->click();
        });
        f.click("EditBtn");
        QCOMPARE(initial, u"Две"_s);
        QCOMPARE(DialogsTestSeam::last().title, u"Правка записи"_s);
        QCOMPARE(f.catalogue.scalar(u"select count(*) from log"_s).toInt(), 1);
        QCOMPARE(f.listed(), QStringList({u"Две"_s, u"Три"_s}));
        QVERIFY(!f.form->entriesList()->selectionModel()->hasSelection());
    }

    void renameChangesEveryEqualEntryButNoItem() {
        Fixture f;
        f.catalogue.addEntries(u"grupy"_s, {u"Старое"_s, u"Другое"_s, u"Старое"_s});
        const int id = f.catalogue.addItem({{u"grupa"_s, u"Старое"_s}});
        f.form->FillDirectoryList(u"grupy"_s);
        f.selectEntry(1);
        DialogsTestSeam::queueAnswer(Answer::Ok, u"Новое"_s);
        // A double click on an entry renames it too.
        QTableView* list = f.form->entriesList();
        f.form->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.form.get()));
        const QPoint at = list->visualRect(list->model()->index(1, 0)).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
        f.form->hide();
        QCOMPARE(DialogsTestSeam::pendingAnswers(), 0);
        QCOMPARE(f.stored(u"grupy"_s), QStringList({u"Другое"_s, u"Новое"_s, u"Новое"_s}));
        QCOMPARE(f.catalogue.scalar(u"select grupa from items where id=?"_s, {id}).toString(), u"Старое"_s);
    }

    void deleteRemovesOnlySelectedRowFromList() {
        Fixture f;
        f.catalogue.addEntries(u"pechi"_s, {u"Дубль"_s, u"Дубль"_s, u"Другое"_s});
        f.form->FillDirectoryList(u"pechi"_s);
        f.selectEntry(2);
        DialogsTestSeam::queueAnswer(Answer::Yes);
        f.click("DelBtn");
        QCOMPARE(DialogsTestSeam::last().kind, Dialogs::Kind::Confirmation);
        QCOMPARE(DialogsTestSeam::last().text, u"Вы действительно хотите удалить запись \"Дубль\"?"_s);
        QCOMPARE(f.stored(u"pechi"_s), QStringList{u"Другое"_s});
        QCOMPARE(f.listed(), QStringList({u"Другое"_s, u"Дубль"_s}));
    }

    void deleteNeedsYes_data() {
        QTest::addColumn<int>("answer");
        QTest::newRow("no") << int(Answer::No);
        QTest::newRow("close box") << int(Answer::Closed);
    }
    void deleteNeedsYes() {
        QFETCH(int, answer);
        Fixture f;
        f.catalogue.addEntries(u"gazy"_s, {u"Есть"_s});
        f.form->FillDirectoryList(u"gazy"_s);
        f.selectEntry(0);
        DialogsTestSeam::queueAnswer(Answer(answer));
        f.click("DelBtn");
        QCOMPARE(f.stored(u"gazy"_s), QStringList{u"Есть"_s});
        QCOMPARE(f.listed(), QStringList{u"Есть"_s});
    }

    // The real confirmation answered Yes twice: the second press finds no entry selected.
    void secondDeleteFindsNothingSelected() {
        Fixture f;
        f.catalogue.addEntries(u"gazy"_s, {u"Баллон"_s, u"Есть"_s, u"Нет"_s});
        f.form->FillDirectoryList(u"gazy"_s);
        f.selectEntry(1);
        onNextModal([](QWidget* box) { QTest::keyClick(box, Qt::Key_Return); });
        f.click("DelBtn");
        QCOMPARE(f.stored(u"gazy"_s), QStringList({u"Баллон"_s, u"Нет"_s}));
        QVERIFY(f.form->entriesList()->selectionModel()->selectedRows().isEmpty());
        // No box appears now; an unexpected one would fail the test.
        f.click("DelBtn");
        QCOMPARE(f.stored(u"gazy"_s), QStringList({u"Баллон"_s, u"Нет"_s}));
        QCOMPARE(f.listed(), QStringList({u"Баллон"_s, u"Нет"_s}));
    }

    // Another copy of the program changed the entry in between: nothing matches, the operator is
    // told, and the list shows what the table holds now.
    void changeThatMatchesNoRowIsReported() {
        Fixture f;
        f.catalogue.addEntries(u"dveri"_s, {u"Дерево"_s, u"Металл"_s});
        f.form->FillDirectoryList(u"dveri"_s);
        f.catalogue.exec(u"update dveri set naimen = 'Сталь' where naimen = 'Металл'"_s);
        f.selectEntry(1);
        DialogsTestSeam::queueAnswer(Answer::Ok, u"Железо"_s);
        DialogsTestSeam::queueAnswer(Answer::Ok);
        f.click("EditBtn");
        QCOMPARE(DialogsTestSeam::last().kind, Dialogs::Kind::Information);
        QCOMPARE(DialogsTestSeam::last().text,
                 u"Запись \"Металл\" не найдена: её изменили или удалили в другой копии программы. "
                 u"Список записей обновлён."_s);
        QCOMPARE(f.listed(), QStringList({u"Дерево"_s, u"Сталь"_s}));
        QCOMPARE(f.stored(u"dveri"_s), QStringList({u"Дерево"_s, u"Сталь"_s}));

        f.catalogue.exec(u"delete from dveri where naimen = 'Дерево'"_s);
        f.selectEntry(0);
        DialogsTestSeam::clear();
        DialogsTestSeam::queueAnswer(Answer::Yes);
        DialogsTestSeam::queueAnswer(Answer::Ok);
        f.click("DelBtn");
        QCOMPARE(DialogsTestSeam::shown().size(), 2);
        QCOMPARE(DialogsTestSeam::last().kind, Dialogs::Kind::Information);
        QVERIFY(DialogsTestSeam::last().text.startsWith(u"Запись \"Дерево\" не найдена"_s));
        QCOMPARE(f.listed(), QStringList{u"Сталь"_s});
    }

    void escInRealConfirmationKeepsEntry() {
        Fixture f;
        f.catalogue.addEntries(u"gazy"_s, {u"Есть"_s});
        f.form->FillDirectoryList(u"gazy"_s);
        f.selectEntry(0);
        onNextModal([](QWidget* box) { QTest::keyClick(box, Qt::Key_Escape); });
        f.click("DelBtn");
        QCOMPARE(f.stored(u"gazy"_s), QStringList{u"Есть"_s});
    }

    // A statement the database refuses is reported; the list keeps what it showed.
    void refusedStatementsLeaveListAlone() {
        Fixture f;
        f.catalogue.addEntries(u"voda"_s, {u"Есть"_s});
        f.catalogue.exec(
            u"create trigger no_ins before insert on voda begin select raise(abort, 'нельзя'); end"_s);
        f.catalogue.exec(
            u"create trigger no_del before delete on voda begin select raise(abort, 'нельзя'); end"_s);
        f.form->FillDirectoryList(u"voda"_s);
        f.selectEntry(0);
        DialogsTestSeam::queueAnswer(Answer::Ok, u"Новая"_s);
        DialogsTestSeam::queueAnswer(Answer::Ok); // the error report
        f.click("AddBtn");
        QCOMPARE(DialogsTestSeam::last().kind, Dialogs::Kind::Stop);
        QCOMPARE(DialogsTestSeam::last().text, u"нельзя."_s);
        QVERIFY(f.form->entriesList()->selectionModel()->hasSelection()); // not reloaded
        DialogsTestSeam::queueAnswer(Answer::Yes);
        DialogsTestSeam::queueAnswer(Answer::Ok);
        f.click("DelBtn");
        QCOMPARE(DialogsTestSeam::last().kind, Dialogs::Kind::Stop);
        QCOMPARE(f.listed(), QStringList{u"Есть"_s});
        QCOMPARE(f.stored(u"voda"_s), QStringList{u"Есть"_s});
    }

    void rowsAreStriped() {
        Fixture f;
        f.catalogue.addEntries(u"grupy"_s, {u"1"_s, u"2"_s, u"3"_s});
        f.form->FillDirectoryList(QString());
        for (QTableView* view : {f.form->entriesList(), f.form->dirList()}) {
            const auto* model = view->model();
            QCOMPARE(model->index(0, 0).data(Qt::BackgroundRole).value<QBrush>().color(), QColor(Qt::white));
            QCOMPARE(model->index(1, 0).data(Qt::BackgroundRole).value<QBrush>().color(),
                     ListStyle::light3DColor());
            QCOMPARE(model->index(2, 0).data(Qt::BackgroundRole).value<QBrush>().color(), QColor(Qt::white));
        }
    }

    void keyReleaseInDirectoryListReloads() {
        Fixture f;
        f.catalogue.addEntries(u"rajony"_s, {u"Центр"_s});
        f.form->FillDirectoryList(QString());
        f.form->show();
        f.form->dirList()->setFocus();
        QTest::keyClick(f.form->dirList(), Qt::Key_Down);
        QCOMPARE(f.form->selectedTable(), u"rajony"_s);
        QCOMPARE(f.title(), u"Районы"_s);
        QCOMPARE(f.listed(), QStringList{u"Центр"_s});
        f.form->hide();
    }

    void closingKeysAndButtons_data() {
        QTest::addColumn<int>("how");
        QTest::addColumn<bool>("result");
        QTest::newRow("Ctrl+Enter") << 0 << true;
        QTest::newRow("Esc") << 1 << false;
        QTest::newRow("OK") << 2 << true;
        QTest::newRow("Cancel") << 3 << false;
    }
    void closingKeysAndButtons() {
        QFETCH(int, how);
        QFETCH(bool, result);
        Fixture f;
        QWidget* focused = nullptr;
        onNextModal([&](QWidget* window) {
            QVERIFY(QTest::qWaitForWindowActive(window));
            focused = QApplication::focusWidget();
            if (how == 0)
                QTest::keyClick(focused, Qt::Key_Return, Qt::ControlModifier);
            else if (how == 1)
                QTest::keyClick(focused, Qt::Key_Escape);
            else
                window->findChild<QPushButton*>(how == 2 ? u"OkBtn"_s : u"CancelBtn"_s)->click();
        });
        QCOMPARE(f.form->OpenOnTable(u"voda"_s), result);
        QCOMPARE(focused, f.form->dirList());
        QVERIFY(!f.form->isVisible());
    }

    void layoutAsDesigned() {
        Fixture f;
        QCOMPARE(f.form->windowTitle(), u"Справочники"_s);
        QCOMPARE(f.form->size(), QSize(700, 500));
        QCOMPARE(f.form->pos(), QPoint(50, 50));
        QCOMPARE(f.form->dirListWidth(), 209);
        f.catalogue.addEntries(u"grupy"_s, {u"1"_s});
        f.form->FillDirectoryList(QString());
        f.form->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.form.get()));
        QCOMPARE(f.form->dirList()->width(), 209);
        QCOMPARE(f.form->dirList()->horizontalHeader()->sectionSize(0), 160);
        QCOMPARE(f.form->entriesList()->horizontalHeader()->sectionSize(0), 160);
        QCOMPARE(f.form->dirList()->model()->headerData(0, Qt::Horizontal).toString(),
                 u"Название справочника"_s);
        QCOMPARE(f.form->entriesList()->model()->headerData(0, Qt::Horizontal).toString(),
                 u"Значение записи"_s);
        // Widths set by the settings survive a reload.
        f.form->entriesList()->horizontalHeader()->resizeSection(0, 230);
        f.form->setDirListWidth(250);
        f.form->FillDirectoryList(QString());
        QCOMPARE(f.form->entriesList()->horizontalHeader()->sectionSize(0), 230);
        QCOMPARE(f.form->dirList()->width(), 250);
        QCOMPARE(f.form->dirListWidth(), 250);
        f.form->hide();
    }
};

QTEST_MAIN(TestDirectoryForm)
#include "tst_directoryform.moc"
