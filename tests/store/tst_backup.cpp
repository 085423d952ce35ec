#include "AppPaths.h"
#include "CatalogueBackup.h"
#include "Database.h"
#include "RawConnection.h"
#include "TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTest>

#include <atomic>
#include <thread>

using namespace Qt::StringLiterals;

namespace {

const QDate Day(2024, 5, 1);

// A catalogue of a few hundred pages: items, their rooms and one large slide.
void fill(TempCatalogue& catalogue, int items) {
    catalogue.exec(u"begin"_s);
    for (int i = 0; i < items; ++i) {
        catalogue.exec(u"insert into items (grupa, osob) values ('Продажа', ?)"_s,
                       {u"особенности %1 "_s.arg(i).repeated(20)});
        catalogue.exec(
            u"insert into rooms (Items_ID, RoomName, P) values (last_insert_rowid(), 'Кухня', 8)"_s);
    }
    catalogue.exec(u"insert into slides (parent_id, ext, picture) values (1, '.jpg', ?)"_s,
                   {QByteArray(400'000, '\x3c')});
    catalogue.exec(u"commit"_s);
}

QStringList folderEntries(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

// Runs one copy and waits for its signal; the report of a finished copy, or the failure text.
struct Outcome {
    BackupReport report;
    QString failure;
};
Outcome runCopy(CatalogueBackup& backup, const QString& source, const QString& folder, int keep = 7) {
    QSignalSpy finished(&backup, &CatalogueBackup::backupFinished);
    QSignalSpy failed(&backup, &CatalogueBackup::backupFailed);
    Outcome outcome;
    if (!backup.start(source, folder, keep, Day)) {
        outcome.failure = u"(not started)"_s;
        return outcome;
    }
    // The caller goes on at once; the outcome comes through its event loop.
    if (!QTest::qWaitFor([&] { return !finished.isEmpty() || !failed.isEmpty(); }, 120'000)) {
        outcome.failure = u"(no signal)"_s;
        return outcome;
    }
    if (!finished.isEmpty())
        outcome.report = finished.first().first().value<BackupReport>();
    else
        outcome.failure = failed.first().first().toString();
    return outcome;
}

QStringList tableRows(const QString& path) {
    RawConnection c(path);
    QStringList rows = c.rows(u"select * from items order by id"_s);
    rows << c.rows(u"select * from rooms order by id"_s);
    rows << c.rows(u"select id, parent_id, ext, length(picture), hex(substr(picture, 1, 8)) from slides"_s);
    return rows;
}

} // namespace

class TestBackup : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void namesAndTheDailyRule() {
        TempCatalogue catalogue;
        QCOMPARE(CatalogueBackup::fileName(Day), u"db 2024-05-01.MyDB"_s);
        QCOMPARE(CatalogueBackup::defaultFolder(), catalogue.folder() + u"Backups/"_s);
        const QString folder = CatalogueBackup::defaultFolder();
        QVERIFY(CatalogueBackup::isDue(folder, Day)); // no folder yet
        QVERIFY(QDir().mkpath(folder));
        catalogue.writeFile(u"Backups/db 2024-05-01.MyDB"_s, "x");
        QVERIFY(!CatalogueBackup::isDue(folder, Day));
        QVERIFY(CatalogueBackup::isDue(folder, Day.addDays(1)));
        // A copy exists for today: the first start of the day has already taken it.
        CatalogueBackup backup;
        QVERIFY(!backup.startIfDue(catalogue.databasePath(), folder, 7, Day));
        QVERIFY(!backup.isRunning());
        QCOMPARE(catalogue.readFile(u"Backups/db 2024-05-01.MyDB"_s), QByteArray("x"));
    }

    void copyIsWholeAndLeavesTheCatalogueAlone() {
        TempCatalogue catalogue;
        fill(catalogue, 200);
        const QString source = catalogue.databasePath();
        const QByteArray sourceBytes = catalogue.readFile(u"db.MyDB"_s);
        const QDateTime sourceTime = QFileInfo(source).lastModified();
        const QString folder = CatalogueBackup::defaultFolder();

        CatalogueBackup backup;
        backup.setStepPages(16);
        backup.setPauseMs(1);
        const Outcome outcome = runCopy(backup, source, folder);
        QCOMPARE(outcome.failure, QString());
        QCOMPARE(outcome.report.path, folder + u"db 2024-05-01.MyDB"_s);
        QVERIFY(outcome.report.steps > 1); // in steps, not at once
        QCOMPARE(outcome.report.restarts, 0);
        QVERIFY(!outcome.report.oneStep);
        QVERIFY(!backup.isRunning());
        QCOMPARE(folderEntries(folder), QStringList{u"db 2024-05-01.MyDB"_s});

        RawConnection copy(outcome.report.path, 0, SQLITE_OPEN_READONLY);
        QCOMPARE(copy.scalar(u"pragma integrity_check"_s), u"ok"_s);
        QCOMPARE(tableRows(outcome.report.path), tableRows(source));
        QCOMPARE(copy.scalar(u"select count(*) from items"_s), u"200"_s);
        QCOMPARE(catalogue.readFile(u"db.MyDB"_s), sourceBytes);
        QCOMPARE(QFileInfo(source).lastModified(), sourceTime);
        // The program's connection goes on as before.
        catalogue.exec(u"insert into grupy values ('после копии')"_s);
    }

    void keepsTheNewestCopiesOnly() {
        TempCatalogue catalogue;
        const QString folder = CatalogueBackup::defaultFolder();
        QVERIFY(QDir().mkpath(folder));
        const QStringList others = {u"db 2024-04-28.MyDB.bak"_s,
                                    u"notes.txt"_s,
                                    u"db.MyDB"_s,
                                    u"db 2024-13-01.MyDB"_s,
                                    u"db 2024-05-01.MyDB.cafe0001.part"_s,
                                    u"db 2099-01-15.MyDB"_s}; // a wrong clock: neither counted nor removed
        // Partial files of copies that died go, however fresh; the one another copy of the program
        // is writing now (it holds its lock) stays.
        for (const QString& name :
             others + QStringList{u"db 2024-04-27.MyDB"_s, u"db 2024-04-29.MyDB"_s, u"db 2024-04-30.MyDB"_s,
                                  u"db 2023-12-31.MyDB"_s, u"db 2024-04-01.MyDB.1234abcd.part"_s,
                                  u"db 2024-04-30.MyDB.0badf00d.part"_s})
            catalogue.writeFile(u"Backups/"_s + name, name.toUtf8());
        QVERIFY(QFile::remove(folder + u"db 2024-05-01.MyDB.cafe0001.part"_s));
        RawConnection writing(folder + u"db 2024-05-01.MyDB.cafe0001.part"_s, 0,
                              SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
        QCOMPARE(writing.exec(u"pragma journal_mode=off; begin exclusive; create table t (x)"_s), QString());

        CatalogueBackup backup;
        const Outcome outcome = runCopy(backup, catalogue.databasePath(), folder, 3);
        QCOMPARE(outcome.failure, QString());
        QStringList expected = others;
        expected << u"db 2024-04-29.MyDB"_s << u"db 2024-04-30.MyDB"_s << u"db 2024-05-01.MyDB"_s;
        expected.sort();
        QCOMPARE(folderEntries(folder), expected);
        QCOMPARE(catalogue.readFile(u"Backups/db.MyDB"_s), QByteArray("db.MyDB"));

        QCOMPARE(CatalogueBackup::prune(folder, 1, Day),
                 (QStringList{u"db 2024-04-30.MyDB"_s, u"db 2024-04-29.MyDB"_s}));
    }

    void noCopiesWhenNoneAreKept() {
        TempCatalogue catalogue;
        const QString folder = CatalogueBackup::defaultFolder();
        CatalogueBackup backup;
        QSignalSpy finished(&backup, &CatalogueBackup::backupFinished);
        QVERIFY(!backup.start(catalogue.databasePath(), folder, 0, Day));
        QVERIFY(!backup.startIfDue(catalogue.databasePath(), folder, 0, Day));
        QVERIFY(!backup.isRunning());
        QVERIFY(!QFileInfo::exists(folder));
        QTest::qWait(50);
        QCOMPARE(finished.size(), 0);
    }

    void failuresComeAsASignal() {
        TempCatalogue catalogue;
        CatalogueBackup backup;
        // The folder's place is taken by a file.
        catalogue.writeFile(u"Backups"_s, "not a folder");
        Outcome outcome = runCopy(backup, catalogue.databasePath(), catalogue.path(u"Backups"_s));
        QCOMPARE(outcome.failure,
                 u"Не удалось сделать резервную копию базы данных: не удалось создать папку "_s +
                     catalogue.path(u"Backups"_s));
        outcome = runCopy(backup, catalogue.path(u"nosuch.MyDB"_s), catalogue.path(u"Copies"_s));
        QCOMPARE(outcome.failure, u"Не удалось сделать резервную копию базы данных: нет файла "_s +
                                      catalogue.path(u"nosuch.MyDB"_s));
        QVERIFY(!QFileInfo::exists(catalogue.path(u"nosuch.MyDB"_s)));
        // A file that is no database leaves no copy behind.
        catalogue.writeFile(u"junk.MyDB"_s, QByteArray(8192, 'j'));
        outcome = runCopy(backup, catalogue.path(u"junk.MyDB"_s), catalogue.path(u"Copies"_s));
        QCOMPARE(outcome.failure,
                 u"Не удалось сделать резервную копию базы данных: file is not a database"_s);
        QCOMPARE(folderEntries(catalogue.path(u"Copies"_s)), QStringList());
    }

    // Another connection keeps writing while the copy is taken: transactions of seven items and
    // seven rooms each, so a copy that mixed two moments would break the pattern.
    void copyWhileAnotherConnectionWrites() {
        TempCatalogue catalogue;
        fill(catalogue, 300);
        const QString source = catalogue.databasePath();
        std::atomic_bool stop = false;
        std::atomic_int committed = 0;
        std::thread writer([&] {
            RawConnection other(source, 60'000);
            while (!stop) {
                QString sql = u"begin immediate;"_s;
                for (int i = 0; i < 7; ++i)
                    sql +=
                        u"insert into items (grupa) values ('новый');"
                        u"insert into rooms (Items_ID, RoomName, P) values (last_insert_rowid(), 'Зал', 20);"_s;
                if (!other.exec(sql + u"commit;"_s).isEmpty())
                    break;
                ++committed;
            }
        });
        CatalogueBackup backup;
        backup.setStepPages(4);
        backup.setPauseMs(2);
        const Outcome outcome = runCopy(backup, source, CatalogueBackup::defaultFolder());
        stop = true;
        writer.join();
        QCOMPARE(outcome.failure, QString());
        QVERIFY(committed > 0);

        RawConnection copy(outcome.report.path, 0, SQLITE_OPEN_READONLY);
        QCOMPARE(copy.scalar(u"pragma integrity_check"_s), u"ok"_s);
        const int items = copy.scalar(u"select count(*) from items"_s).toInt();
        QCOMPARE((items - 300) % 7, 0);
        QVERIFY(items >= 300 && items <= 300 + 7 * committed);
        QCOMPARE(copy.scalar(u"select count(*) from rooms"_s).toInt(), items);
        QCOMPARE(copy.scalar(u"select count(*) from items where id not in (select Items_ID from rooms)"_s),
                 u"0"_s);
        qInfo("copy taken in %d steps with %d restarts%s while %d transactions were written",
              outcome.report.steps, outcome.report.restarts,
              outcome.report.oneStep ? " (the rest in one go)" : "", int(committed));
    }

    // Each step is followed by a change: the copy restarts every time, and after the fourth
    // restart the rest is taken in one go while the catalogue is held still.
    void changesUnderTheCopyEndInOneStep() {
        TempCatalogue catalogue;
        fill(catalogue, 300);
        const QString source = catalogue.databasePath();
        const QString folder = CatalogueBackup::defaultFolder();
        RawConnection other(source, 60'000);
        QStringList entriesDuringTheCopy;
        int changes = 0;
        CatalogueBackup backup;
        backup.setStepPages(1);
        backup.setPauseMs(0);
        backup.setMaxRestarts(3);
        backup.setStepHook([&](int step) {
            if (step == 1)
                entriesDuringTheCopy = folderEntries(folder);
            other.exec(u"insert into items (grupa) values ('во время копии')"_s);
            ++changes;
        });
        const Outcome outcome = runCopy(backup, source, folder);
        QCOMPARE(outcome.failure, QString());
        QCOMPARE(outcome.report.restarts, 4);
        QVERIFY(outcome.report.oneStep);
        QCOMPARE(changes, 4);
        // One page a step: after the five steps with changes, all pages but one.
        QCOMPARE(outcome.report.steps, 5 + RawConnection(source).scalar(u"pragma page_count"_s).toInt() - 1);
        // Only a partial file while the copy ran; the final name came with the last step.
        QCOMPARE(entriesDuringTheCopy.size(), 1);
        QVERIFY2(entriesDuringTheCopy.first().startsWith(u"db 2024-05-01.MyDB."_s) &&
                     entriesDuringTheCopy.first().endsWith(u".part"_s),
                 qPrintable(entriesDuringTheCopy.first()));
        RawConnection copy(outcome.report.path, 0, SQLITE_OPEN_READONLY);
        QCOMPARE(copy.scalar(u"pragma integrity_check"_s), u"ok"_s);
        QCOMPARE(copy.scalar(u"select count(*) from items"_s), u"304"_s);
    }

    void closingStopsACopyInProgress() {
        TempCatalogue catalogue;
        fill(catalogue, 300);
        const QString folder = CatalogueBackup::defaultFolder();
        std::atomic_bool reached = false;
        auto backup = std::make_unique<CatalogueBackup>();
        QSignalSpy finished(backup.get(), &CatalogueBackup::backupFinished);
        backup->setStepPages(1);
        backup->setPauseMs(10'000);
        backup->setStepHook([&](int step) {
            if (step == 1)
                reached = true;
        });
        QVERIFY(backup->start(catalogue.databasePath(), folder, 7, Day));
        QVERIFY(backup->isRunning());
        QVERIFY(QTest::qWaitFor([&] { return bool(reached); }, 60'000));
        backup.reset();
        QCOMPARE(folderEntries(folder), QStringList());
        QCOMPARE(finished.size(), 0);
    }
};

QTEST_MAIN(TestBackup)
#include "tst_backup.moc"
