#include "TestServer.h"

#include "Database.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QStandardPaths>
#include <QThread>

#include <arpa/inet.h>
#include <libpq-fe.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

std::unique_ptr<TestServer>& theServer() {
    static std::unique_ptr<TestServer> server;
    return server;
}

QString& theReason() {
    static QString reason;
    return reason;
}

void stopTheServer() {
    if (theServer())
        theServer()->stop();
}

// The newest PostgreSQL's programs: TENEMARK_PG_BINDIR, Debian's /usr/lib/postgresql/N/bin, or PATH.
QString serverBinFolder() {
    const QString configured = qEnvironmentVariable("TENEMARK_PG_BINDIR");
    if (!configured.isEmpty())
        return configured;
    QDir versions(u"/usr/lib/postgresql"_s);
    int best = 0;
    QString folder;
    for (const QString& v : versions.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool ok = false;
        const int number = v.toInt(&ok);
        if (ok && number > best && QFile::exists(versions.filePath(v + u"/bin/initdb"_s))) {
            best = number;
            folder = versions.filePath(v + u"/bin"_s);
        }
    }
    if (!folder.isEmpty())
        return folder;
    const QString initdb = QStandardPaths::findExecutable(u"initdb"_s);
    return initdb.isEmpty() ? QString() : QFileInfo(initdb).absolutePath();
}

// A port on 127.0.0.1 that nothing listens on right now.
int freePort() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (s < 0)
        return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(s);
    return port;
}

struct ConnectionDeleter {
    void operator()(PGconn* c) const { PQfinish(c); }
};
struct ResultDeleter {
    void operator()(PGresult* r) const { PQclear(r); }
};

// The account the server's programs run as: nobody when we are root, else ourselves.
struct Account {
    bool switchUser = false;
    uid_t uid = 0;
    gid_t gid = 0;
};

Account serverAccount() {
    Account a;
    if (::geteuid() != 0)
        return a;
    const passwd* nobody = ::getpwnam("nobody");
    if (!nobody)
        return a;
    a.switchUser = true;
    a.uid = nobody->pw_uid;
    a.gid = nobody->pw_gid;
    return a;
}

// The command line that runs `program` as that account and, with `tied`, ends it with SIGINT (a
// fast shutdown) when this process dies.
std::pair<QString, QStringList> command(const Account& account, const QString& program,
                                        const QStringList& args, bool tied) {
    const QString setpriv = QStandardPaths::findExecutable(u"setpriv"_s);
    if (setpriv.isEmpty())
        return {program, args};
    QStringList prefix;
    if (account.switchUser)
        prefix << u"--reuid=%1"_s.arg(account.uid) << u"--regid=%1"_s.arg(account.gid) << u"--clear-groups"_s;
    if (tied)
        prefix << u"--pdeathsig"_s << u"INT"_s;
    if (prefix.isEmpty())
        return {program, args};
    return {setpriv, prefix + QStringList{u"--"_s, program} + args};
}

bool giveTo(const Account& account, const QString& path) {
    return !account.switchUser || ::chown(QFile::encodeName(path).constData(), account.uid, account.gid) == 0;
}

} // namespace

TestServer* TestServer::instance() {
    static bool tried = false;
    if (!tried) {
        tried = true;
        std::unique_ptr<TestServer> server(new TestServer);
        QString failure;
        if (server->start(&failure)) {
            theServer() = std::move(server);
            qAddPostRoutine(stopTheServer);
            std::atexit(stopTheServer);
        } else {
            theReason() = failure;
        }
    }
    return theServer().get();
}

QString TestServer::unavailableReason() {
    return theReason();
}

TestServer::~TestServer() {
    stop();
}

