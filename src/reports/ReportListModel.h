#pragma once

#include <QAbstractTableModel>
#include <QHash>
#include <QList>
#include <QString>
#include <memory>
#include <vector>

class ItemRowStore;

// The report window's list: the main list's columns and rows, with a tick per row and a
// first-column text that the operator may edit. The rows are the main list's own (ItemRowStore,
// which the main list never changes while it is shared), not a copy of their texts.
class ReportListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int DefaultWidth = 100;

    struct Column {
        QString caption;
        int width = DefaultWidth;
        Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter;
    };

    explicit ReportListModel(QObject* parent = nullptr);

    // Replaces columns and rows by those of `source`: captions and alignments from its horizontal
    // header, widths from `widths` (by column; a missing one gets DefaultWidth), and its rows: those
    // of an ItemRowSource itself, else a copy of each cell's whole text (ListRoles::FullText) and
    // each row's item id (ListRoles::ItemId). Every row is ticked.
    void copyFrom(const QAbstractItemModel& source, const QList<int>& widths);
    // Lets go of the rows.
    void clear();

    const QList<Column>& columns() const { return m_columns; }
    int itemId(int row) const;
    // The cell's whole text; the operator's own for an edited first column.
    QString cellText(int row, int column) const;
    bool isChecked(int row) const { return m_checked[size_t(row)] != 0; }
    void setChecked(int row, bool checked);
    void setAllChecked(bool checked);
    int checkedCount() const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    QList<Column> m_columns;
    std::shared_ptr<const ItemRowStore> m_rows;
    QHash<int, QString> m_editedTexts; // first-column texts by row
    std::vector<char> m_checked;
};
