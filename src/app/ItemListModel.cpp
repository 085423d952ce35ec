#include "ItemListModel.h"

#include "Icons.h"
#include "ListStyle.h"
#include "Schema.h"

using namespace Qt::StringLiterals;

ItemListModel::ItemListModel(QObject* parent) : QAbstractTableModel(parent), m_rowIcon(Icons::get(u"row")) {}

void ItemListModel::setColumns(const QList<int>& attributes) {
    beginResetModel();
    m_attributes = attributes;
    m_columnCount = int(attributes.size());
    m_captions.clear();
    for (int a : attributes)
        m_captions.append(attributeCaption(a));
    m_ids.clear();
    m_cells.clear();
    endResetModel();
}

QString ItemListModel::shownText(const QString& text) {
    const QStringView head = QStringView(text).left(ShownLength + 1);
    qsizetype end = head.size();
    for (qsizetype i = 0; i < head.size(); ++i) {
        if (head[i] == u'\r' || head[i] == u'\n') {
            end = i;
            break;
        }
    }
    if (end == text.size())
        return text;
    end = qMin(end, qsizetype(ShownLength));
    if (end > 0 && head[end - 1].isHighSurrogate())
        --end;
    return head.left(end).toString() + u'\u2026';
}

int ItemListModel::rowOfId(int id) const {
    return int(m_ids.indexOf(id));
}

void ItemListModel::removeItemRow(int row) {
    if (row < 0 || row >= m_ids.size())
        return;
    beginRemoveRows(QModelIndex(), row, row);
    m_ids.removeAt(row);
    m_cells.remove(qsizetype(row) * m_columnCount, m_columnCount);
    endRemoveRows();
}

ItemListModel::Rebuild::Rebuild(ItemListModel& model) : m_model(model) {
    m_model.beginResetModel();
    m_model.m_ids.clear();
    m_model.m_cells.clear();
}

ItemListModel::Rebuild::~Rebuild() {
    m_model.endResetModel();
}

QString* ItemListModel::Rebuild::addRow(int id) {
    m_model.m_ids.append(id);
    const qsizetype start = m_model.m_cells.size();
    m_model.m_cells.resize(start + m_model.m_columnCount);
    return m_model.m_cells.data() + start;
}

int ItemListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_ids.size());
}

int ItemListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_columnCount;
}

QVariant ItemListModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        return shownText(cellText(index.row(), index.column()));
    case ListRoles::FullText:
        return cellText(index.row(), index.column());
    case Qt::DecorationRole:
        return index.column() == 0 ? QVariant(m_rowIcon) : QVariant();
    case Qt::BackgroundRole:
        return ListStyle::rowBackground(index.row());
    case Qt::TextAlignmentRole:
        return QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    case ItemIdRole:
        return m_ids.at(index.row());
    default:
        return {};
    }
}

QVariant ItemListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= m_columnCount)
        return {};
    if (role == Qt::DisplayRole)
        return m_captions.at(section);
    if (role == Qt::TextAlignmentRole)
        return QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    return {};
}

Qt::ItemFlags ItemListModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}
