#include "JetFile.h"

#include "AppError.h"
#include "JetValues.h"

#include <QFile>
#include <QtEndian>

// glib first: mdbtools.h includes it inside its extern "C" block, where C++ templates may not be.
#include <glib.h>
#include <mdbtools.h>

#include <cstring>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

constexpr qsizetype PageSize = MDB_PGSIZE;
constexpr int OffsetMask = 0x1FFF; // a row's offset in its page, without the flags
constexpr int TdefLastNumber = 20; // Jet 4 table definition: the last automatic number
constexpr quint32 LongInline = 0x80000000;
constexpr quint32 LongSingle = 0x40000000;
constexpr quint32 LongLength = 0x3FFFFFFF;

QString nameOf(const char* utf8) {
    return QString::fromUtf8(utf8);
}

bool isUserTable(MdbCatalogEntry* entry) {
    return entry->object_type == MDB_TABLE && mdb_is_user_table(entry);
}

JetFile::Type typeOf(int code) {
    switch (code) {
    case MDB_BOOL:
        return JetFile::Type::Boolean;
    case MDB_BYTE:
        return JetFile::Type::Byte;
    case MDB_INT:
        return JetFile::Type::Integer;
    case MDB_LONGINT:
        return JetFile::Type::Long;
    case MDB_MONEY:
        return JetFile::Type::Currency;
    case MDB_FLOAT:
        return JetFile::Type::Single;
    case MDB_DOUBLE:
        return JetFile::Type::Double;
    case MDB_DATETIME:
        return JetFile::Type::DateTime;
    case MDB_BINARY:
        return JetFile::Type::Binary;
    case MDB_TEXT:
        return JetFile::Type::Text;
    case MDB_OLE:
        return JetFile::Type::Ole;
    case MDB_MEMO:
        return JetFile::Type::Memo;
    case MDB_REPID:
        return JetFile::Type::Guid;
    case MDB_NUMERIC:
        return JetFile::Type::Decimal;
    default:
        return JetFile::Type::Other;
    }
}

// Bytes a fixed-size value needs.
int fixedSize(JetFile::Type type) {
    switch (type) {
    case JetFile::Type::Byte:
        return 1;
    case JetFile::Type::Integer:
        return 2;
    case JetFile::Type::Long:
    case JetFile::Type::Single:
        return 4;
    case JetFile::Type::Currency:
    case JetFile::Type::Double:
    case JetFile::Type::DateTime:
        return 8;
    default:
        return 0;
    }
}

} // namespace

// libmdb reads the file's pages from a mapping of it: a read of its own file costs it four system
// calls a page.
struct JetFile::Handle {
    QFile file;
    uchar* mapped = nullptr;
    MdbHandle* mdb = nullptr;
    ~Handle() {
        if (mdb)
            mdb_close(mdb);
    }
};

struct JetFile::Table::State {
    QString path;
    MdbHandle* mdb = nullptr;
    MdbTableDef* table = nullptr;
    std::vector<MdbColumn*> columns;
    std::vector<Type> types;
    std::vector<MdbField> fields;
    qint64 row = 0;
    qint64 lastNumber = 0;
    qint64 fileSize = 0;
    std::vector<char> longBuffer;
    ~State() {
        if (table)
            mdb_free_tabledef(table);
    }
};

bool JetFile::hasSignature(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.read(20).mid(4) == QByteArrayView("Standard Jet DB\0", 16);
}

JetFile::JetFile(const QString& path) : m_path(path), m_handle(std::make_unique<Handle>()) {
    QFile& file = m_handle->file;
    file.setFileName(path);
    if (!file.open(QIODevice::ReadOnly))
        throw AppError(u"Не удалось открыть файл %1: %2"_s.arg(path, file.errorString()));
    if (!hasSignature(path))
        throw AppError(u"Файл %1 записан не в формате Jet"_s.arg(path));
    m_handle->mapped = file.map(0, file.size());
    if (!m_handle->mapped)
        throw AppError(u"Не удалось прочитать файл %1: %2"_s.arg(path, file.errorString()));
    m_handle->mdb = mdb_open_buffer(m_handle->mapped, size_t(file.size()), MDB_NOFLAGS);
    if (!m_handle->mdb)
        throw AppError(
            u"Файл %1 не читается как файл Jet: заголовок повреждён или версия неизвестна"_s.arg(path));
    if (m_handle->mdb->f->jet_version != MDB_VER_JET4)
        throw AppError(
            u"Файл %1 записан не в формате Jet 4 (Access 2000/2003), а в другой версии Jet"_s.arg(path));
    if (!mdb_read_catalog(m_handle->mdb, MDB_TABLE))
        throw AppError(u"Файл %1 повреждён: список его таблиц не читается"_s.arg(path));
}

JetFile::~JetFile() = default;

QStringList JetFile::tableNames() const {
    QStringList names;
    MdbHandle* mdb = m_handle->mdb;
    for (unsigned int i = 0; i < mdb->num_catalog; ++i) {
        auto* entry = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb->catalog, i));
        if (isUserTable(entry))
            names << nameOf(entry->object_name);
    }
    return names;
}

