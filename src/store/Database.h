#pragma once

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariant>

#include "Schema.h"

// The one shared connection to the catalogue file.
namespace Database {

// Opens the shared connection on an existing file (another copy of the program may have it open
// too; a short lock held by it is waited for). Throws AppError with the engine's text.
void open(const QString& path);
void close();
bool isOpen();
QSqlDatabase connection();

// Creates a new file with every table of the catalogue. Refuses to overwrite an existing file.
void createSchema(const QString& path);
// The statements that lay down the schema, for the database tool and the tests.
QStringList schemaStatements();

} // namespace Database

// A query object on the shared connection; each window owns its own. Setting a new text
// discards the previous result. Every failure throws AppError with the engine's error text.
class StoreQuery {
public:
    StoreQuery();
    explicit StoreQuery(const QSqlDatabase& db);

    void setText(const QString& text); // prepares the statement; its :name markers become parameters
    const QString& text() const { return m_text; }
    void bind(const QString& name, const QVariant& value); // name without the colon
    void open();                                           // runs a select
    void execute();                                        // runs anything else
    int rowsAffected() const { return m_rowsAffected; }    // by the last execute()
    // Parameters bound since the last setText(), in the order they were bound.
    const QList<std::pair<QString, QVariant>>& boundValues() const { return m_bound; }
    bool next();
    void finish();

    int columnIndex(const QString& name) const; // -1 when the result has no such column
    QVariant value(int index) const;
    QVariant value(const QString& name) const;
    // The column's value in the database layer's default text form.
    QString text(const QString& name) const;
    QString text(int index) const;

    QSqlQuery& raw() { return m_query; }

private:
    [[noreturn]] void fail() const;

    QSqlQuery m_query;
    QString m_text;
    int m_rowsAffected = 0;
    QList<std::pair<QString, QVariant>> m_bound;
};

// Runs a group of statements as one unit: all of them or none. Rolls back unless committed.
class Transaction {
public:
    explicit Transaction(QSqlDatabase db = Database::connection());
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void commit();

private:
    QSqlDatabase m_db;
    bool m_committed = false;
};

// Engine's error text of a failed query or connection.
QString engineErrorText(const class QSqlError& error);
