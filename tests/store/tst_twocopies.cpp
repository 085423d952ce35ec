// Two copies of the program writing to one catalogue at once, 5,000 operations each without pause:
// no operation fails and every row of both is there. Item inserts, directory entries, rooms,
// guarded item saves (transactions that read and write) and password changes, interleaved.
//
// Each commit holds the lock for a while, as a disk's syncs make it; the copies pause for 1.5 ms
// instead of each sync, which keeps the drill short and the locking as it is.
// TENEMARK_DRILL_SYNC=1 uses the disk's own syncs; TENEMARK_DRILL_SECONDS=N repeats rounds for N
// seconds. With TENEMARK_TEST_STORE=server the copies write to a catalogue on the test server,
// each through a connection of its own, as the agency's desks do.

#include "Database.h"
#include "RawConnection.h"
#include "TestSupport.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

constexpr int OperationsEach = 5000;
constexpr int EachKind = OperationsEach / 5;
// Long enough that a copy waiting with SQLite's usual back-off (the driver's old five-second
// timeout) is starved past its limit.
constexpr int SyncPauseMicroseconds = 1500;

// Reads the catalogue the copies wrote: the file through SQLite, the server through a connection of
// its own.
class Checker {
public:
    explicit Checker(const TempCatalogue& catalogue) : m_server(catalogue.isServer()) {
        if (m_server)
            Database::addServerConnection(Name, catalogue.settings());
        else
            m_file = std::make_unique<RawConnection>(catalogue.databasePath());
    }
    ~Checker() {
        if (m_server)
            QSqlDatabase::removeDatabase(Name);
    }
    QString integrity() { return m_server ? u"ok"_s : m_file->scalar(u"pragma integrity_check"_s); }
    int count(const QString& sql) {
        if (!m_server)
            return m_file->scalar(sql).toInt();
        QSqlQuery q(QSqlDatabase::database(Name));
        if (!q.exec(sql) || !q.next())
            qFatal("%s: %s", qPrintable(sql), qPrintable(q.lastError().text()));
        return q.value(0).toInt();
    }

private:
    static inline const QString Name = u"checker"_s;
    bool m_server;
    std::unique_ptr<RawConnection> m_file;
};

} // namespace

class TestTwoCopies : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void writeAtTheSameTime() {
        TempCatalogue catalogue(false);
        const QString path = catalogue.databasePath();
        const bool sync = qEnvironmentVariableIntValue("TENEMARK_DRILL_SYNC") != 0;
        const qint64 seconds = qEnvironmentVariableIntValue("TENEMARK_DRILL_SECONDS");
        QElapsedTimer clock;
        clock.start();
        int rounds = 0;
        int operations = 0;
        qint64 longest = 0;
        int notes = 0;
        do {
            ++rounds;
            const QStringList tags = {u"A%1"_s.arg(rounds), u"B%1"_s.arg(rounds)};
            std::vector<std::unique_ptr<QProcess>> copies;
            for (const QString& tag : tags) {
                auto& p = copies.emplace_back(std::make_unique<QProcess>());
                if (catalogue.isServer())
                    p->start(QString::fromUtf8(DRILL_CHILD),
                             {u"writer"_s, u"--server"_s, catalogue.settings().connectionString(), tag,
                              QString::number(OperationsEach)});
                else
                    p->start(QString::fromUtf8(DRILL_CHILD),
                             {u"writer"_s, path, tag, QString::number(OperationsEach),
                              sync ? u"sync"_s : QString::number(SyncPauseMicroseconds)});
                QVERIFY(p->waitForStarted());
            }
            for (auto& p : copies) {
                QByteArray out;
                while (!out.contains("ready\n")) {
                    QVERIFY2(p->waitForReadyRead(30'000), "a copy did not open the catalogue");
                    out += p->readAllStandardOutput();
                }
            }
            for (auto& p : copies)
                p->write("go\n");
            for (auto& p : copies) {
                QVERIFY(p->waitForFinished(600'000));
                const QString out = QString::fromUtf8(p->readAllStandardOutput());
                QVERIFY2(p->exitStatus() == QProcess::NormalExit && p->exitCode() == 0,
                         qPrintable(out + QString::fromUtf8(p->readAllStandardError())));
                // summary TAG COUNT FAILED LONGEST-MS NOTES
                const QStringList summary = out.trimmed().split(u' ');
                QCOMPARE(summary.size(), 6);
                QCOMPARE(summary[0], u"summary"_s);
                QCOMPARE(summary[2].toInt(), OperationsEach);
                QCOMPARE(summary[3].toInt(), 0);
                operations += summary[2].toInt();
                longest = std::max(longest, summary[4].toLongLong());
                notes += summary[5].toInt();
            }

            Checker c(catalogue);
            QCOMPARE(c.integrity(), u"ok"_s);
            for (const QString& tag : tags) {
                const QString like = u"like '%1-%'"_s.arg(tag);
                QCOMPARE(c.count(u"select count(*) from items where osob "_s + like), EachKind);
                // Every item was saved again by its own copy, none lost to the other's saves.
                QCOMPARE(c.count(u"select count(*) from items where dolg = 1 and osob "_s + like), EachKind);
                QCOMPARE(c.count(u"select count(*) from grupy where naimen "_s + like), EachKind);
                QCOMPARE(c.count(u"select count(*) from rooms r join items i on i.id = r.Items_ID "
                                 u"where r.RoomName "_s +
                                 like + u" and i.osob "_s + like),
                         EachKind);
            }
            QCOMPARE(c.count(u"select count(*) from pwl_cell"_s), 1);
        } while (clock.elapsed() < seconds * 1000);
        qInfo("two copies: %d round(s) in %.1f s, %d operations, 0 failed, rows lost: 0; longest operation "
              "%lld ms, waits noted after 2 s: %d (%s)",
              rounds, double(clock.elapsed()) / 1000, operations, longest, notes,
              catalogue.isServer() ? "on the server"
              : sync               ? "with the disk's syncs"
                                   : "syncs as 1.5 ms pauses");
    }
};

QTEST_GUILESS_MAIN(TestTwoCopies)
#include "tst_twocopies.moc"
