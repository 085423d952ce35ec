#include "ReportListModel.h"

#include "ItemRowStore.h"
#include "ListRoles.h"

#include <algorithm>

ReportListModel::ReportListModel(QObject* parent) : QAbstractTableModel(parent) {}

void ReportListModel::copyFrom(const QAbstractItemModel& source, const QList<int>& widths) {
    beginResetModel();
    const int columnCount = source.columnCount();
    m_columns.clear();
    m_columns.reserve(columnCount);
    for (int c = 0; c < columnCount; ++c) {
        Column column;
        column.caption = source.headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
        column.width = c < widths.size() ? widths[c] : DefaultWidth;
        const QVariant alignment = source.headerData(c, Qt::Horizontal, Qt::TextAlignmentRole);
        if (alignment.isValid())
            column.alignment = Qt::Alignment(alignment.toInt());
        m_columns.append(column);
    }
    m_rows.reset();
    m_editedTexts.clear();
    if (const auto* rows = dynamic_cast<const ItemRowSource*>(&source)) {
        m_rows = rows->itemRows();
    } else {
        auto copy = std::make_shared<ItemRowStore>(QStringList(columnCount));
        const int rowCount = columnCount > 0 ? source.rowCount() : 0;
        QStringList texts;
        for (int r = 0; r < rowCount; ++r) {
            texts.clear();
            for (int c = 0; c < columnCount; ++c)
                texts.append(source.index(r, c).data(ListRoles::FullText).toString());
            copy->addRow(source.index(r, 0).data(ListRoles::ItemId).toInt(), texts);
        }
        m_rows = std::move(copy);
    }
    m_checked.assign(size_t(rowCount()), 1);
    endResetModel();
}

void ReportListModel::clear() {
    beginResetModel();
    m_rows.reset();
    m_editedTexts.clear();
    m_checked.clear();
    endResetModel();
}

int ReportListModel::itemId(int row) const {
    return m_rows->id(row);
}

QString ReportListModel::cellText(int row, int column) const {
    if (column == 0) {
        const auto edited = m_editedTexts.constFind(row);
        if (edited != m_editedTexts.constEnd())
            return *edited;
    }
    return m_rows->text(row, column);
}

void ReportListModel::setChecked(int row, bool checked) {
    if (row < 0 || row >= rowCount() || isChecked(row) == checked)
        return;
    m_checked[size_t(row)] = checked ? 1 : 0;
    const QModelIndex i = index(row, 0);
    Q_EMIT dataChanged(i, i, {Qt::CheckStateRole});
}

void ReportListModel::setAllChecked(bool checked) {
    if (m_checked.empty())
        return;
    std::fill(m_checked.begin(), m_checked.end(), checked ? 1 : 0);
    Q_EMIT dataChanged(index(0, 0), index(rowCount() - 1, 0), {Qt::CheckStateRole});
}

int ReportListModel::checkedCount() const {
    return int(std::count(m_checked.begin(), m_checked.end(), 1));
}

int ReportListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() || !m_rows || m_columns.isEmpty() ? 0 : m_rows->rowCount();
}

int ReportListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_columns.size());
}

QVariant ReportListModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
    case ListRoles::FullText:
        return cellText(index.row(), index.column());
    case Qt::CheckStateRole:
        if (index.column() == 0)
            return isChecked(index.row()) ? Qt::Checked : Qt::Unchecked;
        return {};
    case Qt::TextAlignmentRole:
        return int(m_columns.at(index.column()).alignment);
    case ListRoles::ItemId:
        return itemId(index.row());
    default:
        return {};
    }
}

bool ReportListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid) ||
        index.column() != 0)
        return false;
    if (role == Qt::CheckStateRole) {
        setChecked(index.row(), value.toInt() == Qt::Checked);
        return true;
    }
    if (role == Qt::EditRole) {
        const QString newText = value.toString();
        if (cellText(index.row(), 0) != newText) {
            m_editedTexts.insert(index.row(), newText);
            Q_EMIT dataChanged(index, index, {Qt::DisplayRole, Qt::EditRole});
        }
        return true;
    }
    return false;
}

QVariant ReportListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= m_columns.size())
        return {};
    if (role == Qt::DisplayRole)
        return m_columns.at(section).caption;
    if (role == Qt::TextAlignmentRole)
        return int(m_columns.at(section).alignment);
    return {};
}

Qt::ItemFlags ReportListModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    if (index.column() == 0)
        f |= Qt::ItemIsUserCheckable | Qt::ItemIsEditable;
    return f;
}
