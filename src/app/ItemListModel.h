#pragma once

#include "ItemRowStore.h"
#include "ListRoles.h"

#include <QAbstractTableModel>
#include <QIcon>
#include <QList>
#include <QString>

#include <memory>

// Rows of the item list: one value per visible column and the item's id, kept as the engine
// handed them over (ItemRowStore); a cell's text is made when it is painted, measured, copied or
// reported. The list never edits in place; it is refilled as a whole by one reset per rebuild.
// The report window reads the same rows (ItemRowSource).
class ItemListModel : public QAbstractTableModel, public ItemRowSource {
    Q_OBJECT
public:
    static constexpr int ItemIdRole = ListRoles::ItemId;

    explicit ItemListModel(QObject* parent = nullptr);

    // Replaces the columns (attribute indexes in display order); the rows go with them.
    void setColumns(const QList<int>& attributes);
    const QList<int>& columnAttributes() const { return m_attributes; }
    int attributeOf(int column) const { return m_attributes.value(column, -1); }

    int idAt(int row) const { return m_rows->id(row); }
    int rowOfId(int id) const { return m_rows->rowOfId(id); } // first row with this id, or -1
    // The cell's whole text, in the database layer's text form.
    QString cellText(int row, int column) const { return m_rows->text(row, column); }
    // What the list paints: the first line of the text, at most ShownLength characters, with an
    // ellipsis when something is left out. Painting and measuring never depend on a text's length.
    static constexpr int ShownLength = 300;
    static QString shownText(const QString& text);
    // What is painted, made from no more of the cell's bytes than that needs.
    QString shownCellText(int row, int column) const;
    // Removes one row without touching the others.
    void removeItemRow(int row);

    std::shared_ptr<const ItemRowStore> itemRows() const override { return m_rows; }

    // One rebuild: empties the model at the start (new rows for the model's columns, in the
    // user's locale) and publishes the rows added when it ends, also when the reading stops on an
    // error (the rows read so far stay).
    class Rebuild {
    public:
        explicit Rebuild(ItemListModel& model);
        ~Rebuild();
        Rebuild(const Rebuild&) = delete;
        Rebuild& operator=(const Rebuild&) = delete;

        ItemRowStore& rows() { return *m_model.m_rows; }

    private:
        ItemListModel& m_model;
    };

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    QList<int> m_attributes;
    QList<QString> m_captions;
    int m_columnCount = 0;
    std::shared_ptr<ItemRowStore> m_rows;
    QIcon m_rowIcon;
};
