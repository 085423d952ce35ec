#pragma once

#include <QLocale>
#include <QSqlDriver>
#include <QSqlTableModel>

#include <optional>

// The rooms cursor of the item card: the rows of `rooms` that belong to one item, ordered by
// RoomName, edited in place one row at a time. A row being edited (changed or newly inserted) is
// held here until it is posted; posting writes it at once and re-reads the rows.
//
// The area P is a floating-point number typed in the regional format (parseArea). Text that does
// not convert is kept beside the row, shown as typed and never written: posting refuses it.
class RoomsModel : public QSqlTableModel {
    Q_OBJECT
public:
    explicit RoomsModel(QObject* parent = nullptr);

    // Columns as the grid shows them; the table's own id and Items_ID are not shown.
    int nameColumn() const;
    int areaColumn() const;
    int idColumn() const;

    // The item whose rooms the cursor holds: filter "Items_ID=" + id.
    void setItemId(int itemId);
    int itemId() const { return m_itemId; }

    // Opens the cursor on the current filter (re-reading the rows), or closes it (no rows).
    // Both drop a row still being edited. open() throws AppError with the engine's text.
    void open();
    void close();
    bool isOpen() const { return m_open; }

    // The row being edited, or -1.
    int editRow() const { return m_editRow; }
    bool isEditing() const { return m_editRow >= 0; }
    bool isInserting() const { return m_inserting; }
    // Whether the operator changed the row being edited since it was inserted or put in editing.
    bool isEditTouched() const { return m_touched; }
    // The typed area of the row being edited when it does not convert; null otherwise.
    QString invalidAreaText() const { return m_invalidArea; }

    // Puts a row into editing (no change yet). Only one row is edited at a time.
    void beginEdit(int row);
    // A new empty row at `row`, in editing, its Items_ID already set to the item id.
    void insertRoom(int row);
    // Writes the row being edited and re-reads the rows; returns the id of the posted room, or
    // nothing when no row was being edited. Throws AppError when the area does not convert or the
    // database refuses the row; the row then stays in editing as it was.
    std::optional<qint64> post();
    // Drops the changes of the row being edited; an inserted row disappears.
    void cancel();
    // Re-reads the rows (a row being edited is dropped).
    void refresh();
    // Deletes a stored room at once (a row being edited is dropped first; a row that was only
    // inserted is just dropped). Throws AppError with the engine's text.
    void deleteRoom(int row);

    // The row that holds the room with this id, if any.
    std::optional<int> rowOfId(qint64 id) const;
    qint64 idAt(int row) const; // 0 for a row not stored yet

    // The row the grid's indicator marks.
    void setIndicatorRow(int row);

    // An area as typed: a number in the regional format; where the regional separator is ',' a
    // '.' stands for it too. Nothing for text that is no number.
    static std::optional<double> parseArea(const QString& text, const QLocale& locale = QLocale());
    // The message that refuses an area text.
    static QString invalidAreaMessage(const QString& text);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    bool canFetchMore(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

protected:
    // Ordered by RoomName.
    QString orderByClause() const override;
    bool insertRowIntoTable(const QSqlRecord& values) override;
    bool updateRowInTable(int row, const QSqlRecord& values) override;
    bool deleteRowFromTable(int row) override;

Q_SIGNALS:
    // Editing began, ended, or the row being edited changed.
    void editStateChanged();
    // The operator typed an area that does not convert; the row keeps it for correction.
    void areaRefused(int row);

private:
    void RoomsAfterInsert(int row, QSqlRecord& record);
    void resetEditState();
    void selectOrThrow();
    [[noreturn]] void failWithEngineText();
    bool runRowStatement(QSqlDriver::StatementType type, const QSqlRecord& values, const QSqlRecord& where);

    int m_itemId = 0;
    bool m_open = false;
    int m_editRow = -1;
    bool m_inserting = false;
    bool m_touched = false;
    QString m_invalidArea;
    int m_indicatorRow = -1;
};
