#include "RoomsModel.h"

#include "AppError.h"
#include "Database.h"
#include "NumberText.h"
#include "Statements.h"
#include "ValueText.h"

#include <QLocale>
#include <QScopeGuard>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

using namespace Qt::StringLiterals;

namespace {

const QString RoomsTable = u"rooms"_s;

} // namespace

RoomsModel::RoomsModel(QObject* parent) : QSqlTableModel(parent, Database::connection()) {
    setEditStrategy(OnManualSubmit);
    connect(this, &QSqlTableModel::primeInsert, this,
            [this](int row, QSqlRecord& record) { RoomsAfterInsert(row, record); });
    // The columns are known from the start, so that a closed cursor still shows its titles.
    if (database().isOpen())
        setTable(RoomsTable);
}

int RoomsModel::nameColumn() const {
    return fieldIndex(u"RoomName"_s);
}

int RoomsModel::areaColumn() const {
    return fieldIndex(u"P"_s);
}

int RoomsModel::idColumn() const {
    return fieldIndex(u"id"_s);
}

void RoomsModel::setItemId(int itemId) {
    m_itemId = itemId;
}

void RoomsModel::open() {
    revertAll();
    resetEditState();
    if (tableName().isEmpty() || record().isEmpty())
        setTable(RoomsTable);
    setFilter(Statements::roomsFilter(m_itemId));
    m_open = true;
    auto closeOnFailure = qScopeGuard([this] { close(); });
    selectOrThrow();
    closeOnFailure.dismiss();
}

void RoomsModel::close() {
    revertAll();
    beginResetModel();
    m_open = false;
    m_editRow = -1;
    m_inserting = false;
    m_touched = false;
    m_invalidArea.clear();
    m_indicatorRow = -1;
    endResetModel();
    Q_EMIT editStateChanged();
}

int RoomsModel::rowCount(const QModelIndex& parent) const {
    return m_open ? QSqlTableModel::rowCount(parent) : 0;
}

bool RoomsModel::canFetchMore(const QModelIndex& parent) const {
    return m_open && QSqlTableModel::canFetchMore(parent);
}

void RoomsModel::selectOrThrow() {
    Database::read([this] {
        if (!select())
            failWithEngineText();
        // Every row at hand: the grid finds rows by id, and an item has few rooms.
        while (QSqlTableModel::canFetchMore())
            fetchMore();
    });
}

void RoomsModel::failWithEngineText() {
    Database::fail(lastError(), database());
}

// The row statements as the table model builds them, each prepared anew: a statement prepared on a
// server connection that has since been replaced would not be found there.
bool RoomsModel::runRowStatement(QSqlDriver::StatementType type, const QSqlRecord& values,
                                 const QSqlRecord& where) {
    const QSqlDriver* driver = database().driver();
    QString statement = driver->sqlStatement(type, tableName(), values, true);
    if (type != QSqlDriver::InsertStatement)
        statement += u' ' + driver->sqlStatement(QSqlDriver::WhereStatement, tableName(), where, true);
    QSqlQuery query(database());
    if (!query.prepare(statement)) {
        setLastError(query.lastError());
        return false;
    }
    for (int i = 0; i < values.count(); ++i)
        if (values.isGenerated(i))
            query.addBindValue(values.value(i));
    for (int i = 0; i < where.count(); ++i)
        if (where.isGenerated(i) && !where.isNull(i))
            query.addBindValue(where.value(i));
    if (!query.exec()) {
        setLastError(query.lastError());
        return false;
    }
    return true;
}

bool RoomsModel::insertRowIntoTable(const QSqlRecord& values) {
    QSqlRecord record = values;
    Q_EMIT beforeInsert(record);
    return runRowStatement(QSqlDriver::InsertStatement, record, QSqlRecord());
}

bool RoomsModel::updateRowInTable(int row, const QSqlRecord& values) {
    QSqlRecord record = values;
    Q_EMIT beforeUpdate(row, record);
    return runRowStatement(QSqlDriver::UpdateStatement, record, primaryValues(row));
}

bool RoomsModel::deleteRowFromTable(int row) {
    Q_EMIT beforeDelete(row);
    return runRowStatement(QSqlDriver::DeleteStatement, QSqlRecord(), primaryValues(row));
}

