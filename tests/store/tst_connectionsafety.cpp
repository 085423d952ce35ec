#include "AppError.h"
#include "Database.h"
#include "ItemListReader.h"
#include "ItemRowStore.h"
#include "ItemStore.h"
#include "PasswordStore.h"
#include "RawConnection.h"
#include "TestSupport.h"

#include <QFile>
#include <QTest>
#include <QThread>

#include <atomic>
#include <future>
#include <thread>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

const QString LockedText =
    u"База данных слишком долго занята другой копией программы: действие не выполнено (database is locked)"_s;
const QString ReadOnlyText =
    u"Файл базы данных доступен только для чтения: изменения не сохранены (attempt to write a readonly database)"_s;

// Another copy of the program holding the write lock on its own thread until released.
class LockHolder {
public:
    explicit LockHolder(const QString& path) {
        std::promise<QString> taken;
        std::future<QString> result = taken.get_future();
        m_thread = std::thread([this, path, taken = std::move(taken)]() mutable {
            RawConnection other(path);
            // Its commit waits for the reader it let go, as the program's own connection does.
            other.exec(u"pragma busy_timeout=10000"_s);
            taken.set_value(other.exec(u"begin immediate; insert into grupy values ('другая копия')"_s));
            // Bounded, so that a broken test cannot hang.
            for (int i = 0; i < 6000 && !m_release; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            other.exec(u"commit"_s);
        });
        m_takeError = result.get();
    }
    ~LockHolder() {
        release();
        m_thread.join();
    }
    QString takeError() const { return m_takeError; }
    void release() { m_release = true; }

private:
    std::thread m_thread;
    std::atomic_bool m_release = false;
    QString m_takeError;
};

QStringList lookupEntries() {
    StoreQuery query;
    return LookupStore::loadEntries(query, u"grupy"_s);
}

} // namespace

