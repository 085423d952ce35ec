#include "Database.h"

#include "AppError.h"
#include "ValueText.h"

#include <QFileInfo>
#include <QSqlError>
#include <QSqlRecord>

using namespace Qt::StringLiterals;

namespace {
const QString ConnectionName = u"tenemark"_s;
constexpr int BusyTimeoutMs = 5000;

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
} // namespace

QString engineErrorText(const QSqlError& error) {
    QString text = error.databaseText().trimmed();
    if (text.isEmpty())
        text = error.driverText().trimmed();
    if (text.isEmpty())
        text = error.text().trimmed();
    return text;
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

void open(const QString& path) {
    close();
    QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, ConnectionName);
    db.setDatabaseName(path);
    db.setConnectOptions(u"QSQLITE_BUSY_TIMEOUT=%1"_s.arg(BusyTimeoutMs));
    if (!db.open())
        throw AppError(engineErrorText(db.lastError()));
    // SQLite opens lazily: read the schema now so that a file that is no database fails here.
    QSqlQuery probe(db);
    if (!probe.exec(u"select count(*) from sqlite_master"_s)) {
        const QString text = engineErrorText(probe.lastError());
        probe = QSqlQuery();
        db = QSqlDatabase();
        close();
        throw AppError(text);
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
            error = engineErrorText(db.lastError());
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

} // namespace Database

StoreQuery::StoreQuery() : StoreQuery(Database::connection()) {}

StoreQuery::StoreQuery(const QSqlDatabase& db) : m_query(db) {}

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

Transaction::Transaction(QSqlDatabase db) : m_db(std::move(db)) {
    if (!m_db.transaction())
        throw AppError(engineErrorText(m_db.lastError()));
}

Transaction::~Transaction() {
    if (!m_committed)
        m_db.rollback();
}

void Transaction::commit() {
    if (!m_db.commit())
        throw AppError(engineErrorText(m_db.lastError()));
    m_committed = true;
}
