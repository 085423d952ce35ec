#include "Libpq.h"

#include "Database.h"

#include <QLocale>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <libpq-fe.h>

using namespace Qt::StringLiterals;

namespace Libpq {

pg_conn* handle(const QSqlDatabase& db) {
    const QSqlDriver* driver = db.driver();
    if (!driver)
        return nullptr;
    // The driver names the type by libpq's struct (pg_conn*).
    const QVariant h = driver->handle();
    if (!h.isValid() || (qstrcmp(h.typeName(), "pg_conn*") != 0 && qstrcmp(h.typeName(), "PGconn*") != 0))
        return nullptr;
    return *static_cast<PGconn* const*>(h.data());
}

QString failureText(pg_conn* connection, const pg_result* result) {
    const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    const char* primary = result ? PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
    if (state && *state && primary)
        return Database::serverErrorText(QString::fromLatin1(state), QString::fromUtf8(primary));
    const char* message = result ? PQresultErrorMessage(result) : "";
    if (!*message && connection)
        message = PQerrorMessage(connection);
    return QString::fromUtf8(message).trimmed();
}

void fail(pg_conn* connection, const pg_result* result) {
    const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    const char* primary = result ? PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
    if (state && *state && primary)
        Database::failServer(QString::fromLatin1(state), QString::fromUtf8(primary));
    // libpq's own failures carry no state: a broken connection is told by the connection's status.
    const QString text = failureText(connection, result);
    if (!connection || PQstatus(connection) == CONNECTION_BAD)
        Database::failServer(u"08006"_s, text);
    Database::failServer(QString(), text);
}

void ResultDeleter::operator()(pg_result* r) const {
    PQclear(r);
}

namespace {

bool isNameStart(QChar c) {
    return c.isLetter() || c == u'_';
}

QByteArray serverText(const QVariant& value) {
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        return QByteArray::number(value.toLongLong());
    case QMetaType::Double:
        return QByteArray::number(value.toDouble(), 'g', QLocale::FloatingPointShortest);
    case QMetaType::Bool:
        return value.toBool() ? "true" : "false";
    default:
        return value.toString().toUtf8();
    }
}

} // namespace

Parameters::Parameters(const QString& statement, const QList<std::pair<QString, QVariant>>& bound) {
    QString out;
    out.reserve(statement.size());
    QStringList names;
    const qsizetype n = statement.size();
    for (qsizetype i = 0; i < n;) {
        const QChar c = statement[i];
        qsizetype end = i + 1;
        if (c == u'\'' || c == u'"') {
            // A quoted text or name; a doubled quote stays inside it.
            while (end < n) {
                if (statement[end] == c && !(end + 1 < n && statement[end + 1] == c)) {
                    ++end;
                    break;
                }
                end += statement[end] == c ? 2 : 1;
            }
        } else if (c == u'-' && end < n && statement[end] == u'-') {
            while (end < n && statement[end] != u'\n')
                ++end;
        } else if (c == u'/' && end < n && statement[end] == u'*') {
            const qsizetype close = statement.indexOf(u"*/", end + 1);
            end = close < 0 ? n : close + 2;
        } else if (c == u':' && end < n && statement[end] == u':') {
            end = i + 2;
        } else if (c == u':' && end < n && isNameStart(statement[end])) {
            while (end < n && (statement[end].isLetterOrNumber() || statement[end] == u'_'))
                ++end;
            const QString name = statement.mid(i + 1, end - i - 1);
            qsizetype k = names.indexOf(name);
            if (k < 0) {
                k = names.size();
                names << name;
            }
            out += u'$' + QString::number(k + 1);
            i = end;
            continue;
        }
        out += QStringView(statement).mid(i, end - i);
        i = end;
    }
    m_statement = out.toUtf8();
    m_values.resize(size_t(names.size()));
    m_pointers.assign(size_t(names.size()), nullptr);
    m_lengths.assign(size_t(names.size()), 0);
    for (qsizetype k = 0; k < names.size(); ++k) {
        // The last value bound to a name is the one that counts.
        for (auto it = bound.crbegin(); it != bound.crend(); ++it) {
            if (it->first != names[k])
                continue;
            if (!it->second.isNull()) {
                m_values[size_t(k)] = serverText(it->second);
                m_pointers[size_t(k)] = m_values[size_t(k)].constData();
                m_lengths[size_t(k)] = int(m_values[size_t(k)].size());
            }
            break;
        }
    }
}

PendingResults::~PendingResults() {
    if (m_done)
        return;
    // Stop a statement that still sends rows rather than read them all.
    if (PQtransactionStatus(m_connection) == PQTRANS_ACTIVE) {
        if (PGcancel* cancel = PQgetCancel(m_connection)) {
            char error[256];
            PQcancel(cancel, error, int(sizeof error));
            PQfreeCancel(cancel);
        }
    }
    while (PGresult* r = PQgetResult(m_connection))
        PQclear(r);
}

Result PendingResults::next() {
    if (m_done)
        return nullptr;
    Result r(PQgetResult(m_connection));
    if (!r)
        m_done = true;
    return r;
}

} // namespace Libpq
