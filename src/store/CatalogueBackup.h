#pragma once

#include <QDate>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>

class QThread;

// What one finished copy took.
struct BackupReport {
    QString path;         // the copy, under its final name
    int steps = 0;        // backup steps run
    int restarts = 0;     // times the catalogue changed under the copy and it began again
    bool oneStep = false; // after too many restarts the rest was copied in one go, the catalogue held still
};
Q_DECLARE_METATYPE(BackupReport)

// Copies of the catalogue file, one a day, kept in a folder of their own ("Backups" beside the
// executable) as "db YYYY-MM-DD.MyDB".
//
// A copy is taken on a worker thread through a second connection with SQLite's online backup, a
// few hundred pages at a time with short pauses, so that the program goes on meanwhile. Every
// change to the catalogue restarts it; after a few restarts the rest is copied in one go under a
// read lock, which holds other writers back for that moment (they wait, as for any lock). The copy is written
// under a temporary name and renamed when complete, so a file with the final name is always a whole,
// consistent snapshot. The catalogue itself is only read. The outcome comes as a signal on the object's
// thread.
class CatalogueBackup : public QObject {
    Q_OBJECT
public:
    explicit CatalogueBackup(QObject* parent = nullptr);
    // Stops a copy in progress and removes its partial file.
    ~CatalogueBackup() override;

    static QString defaultFolder();     // "Backups" beside the executable, with a trailing slash
    static QString fileName(QDate day); // "db 2024-05-01.MyDB"
    // The rule for the first start of each day: no copy for `today` in `folder` yet.
    static bool isDue(const QString& folder, QDate today);
    // Removes all but the newest `keep` copies dated up to `today` (by the date in their names). A
    // copy dated after `today` (a wrong clock, a folder copied from elsewhere) is neither counted
    // nor removed; no other file is touched. Returns the names removed.
    static QStringList prune(const QString& folder, int keep, QDate today = QDate::currentDate());

    // Starts copying `source` into `folder` under fileName(day), keeping the newest `keep` copies
    // afterwards, and returns at once. Partial files that earlier copies left when they were stopped
    // are removed first; one that another copy of the program is writing stays. Nothing happens (false) when
    // `keep` is 0 or a copy is still running.
    bool start(const QString& source, const QString& folder, int keep, QDate day = QDate::currentDate());
    // start() when isDue(folder, today).
    bool startIfDue(const QString& source, const QString& folder, int keep,
                    QDate today = QDate::currentDate());
    bool isRunning() const { return m_running; }
    // Blocks until a running copy has ended; its signal still comes through the event loop.
    bool wait(int timeoutMs = -1);

    // Tuning: pages per step (default 256), pause between steps (20 ms), restarts after which the
    // rest is copied in one step (3).
    void setStepPages(int pages) { m_stepPages = pages; }
    void setPauseMs(int ms) { m_pauseMs = ms; }
    void setMaxRestarts(int restarts) { m_maxRestarts = restarts; }
    // Runs on the worker thread after every step that is followed by a pause, with the step's
    // number; for tests.
    void setStepHook(std::function<void(int step)> hook) { m_stepHook = std::move(hook); }

Q_SIGNALS:
    void backupFinished(const BackupReport& report);
    void backupFailed(const QString& message);

private:
    struct Job;
    static BackupReport run(const Job& job, const std::atomic_bool& cancelled);

    std::unique_ptr<QThread> m_thread;
    std::shared_ptr<std::atomic_bool> m_cancel;
    bool m_running = false;
    int m_stepPages = 256;
    int m_pauseMs = 20;
    int m_maxRestarts = 3;
    std::function<void(int)> m_stepHook;
};