std::unique_ptr<JetFile::Table> JetFile::table(const QString& name) const {
    MdbHandle* mdb = m_handle->mdb;
    MdbCatalogEntry* found = nullptr;
    for (unsigned int i = 0; i < mdb->num_catalog && !found; ++i) {
        auto* entry = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb->catalog, i));
        if (isUserTable(entry) && nameOf(entry->object_name).compare(name, Qt::CaseInsensitive) == 0)
            found = entry;
    }
    if (!found)
        return nullptr;
    auto state = std::make_unique<Table::State>();
    state->path = m_path;
    state->mdb = mdb;
    state->fileSize = m_handle->file.size();
    state->table = mdb_read_table(found);
    if (!state->table || !mdb_read_columns(state->table))
        throw AppError(u"Файл %1 повреждён: описание таблицы %2 не читается"_s.arg(m_path, name));
    for (unsigned int c = 0; c < state->table->num_cols; ++c) {
        auto* column = static_cast<MdbColumn*>(g_ptr_array_index(state->table->columns, c));
        state->columns.push_back(column);
        state->types.push_back(typeOf(column->col_type));
    }
    state->fields.resize(std::max<size_t>(state->columns.size(), 1));
    // The definition page also keeps the last automatic number, which libmdb does not read.
    if (mdb_read_pg(mdb, found->table_pg) == PageSize && mdb->pg_buf[0] == MDB_PAGE_TABLE)
        state->lastNumber = std::max<qint64>(0, qFromLittleEndian<qint32>(mdb->pg_buf + TdefLastNumber));
    mdb_rewind_table(state->table);
    return std::unique_ptr<Table>(new Table(std::move(state)));
}

JetFile::Table::Table(std::unique_ptr<State> state) : d(std::move(state)) {}

JetFile::Table::~Table() = default;

QString JetFile::Table::name() const {
    return nameOf(d->table->name);
}

int JetFile::Table::columnCount() const {
    return int(d->columns.size());
}

QString JetFile::Table::columnName(int column) const {
    return nameOf(d->columns[size_t(column)]->name);
}

JetFile::Type JetFile::Table::columnType(int column) const {
    return d->types[size_t(column)];
}

int JetFile::Table::columnIndex(const QString& name) const {
    for (int c = 0; c < columnCount(); ++c) {
        if (columnName(c).compare(name, Qt::CaseInsensitive) == 0)
            return c;
    }
    return -1;
}

qint64 JetFile::Table::declaredRows() const {
    return d->table->num_rows;
}

qint64 JetFile::Table::lastNumber() const {
    return d->lastNumber;
}

qint64 JetFile::Table::rowNumber() const {
    return d->row;
}

void JetFile::Table::damaged(int column, const QString& what) const {
    const QString where = column < 0 ? QString() : u", столбец %1"_s.arg(columnName(column));
    throw AppError(u"Файл %1 повреждён: таблица %2, строка %3%4: %5"_s.arg(d->path, name())
                       .arg(d->row)
                       .arg(where, what));
}

bool JetFile::Table::next() {
    const bool fetched = mdb_fetch_row(d->table);
    // Rows on pages that cannot be read are passed over by libmdb; the count tells.
    if (fetched && d->row >= declaredRows())
        throw AppError(u"Файл %1 повреждён: в таблице %2 строк больше, чем записано в её описании (%3)"_s
                           .arg(d->path, name())
                           .arg(declaredRows()));
    if (!fetched && d->row != declaredRows())
        throw AppError(u"Файл %1 повреждён: в таблице %2 прочитано строк: %3, а в её описании записано: %4"_s
                           .arg(d->path, name())
                           .arg(d->row)
                           .arg(declaredRows()));
    if (!fetched)
        return false;
    ++d->row;
    // libmdb has cracked the row it stopped at into its bound columns; the bytes and NULL flags
    // are taken here from the same place.
    MdbHandle* mdb = d->mdb;
    int start = 0;
    size_t size = 0;
    if (mdb_find_row(mdb, int(d->table->cur_row) - 1, &start, &size) != 0 || size == 0)
        damaged(-1, u"строка не найдена на своей странице"_s);
    start &= OffsetMask;
    if (mdb_crack_row(d->table, start, size, d->fields.data()) < 0)
        damaged(-1, u"строка не разбирается на столбцы"_s);
    const unsigned char* rowBegin = mdb->pg_buf + start;
    const unsigned char* rowEnd = rowBegin + size;
    for (int c = 0; c < columnCount(); ++c) {
        const MdbField& field = d->fields[size_t(c)];
        if (field.is_null || d->types[size_t(c)] == Type::Boolean)
            continue;
        const auto* value = static_cast<const unsigned char*>(field.value);
        if (!value || field.siz < 0 || value < rowBegin || value + field.siz > rowEnd ||
            rowEnd > mdb->pg_buf + PageSize || field.siz < fixedSize(d->types[size_t(c)]))
            damaged(c, u"значение выходит за пределы строки"_s);
    }
    return true;
}

