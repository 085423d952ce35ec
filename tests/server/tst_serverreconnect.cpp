// The shared connection when the server goes away under a running program: each action says so
// while it is away and works again once it is back; a read broken under way is read again, a
// write broken under way is told as not confirmed; a row lock of another desk is waited for.
#include "Database.h"
#include "ItemListReader.h"
#include "ItemRowStore.h"
#include "ItemStore.h"
#include "TestServer.h"
#include "TestSupport.h"

#include <QElapsedTimer>
#include <QScopeGuard>
#include <QTest>
#include <QThread>
#include <libpq-fe.h>

using namespace Qt::StringLiterals;

namespace {

struct Fixture {
    TempCatalogue catalogue;
    TestServer& server = *TestServer::instance();
    QList<bool> states;
    StoreQuery query;

    Fixture() {
        Database::setServerStateNotifier([this](bool reachable) { states << reachable; });
    }
    ~Fixture() { Database::setServerStateNotifier({}); }

    QStringList entries() { return LookupStore::loadEntries(query, u"grupy"_s); }
    int scalar(const QString& sql) {
        query.setText(sql);
        query.open();
        const int value = query.next() ? query.value(0).toInt() : -1;
        query.finish();
        return value;
    }
    // Ends this program's session on the server, as a restart does, and waits until it is gone.
    void endOwnSession() {
        const int pid = scalar(u"select pg_backend_pid()"_s);
        const QString database = catalogue.settings().name;
        server.exec(database, u"select pg_terminate_backend(%1)"_s.arg(pid));
        QElapsedTimer waited;
        waited.start();
        while (server.scalar(database, u"select count(*) from pg_stat_activity where pid = %1"_s.arg(pid)) !=
                   u"0"_s &&
               waited.elapsed() < 5000)
            QThread::msleep(10);
    }
};

} // namespace

