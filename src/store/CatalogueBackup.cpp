#include "CatalogueBackup.h"

#include "AppError.h"
#include "AppPaths.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QThread>
#include <sqlite3.h>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

constexpr int LockWaitMs = 2000;      // per attempt on a locked catalogue...
constexpr int LockGiveUpMs = 120'000; // ...and in all

const QRegularExpression& copyName() {
    static const QRegularExpression re(u"^db (\\d{4}-\\d{2}-\\d{2})\\.MyDB$"_s);
    return re;
}

const QRegularExpression& partName() {
    static const QRegularExpression re(u"^db \\d{4}-\\d{2}-\\d{2}\\.MyDB\\.[0-9a-f]+\\.part$"_s);
    return re;
}

struct Connection {
    sqlite3* db = nullptr;
    ~Connection() { sqlite3_close_v2(db); }
};

[[noreturn]] void fail(const QString& reason) {
    throw AppError(reason);
}

[[noreturn]] void failSqlite(sqlite3* db) {
    fail(QString::fromUtf8(sqlite3_errmsg(db)));
}

void openConnection(Connection& c, const QString& path, int flags) {
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &c.db, flags, nullptr) != SQLITE_OK)
        fail(c.db ? QString::fromUtf8(sqlite3_errmsg(c.db)) : u"out of memory"_s);
    sqlite3_extended_result_codes(c.db, 1);
    sqlite3_busy_timeout(c.db, LockWaitMs);
}

void exec(sqlite3* db, const char* sql) {
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        failSqlite(db);
}

// Takes a read lock on the source that lasts until "commit"; false when it is locked now.
bool holdStill(sqlite3* source) {
    if (sqlite3_exec(source, "begin; select count(*) from sqlite_master", nullptr, nullptr, nullptr) ==
        SQLITE_OK)
        return true;
    sqlite3_exec(source, "rollback", nullptr, nullptr, nullptr);
    return false;
}

// Whether another copy is writing the partial file now: a copy holds the file's write lock from
// its first step to its end. The file of a copy that died is free (or no database at all).
bool beingWritten(const QString& path) {
    Connection c;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &c.db, SQLITE_OPEN_READWRITE, nullptr) !=
        SQLITE_OK)
        return false;
    const int rc = sqlite3_exec(c.db, "begin immediate", nullptr, nullptr, nullptr);
    sqlite3_exec(c.db, "rollback", nullptr, nullptr, nullptr);
    return (rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_LOCKED;
}

// Removes the partial files that earlier copies left when they were stopped (a kill, a crash).
void removeLeftovers(const QString& folder) {
    QDir dir(folder);
    for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden)) {
        if (partName().match(name).hasMatch() && !beingWritten(dir.filePath(name)))
            dir.remove(name);
    }
}

// Sleeps in short slices; false when the copy was stopped meanwhile.
bool pause(int ms, const std::atomic_bool& cancelled) {
    QElapsedTimer timer;
    timer.start();
    while (!cancelled) {
        const qint64 left = ms - timer.elapsed();
        if (left <= 0)
            return true;
        QThread::msleep(ulong(std::min<qint64>(left, 10)));
    }
    return false;
}

// Removes the partial file unless it was renamed.
struct PartialFile {
    QString path;
    ~PartialFile() {
        if (!path.isEmpty())
            QFile::remove(path);
    }
};

} // namespace

struct CatalogueBackup::Job {
    QString source;
    QString folder;
    int keep = 0;
    QDate day;
    int stepPages = 0;
    int pauseMs = 0;
    int maxRestarts = 0;
    std::function<void(int)> stepHook;
};

CatalogueBackup::CatalogueBackup(QObject* parent) : QObject(parent) {
    qRegisterMetaType<BackupReport>();
}

CatalogueBackup::~CatalogueBackup() {
    if (m_cancel)
        *m_cancel = true;
    if (m_thread)
        m_thread->wait();
}

QString CatalogueBackup::defaultFolder() {
    return AppPaths::filePath(u"Backups/"_s);
}

QString CatalogueBackup::fileName(QDate day) {
    return u"db %1.MyDB"_s.arg(day.toString(u"yyyy-MM-dd"_s));
}

bool CatalogueBackup::isDue(const QString& folder, QDate today) {
    return !QFileInfo::exists(QDir(folder).filePath(fileName(today)));
}

QStringList CatalogueBackup::prune(const QString& folder, int keep, QDate today) {
    QDir dir(folder);
    QStringList copies;
    QStringList removed;
    for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden)) {
        const QRegularExpressionMatch m = copyName().match(name);
        const QDate date = m.hasMatch() ? QDate::fromString(m.captured(1), u"yyyy-MM-dd"_s) : QDate();
        if (date.isValid() && date <= today)
            copies.append(name);
    }
    // The date in the name sorts as text.
    std::sort(copies.begin(), copies.end(), std::greater<>());
    for (qsizetype i = std::max(keep, 0); i < copies.size(); ++i) {
        if (dir.remove(copies[i]))
            removed.append(copies[i]);
    }
    return removed;
}

bool CatalogueBackup::startIfDue(const QString& source, const QString& folder, int keep, QDate today) {
    return keep > 0 && isDue(folder, today) && start(source, folder, keep, today);
}