bool TestServer::start(QString* failure) {
    const QString bin = serverBinFolder();
    if (bin.isEmpty()) {
        *failure = u"PostgreSQL is not installed (no initdb; the package postgresql brings it)"_s;
        return false;
    }
    if (!m_dir.isValid()) {
        *failure = u"no temporary folder"_s;
        return false;
    }
    const Account account = serverAccount();
    // The server's user must reach its folder inside ours.
    ::chmod(QFile::encodeName(m_dir.path()).constData(), 0711);
    const QString data = m_dir.filePath(u"data"_s);
    if (!QDir().mkpath(data) || !giveTo(account, data) ||
        ::chmod(QFile::encodeName(data).constData(), 0700) != 0) {
        *failure = u"cannot prepare the data folder"_s;
        return false;
    }

    QProcess initdb;
    initdb.setProcessChannelMode(QProcess::MergedChannels);
    const auto [initProgram, initArgs] =
        command(account, bin + u"/initdb"_s,
                {u"-D"_s, data, u"-U"_s, QString::fromUtf16(Superuser), u"-A"_s, u"trust"_s, u"-E"_s,
                 u"UTF8"_s, u"--no-locale"_s, u"--no-sync"_s},
                false);
    initdb.start(initProgram, initArgs);
    if (!initdb.waitForFinished(120'000) || initdb.exitStatus() != QProcess::NormalExit ||
        initdb.exitCode() != 0) {
        *failure = u"initdb failed: "_s + QString::fromLocal8Bit(initdb.readAll());
        return false;
    }
    QFile hba(data + u"/pg_hba.conf"_s);
    if (!hba.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        *failure = u"cannot write pg_hba.conf"_s;
        return false;
    }
    hba.write("host all " + QString::fromUtf16(PasswordUser).toUtf8() +
              " 127.0.0.1/32 scram-sha-256\n"
              "host all all 127.0.0.1/32 trust\n");
    hba.close();

    // Another process may take the port between the look and the start: try a few.
    for (int attempt = 0; attempt < 5; ++attempt) {
        m_port = freePort();
        if (!launch(failure))
            continue;
        const QString password = QString::fromUtf16(PasswordUserPassword).replace(u"'"_s, u"''"_s);
        const QString error = exec(u"postgres"_s, u"create role %1 login superuser password '%2'"_s.arg(
                                                      QString::fromUtf16(PasswordUser), password));
        if (!error.isEmpty()) {
            *failure = error;
            stop();
            return false;
        }
        return true;
    }
    return false;
}

bool TestServer::launch(QString* failure) {
    const Account account = serverAccount();
    auto server = std::make_unique<QProcess>();
    server->setStandardOutputFile(m_dir.filePath(u"server.log"_s), QIODevice::Append);
    server->setStandardErrorFile(m_dir.filePath(u"server.log"_s), QIODevice::Append);
    const auto [program, args] = command(
        account, serverBinFolder() + u"/postgres"_s,
        {u"-D"_s, m_dir.filePath(u"data"_s), u"-c"_s, u"listen_addresses=127.0.0.1"_s, u"-c"_s,
         u"port=%1"_s.arg(m_port), u"-c"_s, u"unix_socket_directories="_s, u"-c"_s, u"fsync=off"_s, u"-c"_s,
         u"synchronous_commit=off"_s, u"-c"_s, u"full_page_writes=off"_s, u"-c"_s, u"max_connections=60"_s},
        true);
    server->start(program, args);
    if (!server->waitForStarted(10'000)) {
        *failure = u"the server did not start: "_s + server->errorString();
        return false;
    }
    const QByteArray ping = settings().connectionString().toUtf8() + " connect_timeout=2";
    QElapsedTimer waited;
    waited.start();
    while (server->state() == QProcess::Running && waited.elapsed() < 60'000) {
        if (PQping(ping.constData()) == PQPING_OK) {
            m_server = std::move(server);
            return true;
        }
        QThread::msleep(50);
    }
    server->kill();
    server->waitForFinished(5000);
    QFile log(m_dir.filePath(u"server.log"_s));
    log.open(QIODevice::ReadOnly);
    *failure = u"the server did not come up: "_s + QString::fromLocal8Bit(log.readAll().right(2000));
    return false;
}

bool TestServer::restart() {
    stop();
    QString failure;
    if (launch(&failure))
        return true;
    qWarning("the test server did not start again: %s", qPrintable(failure));
    return false;
}

void TestServer::stop() {
    if (!m_server)
        return;
    if (m_server->state() != QProcess::NotRunning) {
        // A fast shutdown: clients are cut off and nothing is written that is not needed.
        ::kill(pid_t(m_server->processId()), SIGINT);
        if (!m_server->waitForFinished(15'000)) {
            m_server->kill();
            m_server->waitForFinished(5000);
        }
    }
    m_server.reset();
}

StoreSettings TestServer::settings(const QString& database) const {
    StoreSettings s;
    s.driver = StoreSettings::Driver::Server;
    s.host = u"127.0.0.1"_s;
    s.port = m_port;
    s.name = database;
    s.user = QString::fromUtf16(Superuser);
    return s;
}

QString TestServer::exec(const QString& database, const QString& sql) {
    const std::unique_ptr<PGconn, ConnectionDeleter> c(
        PQconnectdb(settings(database).connectionString().toUtf8().constData()));
    if (PQstatus(c.get()) != CONNECTION_OK)
        return QString::fromUtf8(PQerrorMessage(c.get())).trimmed();
    const std::unique_ptr<PGresult, ResultDeleter> r(PQexec(c.get(), sql.toUtf8().constData()));
    const ExecStatusType status = PQresultStatus(r.get());
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
        return QString::fromUtf8(PQresultErrorMessage(r.get())).trimmed();
    return QString();
}

QString TestServer::scalar(const QString& database, const QString& sql) {
    const std::unique_ptr<PGconn, ConnectionDeleter> c(
        PQconnectdb(settings(database).connectionString().toUtf8().constData()));
    if (PQstatus(c.get()) != CONNECTION_OK)
        qFatal("cannot reach the test server: %s", PQerrorMessage(c.get()));
    const std::unique_ptr<PGresult, ResultDeleter> r(PQexec(c.get(), sql.toUtf8().constData()));
    if (PQresultStatus(r.get()) != PGRES_TUPLES_OK)
        qFatal("%s: %s", qPrintable(sql), PQresultErrorMessage(r.get()));
    return PQntuples(r.get()) > 0 && PQnfields(r.get()) > 0 ? QString::fromUtf8(PQgetvalue(r.get(), 0, 0))
                                                            : QString();
}

QString TestServer::createDatabase() {
    const QString name = u"catalogue%1"_s.arg(++m_databases);
    QString error = exec(u"postgres"_s, u"create database %1 template template0 encoding 'UTF8' locale 'C' "
                                        u"locale_provider icu icu_locale 'ru-RU'"_s.arg(name));
    if (!error.isEmpty()) // a server built without ICU
        error = exec(u"postgres"_s, u"create database %1 template template0 encoding 'UTF8'"_s.arg(name));
    if (!error.isEmpty())
        qFatal("cannot create a database: %s", qPrintable(error));
    return name;
}

StoreSettings TestServer::createCatalogue() {
    if (m_catalogueDatabase.isEmpty())
        m_catalogueDatabase = createDatabase();
    const QString schema = u"catalogue%1"_s.arg(++m_catalogues);
    const QString error = exec(m_catalogueDatabase, u"create schema "_s + schema);
    if (!error.isEmpty())
        qFatal("cannot create a schema: %s", qPrintable(error));
    StoreSettings s = settings(m_catalogueDatabase);
    s.serverOptions = u"-c search_path="_s + schema;
    const QString connection = u"tenemark-create"_s;
    Database::createSchema(Database::addServerConnection(connection, s));
    QSqlDatabase::removeDatabase(connection);
    return s;
}

void TestServer::dropDatabase(const QString& name) {
    exec(u"postgres"_s, u"drop database if exists %1 with (force)"_s.arg(name));
}
