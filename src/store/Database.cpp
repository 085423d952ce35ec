#include "Database.h"

#include "AppError.h"
#include "ValueText.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlRecord>
#include <sqlite3.h>

#include <chrono>
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

} // namespace

QString engineErrorText(const QSqlError& error) {
    bool ok = false;
    const int code = error.nativeErrorCode().toInt(&ok);
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
    QStringList s;
    s << u"create table items (id integer primary key autoincrement, date_reg text, grupa text, rajon text, "
         u"obsh_plosh real, sanuzel text, komnoty text, tip_kv text, sost text, pech text, kolonka text, "
         u"etazh integer, etazhnost integer, dver text, perigorodka text, osob text, gaz text, konaliz text, "
         u"garazh text, voda text, tip_stroen text, stoim numeric, dolg numeric, kontakt_inf text)"_s;
    s << u"create table slides (id integer primary key autoincrement, parent_id integer, ext text, "
         u"picture blob, notes text)"_s;
    s << u"create index slides_parent on slides (parent_id)"_s;
    s << u"create table rooms (id integer primary key autoincrement, Items_ID integer, RoomName text, P real)"_s;
    s << u"create index rooms_item on rooms (Items_ID)"_s;
    s << u"create table pwl_cell (pwl_value text)"_s;
    for (const DirectoryTable& t : DirectoryTables)
        s << u"create table %1 (naimen text)"_s.arg(QLatin1StringView(t.table));
    return s;
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
