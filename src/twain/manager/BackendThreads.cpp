#include "BackendThreads.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QThread>

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

// Whether the thread waits in a call that a cancel may interrupt without harm. Where the kernel
// does not tell the call, a sleeping thread counts as waiting.
bool interruptible(int id) {
    QFile call(QStringLiteral("/proc/self/task/%1/syscall").arg(id));
    if (call.open(QIODevice::ReadOnly)) {
        const QByteArray text = call.readAll().trimmed();
        if (text.isEmpty())
            return true; // ended meanwhile
        bool number = false;
        const long n = text.split(' ').constFirst().toLong(&number);
        if (!number)
            return false; // "running"
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
    QFile stat(QStringLiteral("/proc/self/task/%1/stat").arg(id));
    if (!stat.open(QIODevice::ReadOnly))
        return true; // ended
    const QByteArray text = stat.readAll();
    const qsizetype close = text.lastIndexOf(')');
    return close < 0 || close + 2 >= text.size() || text.at(close + 2) == 'S';
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

} // namespace

void BackendThreads::before() {
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