bool CatalogueBackup::start(const QString& source, const QString& folder, int keep, QDate day) {
    if (keep <= 0 || m_running)
        return false;
    if (m_thread) {
        m_thread->wait();
        m_thread.reset();
    }
    auto job = std::make_shared<Job>(Job{source, folder, keep, day, std::max(m_stepPages, 1),
                                         std::max(m_pauseMs, 0), std::max(m_maxRestarts, 0), m_stepHook});
    m_cancel = std::make_shared<std::atomic_bool>(false);
    m_running = true;
    m_thread.reset(QThread::create([this, job, cancel = m_cancel] {
        BackupReport report;
        QString failure;
        try {
            report = run(*job, *cancel);
        } catch (const AppError& e) {
            failure = u"Не удалось сделать резервную копию базы данных: %1"_s.arg(e.text());
        }
        if (*cancel)
            return;
        // Delivered on the object's own thread; dropped if the object is gone by then.
        QMetaObject::invokeMethod(
            this,
            [this, report, failure] {
                m_running = false;
                if (failure.isEmpty())
                    Q_EMIT backupFinished(report);
                else
                    Q_EMIT backupFailed(failure);
            },
            Qt::QueuedConnection);
    }));
    m_thread->start(QThread::LowPriority);
    return true;
}

bool CatalogueBackup::wait(int timeoutMs) {
    if (!m_thread)
        return true;
    return timeoutMs < 0 ? m_thread->wait() : m_thread->wait(QDeadlineTimer(timeoutMs));
}

BackupReport CatalogueBackup::run(const Job& job, const std::atomic_bool& cancelled) {
    const QFileInfo source(job.source);
    if (!source.isFile())
        fail(u"нет файла %1"_s.arg(QDir::toNativeSeparators(job.source)));
    if (!QDir().mkpath(job.folder))
        fail(u"не удалось создать папку %1"_s.arg(QDir::toNativeSeparators(job.folder)));
    const QString finalPath = QDir(job.folder).filePath(fileName(job.day));
    if (QFileInfo(finalPath).canonicalFilePath() == source.canonicalFilePath())
        fail(u"копия заняла бы место самой базы данных"_s);
    removeLeftovers(job.folder);

    PartialFile partial;
    partial.path =
        u"%1.%2.part"_s.arg(finalPath).arg(uint(QRandomGenerator::global()->generate()), 8, 16, QChar(u'0'));
    BackupReport report;
    {
        Connection from;
        Connection to;
        openConnection(from, job.source, SQLITE_OPEN_READONLY);
        openConnection(to, partial.path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
        // The partial file needs no journal: it is thrown away unless it is complete.
        exec(to.db, "pragma journal_mode=OFF");
        exec(to.db, "pragma synchronous=FULL");
        sqlite3_backup* backup = sqlite3_backup_init(to.db, "main", from.db, "main");
        if (!backup)
            failSqlite(to.db);

        int remainingBefore = -1;
        int rc = SQLITE_OK;
        QElapsedTimer locked;
        for (;;) {
            rc = sqlite3_backup_step(backup, job.stepPages);
            ++report.steps;
            if (rc == SQLITE_DONE)
                break;
            if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) {
                if (!locked.isValid())
                    locked.start();
                if (locked.elapsed() > LockGiveUpMs)
                    break;
            } else if (rc != SQLITE_OK) {
                break;
            } else if (!report.oneStep) {
                locked.invalidate();
                // A step that did not bring the copy nearer to its end began it again.
                const int remaining = sqlite3_backup_remaining(backup);
                if (remainingBefore >= 0 && remaining >= remainingBefore)
                    ++report.restarts;
                remainingBefore = remaining;
                // The catalogue keeps changing: hold it still (a read transaction keeps other
                // writers from committing) and copy the rest in one go, without pauses.
                if (report.restarts > job.maxRestarts)
                    report.oneStep = holdStill(from.db);
            }
            if (cancelled)
                break;
            if (report.oneStep)
                continue;
            if (job.stepHook)
                job.stepHook(report.steps);
            if (!pause(job.pauseMs, cancelled))
                break;
        }
        if (report.oneStep)
            sqlite3_exec(from.db, "commit", nullptr, nullptr, nullptr);
        const int finished = sqlite3_backup_finish(backup);
        if (cancelled)
            return BackupReport();
        if (rc != SQLITE_DONE)
            fail(QString::fromUtf8(sqlite3_errstr(rc)));
        if (finished != SQLITE_OK)
            failSqlite(to.db);
        if (sqlite3_close(to.db) != SQLITE_OK)
            failSqlite(to.db);
        to.db = nullptr;
    }
    if (QFileInfo::exists(finalPath)) {
        // Another copy of the program took today's copy meanwhile; keep that one.
    } else if (!QFile::rename(partial.path, finalPath)) {
        fail(u"не удалось переименовать %1"_s.arg(QDir::toNativeSeparators(partial.path)));
    } else {
        partial.path.clear();
    }
    report.path = finalPath;
    // The day's copy is the newest one counted, so it stays.
    prune(job.folder, job.keep, job.day);
    return report;
}