void RoomsModel::resetEditState() {
    const int row = m_editRow;
    m_editRow = -1;
    m_inserting = false;
    m_touched = false;
    m_invalidArea.clear();
    if (row >= 0 && row < rowCount())
        Q_EMIT headerDataChanged(Qt::Vertical, row, row);
    Q_EMIT editStateChanged();
}

void RoomsModel::RoomsAfterInsert(int /*row*/, QSqlRecord& record) {
    record.setValue(u"Items_ID"_s, m_itemId);
    record.setGenerated(u"Items_ID"_s, true);
}

void RoomsModel::beginEdit(int row) {
    if (!m_open || row < 0 || row >= rowCount() || m_editRow >= 0)
        return;
    m_editRow = row;
    m_inserting = false;
    m_touched = false;
    Q_EMIT headerDataChanged(Qt::Vertical, row, row);
    Q_EMIT editStateChanged();
}

void RoomsModel::insertRoom(int row) {
    if (!m_open || m_editRow >= 0)
        return;
    row = qBound(0, row, rowCount());
    if (!insertRow(row))
        failWithEngineText();
    m_editRow = row;
    m_inserting = true;
    m_touched = false;
    Q_EMIT editStateChanged();
}

std::optional<qint64> RoomsModel::post() {
    if (m_editRow < 0)
        return std::nullopt;
    if (!m_invalidArea.isNull())
        throw AppError(invalidAreaMessage(m_invalidArea));
    const bool inserting = m_inserting;
    qint64 id = inserting ? 0 : idAt(m_editRow);
    if (isDirty()) {
        // Waits for another copy as a unit: a row that was stored is not stored again. When the
        // server did not confirm it, the rows shown are the stored ones.
        Database::reloadIfUncertain(
            [&] {
                Database::write([&] {
                    if (!submitAll())
                        failWithEngineText();
                    if (inserting) {
                        QSqlQuery last(database());
                        if (last.exec(Statements::lastInsertId(Statements::dialectOf(database()))) &&
                            last.next())
                            id = last.value(0).toLongLong();
                    }
                });
            },
            [this] { refresh(); });
        while (QSqlTableModel::canFetchMore())
            fetchMore();
    }
    resetEditState();
    return id;
}

void RoomsModel::cancel() {
    if (m_editRow < 0)
        return;
    const int row = m_editRow;
    const bool inserting = m_inserting;
    revertAll();
    resetEditState();
    // A refused area text was never in the row: the cell shows the row's value again.
    if (!inserting && row < rowCount())
        Q_EMIT dataChanged(index(row, 0), index(row, columnCount() - 1));
}

void RoomsModel::refresh() {
    revertAll();
    resetEditState();
    selectOrThrow();
}

void RoomsModel::deleteRoom(int row) {
    if (row < 0 || row >= rowCount())
        return;
    if (row == m_editRow && m_inserting) {
        cancel();
        return;
    }
    const qint64 id = idAt(row);
    cancel();
    const std::optional<int> stored = rowOfId(id);
    if (!stored)
        return;
    auto revert = qScopeGuard([this] { revertAll(); });
    if (!removeRow(*stored))
        failWithEngineText();
    Database::reloadIfUncertain(
        [this] {
            Database::write([this] {
                if (!submitAll())
                    failWithEngineText();
            });
        },
        [this] { refresh(); });
    revert.dismiss();
    while (QSqlTableModel::canFetchMore())
        fetchMore();
}

QString RoomsModel::orderByClause() const {
    return Statements::roomsOrderBy(Statements::dialectOf(database()));
}

std::optional<int> RoomsModel::rowOfId(qint64 id) const {
    if (id == 0)
        return std::nullopt;
    for (int row = 0; row < rowCount(); ++row)
        if (idAt(row) == id)
            return row;
    return std::nullopt;
}

qint64 RoomsModel::idAt(int row) const {
    if (row < 0 || row >= rowCount())
        return 0;
    if (row == m_editRow && m_inserting)
        return 0;
    return QSqlTableModel::data(index(row, idColumn()), Qt::EditRole).toLongLong();
}

