#pragma once

#include "ListRoles.h"

#include <QAbstractTableModel>
#include <QIcon>
#include <QList>
#include <QString>

// Rows of the item list: one text per visible column and the item's id. The list never edits
// in place; it is refilled as a whole by one reset per rebuild.
class ItemListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int ItemIdRole = ListRoles::ItemId;

    explicit ItemListModel(QObject* parent = nullptr);

    // Replaces the columns (attribute indexes in display order); the rows go with them.
    void setColumns(const QList<int>& attributes);
    const QList<int>& columnAttributes() const { return m_attributes; }
    int attributeOf(int column) const { return m_attributes.value(column, -1); }

    int idAt(int row) const { return m_ids.at(row); }
    int rowOfId(int id) const; // first row with this id, or -1
    // The cell's whole text, as read from the database.
    QString cellText(int row, int column) const {
        return m_cells.at(qsizetype(row) * m_columnCount + column);
    }
    // What the list paints: the first line of the text, at most ShownLength characters, with an
    // ellipsis when something is left out. Painting and measuring never depend on a text's length.
    static constexpr int ShownLength = 300;
    static QString shownText(const QString& text);
    // Removes one row without touching the others.
    void removeItemRow(int row);

    // One rebuild: empties the model at the start and publishes the rows added when it ends,
    // also when the reading stops on an error (the rows read so far stay).
    class Rebuild {
    public:
        explicit Rebuild(ItemListModel& model);
        ~Rebuild();
        Rebuild(const Rebuild&) = delete;
        Rebuild& operator=(const Rebuild&) = delete;

        // Adds a row and returns its cells (one per column) to be filled before the next call.
        QString* addRow(int id);

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
    QList<int> m_ids;
    QList<QString> m_cells; // row after row, m_columnCount texts each
    QIcon m_rowIcon;
};
