#include "Database.h"

#include "AppError.h"
#include "Libpq.h"
#include "SharedConnection.h"
#include "Statements.h"
#include "ValueText.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlRecord>
#include <QThread>
#include <libpq-fe.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>
#include <thread>

using namespace Qt::StringLiterals;

namespace {
const QString ConnectionName = u"tenemark"_s;

// Follows the user's locale, also when a test changes it.
const ValueText& valueText() {
    static QLocale locale;
    static ValueText vt(locale);
    if (QLocale() != locale) {
        locale = QLocale();
        vt = ValueText(locale);
    }
    return vt;
}

// A statement waits for another connection's lock only this long before it gives up with
// SQLITE_BUSY; the unit it belongs to waits between attempts (runUnit), where the program's event
// loop goes on.
constexpr int BusySliceMs = 25;
// The same on the server (lock_timeout of the shared connection's session).
const QString ServerLockTimeout = u"set lock_timeout = '25ms'"_s;

// SQLite calls the busy handler again and again while the lock stays taken.
struct BusySlice {
    QElapsedTimer waited;
    QRandomGenerator jitter{quint32(QRandomGenerator::system()->generate())};
};

int busyHandler(void* context, int attempts) {
    auto* slice = static_cast<BusySlice*>(context);
    if (attempts == 0)
        slice->waited.start();
    if (slice->waited.elapsed() >= BusySliceMs)
        return 0;
    // Short pauses with jitter: the other copy frees the lock only for a moment between two of
    // its writes, and two waiting copies must not poll in step.
    std::this_thread::sleep_for(std::chrono::microseconds(500 + slice->jitter.bounded(2500)));
    return 1;
}

BusySlice& sharedSlice() {
    static BusySlice slice;
    return slice;
}

// The connection settings that keep the file safe; run on every open.
void configure(QSqlDatabase& db, sqlite3* handle) {
    sqlite3_extended_result_codes(handle, 1);
    // Replaces the driver's busy timeout.
    sqlite3_busy_handler(handle, busyHandler, &sharedSlice());
    QSqlQuery pragma(db);
    if (!pragma.exec(u"pragma synchronous=FULL"_s) || !pragma.exec(u"pragma journal_mode"_s) ||
        !pragma.next())
        Database::fail(pragma.lastError(), db);
    if (pragma.value(0).toString() != u"delete") {
        pragma.finish();
        // Only a file another client put into WAL mode; leaving it needs the file to itself. While
        // that client keeps it open the file stays in WAL, as safe, only not for a network folder.
        sqlite3_busy_handler(handle, nullptr, nullptr);
        pragma.exec(u"pragma journal_mode=DELETE"_s);
        sqlite3_busy_handler(handle, busyHandler, &sharedSlice());
    }
    pragma.finish();
}

// The engine's own text of a failure.
QString rawEngineText(const QSqlError& error) {
    QString text = error.databaseText().trimmed();
    if (text.isEmpty())
        text = error.driverText().trimmed();
    if (text.isEmpty())
        text = error.text().trimmed();
    return text;
}

bool folderWritable(const QString& path) {
    const QFileInfo folder(QFileInfo(path).absolutePath());
    return folder.isDir() && folder.isWritable();
}

// A server's failure carries its SQLSTATE, five letters and digits; SQLite's codes are numbers
// below 10000.
bool isSqlState(const QString& code) {
    static const QRegularExpression re(u"^[0-9A-Z]{5}$"_s);
    return re.match(code).hasMatch();
}

// The server's message without its severity word ("ERROR:  ", in the server's language), the
// statement's position and the SQLSTATE that the driver appends.
QString serverMessage(const QString& text) {
    static const QRegularExpression severity(u"^[^\\s:]+:  "_s);
    QString first = text.trimmed().section(u'\n', 0, 0).trimmed();
    first.remove(severity);
    return first;
}

// libpq's text of a failed connection: its lines joined.
QString connectionMessage(const char* message) {
    QStringList lines = QString::fromUtf8(message).split(u'\n', Qt::SkipEmptyParts);
    for (QString& line : lines)
        line = line.trimmed();
    return lines.join(u' ');
}

struct ConnectionDeleter {
    void operator()(PGconn* c) const { PQfinish(c); }
};

// Connects once with libpq alone: whether the server can be reached with these settings, and if
// not, whether it only lacks a password. libpq reads ~/.pgpass and the service file itself.
enum class Probe { Reached, PasswordNeeded, PasswordRefused, Failed };
Probe probeServer(const StoreSettings& settings, const QString& password, QString* failure) {
    const QString conninfo = settings.connectionString(password) + u" connect_timeout=10"_s;
    const std::unique_ptr<PGconn, ConnectionDeleter> c(PQconnectdb(conninfo.toUtf8().constData()));
    if (!c) {
        *failure = u"out of memory"_s;
        return Probe::Failed;
    }
    if (PQstatus(c.get()) == CONNECTION_OK)
        return Probe::Reached;
    if (password.isEmpty() && PQconnectionNeedsPassword(c.get()))
        return Probe::PasswordNeeded;
    *failure = connectionMessage(PQerrorMessage(c.get()));
    // The server asked for a password and did not take the one given (or found in ~/.pgpass).
    if (PQconnectionUsedPassword(c.get()))
        return password.isEmpty() ? Probe::PasswordNeeded : Probe::PasswordRefused;
    return Probe::Failed;
}

QString unreachableText(const StoreSettings& settings, const QString& reason) {
    return u"Не удалось подключиться к серверу базы данных %1: %2"_s.arg(settings.describe(), reason);
}

// Set for the session, so that a service file's or PGOPTIONS' own options stay as they are.
QStringList sessionStatements(Database::Access access) {
    // A lock that another copy holds is waited for as long as on the file, then given up.
    QStringList session = {u"set lock_timeout = '120s'"_s};
    if (access == Database::Access::ReadOnly)
        session << u"set session characteristics as transaction read only"_s;
    return session;
}

// The QPSQL connection once libpq has got through; nullopt when a password is needed.
std::optional<QSqlDatabase> connectServer(const QString& name, const StoreSettings& settings,
                                          const QString& password, Database::Access access) {
    // Refused before anything connects.
    const QString driverOptions = settings.driverOptions();
    QString failure;
    switch (probeServer(settings, password, &failure)) {
    case Probe::Reached:
        break;
    case Probe::PasswordNeeded:
        return std::nullopt;
    case Probe::PasswordRefused:
        throw Database::PasswordRefused(unreachableText(settings, failure));
    case Probe::Failed:
        throw AppError(unreachableText(settings, failure));
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(u"QPSQL"_s, name);
    if (!db.isValid()) {
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(name);
        throw AppError(u"Драйвер QPSQL для сервера PostgreSQL не установлен (пакет libqt6sql6-psql)"_s);
    }
    if (!settings.host.isEmpty())
        db.setHostName(settings.host);
    if (settings.port > 0)
        db.setPort(settings.port);
    db.setDatabaseName(settings.name);
    db.setUserName(settings.user);
    db.setPassword(password);
    QStringList options = {u"connect_timeout=10"_s, u"application_name=Tenemark"_s};
    if (!driverOptions.isEmpty())
        options << driverOptions;
    db.setConnectOptions(options.join(u';'));
    if (!db.open()) {
        const QString text = serverMessage(db.lastError().databaseText());
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(name);
        throw AppError(unreachableText(settings, text.isEmpty() ? u"нет ответа"_s : text));
    }
    // Money (numeric) is read as a double, as SQLite hands it out.
    db.setNumericalPrecisionPolicy(QSql::LowPrecisionDouble);
    QSqlQuery set(db);
    for (const QString& statement : sessionStatements(access)) {
        if (!set.exec(statement)) {
            const QString text = engineErrorText(set.lastError());
            set = QSqlQuery();
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(name);
            throw AppError(unreachableText(settings, text));
        }
    }
    return db;
}

bool isServerConnection(const QSqlDatabase& db) {
    return Statements::dialectOf(db) == Statements::Dialect::PostgreSQL;
}

// The shared connection on a server: what a new connection to it needs.
struct SharedServer {
    bool active = false;
    StoreSettings settings;
    Database::Access access = Database::Access::ReadWrite;
    QThread* thread = nullptr;
    std::function<void(bool)> stateNotifier;
    std::function<bool(QString&)> passwordPrompt;
};

SharedServer& sharedServer() {
    static SharedServer server;
    return server;
}

void tellServerState(bool reachable) {
    if (sharedServer().stateNotifier)
        sharedServer().stateNotifier(reachable);
}

// The shared connection waits for another desk's lock only a short slice; runUnit() waits between
// attempts.
void startSharedSession(QSqlDatabase& db, Database::Access access) {
    const QStringList statements = sessionStatements(access) << ServerLockTimeout;
    QSqlQuery set(db);
    for (const QString& statement : statements) {
        if (!set.exec(statement))
            Database::fail(set.lastError(), db);
    }
}

// Every query object, so that a new server connection can drop the statements prepared on the old
// one (a statement name unknown to the new session would fail the transaction that uses it).
struct LiveQueries {
    QMutex mutex;
    QSet<StoreQuery*> queries;

    void add(StoreQuery* query) {
        const QMutexLocker lock(&mutex);
        queries.insert(query);
    }
    void remove(StoreQuery* query) {
        const QMutexLocker lock(&mutex);
        queries.remove(query);
    }
};

LiveQueries& liveQueries() {
    static LiveQueries live;
    return live;
}

QString noConnectionText(const StoreSettings& settings, const QString& reason) {
    return u"Нет связи с сервером базы данных %1, действие не выполнено: %2"_s.arg(
        settings.describe(), reason.isEmpty() ? u"нет ответа"_s : reason);
}

Database::WriteAccess serverWriteAccess(const QSqlDatabase& db) {
    QSqlQuery q(db);
    if (!q.exec(u"select pg_is_in_recovery() or current_setting('transaction_read_only') = 'on', "
                u"has_table_privilege('items', 'INSERT') and has_table_privilege('items', 'UPDATE') and "
                u"has_table_privilege('items', 'DELETE')"_s) ||
        !q.next())
        return Database::WriteAccess::ReadOnlyConnection;
    return q.value(0).toBool() || !q.value(1).toBool() ? Database::WriteAccess::ReadOnlyConnection
                                                       : Database::WriteAccess::Writable;
}

} // namespace

QString engineErrorText(const QSqlError& error) {
    const QString native = error.nativeErrorCode();
    if (isSqlState(native))
        return Database::serverErrorText(native, serverMessage(rawEngineText(error)));
    bool ok = false;
    const int code = native.toInt(&ok);
    return Database::errorText(ok ? code : SQLITE_ERROR, rawEngineText(error));
}

namespace Database {

QSqlDatabase connection() {
    return QSqlDatabase::database(ConnectionName, false);
}

bool isOpen() {
    // A server connection that broke is still the program's; the next unit opens it again.
    return QSqlDatabase::contains(ConnectionName) && (sharedServer().active || connection().isOpen());
}

void close() {
    sharedServer().active = false;
    if (!QSqlDatabase::contains(ConnectionName))
        return;
    {
        QSqlDatabase db = connection();
        if (db.isOpen())
            db.close();
    }
    QSqlDatabase::removeDatabase(ConnectionName);
}

void open(const QString& path, Access access) {
    close();
    QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, ConnectionName);
    db.setDatabaseName(path);
    if (access == Access::ReadOnly)
        db.setConnectOptions(u"QSQLITE_OPEN_READONLY"_s);
    if (!db.open())
        throw AppError(rawEngineText(db.lastError()));
    try {
        read([&db] {
            if (sqlite3* handle = sqliteHandle(db))
                configure(db, handle);
            // SQLite opens lazily: read the schema now so that a file that is no database fails here.
            QSqlQuery probe(db);
            if (!probe.exec(u"select count(*) from sqlite_master"_s))
                fail(probe.lastError(), db);
        });
    } catch (const AppError&) {
        db = QSqlDatabase();
        close();
        throw;
    }
}

QStringList schemaStatements() {
    return Statements::schema(Statements::Dialect::SQLite);
}

ServerLogin openServer(const StoreSettings& settings, const QString& password, Access access) {
    close();
    std::optional<QSqlDatabase> db = connectServer(ConnectionName, settings, password, access);
    if (!db)
        return ServerLogin::PasswordNeeded;
    if (!catalogueTablesIn(*db).contains(u"items"_s)) {
        db.reset();
        close();
        throw AppError(
            u"В базе данных %1 нет таблиц каталога: создайте их командой "
            u"«tenemark-db create --server \"%2\"»"_s.arg(settings.describe(), settings.connectionString()));
    }
    try {
        startSharedSession(*db, access);
    } catch (const AppError& e) {
        db.reset();
        close();
        throw AppError(unreachableText(settings, e.text()));
    }
    SharedServer& shared = sharedServer();
    shared.active = true;
    shared.settings = settings;
    shared.access = access;
    shared.thread = QThread::currentThread();
    return ServerLogin::Opened;
}

ServerLogin openStore(const StoreSettings& settings, const QString& filePath, const QString& password) {
    if (settings.isServer())
        return openServer(settings, password);
    open(filePath);
    return ServerLogin::Opened;
}

bool isServer() {
    return isOpen() && isServerConnection(connection());
}

QSqlDatabase addServerConnection(const QString& connectionName, const StoreSettings& settings,
                                 const QString& password, Access access) {
    std::optional<QSqlDatabase> db = connectServer(connectionName, settings, password, access);
    if (!db)
        throw AppError(unreachableText(settings, u"сервер требует пароль; укажите его в ~/.pgpass (или файле "
                                                 u"из PGPASSFILE) либо в переменной PGPASSWORD"_s));
    return *db;
}

QStringList catalogueTablesIn(const QSqlDatabase& connection) {
    QStringList present;
    const QStringList wanted = Statements::catalogueTables();
    QStringList tables;
    if (isServerConnection(connection)) {
        // The schema that unqualified names reach, not every schema of the database.
        QSqlQuery q(connection);
        if (!q.exec(
                u"select table_name from information_schema.tables where table_schema = current_schema()"_s))
            throw AppError(engineErrorText(q.lastError()));
        while (q.next())
            tables << q.value(0).toString();
    } else {
        tables = connection.tables(QSql::Tables);
    }
    for (const QString& table : tables) {
        const QString lower = table.toLower();
        if (wanted.contains(lower) && !present.contains(lower))
            present << lower;
    }
    // In the catalogue's own order.
    std::sort(present.begin(), present.end(),
              [&](const QString& a, const QString& b) { return wanted.indexOf(a) < wanted.indexOf(b); });
    return present;
}

void createSchema(QSqlDatabase connection) {
    const QStringList existing = catalogueTablesIn(connection);
    if (!existing.isEmpty())
        throw AppError(u"В базе данных уже есть таблицы каталога (%1): они оставлены как есть."_s.arg(
            existing.join(u", "_s)));
    const Statements::Dialect dialect = Statements::dialectOf(connection);
    QSqlQuery q(connection);
    if (dialect == Statements::Dialect::PostgreSQL) {
        if (!q.exec(u"select current_setting('server_encoding')"_s) || !q.next())
            throw AppError(engineErrorText(q.lastError()));
        const QString encoding = q.value(0).toString();
        q.finish();
        if (encoding.compare(u"UTF8"_s, Qt::CaseInsensitive) != 0)
            throw AppError(u"База данных на сервере хранит текст в кодировке %1; каталогу нужна UTF8 "
                           u"(createdb -E UTF8 -T template0 ...)"_s.arg(encoding));
    }
    Transaction transaction(connection);
    for (const QString& statement : Statements::schema(dialect)) {
        if (!q.exec(statement))
            throw AppError(engineErrorText(q.lastError()));
    }
    q.finish();
    transaction.commit();
}

void createSchema(const QString& path) {
    if (QFileInfo::exists(path))
        throw AppError(u"Файл %1 уже существует."_s.arg(path));
    const QString name = u"tenemark-create"_s;
    QString error;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, name);
        db.setDatabaseName(path);
        if (!db.open()) {
            error = rawEngineText(db.lastError());
        } else {
            QSqlQuery q(db);
            db.transaction();
            for (const QString& statement : schemaStatements()) {
                if (!q.exec(statement)) {
                    error = engineErrorText(q.lastError());
                    break;
                }
            }
            if (error.isEmpty())
                db.commit();
            else
                db.rollback();
            q = QSqlQuery();
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(name);
    if (!error.isEmpty())
        throw AppError(error);
}

WriteAccess writeAccess() {
    if (!isOpen())
        return WriteAccess::ReadOnlyConnection;
    const QSqlDatabase db = connection();
    if (isServerConnection(db))
        return serverWriteAccess(db);
    const QFileInfo file(db.databaseName());
    if (file.exists() && !file.isWritable())
        return WriteAccess::ReadOnlyFile;
    if (!folderWritable(db.databaseName()))
        return WriteAccess::ReadOnlyFolder;
    if (sqlite3* handle = sqliteHandle(db); handle && sqlite3_db_readonly(handle, "main") != 0)
        return WriteAccess::ReadOnlyConnection;
    return WriteAccess::Writable;
}

bool isReadOnly() {
    return writeAccess() != WriteAccess::Writable;
}

QString writeAccessText(WriteAccess access) {
    switch (access) {
    case WriteAccess::Writable:
        break;
    case WriteAccess::ReadOnlyFile:
        return u"Файл базы данных доступен только для чтения: изменения не будут сохранены."_s;
    case WriteAccess::ReadOnlyFolder:
        return u"Папка с файлом базы данных недоступна для записи: изменения не будут сохранены."_s;
    case WriteAccess::ReadOnlyConnection:
        return u"База данных открыта только для чтения: изменения не будут сохранены."_s;
    }
    return QString();
}

void setServerStateNotifier(std::function<void(bool reachable)> notifier) {
    sharedServer().stateNotifier = std::move(notifier);
}

void setPasswordPrompt(std::function<bool(QString& password)> prompt) {
    sharedServer().passwordPrompt = std::move(prompt);
}

void fail(const QSqlError& error, const QSqlDatabase& db) {
    const QString native = error.nativeErrorCode();
    const QString raw = rawEngineText(error);
    if (isSqlState(native))
        failServer(native, serverMessage(raw));
    // The driver tells a broken connection by its state only ("no connection to the server", or
    // nothing at all once it counts the connection as closed).
    if (isServerConnection(db) && !db.isOpen()) {
        const QString reason = serverMessage(raw);
        throw ConnectionLostError(
            serverErrorText(u"08006"_s, reason.isEmpty() ? u"соединение закрыто"_s : reason));
    }
    bool ok = false;
    const int code = native.toInt(&ok);
    if (ok && (code & 0xff) == SQLITE_BUSY)
        throw BusyError(errorText(code, raw));
    const QString text = errorText(ok ? code : SQLITE_ERROR, raw);
    throw AppError(text.trimmed().isEmpty() ? u"База данных отказала, не сообщив причину"_s : text);
}

void failServer(const QString& state, const QString& serverText) {
    const QString text = serverErrorText(state, serverText);
    if (state == u"55P03" || state == u"40P01" || state == u"40001")
        throw BusyError(text);
    if (state.startsWith(u"08") || state == u"57P01" || state == u"57P02" || state == u"57P03")
        throw ConnectionLostError(text);
    throw AppError(text.trimmed().isEmpty() ? u"База данных отказала, не сообщив причину"_s : text);
}

sqlite3* sqliteHandle(const QSqlDatabase& db) {
    const QSqlDriver* driver = db.driver();
    if (!driver)
        return nullptr;
    const QVariant handle = driver->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return nullptr;
    return *static_cast<sqlite3* const*>(handle.data());
}

QString errorText(int code, const QString& engineText) {
    QString reason;
    switch (code & 0xff) {
    case SQLITE_FULL:
        reason = u"Недостаточно места на диске: изменения не сохранены"_s;
        break;
    case SQLITE_READONLY:
        reason = code == SQLITE_READONLY_DIRECTORY
                     ? u"Папка с файлом базы данных недоступна для записи, журнал изменений не создан: "
                       u"изменения не сохранены"_s
                     : u"Файл базы данных доступен только для чтения: изменения не сохранены"_s;
        break;
    case SQLITE_CANTOPEN:
        reason = u"Не удалось создать журнал изменений рядом с файлом базы данных: изменения не сохранены"_s;
        break;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        reason = u"База данных слишком долго занята другой копией программы: действие не выполнено"_s;
        break;
    case SQLITE_IOERR:
        reason = u"Ошибка чтения или записи файла базы данных: действие не выполнено"_s;
        break;
    default:
        return engineText;
    }
    return u"%1 (%2)"_s.arg(reason, engineText);
}

QString serverErrorText(const QString& state, const QString& serverText) {
    QString reason;
    if (state == u"53100")
        reason = u"На сервере базы данных недостаточно места на диске: изменения не сохранены"_s;
    else if (state == u"25006")
        reason = u"База данных на сервере открыта только для чтения: изменения не сохранены"_s;
    else if (state == u"42501")
        reason = u"Недостаточно прав на сервере базы данных: действие не выполнено"_s;
    else if (state == u"55P03" || state == u"40P01" || state == u"40001")
        reason = u"База данных слишком долго занята другой копией программы: действие не выполнено"_s;
    else if (state.startsWith(u"08") || state == u"57P01" || state == u"57P02" || state == u"57P03")
        reason = u"Связь с сервером базы данных прервана: действие не выполнено"_s;
    else
        return serverText;
    return u"%1 (%2)"_s.arg(reason, serverText);
}

} // namespace Database

