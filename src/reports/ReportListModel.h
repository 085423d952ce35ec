#pragma once

#include <QAbstractTableModel>
#include <QList>
#include <QString>
#include <vector>

// The report window's list: a copy of the main list's columns and rows, with a tick per row and
// a first-column text that the operator may edit. Nothing here refers back to the source.
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

    // Replaces columns and rows by a copy of `source`: captions and alignments from its horizontal
    // header, widths from `widths` (by column; a missing one gets DefaultWidth), each cell's whole
    // text (ListRoles::FullText) and each row's item id (ListRoles::ItemId). Every row is ticked.
    void copyFrom(const QAbstractItemModel& source, const QList<int>& widths);

    const QList<Column>& columns() const { return m_columns; }
    int itemId(int row) const { return m_ids[size_t(row)]; }
    const QString& cellText(int row, int column) const {
        return m_cells[size_t(row) * size_t(m_columns.size()) + size_t(column)];
    }
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
    std::vector<QString> m_cells; // row after row, one text per column
    std::vector<int> m_ids;
    std::vector<char> m_checked;
};
