#include "ReportListModel.h"

#include "ListRoles.h"

#include <algorithm>

ReportListModel::ReportListModel(QObject* parent) : QAbstractTableModel(parent) {}

void ReportListModel::copyFrom(const QAbstractItemModel& source, const QList<int>& widths) {
    beginResetModel();
    const int columnCount = source.columnCount();
    const int rowCount = columnCount > 0 ? source.rowCount() : 0;
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
    m_cells.clear();
    m_cells.shrink_to_fit();
    m_cells.reserve(size_t(rowCount) * size_t(columnCount));
    m_ids.assign(size_t(rowCount), 0);
    m_checked.assign(size_t(rowCount), 1);
    for (int r = 0; r < rowCount; ++r) {
        for (int c = 0; c < columnCount; ++c)
            m_cells.push_back(source.index(r, c).data(ListRoles::FullText).toString());
        m_ids[size_t(r)] = source.index(r, 0).data(ListRoles::ItemId).toInt();
    }
    endResetModel();
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
    return parent.isValid() ? 0 : int(m_ids.size());
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
        QString& text = m_cells[size_t(index.row()) * m_columns.size()];
        const QString newText = value.toString();
        if (text != newText) {
            text = newText;
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