namespace SharedConnection {

bool isServer() {
    return sharedServer().active;
}

void reopen() {
    SharedServer& shared = sharedServer();
    // The password prompt runs an event loop: a unit that an event starts meanwhile is refused.
    static bool reopening = false;
    if (reopening)
        throw AppError(noConnectionText(shared.settings, u"соединение ещё открывается"_s));
    reopening = true;
    const auto done = qScopeGuard([] { reopening = false; });
    QSqlDatabase db = Database::connection();
    {
        LiveQueries& live = liveQueries();
        const QMutexLocker lock(&live.mutex);
        for (StoreQuery* query : std::as_const(live.queries)) {
            if (query->database().connectionName() == ConnectionName)
                query->forgetStatement();
        }
    }
    db.close();
    bool opened = db.open();
    if (!opened && shared.passwordPrompt) {
        // Asked again only when the server says that it wants another password.
        QString failure;
        const Probe probe = probeServer(shared.settings, db.password(), &failure);
        QString password;
        if ((probe == Probe::PasswordNeeded || probe == Probe::PasswordRefused) &&
            shared.passwordPrompt(password)) {
            db.setPassword(password);
            opened = db.open();
        }
    }
    if (!opened) {
        const QString reason = serverMessage(db.lastError().databaseText());
        tellServerState(false);
        throw AppError(noConnectionText(shared.settings, reason));
    }
    try {
        startSharedSession(db, shared.access);
    } catch (const AppError& e) {
        tellServerState(false);
        throw AppError(noConnectionText(shared.settings, e.text()));
    }
    tellServerState(true);
}

void reopenIfClosed() {
    const SharedServer& shared = sharedServer();
    if (!shared.active || QThread::currentThread() != shared.thread)
        return;
    // A connection that the server closed while it was idle (a restart) says so only once its
    // input is read.
    if (PGconn* c = Libpq::handle(Database::connection())) {
        PQconsumeInput(c);
        if (PQstatus(c) == CONNECTION_OK)
            return;
    }
    reopen();
}

} // namespace SharedConnection

