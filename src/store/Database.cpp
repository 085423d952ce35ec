#include "Database.h"

#include "AppError.h"
#include "Statements.h"
#include "ValueText.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlRecord>
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
constexpr int DefaultNotifyAfterMs = 2000;
constexpr int DefaultGiveUpAfterMs = 120'000;

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

// Waiting for a lock that another connection holds. SQLite calls the busy handler again and again
// while the lock stays taken; the trace callback runs when the waiting statement has gone on.
struct LockWait {
    std::function<void(bool)> notifier;
    int notifyAfterMs = DefaultNotifyAfterMs;
    int giveUpAfterMs = DefaultGiveUpAfterMs;
    QElapsedTimer waited;
    bool notified = false;
    QRandomGenerator jitter{quint32(QRandomGenerator::system()->generate())};

    void tell(bool waiting) {
        notified = waiting;
        if (!notifier)
            return;
        // An exception must not cross SQLite's C frames; the note is only a courtesy.
        try {
            notifier(waiting);
        } catch (...) {
        }
    }
};

LockWait& sharedWait() {
    static LockWait wait;
    return wait;
}

int busyHandler(void* context, int attempts) {
    auto* wait = static_cast<LockWait*>(context);
    if (attempts == 0)
        wait->waited.start();
    const qint64 elapsed = wait->waited.elapsed();
    if (elapsed >= wait->giveUpAfterMs) {
        if (wait->notified)
            wait->tell(false);
        return 0;
    }
    if (!wait->notified && elapsed >= wait->notifyAfterMs)
        wait->tell(true);
    // Short pauses with jitter: the other copy frees the lock only for a moment between two of
    // its writes, and two waiting copies must not poll in step.
    std::this_thread::sleep_for(std::chrono::microseconds(500 + wait->jitter.bounded(4500)));
    return 1;
}

int traceCallback(unsigned /*type*/, void* context, void* /*statement*/, void* /*detail*/) {
    auto* wait = static_cast<LockWait*>(context);
    if (wait->notified)
        wait->tell(false);
    return 0;
}

// The connection settings that keep the file safe; run on every open.
void configure(QSqlDatabase& db, sqlite3* handle) {
    sqlite3_extended_result_codes(handle, 1);
    LockWait& wait = sharedWait();
    wait.notified = false;
    // Replaces the driver's busy timeout.
    sqlite3_busy_handler(handle, busyHandler, &wait);
    sqlite3_trace_v2(handle, SQLITE_TRACE_PROFILE | SQLITE_TRACE_ROW, traceCallback, &wait);
    QSqlQuery pragma(db);
    if (!pragma.exec(u"pragma synchronous=FULL"_s) || !pragma.exec(u"pragma journal_mode"_s) ||
        !pragma.next())
        throw AppError(engineErrorText(pragma.lastError()));
    if (pragma.value(0).toString() != u"delete") {
        pragma.finish();
        // Only a file another client put into WAL mode; leaving it needs the file to itself. While
        // that client keeps it open the file stays in WAL, as safe, only not for a network folder.
        sqlite3_busy_handler(handle, nullptr, nullptr);
        pragma.exec(u"pragma journal_mode=DELETE"_s);
        sqlite3_busy_handler(handle, busyHandler, &wait);
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
enum class Probe { Reached, PasswordNeeded, Failed };
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
    return Probe::Failed;
}

QString unreachableText(const StoreSettings& settings, const QString& reason) {
    return u"Не удалось подключиться к серверу базы данных %1: %2"_s.arg(settings.describe(), reason);
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
    // A lock that another copy holds is waited for as long as on the file, then given up. Set for
    // the session, so that a service file's or PGOPTIONS' own options stay as they are.
    QStringList session = {u"set lock_timeout = '120s'"_s};
    if (access == Database::Access::ReadOnly)
        session << u"set session characteristics as transaction read only"_s;
    QSqlQuery set(db);
    for (const QString& statement : session) {
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
    return QSqlDatabase::contains(ConnectionName) && connection().isOpen();
}

void close() {
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
        if (sqlite3* handle = sqliteHandle(db))
            configure(db, handle);
        // SQLite opens lazily: read the schema now so that a file that is no database fails here.
        QSqlQuery probe(db);
        if (!probe.exec(u"select count(*) from sqlite_master"_s))
            throw AppError(engineErrorText(probe.lastError()));
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

void setWaitNotifier(std::function<void(bool waiting)> notifier) {
    sharedWait().notifier = std::move(notifier);
}

void setWaitLimits(int notifyAfterMs, int giveUpAfterMs) {
    LockWait& wait = sharedWait();
    wait.notifyAfterMs = notifyAfterMs < 0 ? DefaultNotifyAfterMs : notifyAfterMs;
    wait.giveUpAfterMs = giveUpAfterMs < 0 ? DefaultGiveUpAfterMs : giveUpAfterMs;
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

StoreQuery::StoreQuery() : StoreQuery(Database::connection()) {}

StoreQuery::StoreQuery(const QSqlDatabase& db) : m_db(db), m_query(db) {}

void StoreQuery::fail() const {
    throw AppError(engineErrorText(m_query.lastError()));
}

void StoreQuery::setText(const QString& text) {
    m_query.finish();
    m_bound.clear();
    m_text = text;
    m_query.setForwardOnly(true);
    if (!m_query.prepare(text))
        fail();
}

void StoreQuery::bind(const QString& name, const QVariant& value) {
    // An empty field is stored as empty text, not as null.
    const QVariant bound =
        value.typeId() == QMetaType::QString && value.toString().isNull() ? QVariant(u""_s) : value;
    m_query.bindValue(u':' + name, bound);
    m_bound.append({name, bound});
}

void StoreQuery::open() {
    if (!m_query.exec())
        fail();
}

void StoreQuery::execute() {
    if (!m_query.exec())
        fail();
    m_rowsAffected = m_query.numRowsAffected();
    m_query.finish();
}

void StoreQuery::executeDirect(const QString& text) {
    m_query.finish();
    m_bound.clear();
    m_text = text;
    if (!m_query.exec(text))
        fail();
    m_rowsAffected = m_query.numRowsAffected();
    m_query.finish();
}

void StoreQuery::openDirect() {
    if (!m_bound.isEmpty())
        throw AppError(u"Параметры запроса заданы, но не переданы: %1"_s.arg(m_text));
    m_query.finish();
    m_query.setForwardOnly(true);
    if (!m_query.exec(m_text))
        fail();
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
    if (!m_sqlite) {
        if (!m_db.transaction())
            throw AppError(engineErrorText(m_db.lastError()));
        return;
    }
    QSqlQuery begin(m_db);
    if (!begin.exec(u"BEGIN IMMEDIATE"_s))
        throw AppError(engineErrorText(begin.lastError()));
}

Transaction::~Transaction() {
    if (m_committed)
        return;
    if (!m_sqlite) {
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
            throw AppError(engineErrorText(m_db.lastError()));
    } else {
        QSqlQuery commit(m_db);
        if (!commit.exec(u"COMMIT"_s))
            throw AppError(engineErrorText(commit.lastError()));
    }
    m_committed = true;
}
