#include "ItemRowStore.h"

#include "AppError.h"

#include <algorithm>
#include <charconv>
#include <cstring>

using namespace Qt::StringLiterals;

namespace {

constexpr int BlockBits = 20;
constexpr qsizetype BlockSize = qsizetype(1) << BlockBits;
constexpr size_t MaxBlocks = size_t(1) << (32 - BlockBits);
// A longer cell gets a block of its own, so that blocks are not left half empty.
constexpr qsizetype LargeCell = BlockSize / 4;
constexpr int SizeBits = 30;
constexpr quint32 SizeMask = (quint32(1) << SizeBits) - 1;
constexpr int RowsPerChunk = 1024;
constexpr size_t FirstDictionarySize = 64;

// Directory texts are short and few: the length and the first and last eight bytes tell them apart
// well enough, and equal hashes are compared in full.
quint64 hashBytes(const char* data, qsizetype size, quint32 type) {
    quint64 a = 0, b = 0;
    if (size >= 8) {
        std::memcpy(&a, data, 8);
        std::memcpy(&b, data + size - 8, 8);
    } else if (size > 0) {
        std::memcpy(&a, data, size_t(size));
    }
    quint64 h = (quint64(size) << 2 | type) * 0x9E3779B97F4A7C15ULL;
    h = (h ^ a) * 0xff51afd7ed558ccdULL;
    h = (h ^ b ^ (h >> 29)) * 0xc4ceb9fe1a85ec53ULL;
    return h ^ (h >> 32);
}

} // namespace

ItemRowStore::ItemRowStore(const QStringList& columns, const QLocale& locale)
    : m_columns(columns), m_columnCount(int(columns.size())), m_texts(locale) {
    for (const QString& c : columns) {
        m_kinds.push_back(itemColumnKind(c));
        m_shared.emplace_back().used = isDirectoryColumn(c);
    }
}

int ItemRowStore::rowOfId(int id) const {
    const auto it = std::find(m_ids.begin(), m_ids.end(), id);
    return it == m_ids.end() ? -1 : int(it - m_ids.begin());
}

const ItemRowStore::Cell& ItemRowStore::cell(int row, int column) const {
    return m_chunks[size_t(row / RowsPerChunk)]
                   [size_t(row % RowsPerChunk) * size_t(m_columnCount) + size_t(column)];
}

ItemRowStore::Cell& ItemRowStore::cellAt(int row, int column) {
    return m_chunks[size_t(row / RowsPerChunk)]
                   [size_t(row % RowsPerChunk) * size_t(m_columnCount) + size_t(column)];
}

const char* ItemRowStore::dataOf(Cell c) const {
    if ((c.size & SizeMask) == 0)
        return "";
    return m_blocks[c.at >> BlockBits].constData() + (c.at & (BlockSize - 1));
}

ItemRowStore::Value ItemRowStore::valueType(int row, int column) const {
    return Value(cell(row, column).size >> SizeBits);
}

QByteArrayView ItemRowStore::bytes(int row, int column) const {
    const Cell c = cell(row, column);
    return QByteArrayView(dataOf(c), qsizetype(c.size & SizeMask));
}

QString ItemRowStore::text(int row, int column) const {
    const Cell c = cell(row, column);
    const char* data = dataOf(c);
    const qsizetype size = c.size & SizeMask;
    const ColumnKind kind = m_kinds[size_t(column)];
    switch (Value(c.size >> SizeBits)) {
    case Value::Null:
        return QString();
    case Value::Text:
        if (kind == ColumnKind::DateTime)
            return m_texts.dateTimeText(QString::fromUtf8(data, size));
        return QString::fromUtf8(data, size);
    case Value::Integer: {
        qlonglong value = 0;
        if (std::from_chars(data, data + size, value).ec == std::errc())
            return m_texts.format(QVariant(value), kind);
        break;
    }
    case Value::Real: {
        double value = 0;
        if (std::from_chars(data, data + size, value).ec == std::errc())
            return m_texts.format(QVariant(value), kind);
        break;
    }
    }
    return QString::fromUtf8(data, size);
}

QString ItemRowStore::textHead(int row, int column, qsizetype maxBytes) const {
    const Cell c = cell(row, column);
    if (Value(c.size >> SizeBits) == Value::Text && qsizetype(c.size & SizeMask) > maxBytes)
        return QString::fromUtf8(dataOf(c), maxBytes);
    return text(row, column);
}

void ItemRowStore::addRow(int id) {
    dropOpenRow();
    m_openId = id;
    m_nextColumn = 0;
    if (m_columnCount == 0) {
        m_ids.push_back(id);
        return;
    }
    m_rowOpen = true;
    const size_t rowCells = size_t(m_columnCount);
    if (m_chunks.empty() || m_chunks.back().size() == RowsPerChunk * rowCells) {
        if (!m_spareChunks.empty()) {
            m_chunks.push_back(std::move(m_spareChunks.back()));
            m_spareChunks.pop_back();
        } else {
            m_chunks.emplace_back().reserve(RowsPerChunk * rowCells);
        }
    }
}

void ItemRowStore::dropOpenRow() {
    if (!m_rowOpen)
        return;
    m_rowOpen = false;
    std::vector<Cell>& last = m_chunks.back();
    last.resize(last.size() - size_t(m_nextColumn));
    if (last.empty())
        m_chunks.pop_back();
}