StoreQuery::StoreQuery() : StoreQuery(Database::connection()) {}

StoreQuery::StoreQuery(const QSqlDatabase& db) : m_db(db), m_query(db) {
    liveQueries().add(this);
}

StoreQuery::StoreQuery(StoreQuery&& other) noexcept
    : m_db(std::move(other.m_db)), m_query(std::move(other.m_query)), m_text(std::move(other.m_text)),
      m_rowsAffected(other.m_rowsAffected), m_bound(std::move(other.m_bound)) {
    liveQueries().add(this);
}

StoreQuery::~StoreQuery() {
    liveQueries().remove(this);
}

void StoreQuery::forgetStatement() {
    m_query = QSqlQuery(m_db);
}

void StoreQuery::fail() const {
    Database::fail(m_query.lastError(), m_db);
}

void StoreQuery::setText(const QString& text) {
    m_query.finish();
    m_bound.clear();
    m_text = text;
}

void StoreQuery::bind(const QString& name, const QVariant& value) {
    // An empty field is stored as empty text, not as null.
    const QVariant bound =
        value.typeId() == QMetaType::QString && value.toString().isNull() ? QVariant(u""_s) : value;
    m_bound.append({name, bound});
}

void StoreQuery::bindExact(const QString& name, const QVariant& value) {
    m_bound.append({name, value});
}

