#pragma once

#include "StoreSettings.h"

#include <QString>
#include <QTemporaryDir>

#include <memory>

class QProcess;

// A throw-away PostgreSQL cluster for the tests and the benchmarks: a data folder of its own in a
// temporary folder, a free port on 127.0.0.1, no Unix socket, no fsync. Logins from 127.0.0.1 are
// trusted, except the user PasswordUser, who needs PasswordUserPassword. As root the server's
// programs run as "nobody" (initdb refuses root), in a folder that user owns; no system service
// is touched. The server stops with the object, or with the process if that dies first.
class TestServer {
public:
    static constexpr auto Superuser = u"tenemark";
    static constexpr auto PasswordUser = u"tenemark_pw";
    static constexpr auto PasswordUserPassword = u"Секрет 1";

    // The cluster of this process, started on first use and stopped at exit; nullptr when it cannot
    // start (PostgreSQL is not installed, ...): unavailableReason() says why.
    static TestServer* instance();
    static QString unavailableReason();

    ~TestServer();
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    int port() const { return m_port; }
    // Settings that reach `database` as the superuser, without a password.
    StoreSettings settings(const QString& database = QStringLiteral("postgres")) const;

    // A new empty database in UTF-8 whose own collation is ICU's Russian, unlike SQLite's binary
    // order, so that only the catalogue's column collation gives the order the program expects.
    // Returns its name.
    QString createDatabase();
    // A fresh, empty catalogue: every table in a new schema of one such database, which the
    // settings make the connection's (search_path); much quicker than a database each.
    StoreSettings createCatalogue();
    void dropDatabase(const QString& name);
    // Runs statements on `database` as the superuser; returns the server's text of a failure, empty
    // on success.
    QString exec(const QString& database, const QString& sql);
    // The first column of the first row, as text (empty for null or no row).
    QString scalar(const QString& database, const QString& sql);

    // A fast shutdown: the server's sessions are cut off.
    void stop();
    // Starts the stopped server again on the same data and port.
    bool restart();

private:
    TestServer() = default;
    bool start(QString* failure);
    bool launch(QString* failure);

    QTemporaryDir m_dir;
    std::unique_ptr<QProcess> m_server;
    int m_port = 0;
    int m_databases = 0;
    int m_catalogues = 0;
    QString m_catalogueDatabase;
};
