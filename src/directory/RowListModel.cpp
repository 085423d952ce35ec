#include "RowListModel.h"

#include "ListStyle.h"

#include <QBrush>

RowListModel::RowListModel(QString caption, QIcon icon, QObject* parent)
    : QAbstractTableModel(parent), m_caption(std::move(caption)), m_icon(std::move(icon)) {}

void RowListModel::setRows(QList<Row> rows) {
    beginResetModel();
    m_rows = std::move(rows);
    endResetModel();
}

void RowListModel::removeRowAt(int row) {
    if (row < 0 || row >= m_rows.size())
        return;
    beginRemoveRows(QModelIndex(), row, row);
    m_rows.removeAt(row);
    endRemoveRows();
}

int RowListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_rows.size());
}

int RowListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 1;
}

QVariant RowListModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return QVariant();
    const Row& row = m_rows.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return row.text;
    case Qt::DecorationRole:
        return m_icon;
    case Qt::BackgroundRole:
        return QBrush(ListStyle::rowBackground(index.row()));
    case Qt::UserRole:
        return row.number;
    default:
        return QVariant();
    }
}

QVariant RowListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && section == 0 && role == Qt::DisplayRole)
        return m_caption;
    return QVariant();
}
