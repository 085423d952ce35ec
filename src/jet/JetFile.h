#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>

#include <memory>

// A file in the Jet 4 format (Access 2000/2003) read through libmdb. libmdb gives the file's
// structure: its tables, their columns and rows, and the pages of long values. Each value is
// decoded here from its stored bytes, since libmdb's own conversion loses characters outside the
// Basic Multilingual Plane, cuts long values at its bind size and shows NULL and "" alike.
//
// Every failure throws AppError with a text that says what could not be read. One object is used
// by one thread at a time.
class JetFile {
public:
    enum class Type {
        Boolean,
        Byte,
        Integer,
        Long,
        Currency,
        Single,
        Double,
        DateTime,
        Binary,
        Text,
        Ole,
        Memo,
        Guid,
        Decimal,
        Other
    };
    class Table;

    explicit JetFile(const QString& path);
    ~JetFile();
    JetFile(const JetFile&) = delete;
    JetFile& operator=(const JetFile&) = delete;

    // Whether the file starts as a Jet file does: "Standard Jet DB" in bytes 4 to 19.
    static bool hasSignature(const QString& path);

    const QString& path() const { return m_path; }
    // The user's tables in the file's order (no system tables).
    QStringList tableNames() const;
    // The user's table of that name, compared without regard to case; nullptr when there is none.
    // The table reads through this file's handle: one table is read at a time.
    std::unique_ptr<Table> table(const QString& name) const;

private:
    struct Handle;
    QString m_path;
    std::unique_ptr<Handle> m_handle;
};

class JetFile::Table {
public:
    ~Table();
    Table(const Table&) = delete;
    Table& operator=(const Table&) = delete;

    QString name() const;
    int columnCount() const;
    QString columnName(int column) const;
    Type columnType(int column) const;
    // The column of that name, compared without regard to case; -1 when there is none.
    int columnIndex(const QString& name) const;
    // The number of rows that the table's definition records.
    qint64 declaredRows() const;
    // The last number that the table's automatic numbering gave out (0 when it gave none).
    qint64 lastNumber() const;

    // Steps to the next row; false after the last one. Throws AppError for a row that cannot be
    // read, and at the end when fewer or more rows were read than the definition records.
    bool next();
    // 1 for the first row.
    qint64 rowNumber() const;
    // The current row's value in a column: null for NULL; qlonglong for Boolean (0 or 1), Byte,
    // Integer, Long and Currency (its count of ten-thousandths); double for Single (as
    // JetValues::single gives it), Double and DateTime (its stored days); QString for Text and
    // Memo; QByteArray for Binary, OLE Object, GUID, Decimal and other types (the stored bytes).
    // Long values are read whole. Throws AppError for a value that cannot be read.
    QVariant value(int column) const;
    // As value(), but the bytes of an OLE Object stay in the table's own buffer, without a copy:
    // they are valid until the next row or the next Memo or OLE Object value of the table.
    QVariant transientValue(int column) const;

private:
    friend class JetFile;
    struct State;
    explicit Table(std::unique_ptr<State> state);
    [[noreturn]] void damaged(int column, const QString& what) const;
    QByteArrayView longValue(int column) const;

    std::unique_ptr<State> d;
};
