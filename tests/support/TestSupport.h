#pragma once

#include "StoreSettings.h"

#include <QString>
#include <QTemporaryDir>
#include <QVariant>
#include <csignal>
#include <functional>
#include <sys/resource.h>

class QWidget;

// The store a suite runs against: the catalogue file, or, when the environment sets
// TENEMARK_TEST_STORE=server, a database on this process's test server (TestServer). CTest runs
// the store's suites both ways.
namespace TestStore {
bool isServer();
} // namespace TestStore

// A fresh catalogue in a temporary folder that stands in for the executable's folder: the file
// db.MyDB there, or on the server a new database of its own (TestStore). The shared connection is
// open on it for the object's lifetime.
class TempCatalogue {
public:
    explicit TempCatalogue(bool openConnection = true);
    ~TempCatalogue();

    QString folder() const; // with a trailing slash
    QString path(const QString& fileName) const;
    QString databasePath() const; // the file's path (none is made on the server)

    bool isServer() const { return m_settings.isServer(); }
    // Where the catalogue is: Driver::File for the file, else the server's database.
    const StoreSettings& settings() const { return m_settings; }
    // Opens the shared connection on the catalogue again.
    void reopen();
    // On the server: names the catalogue in kvarta.ini's [Database] section, as an agency does
    // (Driver=QPSQL and a Service of a service file here, which PGSERVICEFILE points to), so that
    // the program's start-up finds it. Other keys of kvarta.ini stay. Nothing on the file.
    void writeDatabaseSection();

    // Runs a statement on the shared connection; fails the test on error.
    void exec(const QString& sql, const QVariantList& values = {});
    QVariant scalar(const QString& sql, const QVariantList& values = {});
    void addEntries(const QString& table, const QStringList& entries);
    // Inserts an item from column/value pairs; returns its id.
    int addItem(const QVariantMap& columns);

    void writeFile(const QString& fileName, const QByteArray& content);
    QByteArray readFile(const QString& fileName) const;

private:
    QTemporaryDir m_dir;
    StoreSettings m_settings;
};

// The text of the AppError that `action` throws, or "(no failure)".
QString failureText(const std::function<void()>& action);

// Runs `action` on the next modal window that opens (polled from the event loop), so that a test
// can answer a dialog that exec() is about to block on.
void onNextModal(std::function<void(QWidget*)> action, int timeoutMs = 5000);
// The same for the first modal window with this object name (another one, such as a card already
// open, does not count); the window stays expected while it lives.
void onModalNamed(const QString& objectName, std::function<void(QWidget*)> action, int timeoutMs = 5000);

// Presses a key where the operator's keyboard would send it: to the focused control of the window
// once that window is active (activation may come a moment after the window shows).
void pressInActiveWindow(QWidget* window, Qt::Key key);

// Lowers the largest file this process may write, for the scope of the object: a write beyond it
// fails as on a full disk (for every user, root too).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &m_old);
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_old;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }

private:
    rlimit m_old{};
    void (*m_oldHandler)(int) = nullptr;
};
