#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>
#include <sqlite3.h>

// A connection of SQLite's own on a catalogue file, standing for another copy of the program or a
// plain SQLite client; usable on any thread. Failures come back as the engine's text.
class RawConnection {
public:
    explicit RawConnection(const QString& path, int busyTimeoutMs = 0, int flags = SQLITE_OPEN_READWRITE) {
        if (sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db, flags, nullptr) != SQLITE_OK)
            m_error = QString::fromUtf8(sqlite3_errmsg(m_db));
        sqlite3_busy_timeout(m_db, busyTimeoutMs);
    }
    ~RawConnection() { sqlite3_close_v2(m_db); }
    RawConnection(const RawConnection&) = delete;
    RawConnection& operator=(const RawConnection&) = delete;

    bool ok() const { return m_error.isEmpty(); }
    sqlite3* handle() const { return m_db; }

    // Runs statements; returns the engine's text of the first failure, empty on success.
    QString exec(const QString& sql) {
        char* message = nullptr;
        if (sqlite3_exec(m_db, sql.toUtf8().constData(), nullptr, nullptr, &message) == SQLITE_OK)
            return QString();
        const QString text = QString::fromUtf8(message ? message : sqlite3_errmsg(m_db));
        sqlite3_free(message);
        return text;
    }

    // Every row of a select, each as its columns' texts joined by '|'.
    QStringList rows(const QString& sql) {
        QStringList result;
        sqlite3_stmt* s = nullptr;
        if (sqlite3_prepare_v2(m_db, sql.toUtf8().constData(), -1, &s, nullptr) != SQLITE_OK)
            return {QStringLiteral("error: ") + QString::fromUtf8(sqlite3_errmsg(m_db))};
        while (sqlite3_step(s) == SQLITE_ROW) {
            QStringList cells;
            for (int i = 0; i < sqlite3_column_count(s); ++i) {
                const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s, i));
                cells << (text ? QString::fromUtf8(text) : QStringLiteral("NULL"));
            }
            result << cells.join(u'|');
        }
        sqlite3_finalize(s);
        return result;
    }
    QString scalar(const QString& sql) {
        const QStringList r = rows(sql);
        return r.isEmpty() ? QString() : r.first();
    }

private:
    sqlite3* m_db = nullptr;
    QString m_error;
};