QVariant JetFile::Table::transientValue(int column) const {
    if (d->types[size_t(column)] != Type::Ole || d->fields[size_t(column)].is_null)
        return value(column);
    const QByteArrayView bytes = longValue(column);
    return QByteArray::fromRawData(bytes.data(), bytes.size());
}

QVariant JetFile::Table::value(int column) const {
    const MdbField& field = d->fields[size_t(column)];
    const Type type = d->types[size_t(column)];
    // A Yes/No value lives in the NULL mask itself.
    if (type == Type::Boolean)
        return QVariant(qlonglong(field.is_null ? 0 : 1));
    if (field.is_null)
        return QVariant();
    const auto* bytes = static_cast<const unsigned char*>(field.value);
    switch (type) {
    case Type::Byte:
        return QVariant(qlonglong(bytes[0]));
    case Type::Integer:
        return QVariant(qlonglong(qFromLittleEndian<qint16>(bytes)));
    case Type::Long:
        return QVariant(qlonglong(qFromLittleEndian<qint32>(bytes)));
    case Type::Currency:
        return QVariant(qlonglong(qFromLittleEndian<qint64>(bytes)));
    case Type::Single:
        return JetValues::single(qFromLittleEndian<float>(bytes));
    case Type::Double:
    case Type::DateTime:
        return qFromLittleEndian<double>(bytes);
    case Type::Text:
        return JetValues::text(bytes, field.siz);
    case Type::Memo: {
        const QByteArrayView raw = longValue(column);
        return JetValues::text(reinterpret_cast<const unsigned char*>(raw.data()), raw.size());
    }
    case Type::Ole:
        return longValue(column).toByteArray();
    default:
        return QByteArray(reinterpret_cast<const char*>(bytes), field.siz);
    }
}

// A Memo or OLE Object value: 12 bytes in the row (length and kind, where its data lies), the
// data after them in the row, in one record of a long-value page, or in a chain of such records,
// each starting with the page and row of the next. libmdb's mdb_ole_read copies the first two
// kinds to the column's bound buffer. A chain is followed record by record through
// mdb_find_pg_row, the look-up that libmdb's mdb_ole_read_next makes too, but with each record's
// length checked first (mdb_ole_read_next takes a record shorter than its link for a copy of
// nearly 2^64 bytes), and only while it keeps to the length the row gives, so that a damaged chain
// ends in an error and not in a crash or a loop.
QByteArrayView JetFile::Table::longValue(int column) const {
    const MdbField& field = d->fields[size_t(column)];
    MdbColumn* col = d->columns[size_t(column)];
    MdbHandle* mdb = d->mdb;
    if (field.siz < MDB_MEMO_OVERHEAD)
        damaged(column, u"заголовок длинного значения обрезан"_s);
    auto* header = static_cast<unsigned char*>(field.value);
    const quint32 kind = qFromLittleEndian<quint32>(header);
    const qsizetype length = kind & LongLength;
    if (length > d->fileSize)
        damaged(column, u"длина длинного значения (%1 байт) больше самого файла"_s.arg(length));
    const QString incomplete = u"длинное значение прочитано не полностью: %1 байт из %2"_s;
    // One buffer for every long value, with room for a whole record, which libmdb copies before
    // the length is compared.
    std::vector<char>& data = d->longBuffer;
    if (data.size() < size_t(std::max(length, PageSize)))
        data.resize(size_t(std::max(length, PageSize)));
    if (kind & (LongInline | LongSingle)) {
        struct Unbind {
            MdbColumn* col;
            ~Unbind() { col->bind_ptr = nullptr; }
        } unbind{col};
        col->bind_ptr = data.data();
        col->cur_value_start = field.start;
        col->cur_value_len = field.siz;
        const auto read = qsizetype(mdb_ole_read(mdb, col, header, size_t(PageSize)));
        if (read != length)
            damaged(column, incomplete.arg(read).arg(length));
        return QByteArrayView(data.data(), length);
    }
    if (kind & ~LongLength)
        damaged(column, u"неизвестный вид длинного значения (%1)"_s.arg(kind >> 24, 2, 16, QChar(u'0')));
    qsizetype read = 0;
    quint32 next = qFromLittleEndian<quint32>(header + 4);
    while (read < length) {
        void* page = nullptr;
        int offset = 0;
        size_t size = 0;
        if (next == 0 || mdb_find_pg_row(mdb, int(next), &page, &offset, &size) != 0 || size < 4 ||
            qsizetype(size - 4) > length - read)
            damaged(column, incomplete.arg(read).arg(length));
        const auto* record = static_cast<const unsigned char*>(page) + offset;
        std::memcpy(data.data() + read, record + 4, size - 4);
        read += qsizetype(size - 4);
        next = qFromLittleEndian<quint32>(record);
        if (size == 4 && read < length)
            damaged(column, incomplete.arg(read).arg(length));
    }
    return QByteArrayView(data.data(), length);
}
