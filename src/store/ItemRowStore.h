#pragma once

#include "Schema.h"
#include "ValueText.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QLocale>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

// The rows of the item list as the engine hands them over: each cell's UTF-8 bytes in one arena
// of large blocks, with an offset and a size per cell, and the item's id per row. The texts of a
// directory column are kept once and shared by every row that shows them. A cell becomes a QString
// only when it is asked for, in the database layer's default text form (ValueText), so what the
// list holds is about the size of the text itself.
//
// Rows are added at the end, one cell per column in order; the store is then read, and only a
// whole row is ever taken out.
class ItemRowStore {
public:
    // How the engine handed a cell over, which decides its text form.
    enum class Value : quint8 {
        Null,
        Text,    // UTF-8 text (a blob is taken as its UTF-8 text too)
        Integer, // decimal digits of a whole number
        Real,    // a floating or decimal number written with a point, read back exactly
    };

    // `columns` are items columns in display order; `locale` gives the numbers' and dates' text.
    explicit ItemRowStore(const QStringList& columns = {}, const QLocale& locale = QLocale());

    int rowCount() const { return int(m_ids.size()); }
    int columnCount() const { return m_columnCount; }
    const QStringList& columns() const { return m_columns; }
    int id(int row) const { return m_ids[size_t(row)]; }
    int rowOfId(int id) const; // the first row with this id, or -1

    Value valueType(int row, int column) const;
    QByteArrayView bytes(int row, int column) const;
    // The cell's whole text.
    QString text(int row, int column) const;
    // The text of at most the first `maxBytes` bytes of a long text (others whole): enough to show
    // the start of a text of megabytes without turning all of it into a QString.
    QString textHead(int row, int column, qsizetype maxBytes) const;

    // Adds a row; its cells follow with addCell(), one per column in order. The row counts once
    // its last cell is there: one left incomplete (its reading failed) is dropped.
    void addRow(int id);
    void addCell(Value type, const char* data, qsizetype size);
    void addNull() { addCell(Value::Null, nullptr, 0); }
    // A row of texts (one per column; a null QString is a null cell).
    void addRow(int id, const QStringList& texts);
    void removeRow(int row);
    // Drops every row, keeping the memory for the rows that follow (a read started again).
    void clearRows();

    // Takes over the memory of `old` (which is left empty) for the rows about to be added, so that
    // a list read again does not ask the system for it again; dropSpareSpace() gives back what the
    // new rows did not need.
    void reuseSpaceOf(ItemRowStore& old);
    void dropSpareSpace();

private:
    struct Cell {
        quint32 at = 0;   // block << BlockBits | offset in the block
        quint32 size = 0; // value type << SizeBits | byte count
    };
    // One copy of each text of a directory column: cells by a hash of their bytes.
    struct Dictionary {
        bool used = false;
        std::vector<Cell> slots; // open addressing; an empty slot has size 0
        qsizetype count = 0;
    };

    const Cell& cell(int row, int column) const;
    Cell& cellAt(int row, int column);
    Cell store(Value type, const char* data, qsizetype size);
    Cell cellFor(int column, Value type, const char* data, qsizetype size);
    void dropOpenRow();
    const char* dataOf(Cell c) const;

    QStringList m_columns;
    int m_columnCount = 0;
    std::vector<ColumnKind> m_kinds;
    ValueText m_texts;
    std::vector<int> m_ids;
    int m_openId = 0;     // the row being filled
    int m_nextColumn = 0; // its next cell
    bool m_rowOpen = false;
    // Cells row after row, RowsPerChunk rows a chunk, so that a growing list never moves them.
    std::vector<std::vector<Cell>> m_chunks;
    std::vector<QByteArray> m_blocks;
    qsizetype m_blockUsed = 0;        // in the last block of ordinary size
    int m_openBlock = -1;             // that block, or -1
    std::vector<Dictionary> m_shared; // one per column, used by directory columns
    std::vector<QByteArray> m_spareBlocks;
    std::vector<std::vector<Cell>> m_spareChunks;
};

// A model whose rows are an ItemRowStore, for readers that take the texts straight from it.
class ItemRowSource {
public:
    virtual std::shared_ptr<const ItemRowStore> itemRows() const = 0;

protected:
    ~ItemRowSource() = default;
};
