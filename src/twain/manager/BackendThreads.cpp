#include "BackendThreads.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QThread>

#include <mutex>

#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace TwainSane {

namespace {

QList<int> runningThreads() {
    QList<int> ids;
    const QStringList names =
        QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& name : names)
        ids.append(name.toInt());
    return ids;
}

QByteArray threadName(int id) {
    QFile comm(QStringLiteral("/proc/self/task/%1/comm").arg(id));
    return comm.open(QIODevice::ReadOnly) ? comm.readAll() : QByteArray();
}

// Whether the thread sleeps in a call that a cancel may interrupt without harm: it must be asleep,
// not merely inside the call (it could leave it at once), and the call must be one that waits on
// a descriptor or a clock. Where the kernel does not tell the call, sleeping is enough.
bool interruptible(int id) {
    QFile stat(QStringLiteral("/proc/self/task/%1/stat").arg(id));
    if (!stat.open(QIODevice::ReadOnly))
        return true; // ended
    const QByteArray state = stat.readAll();
    const qsizetype close = state.lastIndexOf(')');
    if (close < 0 || close + 2 >= state.size())
        return true; // ended while read
    if (state.at(close + 2) != 'S')
        return false;
    QFile call(QStringLiteral("/proc/self/task/%1/syscall").arg(id));
    if (!call.open(QIODevice::ReadOnly))
        return true;
    const QByteArray text = call.readAll().trimmed();
    bool number = false;
    const long n = text.split(' ').constFirst().toLong(&number);
    if (!number)
        return text.isEmpty(); // "running", or ended meanwhile
    switch (n) {
    case SYS_read:
    case SYS_write:
    case SYS_readv:
    case SYS_writev:
    case SYS_ppoll:
    case SYS_pselect6:
    case SYS_clock_nanosleep:
#ifdef SYS_poll
    case SYS_poll:
#endif
#ifdef SYS_select
    case SYS_select:
#endif
#ifdef SYS_nanosleep
    case SYS_nanosleep:
#endif
        return true;
    default:
        return false;
    }
}

template <typename Done> bool waitFor(const QList<int>& ids, int timeoutMs, Done done) {
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        const QList<int> running = runningThreads();
        bool left = false;
        for (int id : ids)
            left = left || (running.contains(id) && !done(id));
        if (!left)
            return true;
        if (deadline.hasExpired())
            return false;
        QThread::usleep(500);
    }
}

// The C library loads its unwinder at the first thread cancel or exit of the process, under the
// dynamic loader's lock. A backend thread that exits while its cancel is on the way could be the
// first, and die inside the load with the lock held: every later dlopen or dlclose would wait for
// ever. So one thread exits before any backend thread starts.
void loadUnwinder() {
    static std::once_flag once;
    std::call_once(once, [] {
        pthread_t thread;
        if (pthread_create(
                &thread, nullptr, [](void*) -> void* { pthread_exit(nullptr); }, nullptr) == 0)
            pthread_join(thread, nullptr);
    });
}

} // namespace

void BackendThreads::before() {
    loadUnwinder();
    m_before = runningThreads();
    m_started.clear();
}

void BackendThreads::after() {
    // A thread starts with its creator's name; threads of other parts of the program have names
    // of their own.
    const QByteArray own = threadName(int(gettid()));
    m_started.clear();
    for (int id : runningThreads())
        if (!m_before.contains(id) && threadName(id) == own)
            m_started.append(id);
}

bool BackendThreads::waitUntilEnded(int timeoutMs) const {
    return waitFor(m_started, timeoutMs, [](int) { return false; });
}

bool BackendThreads::waitUntilInterruptible(int timeoutMs) const {
    return waitFor(m_started, timeoutMs, interruptible);
}

} // namespace TwainSane