void RoomsModel::setIndicatorRow(int row) {
    if (row == m_indicatorRow)
        return;
    const int previous = m_indicatorRow;
    m_indicatorRow = row;
    if (previous >= 0 && previous < rowCount())
        Q_EMIT headerDataChanged(Qt::Vertical, previous, previous);
    if (row >= 0 && row < rowCount())
        Q_EMIT headerDataChanged(Qt::Vertical, row, row);
}

std::optional<double> RoomsModel::parseArea(const QString& text, const QLocale& locale) {
    const QString separator = locale.decimalPoint();
    const QChar decimal = separator.isEmpty() ? u'.' : separator.front();
    if (const std::optional<double> number = NumberText::parseDecimal(text, decimal))
        return number;
    if (decimal == u',' && text.contains(u'.'))
        return NumberText::parseDecimal(QString(text).replace(u'.', u','), decimal);
    return std::nullopt;
}

QString RoomsModel::invalidAreaMessage(const QString& text) {
    return u"Площадь комнаты «%1» не является числом. Введите число, например %2."_s.arg(
        text, ValueText().realText(12.5));
}

QVariant RoomsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid())
        return QVariant();
    const bool text = role == Qt::DisplayRole || role == Qt::EditRole;
    if (index.column() == areaColumn()) {
        if (role == Qt::TextAlignmentRole)
            return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
        if (text) {
            if (index.row() == m_editRow && !m_invalidArea.isNull())
                return m_invalidArea;
            const QVariant value = QSqlTableModel::data(index, Qt::EditRole);
            if (value.isNull())
                return QString();
            bool ok = false;
            const double number = value.toDouble(&ok);
            return ok ? ValueText().realText(number) : value.toString();
        }
    }
    if (text && index.column() == nameColumn())
        return QSqlTableModel::data(index, Qt::EditRole).toString();
    return QSqlTableModel::data(index, role);
}

bool RoomsModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!m_open || !index.isValid() || role != Qt::EditRole)
        return false;
    const int row = index.row();
    if (m_editRow >= 0 && row != m_editRow)
        return false; // one row at a time: the other one is posted first
    beginEdit(row);

    QVariant stored = value;
    if (index.column() == areaColumn() && value.typeId() != QMetaType::Double) {
        const QString typed = value.toString();
        if (typed.trimmed().isEmpty()) {
            stored = QVariant();
        } else if (const std::optional<double> number = parseArea(typed)) {
            stored = *number;
        } else {
            m_invalidArea = typed;
            m_touched = true;
            Q_EMIT dataChanged(index, index);
            Q_EMIT areaRefused(row);
            return true;
        }
        m_invalidArea.clear();
    } else if (index.column() == nameColumn()) {
        stored = value.toString();
    }
    // An editor closed without a change changes nothing.
    const QVariant current = QSqlTableModel::data(index, Qt::EditRole);
    const auto blank = [](const QVariant& v) { return v.isNull() || v.toString().isEmpty(); };
    if ((blank(current) && blank(stored)) || (!blank(current) && current == stored)) {
        Q_EMIT dataChanged(index, index);
        return true;
    }
    if (!QSqlTableModel::setData(index, stored, role))
        return false;
    m_touched = true;
    Q_EMIT dataChanged(index, index);
    return true;
}

QVariant RoomsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Vertical) {
        if (role == Qt::DisplayRole) {
            if (section == m_editRow)
                return m_inserting ? u"*"_s : u"I"_s;
            return section == m_indicatorRow ? u"▶"_s : QString();
        }
        if (role == Qt::TextAlignmentRole)
            return QVariant::fromValue(Qt::AlignCenter);
        return QVariant();
    }
    if (role == Qt::DisplayRole) {
        if (section == nameColumn())
            return u"Комната"_s;
        if (section == areaColumn())
            return u"Площадь"_s;
    }
    if (role == Qt::TextAlignmentRole && section == areaColumn())
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    return QSqlTableModel::headerData(section, orientation, role);
}

Qt::ItemFlags RoomsModel::flags(const QModelIndex& index) const {
    if (!m_open || !index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags result = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (index.column() == nameColumn() || index.column() == areaColumn())
        result |= Qt::ItemIsEditable;
    return result;
}