class TestConnectionSafety : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cleanup() {
        Database::setWaitNotifier({});
        Database::setWaitLimits(-1, -1);
        Database::setWaiter({});
    }

    void journalAndSyncAreSetOnOpen() {
        TempCatalogue catalogue(false);
        {
            RawConnection plain(catalogue.databasePath());
            QCOMPARE(plain.scalar(u"pragma journal_mode=WAL"_s), u"wal"_s);
        }
        Database::open(catalogue.databasePath());
        QCOMPARE(catalogue.scalar(u"pragma journal_mode"_s).toString(), u"delete"_s);
        QCOMPARE(catalogue.scalar(u"pragma synchronous"_s).toInt(), 2); // FULL
        Database::close();
        // The file stays in rollback-journal mode for every client.
        QVERIFY(!QFile::exists(catalogue.databasePath() + u"-wal"_s));
        RawConnection plain(catalogue.databasePath());
        QCOMPARE(plain.scalar(u"pragma journal_mode"_s), u"delete"_s);
    }

    void walFileHeldByAnotherClientStillOpens() {
        TempCatalogue catalogue(false);
        RawConnection plain(catalogue.databasePath());
        QCOMPARE(plain.scalar(u"pragma journal_mode=WAL"_s), u"wal"_s);
        QCOMPARE(plain.exec(u"insert into grupy values ('из другой программы')"_s), QString());
        // Without waiting for the other client, which may keep the file open for hours.
        Database::setWaitLimits(-1, 1000);
        Database::open(catalogue.databasePath());
        QCOMPARE(catalogue.scalar(u"pragma journal_mode"_s).toString(), u"wal"_s);
        QCOMPARE(catalogue.scalar(u"pragma synchronous"_s).toInt(), 2);
        QCOMPARE(lookupEntries(), QStringList{u"из другой программы"_s});
        StoreQuery query;
        LookupStore::addEntry(query, u"grupy"_s, u"своя"_s);
        QCOMPARE(plain.rows(u"select naimen from grupy order by naimen"_s),
                 (QStringList{u"из другой программы"_s, u"своя"_s}));
    }

    void transactionTakesTheWriteLockAtItsStart() {
        TempCatalogue catalogue;
        RawConnection other(catalogue.databasePath());
        {
            Transaction transaction;
            // Nothing written yet, but another copy can no longer write.
            QCOMPARE(other.exec(u"insert into grupy values ('другая')"_s), u"database is locked"_s);
        }
        QCOMPARE(other.exec(u"insert into grupy values ('другая')"_s), QString());
        {
            Transaction transaction;
            StoreQuery query;
            LookupStore::addEntry(query, u"grupy"_s, u"своя"_s);
            transaction.commit();
        }
        QCOMPARE(other.rows(u"select naimen from grupy order by naimen"_s),
                 (QStringList{u"другая"_s, u"своя"_s}));
    }

    void statementWaitsForAnotherCopy_data() {
        QTest::addColumn<int>("notifyAfterMs");
        QTest::newRow("default limits") << -1;
        QTest::newRow("short notice") << 100;
    }

    void statementWaitsForAnotherCopy() {
        QFETCH(int, notifyAfterMs);
        TempCatalogue catalogue;
        Database::setWaitLimits(notifyAfterMs, -1);
        LockHolder holder(catalogue.databasePath());
        QCOMPARE(holder.takeError(), QString());
        QList<bool> calls;
        // The other copy lets go only once the note is up, so the statement has waited that long.
        Database::setWaitNotifier([&](bool waiting) {
            calls.append(waiting);
            if (waiting)
                holder.release();
        });
        StoreQuery query;
        LookupStore::addEntry(query, u"grupy"_s, u"своя"_s);
        QCOMPARE(calls, (QList<bool>{true, false}));
        QCOMPARE(lookupEntries(), (QStringList{u"другая копия"_s, u"своя"_s}));
    }

    void givingUpSaysTheLockIsHeld() {
        TempCatalogue catalogue;
        Database::setWaitLimits(50, 300);
        QList<bool> calls;
        Database::setWaitNotifier([&](bool waiting) { calls.append(waiting); });
        LockHolder holder(catalogue.databasePath());
        QCOMPARE(holder.takeError(), QString());
        StoreQuery query;
        QCOMPARE(failureText([&] { LookupStore::addEntry(query, u"grupy"_s, u"своя"_s); }), LockedText);
        QCOMPARE(calls, (QList<bool>{true, false}));
        // A transaction that cannot start writes nothing either.
        QCOMPARE(failureText([&] { PasswordStore::setPassword(query, u"секрет"_s); }), LockedText);
        holder.release();
        QTRY_COMPARE(lookupEntries(), QStringList{u"другая копия"_s});
        QCOMPARE(PasswordStore::readPassword(query), QString());
    }

    // While a unit pauses for another copy, a unit that an event or a timer starts meanwhile is
    // refused; the waiting one goes on once the lock is free.
    void nothingElseRunsWhileAUnitWaits() {
        TempCatalogue catalogue;
        LockHolder holder(catalogue.databasePath());
        QCOMPARE(holder.takeError(), QString());
        QString meanwhile;
        Database::setWaiter({[&](qint64) {
                                 if (meanwhile.isEmpty())
                                     meanwhile = failureText([] { lookupEntries(); });
                                 holder.release();
                                 QThread::msleep(10);
                                 return true;
                             },
                             {}});
        StoreQuery query;
        LookupStore::addEntry(query, u"grupy"_s, u"своя"_s);
        QCOMPARE(meanwhile,
                 u"Другое действие ждёт, пока освободится база данных: это действие не выполнено"_s);
        QCOMPARE(lookupEntries(), (QStringList{u"другая копия"_s, u"своя"_s}));
    }

    void refreshShowsAnotherCopysChanges() {
        TempCatalogue catalogue;
        const int first = catalogue.addItem({{u"grupa"_s, u"Продажа"_s}});
        StoreQuery query;
        const auto listed = [&] {
            ItemListReader::Request request;
            request.sortColumn = u"id"_s;
            request.columns = {u"grupa"_s};
            ItemRowStore rows(request.columns);
            ItemListReader::read(query, request, rows);
            QList<int> ids;
            for (int r = 0; r < rows.rowCount(); ++r)
                ids.append(rows.id(r));
            return ids;
        };
        QCOMPARE(listed(), QList<int>{first});
        RawConnection other(catalogue.databasePath());
        QCOMPARE(other.exec(u"insert into items (grupa) values ('Обмен')"_s), QString());
        const int second = other.scalar(u"select max(id) from items"_s).toInt();
        QCOMPARE(listed(), (QList<int>{first, second}));
        QCOMPARE(ItemListReader::count(query, QString(), {}), 2);
    }

    void errorTexts_data() {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("engine");
        QTest::addColumn<QString>("expected");
        QTest::newRow("full") << 13 << u"database or disk is full"_s
                              << u"Недостаточно места на диске: изменения не сохранены "
                                 u"(database or disk is full)"_s;
        QTest::newRow("read-only") << 8 << u"attempt to write a readonly database"_s << ReadOnlyText;
        QTest::newRow("read-only folder")
            << 1544 << u"attempt to write a readonly database"_s
            << u"Папка с файлом базы данных недоступна для записи, журнал изменений не создан: изменения не "
               u"сохранены (attempt to write a readonly database)"_s;
        QTest::newRow("no journal") << 14 << u"unable to open database file"_s
                                    << u"Не удалось создать журнал изменений рядом с файлом базы данных: "
                                       u"изменения не сохранены (unable to open database file)"_s;
        QTest::newRow("busy") << 5 << u"database is locked"_s << LockedText;
        QTest::newRow("busy recovery") << 261 << u"database is locked"_s << LockedText;
        QTest::newRow("table locked")
            << 6 << u"database table is locked"_s
            << u"База данных слишком долго занята другой копией программы: действие "
               u"не выполнено (database table is locked)"_s;
        QTest::newRow("i/o") << 266 << u"disk I/O error"_s
                             << u"Ошибка чтения или записи файла базы данных: действие не выполнено "
                                u"(disk I/O error)"_s;
        QTest::newRow("other") << 1 << u"no such table: nosuch"_s << u"no such table: nosuch"_s;
        QTest::newRow("constraint") << 19 << u"UNIQUE constraint failed"_s << u"UNIQUE constraint failed"_s;
    }

    void errorTexts() {
        QFETCH(int, code);
        QFETCH(QString, engine);
        QFETCH(QString, expected);
        QCOMPARE(Database::errorText(code, engine), expected);
    }

    void readOnlyConnection() {
        TempCatalogue catalogue(false);
        Database::open(catalogue.databasePath());
        QCOMPARE(Database::writeAccess(), Database::WriteAccess::Writable);
        QVERIFY(!Database::isReadOnly());
        QCOMPARE(Database::writeAccessText(Database::WriteAccess::Writable), QString());
        {
            StoreQuery writer;
            LookupStore::addEntry(writer, u"grupy"_s, u"Продажа"_s);
        }
        Database::open(catalogue.databasePath(), Database::Access::ReadOnly);
        QCOMPARE(Database::writeAccess(), Database::WriteAccess::ReadOnlyConnection);
        QVERIFY(Database::isReadOnly());
        QCOMPARE(Database::writeAccessText(Database::writeAccess()),
                 u"База данных открыта только для чтения: изменения не будут сохранены."_s);
        StoreQuery query;
        QCOMPARE(lookupEntries(), QStringList{u"Продажа"_s});
        QCOMPARE(failureText([&] { LookupStore::addEntry(query, u"grupy"_s, u"Обмен"_s); }), ReadOnlyText);
        QCOMPARE(failureText([&] { ItemStore::insertItem(query, ItemStore::NewItem()); }), ReadOnlyText);
        QCOMPARE(failureText([&] { PasswordStore::setPassword(query, u"секрет"_s); }), ReadOnlyText);
        QCOMPARE(lookupEntries(), QStringList{u"Продажа"_s});
        QCOMPARE(catalogue.scalar(u"select count(*) from items"_s).toInt(), 0);
    }

    void readOnlyFileAndFolder() {
        if (geteuid() == 0)
            QSKIP("permission bits do not bind the superuser");
        TempCatalogue catalogue(false);
        const QString path = catalogue.databasePath();
        const QString folder = catalogue.folder();
        const auto restore = qScopeGuard([&] {
            QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
        });

        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner));
        Database::open(path);
        QCOMPARE(Database::writeAccess(), Database::WriteAccess::ReadOnlyFile);
        QCOMPARE(Database::writeAccessText(Database::writeAccess()),
                 u"Файл базы данных доступен только для чтения: изменения не будут сохранены."_s);
        {
            StoreQuery query;
            QCOMPARE(failureText([&] { LookupStore::addEntry(query, u"grupy"_s, u"Обмен"_s); }),
                     ReadOnlyText);
        }
        Database::close();

        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner));
        QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
        Database::open(path);
        QCOMPARE(Database::writeAccess(), Database::WriteAccess::ReadOnlyFolder);
        QCOMPARE(Database::writeAccessText(Database::writeAccess()),
                 u"Папка с файлом базы данных недоступна для записи: изменения не будут сохранены."_s);
        StoreQuery again;
        QCOMPARE(
            failureText([&] { LookupStore::addEntry(again, u"grupy"_s, u"Обмен"_s); }),
            u"Папка с файлом базы данных недоступна для записи, журнал изменений не создан: изменения не "
            u"сохранены (attempt to write a readonly database)"_s);
        QCOMPARE(lookupEntries(), QStringList());
    }
};

QTEST_MAIN(TestConnectionSafety)
#include "tst_connectionsafety.moc"