void ItemRowStore::reuseSpaceOf(ItemRowStore& old) {
    old.dropOpenRow();
    for (QByteArray& block : old.m_blocks) {
        if (block.size() == BlockSize && block.isDetached())
            m_spareBlocks.push_back(std::move(block));
    }
    if (old.m_columnCount == m_columnCount) {
        for (std::vector<Cell>& chunk : old.m_chunks) {
            chunk.clear();
            m_spareChunks.push_back(std::move(chunk));
        }
    }
    old.m_blocks.clear();
    old.m_chunks.clear();
    old.m_ids.clear();
}

void ItemRowStore::dropSpareSpace() {
    m_spareBlocks = {};
    m_spareChunks = {};
}

ItemRowStore::Cell ItemRowStore::store(Value type, const char* data, qsizetype size) {
    if (size > qsizetype(SizeMask))
        throw AppError(u"Значение длиннее %1 байт не помещается в список"_s.arg(SizeMask));
    Cell c;
    c.size = quint32(type) << SizeBits | quint32(size);
    if (size == 0)
        return c;
    const bool own = size > LargeCell;
    if (own || m_openBlock < 0 || m_blockUsed + size > BlockSize) {
        if (m_blocks.size() >= MaxBlocks)
            throw AppError(
                u"Список слишком велик: в нём больше %1 МБ текста"_s.arg(MaxBlocks * BlockSize >> 20));
        if (!own && !m_spareBlocks.empty()) {
            m_blocks.push_back(std::move(m_spareBlocks.back()));
            m_spareBlocks.pop_back();
        } else {
            m_blocks.emplace_back(own ? size : BlockSize, Qt::Uninitialized);
        }
        if (!own) {
            m_openBlock = int(m_blocks.size() - 1);
            m_blockUsed = 0;
        }
    }
    const int block = own ? int(m_blocks.size() - 1) : m_openBlock;
    const qsizetype offset = own ? 0 : m_blockUsed;
    std::memcpy(m_blocks[size_t(block)].data() + offset, data, size_t(size));
    if (!own)
        m_blockUsed += size;
    c.at = quint32(block) << BlockBits | quint32(offset);
    return c;
}

void ItemRowStore::addCell(Value type, const char* data, qsizetype size) {
    Q_ASSERT(m_rowOpen);
    m_chunks.back().push_back(cellFor(m_nextColumn, type, data, size));
    if (++m_nextColumn == m_columnCount) {
        m_ids.push_back(m_openId);
        m_rowOpen = false;
    }
}

ItemRowStore::Cell ItemRowStore::cellFor(int column, Value type, const char* data, qsizetype size) {
    Dictionary& shared = m_shared[size_t(column)];
    if (type == Value::Null)
        return Cell();
    if (!shared.used)
        return store(type, data, size);
    if (shared.slots.empty())
        shared.slots.resize(FirstDictionarySize);
    const quint32 sizeWord = quint32(type) << SizeBits | quint32(qMin(size, qsizetype(SizeMask)));
    size_t mask = shared.slots.size() - 1;
    size_t i = size_t(hashBytes(data, size, quint32(type))) & mask;
    for (; shared.slots[i].size != 0; i = (i + 1) & mask) {
        const Cell& known = shared.slots[i];
        if (known.size == sizeWord && std::memcmp(dataOf(known), data, size_t(size)) == 0)
            return known;
    }
    const Cell cell = store(type, data, size);
    shared.slots[i] = cell;
    if (size_t(++shared.count) * 2 > shared.slots.size()) {
        std::vector<Cell> slots(shared.slots.size() * 2);
        mask = slots.size() - 1;
        for (const Cell& c : shared.slots) {
            if (c.size == 0)
                continue;
            size_t j = size_t(hashBytes(dataOf(c), c.size & SizeMask, c.size >> SizeBits)) & mask;
            while (slots[j].size != 0)
                j = (j + 1) & mask;
            slots[j] = c;
        }
        shared.slots = std::move(slots);
    }
    return cell;
}

void ItemRowStore::addRow(int id, const QStringList& texts) {
    addRow(id);
    for (int c = 0; c < m_columnCount; ++c) {
        const QString text = texts.value(c);
        if (text.isNull()) {
            addNull();
        } else {
            const QByteArray utf8 = text.toUtf8();
            addCell(Value::Text, utf8.constData(), utf8.size());
        }
    }
}

void ItemRowStore::clearRows() {
    m_rowOpen = false;
    m_ids.clear();
    for (std::vector<Cell>& chunk : m_chunks) {
        chunk.clear();
        m_spareChunks.push_back(std::move(chunk));
    }
    m_chunks.clear();
}

void ItemRowStore::removeRow(int row) {
    dropOpenRow();
    if (row < 0 || row >= rowCount())
        return;
    m_ids.erase(m_ids.begin() + row);
    if (m_columnCount == 0)
        return;
    const size_t rowCells = size_t(m_columnCount);
    const int rows = rowCount();
    for (int r = row; r < rows; ++r) {
        const Cell* from = &cell(r + 1, 0);
        std::copy(from, from + rowCells, &cellAt(r, 0));
    }
    std::vector<Cell>& last = m_chunks.back();
    last.resize(last.size() - rowCells);
    if (last.empty())
        m_chunks.pop_back();
}