// Prepared where it runs, so that an attempt after a wait or on a new server connection starts
// from the text and the values.
void StoreQuery::prepareAndBind() {
    m_query.setForwardOnly(true);
    if (!m_query.prepare(m_text))
        fail();
    for (const auto& [name, value] : std::as_const(m_bound))
        m_query.bindValue(u':' + name, value);
}

void StoreQuery::open() {
    Database::read([this] {
        prepareAndBind();
        if (!m_query.exec())
            fail();
    });
}

void StoreQuery::execute() {
    Database::write([this] {
        prepareAndBind();
        if (!m_query.exec())
            fail();
        m_rowsAffected = m_query.numRowsAffected();
        m_query.finish();
    });
}

void StoreQuery::executeDirect(const QString& text) {
    m_query.finish();
    m_bound.clear();
    m_text = text;
    Database::write([this] {
        if (!m_query.exec(m_text))
            fail();
        m_rowsAffected = m_query.numRowsAffected();
        m_query.finish();
    });
}

void StoreQuery::openDirect() {
    if (!m_bound.isEmpty())
        throw AppError(u"Параметры запроса заданы, но не переданы: %1"_s.arg(m_text));
    Database::read([this] {
        m_query.finish();
        m_query.setForwardOnly(true);
        if (!m_query.exec(m_text))
            fail();
    });
}