class TestServerReconnect : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cleanup() { Database::setWaiter({}); }

    // Stopped: every action says so, in Russian with the server's words, and nothing is written;
    // started again: the next action just works.
    void serverStoppedAndStartedAgain() {
        Fixture f;
        LookupStore::addEntry(f.query, u"grupy"_s, u"до"_s);
        f.server.stop();
        const QString away = u"Нет связи с сервером базы данных %1, действие не выполнено: "_s.arg(
            f.catalogue.settings().describe());
        const QString read = failureText([&] { f.entries(); });
        QVERIFY2(read.startsWith(away) && read.size() > away.size(), qPrintable(read));
        const QString write = failureText([&] { LookupStore::addEntry(f.query, u"grupy"_s, u"пока нет"_s); });
        QVERIFY2(write.startsWith(away), qPrintable(write));
        QCOMPARE(f.states, (QList<bool>{false, false}));
        QVERIFY(f.server.restart());
        LookupStore::addEntry(f.query, u"grupy"_s, u"после"_s);
        QCOMPARE(f.entries(), (QStringList{u"до"_s, u"после"_s}));
        QCOMPARE(f.states, (QList<bool>{false, false, true}));
    }

    // The session ends between two statements of a unit: a read runs once more on a new
    // connection; a write is not run again and says that it may not be stored.
    void brokenUnderWay_data() {
        QTest::addColumn<bool>("write");
        QTest::addColumn<int>("attempts");
        QTest::addColumn<QString>("failure");
        QTest::newRow("read") << false << 2 << u"(no failure)"_s;
        QTest::newRow("write")
            << true << 1
            << u"Связь с сервером базы данных прервалась, прежде чем сервер подтвердил запись: "
               u"изменения могли не сохраниться (Связь с сервером базы данных прервана: действие "
               u"не выполнено ("_s;
    }

    void brokenUnderWay() {
        QFETCH(bool, write);
        QFETCH(int, attempts);
        QFETCH(QString, failure);
        Fixture f;
        int tried = 0;
        QStringList read;
        const QString text = failureText([&] {
            Database::run(write ? Database::Work::Write : Database::Work::Read, [&] {
                ++tried;
                Transaction transaction;
                LookupStore::addEntry(f.query, u"grupy"_s, u"первая"_s);
                if (tried == 1)
                    f.endOwnSession();
                read = f.entries();
                transaction.commit();
            });
        });
        QVERIFY2(text.startsWith(failure), qPrintable(text));
        QCOMPARE(tried, attempts);
        QCOMPARE(read, write ? QStringList() : QStringList{u"первая"_s});
        // Nothing of the broken attempt stayed; the connection works again.
        QCOMPARE(f.entries(), write ? QStringList() : QStringList{u"первая"_s});
    }

    // The list's own read through libpq runs again as a unit: after the session ended under way, and
    // while another desk holds the table, until it lets go.
    void listReadRunsAgain_data() {
        QTest::addColumn<bool>("sessionEnds");
        QTest::newRow("session ended") << true;
        QTest::newRow("table held by another desk") << false;
    }

    void listReadRunsAgain() {
        QFETCH(bool, sessionEnds);
        Fixture f;
        for (const int floor : {5, 3})
            f.catalogue.addItem({{u"etazh"_s, floor}});
        PGconn* other = PQconnectdb(f.catalogue.settings().connectionString().toUtf8().constData());
        const auto closeOther = qScopeGuard([other] { PQfinish(other); });
        int pauses = 0;
        Database::setWaiter({[&](qint64 waited) {
                                 ++pauses;
                                 if (waited >= 200)
                                     PQclear(PQexec(other, "commit"));
                                 QThread::msleep(10);
                                 return true;
                             },
                             {}});
        ItemListReader::Request request;
        request.sortColumn = u"etazh"_s;
        request.columns = {u"etazh"_s};
        ItemRowStore rows(request.columns);
        int tried = 0;
        Database::read([&] {
            if (++tried == 1) {
                if (sessionEnds)
                    f.endOwnSession();
                else
                    PQclear(PQexec(other, "begin; lock table items in access exclusive mode"));
            }
            ItemListReader::read(f.query, request, rows);
        });
        QCOMPARE(rows.rowCount(), 2);
        QCOMPARE((QStringList{rows.text(0, 0), rows.text(1, 0)}), (QStringList{u"3"_s, u"5"_s}));
        if (sessionEnds) {
            QCOMPARE(tried, 2);
            QCOMPARE(pauses, 0);
        } else {
            QVERIFY2(pauses > 5, qPrintable(QString::number(pauses)));
        }
    }

    // Another desk holds the item's row: the checked save waits in slices and goes through once the
    // row is free, or stops with nothing written when the wait is abandoned.
    void rowLockOfAnotherDesk_data() {
        QTest::addColumn<bool>("abandon");
        QTest::newRow("let go") << false;
        QTest::newRow("abandoned") << true;
    }

    void rowLockOfAnotherDesk() {
        QFETCH(bool, abandon);
        Fixture f;
        const int id = f.catalogue.addItem({{u"etazh"_s, 1}});
        const ItemStore::ItemSnapshot loaded = ItemStore::readSnapshot(f.query, id);
        // Another desk holding the row in an open transaction.
        PGconn* other = PQconnectdb(f.catalogue.settings().connectionString().toUtf8().constData());
        const auto closeOther = qScopeGuard([other] { PQfinish(other); });
        PQclear(PQexec(other, "begin; select * from items for update"));
        int pauses = 0;
        Database::setWaiter({[&](qint64 waited) {
                                 ++pauses;
                                 if (waited < 300)
                                     QThread::msleep(10);
                                 else if (!abandon)
                                     PQclear(PQexec(other, "commit"));
                                 return !abandon || waited < 300;
                             },
                             {}});
        const QHash<QString, QString> texts = {{u"etazh"_s, u"4"_s},
                                               {u"etazhnost"_s, u"9"_s},
                                               {u"obsh_plosh"_s, u"1"_s},
                                               {u"stoim"_s, u"1"_s},
                                               {u"dolg"_s, u"0"_s}};
        const QString text =
            failureText([&] { ItemStore::updateItemIfUnchanged(f.query, id, loaded, texts, {}); });
        QCOMPARE(text, abandon ? u"Ожидание отменено: изменения не сохранены"_s : u"(no failure)"_s);
        QVERIFY(pauses > 5);
        QCOMPARE(f.scalar(u"select etazh from items where id = %1"_s.arg(id)), abandon ? 1 : 4);
    }
};

QTEST_GUILESS_MAIN(TestServerReconnect)
#include "tst_serverreconnect.moc"
