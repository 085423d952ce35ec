// Another copy of the program holds the catalogue file while the operator saves: the window keeps
// answering, the wait window shows after half a second, and its "Отмена" abandons the save (nothing
// written, the card still holding what was typed) while the other copy letting go lets it finish.
#include "WaitWindow.h"
#include "DBNavigator.h"
#include "Database.h"
#include "Dialogs.h"
#include "ItemListModel.h"
#include "Program.h"
#include "RoomsEditor.h"
#include "RoomsModel.h"
#include "TKvartaEditForm.h"
#include "TMainForm.h"
#include "TestSupport.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QToolButton>

#include <functional>

using namespace Qt::StringLiterals;

namespace {

const QString Abandoned = u"Ожидание отменено: изменения не сохранены."_s;

struct Fixture {
    TempCatalogue cat;
    Program program;
    QList<int> ids;
    // Another copy of the program in the middle of a write: a process of its own that holds the
    // file's write lock (exclusive: readers are kept out too) until a line arrives.
    QProcess other;

    Fixture() {
        cat.addEntries(u"grupy"_s, {u"Продажа"_s});
        for (int i = 0; i < 3; ++i)
            ids.append(cat.addItem({{u"grupa"_s, u"Продажа"_s},
                                    {u"etazh"_s, 1},
                                    {u"etazhnost"_s, 9},
                                    {u"obsh_plosh"_s, 40.0},
                                    {u"stoim"_s, 0},
                                    {u"dolg"_s, 0}}));
        cat.writeFile(u"fields.ini"_s, "[Checked]\nField1=1\nField10=1\n");
        DialogsTestSeam::clear();
    }
    ~Fixture() {
        release();
        other.waitForFinished();
    }
    void start() {
        if (!program.start())
            qFatal("the program did not start");
    }
    TMainForm& main() { return *program.mainForm(); }
    void hold(const QString& mode = u"immediate"_s) {
        other.start(QString::fromUtf8(DRILL_CHILD), {u"hold"_s, cat.databasePath(), mode});
        while (!other.readAllStandardOutput().contains("held"))
            QVERIFY(other.waitForReadyRead(10'000));
    }
    void release() { other.write("go\n"); }
    int count(const QString& sql) { return cat.scalar(sql).toInt(); }
};

// Answers the wait window once it shows: "Отмена" (and then the error report), or the other copy
// lets go.
void answerWait(Fixture& f, bool cancel) {
    if (cancel)
        DialogsTestSeam::queueAnswer(Dialogs::Answer::Ok);
    onModalNamed(u"WaitWindow"_s, [&f, cancel](QWidget* w) {
        if (cancel)
            QTest::mouseClick(w->findChild<QPushButton*>(u"WaitCancelBtn"_s), Qt::LeftButton);
        else
            f.release();
    });
}

// The texts of the error reports shown.
QStringList reports() {
    QStringList texts;
    for (const DialogsTestSeam::Shown& box : DialogsTestSeam::shown())
        if (box.kind == Dialogs::Kind::Stop)
            texts << box.text;
    return texts;
}

using Write = std::function<void(Fixture&, bool cancel)>;

// The card's OK on the first item, with a floor typed; after "Отмена" the card is still open with it.
void cardOk(Fixture& f, bool cancel) {
    onNextModal([&f, cancel](QWidget* card) {
        card->findChild<QLineEdit*>(u"EtazhEdit"_s)->setText(u"5"_s);
        answerWait(f, cancel);
        card->findChild<QPushButton*>(u"OkBtn"_s)->click();
        QCOMPARE(card->isVisible(), cancel);
        QCOMPARE(card->findChild<QLineEdit*>(u"EtazhEdit"_s)->text(), u"5"_s);
        if (card->isVisible())
            card->findChild<QPushButton*>(u"CancelBtn"_s)->click();
    });
    f.main().itemList()->selectRow(f.main().itemModel()->rowOfId(f.ids[0]));
    f.main().findChild<QToolButton*>(u"SpeedButton4"_s)->click();
}

void deleteFromList(Fixture& f, bool cancel) {
    f.main().itemList()->selectRow(f.main().itemModel()->rowOfId(f.ids[1]));
    DialogsTestSeam::queueAnswer(Dialogs::Answer::Yes);
    answerWait(f, cancel);
    f.main().findChild<QToolButton*>(u"SpeedButton6"_s)->click();
}

void directoryEntry(Fixture& f, bool cancel) {
    onNextModal([&f, cancel](QWidget* directory) {
        DialogsTestSeam::queueAnswer(Dialogs::Answer::Ok, u"Обмен"_s);
        answerWait(f, cancel);
        directory->findChild<QToolButton*>(u"AddBtn"_s)->click();
        static_cast<QDialog*>(directory)->reject();
    });
    f.main().findChild<QToolButton*>(u"SpeedButton3"_s)->click();
}

// A room of the second item, posted from the card's page "Цифры".
void roomPost(Fixture& f, bool cancel) {
    onNextModal([&f, cancel](QWidget*) {
        RoomsEditor* rooms = f.program.editForm()->rooms();
        RoomsModel* model = rooms->model();
        model->insertRoom(0);
        model->setData(model->index(0, model->nameColumn()), u"Кухня"_s);
        model->setData(model->index(0, model->areaColumn()), u"9"_s);
        answerWait(f, cancel);
        rooms->runCommand(DBNavigator::Post);
        f.program.editForm()->reject();
    });
    f.main().itemList()->selectRow(f.main().itemModel()->rowOfId(f.ids[2]));
    f.main().findChild<QToolButton*>(u"SpeedButton4"_s)->click();
}

} // namespace

Q_DECLARE_METATYPE(Write)

class WaitWindowTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cleanup() { DialogsTestSeam::clear(); }

