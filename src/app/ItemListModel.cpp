#include "ItemListModel.h"

#include "Icons.h"
#include "ListStyle.h"
#include "Schema.h"

using namespace Qt::StringLiterals;

namespace {

// Enough bytes of a cell's UTF-8 text for its first ShownLength + 1 characters, which decide what
// is painted: a UTF-16 unit takes at most four bytes.
constexpr qsizetype ShownBytes = (ItemListModel::ShownLength + 1) * 4;

QStringList columnNames(const QList<int>& attributes) {
    QStringList names;
    for (int a : attributes)
        names.append(attributeColumn(a));
    return names;
}

} // namespace

ItemListModel::ItemListModel(QObject* parent)
    : QAbstractTableModel(parent), m_rows(std::make_shared<ItemRowStore>()), m_rowIcon(Icons::get(u"row")) {}

void ItemListModel::setColumns(const QList<int>& attributes) {
    beginResetModel();
    m_attributes = attributes;
    m_columnCount = int(attributes.size());
    m_captions.clear();
    for (int a : attributes)
        m_captions.append(attributeCaption(a));
    m_rows = std::make_shared<ItemRowStore>(columnNames(attributes));
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

QString ItemListModel::shownCellText(int row, int column) const {
    return shownText(m_rows->textHead(row, column, ShownBytes));
}

void ItemListModel::removeItemRow(int row) {
    if (row < 0 || row >= m_rows->rowCount())
        return;
    beginRemoveRows(QModelIndex(), row, row);
    // Whoever still reads the rows (a report) keeps them as they were.
    if (m_rows.use_count() > 1)
        m_rows = std::make_shared<ItemRowStore>(*m_rows);
    m_rows->removeRow(row);
    endRemoveRows();
}

ItemListModel::Rebuild::Rebuild(ItemListModel& model) : m_model(model) {
    m_model.beginResetModel();
    std::shared_ptr<ItemRowStore> old = std::move(m_model.m_rows);
    m_model.m_rows = std::make_shared<ItemRowStore>(columnNames(m_model.m_attributes));
    if (old.use_count() == 1)
        m_model.m_rows->reuseSpaceOf(*old);
}

ItemListModel::Rebuild::~Rebuild() {
    m_model.m_rows->dropSpareSpace();
    m_model.endResetModel();
}

int ItemListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_rows->rowCount();
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
        return shownCellText(index.row(), index.column());
    case ListRoles::FullText:
        return cellText(index.row(), index.column());
    case Qt::DecorationRole:
        return index.column() == 0 ? QVariant(m_rowIcon) : QVariant();
    case Qt::BackgroundRole:
        return ListStyle::rowBackground(index.row());
    case Qt::TextAlignmentRole:
        return QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    case ItemIdRole:
        return idAt(index.row());
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
