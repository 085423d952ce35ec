// Two copies of the program writing to one catalogue at once, 5,000 operations each without pause:
// no operation fails and every row of both is there. Item inserts, directory entries, rooms,
// guarded item saves (transactions that read and write) and password changes, interleaved.
//
// Each commit holds the lock for a while, as a disk's syncs make it; the copies pause for 1.5 ms
// instead of each sync, which keeps the drill short and the locking as it is.
// TENEMARK_DRILL_SYNC=1 uses the disk's own syncs; TENEMARK_DRILL_SECONDS=N repeats rounds for N
// seconds.

#include "Database.h"
#include "RawConnection.h"

#include <QElapsedTimer>
#include <QProcess>
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

} // namespace

class TestTwoCopies : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void writeAtTheSameTime() {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"db.MyDB"_s);
        Database::createSchema(path);
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

            RawConnection c(path);
            QCOMPARE(c.scalar(u"pragma integrity_check"_s), u"ok"_s);
            for (const QString& tag : tags) {
                const QString like = u"like '%1-%'"_s.arg(tag);
                QCOMPARE(c.scalar(u"select count(*) from items where osob "_s + like).toInt(), EachKind);
                // Every item was saved again by its own copy, none lost to the other's saves.
                QCOMPARE(c.scalar(u"select count(*) from items where dolg = 1 and osob "_s + like).toInt(),
                         EachKind);
                QCOMPARE(c.scalar(u"select count(*) from grupy where naimen "_s + like).toInt(), EachKind);
                QCOMPARE(c.scalar(u"select count(*) from rooms r join items i on i.id = r.Items_ID "
                                  u"where r.RoomName "_s +
                                  like + u" and i.osob "_s + like)
                             .toInt(),
                         EachKind);
            }
            QCOMPARE(c.scalar(u"select count(*) from pwl_cell"_s).toInt(), 1);
        } while (clock.elapsed() < seconds * 1000);
        qInfo("two copies: %d round(s) in %.1f s, %d operations, 0 failed, rows lost: 0; longest operation "
              "%lld ms, waits noted after 2 s: %d (%s)",
              rounds, double(clock.elapsed()) / 1000, operations, longest, notes,
              sync ? "with the disk's syncs" : "syncs as 1.5 ms pauses");
    }
};

QTEST_GUILESS_MAIN(TestTwoCopies)
#include "tst_twocopies.moc"