    void writeWaitsForTheOtherCopy_data() {
        QTest::addColumn<Write>("write");
        QTest::addColumn<bool>("cancel");
        QTest::addColumn<QString>("stored"); // a count that the write makes 1, or 0 for a delete
        QTest::addColumn<int>("written");
        const auto rows = [](const char* name, Write write, const QString& stored, int written) {
            QTest::addRow("%s, let go", name) << write << false << stored << written;
            QTest::addRow("%s, Отмена", name) << write << true << stored << 1 - written;
        };
        rows("card OK", cardOk, u"select count(*) from items where etazh = 5"_s, 1);
        // The second item of three, whose row is gone once deleted.
        rows("delete from the list", deleteFromList, u"select count(*) from items where id = 2"_s, 0);
        rows("directory entry", directoryEntry, u"select count(*) from grupy where naimen = 'Обмен'"_s, 1);
        rows("room", roomPost, u"select count(*) from rooms where RoomName = 'Кухня'"_s, 1);
    }

    void writeWaitsForTheOtherCopy() {
        QFETCH(Write, write);
        QFETCH(bool, cancel);
        QFETCH(QString, stored);
        QFETCH(int, written);
        Fixture f;
        f.start();
        QVERIFY(QTest::qWaitForWindowExposed(&f.main()));
        f.hold();
        QElapsedTimer clock;
        clock.start();
        write(f, cancel);
        QVERIFY(clock.elapsed() >= OperationWait::WindowAfterMs);
        QCOMPARE(OperationWait::window(), nullptr);
        f.release();
        f.other.waitForFinished();
        QCOMPARE(f.count(stored), written);
        QCOMPARE(reports(), cancel ? QStringList{Abandoned} : QStringList());
    }

    // At start-up the other copy keeps even readers out: the wait window shows before any other
    // window; let go, the program starts with its list; abandoned, it ends after saying so.
    void startUpWaitsForTheOtherCopy_data() {
        QTest::addColumn<bool>("cancel");
        QTest::newRow("let go") << false;
        QTest::newRow("Отмена") << true;
    }

    void startUpWaitsForTheOtherCopy() {
        QFETCH(bool, cancel);
        Fixture f;
        f.hold(u"exclusive"_s);
        answerWait(f, cancel);
        QCOMPARE(f.program.start(), !cancel);
        if (cancel) {
            QCOMPARE(reports(), QStringList{u"Ожидание отменено: данные не прочитаны."_s});
            return;
        }
        QVERIFY(f.main().isVisible());
        QCOMPARE(f.main().itemModel()->rowCount(), 3);
    }
};

QTEST_MAIN(WaitWindowTest)
#include "WaitWindowTest.moc"
