#include "Database.h"
#include "Dialogs.h"
#include "ItemListModel.h"
#include "Program.h"
#include "StatusPanels.h"
#include "TMainForm.h"
#include "TestSupport.h"

#include <QAccessible>
#include <QDate>
#include <QDir>
#include <QEvent>
#include <QLabel>
#include <QProcess>
#include <QScopeGuard>
#include <QTableView>
#include <QTest>
#include <QToolButton>
#include <sqlite3.h>
#include <thread>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

struct Fixture {
    TempCatalogue cat;
    Program program;
    QList<int> ids;

    // With `started` false the program is left for start().
    explicit Fixture(const QByteArray& settings = QByteArray(), bool started = true) {
        for (int i = 0; i < 3; ++i)
            ids.append(cat.addItem({{u"grupa"_s, u"Продажа"_s}, {u"etazh"_s, i + 1}}));
        cat.writeFile(u"fields.ini"_s, "[Checked]\nField1=1\nField10=1\n");
        if (!settings.isEmpty())
            cat.writeFile(u"kvarta.ini"_s, settings);
        if (started)
            start();
    }
    void start() {
        DialogsTestSeam::clear();
        if (!program.start())
            qFatal("the program did not start");
    }
    TMainForm& main() { return *program.mainForm(); }
    StatusPanels& bar() { return *main().statusBar(); }
};

} // namespace

class SafetyWindowTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Another copy holds the write lock for a while: the delete waits for it with the wait window up
    // and goes through once the other copy lets go.
    void waitingForAnotherCopyShowsTheWaitWindow() {
        Fixture f;
        QVERIFY(QTest::qWaitForWindowExposed(&f.main()));
        sqlite3* other = nullptr;
        QCOMPARE(sqlite3_open(f.cat.databasePath().toUtf8().constData(), &other), SQLITE_OK);
        QCOMPARE(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
        QString shown;
        onModalNamed(u"WaitWindow"_s, [&](QWidget* w) {
            shown = w->findChild<QLabel*>(u"WaitLabel"_s)->text();
            sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
        });
        f.main().itemList()->selectRow(f.main().itemModel()->rowOfId(f.ids[1]));
        DialogsTestSeam::queueAnswer(Dialogs::Answer::Yes);
        f.main().findChild<QToolButton*>(u"SpeedButton6"_s)->click();
        sqlite3_close(other);
        QCOMPARE(shown, u"Другая копия программы записывает в базу данных. Ожидание… 1 с"_s);
        QCOMPARE(f.cat.scalar(u"select count(*) from items"_s).toInt(), 2);
        QCOMPARE(DialogsTestSeam::shown().size(), 1); // the question only: no error
    }

    // The note is readable by assistive technology as the child after the panels.
    void noteIsReadableThroughAccessibility() {
        Fixture f;
        f.bar().setNote(u"Файл базы данных доступен только для чтения: изменения не будут сохранены."_s);
        QAccessibleInterface* bar = QAccessible::queryAccessibleInterface(&f.bar());
        QCOMPARE(bar->childCount(), 5);
        QCOMPARE(bar->child(3)->text(QAccessible::Name),
                 u"Файл базы данных доступен только для чтения: изменения не будут сохранены."_s);
        QCOMPARE(bar->child(3)->role(), QAccessible::StaticText);
        QVERIFY(!bar->child(3)->state().invisible);
    }

    // The day's first start copies the catalogue into Backups; a later start the same day does not.
    void firstStartOfTheDayTakesABackup() {
        Fixture f;
        const QString backup = f.cat.path(u"Backups/db "_s + QDate::currentDate().toString(u"yyyy-MM-dd"_s) + u".MyDB"_s);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(backup), 20000);
        QTRY_COMPARE(f.bar().note(), u"Резервная копия сохранена: "_s + QFileInfo(backup).fileName());
        QCOMPARE(f.bar().noteKind(), StatusPanels::NoteKind::Information); // not painted as a problem
        sqlite3* copy = nullptr;
        QCOMPARE(sqlite3_open_v2(backup.toUtf8().constData(), &copy, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
        sqlite3_stmt* s = nullptr;
        sqlite3_prepare_v2(copy, "select count(*) from items", -1, &s, nullptr);
        QCOMPARE(sqlite3_step(s), SQLITE_ROW);
        QCOMPARE(sqlite3_column_int(s, 0), 3);
        sqlite3_finalize(s);
        sqlite3_close(copy);
        QCOMPARE(QDir(f.cat.path(u"Backups"_s)).entryList(QDir::Files), QStringList{QFileInfo(backup).fileName()});
    }

    // A read-only folder: the backup fails too, and its note comes after the read-only one.
    void readOnlyFolderAndAFailedBackup() {
        Fixture f(QByteArray(), false);
        // Permission bits do not bind the superuser; the immutable attribute does.
        const QString folder = f.cat.folder();
        const bool superuser = ::geteuid() == 0;
        if (superuser ? QProcess::execute(u"chattr"_s, {u"+i"_s, folder}) != 0
                      : !QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner))
            QSKIP("the folder cannot be made read-only here (chattr +i wants e2fsprogs, an ext file system)");
        const auto writable = qScopeGuard([&] {
            if (superuser)
                QProcess::execute(u"chattr"_s, {u"-i"_s, folder});
            else
                QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        });
        f.start();
        QTRY_COMPARE_WITH_TIMEOUT(
            f.bar().note(),
            u"Папка с файлом базы данных недоступна для записи: изменения не будут сохранены.\n"
            u"Не удалось сделать резервную копию базы данных: не удалось создать папку "_s +
                f.cat.folder() + u"Backups/"_s,
            20000);
        QCOMPARE(f.bar().noteKind(), StatusPanels::NoteKind::Problem);
    }

    void noBackupsWhenTurnedOff() {
        Fixture f("[Backup]\r\nKeep=0\r\n");
        QTest::qWait(300);
        QVERIFY(!QFileInfo::exists(f.cat.path(u"Backups"_s)));
        QCOMPARE(f.bar().note(), QString());
    }
};

QTEST_MAIN(SafetyWindowTest)
#include "SafetyWindowTest.moc"