bool StoreQuery::next() {
    if (m_query.next())
        return true;
    if (m_query.lastError().isValid())
        fail();
    return false;
}

void StoreQuery::finish() {
    m_query.finish();
}

int StoreQuery::columnIndex(const QString& name) const {
    return m_query.record().indexOf(name);
}

int StoreQuery::columnCount() const {
    return m_query.record().count();
}

QString StoreQuery::columnName(int index) const {
    return m_query.record().fieldName(index);
}

QVariant StoreQuery::value(int index) const {
    return m_query.value(index);
}

QVariant StoreQuery::value(const QString& name) const {
    const int index = columnIndex(name);
    if (index < 0)
        throw AppError(u"Поле %1 не найдено"_s.arg(name));
    return m_query.value(index);
}

QString StoreQuery::text(int index) const {
    const QString name = m_query.record().fieldName(index);
    return valueText().format(m_query.value(index), itemColumnKind(name));
}

QString StoreQuery::text(const QString& name) const {
    return valueText().format(value(name), itemColumnKind(name));
}

Transaction::Transaction(QSqlDatabase db)
    : m_db(std::move(db)), m_sqlite(Database::sqliteHandle(m_db) != nullptr) {
    if (Database::insideUnit()) {
        begin();
        return;
    }
    // Its start waits as a unit does; its statements then belong to it.
    Database::read([this] { begin(); });
    UnitDepth::enter();
    m_ownsUnit = true;
}

void Transaction::begin() {
    if (!m_sqlite) {
        if (!m_db.transaction())
            Database::fail(m_db.lastError(), m_db);
        return;
    }
    QSqlQuery begin(m_db);
    if (!begin.exec(u"BEGIN IMMEDIATE"_s))
        Database::fail(begin.lastError(), m_db);
}

Transaction::~Transaction() {
    if (m_ownsUnit)
        UnitDepth::leave();
    if (m_committed)
        return;
    if (!m_sqlite) {
        // Fails harmlessly on a connection that broke: the server has rolled back.
        if (m_db.isOpen())
            m_db.rollback();
        return;
    }
    // Fails harmlessly when the engine has already rolled back (a full disk, for one).
    QSqlQuery rollback(m_db);
    rollback.exec(u"ROLLBACK"_s);
}

void Transaction::commit() {
    if (!m_sqlite) {
        if (!m_db.commit())
            Database::fail(m_db.lastError(), m_db);
    } else {
        QSqlQuery commit(m_db);
        if (!commit.exec(u"COMMIT"_s))
            Database::fail(commit.lastError(), m_db);
    }
    m_committed = true;
}
