// The wait for the threads that a SANE backend starts in sane_start.

#include "BackendThreads.h"

#include <QTest>
#include <QThread>

#include <atomic>
#include <thread>

#include <unistd.h>

using TwainSane::BackendThreads;

namespace {

// A thread that runs, under the name given, until released.
class NamedThread : public QThread {
public:
    explicit NamedThread(const QString& name) { setObjectName(name); }
    std::atomic<bool> running{false};
    std::atomic<bool> release{false};

protected:
    void run() override {
        running = true;
        while (!release)
            QThread::usleep(200);
    }
};

void waitFor(const std::atomic<bool>& flag) {
    QVERIFY(QTest::qWaitFor([&] { return flag.load(); }, 5000));
}

} // namespace

class TestBackendThreads : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // A thread begun between before() and after() with the caller's name is waited for until it
    // has ended, whether or not it has been joined yet.
    void waitsForTheThreadBegunMeanwhile() {
        BackendThreads threads;
        std::atomic<bool> started{false};
        std::atomic<bool> release{false};
        threads.before();
        std::thread reader([&] {
            started = true;
            while (!release)
                QThread::usleep(200);
        });
        threads.after();
        waitFor(started);
        QVERIFY(!threads.waitUntilEnded(30));
        release = true;
        QVERIFY(threads.waitUntilEnded(5000));
        reader.join();
    }

    // A cancel waits while the thread computes and goes ahead once it blocks on a pipe.
    void interruptibleOnceBlockedOnAPipe() {
        int fds[2];
        QCOMPARE(pipe(fds), 0);
        BackendThreads threads;
        std::atomic<bool> computing{true};
        std::atomic<bool> started{false};
        threads.before();
        std::thread reader([&] {
            started = true;
            while (computing) {
            }
            char byte = 0;
            (void)read(fds[0], &byte, 1);
        });
        threads.after();
        waitFor(started);
        QVERIFY(!threads.waitUntilInterruptible(50));
        computing = false;
        QVERIFY(threads.waitUntilInterruptible(5000));
        QVERIFY(!threads.waitUntilEnded(0));
        QCOMPARE(write(fds[1], "x", 1), 1);
        QVERIFY(threads.waitUntilEnded(5000));
        reader.join();
        close(fds[0]);
        close(fds[1]);
    }

    // Threads that ran before, and threads named by other parts of the program, are not waited for.
    void othersAreNotWaitedFor() {
        std::atomic<bool> releaseEarlier{false};
        std::thread earlier([&] {
            while (!releaseEarlier)
                QThread::usleep(200);
        });
        BackendThreads threads;
        threads.before();
        NamedThread other(QStringLiteral("Elsewhere"));
        other.start();
        waitFor(other.running);
        threads.after();
        QVERIFY(threads.waitUntilEnded(0));
        other.release = true;
        other.wait();
        releaseEarlier = true;
        earlier.join();
    }
};

QTEST_GUILESS_MAIN(TestBackendThreads)
#include "tst_backendthreads.moc"
