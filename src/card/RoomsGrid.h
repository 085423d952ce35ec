#pragma once

#include <QPointer>
#include <QStyledItemDelegate>
#include <QTableView>

class RoomsModel;

// The cell editors of the rooms grid: the area cell takes only the characters of a number
// (digits, sign, the decimal separator, the exponent letter). Both '.' and ',' get through, so that
// a separator of the other habit is read as RoomsModel::parseArea() says or refused, never dropped.
class RoomsDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    explicit RoomsDelegate(RoomsModel* model, QObject* parent = nullptr);

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override;
    void destroyEditor(QWidget* editor, const QModelIndex& index) const override;
    // The editor open now, if any.
    QWidget* openEditor() const { return m_editor; }

    // The characters the area cell accepts, as a pattern, for the given decimal separator.
    static QString areaPattern(QChar decimalSeparator);

private:
    RoomsModel* m_model;
    mutable QPointer<QWidget> m_editor;
};

// The editable grid over the rooms cursor (`DBGrid1`): the room's name and its area, with a narrow
// indicator column that marks the current row and a row in editing. Insert starts a new row and
// Ctrl+Delete deletes one; both are carried out by the owner.
class RoomsGrid : public QTableView {
    Q_OBJECT
public:
    static constexpr int NameWidth = 283;
    static constexpr int AreaWidth = 85;

    explicit RoomsGrid(RoomsModel* model, QWidget* parent = nullptr);

    // Takes the open cell editor's text into the row and closes it; false when none was open.
    bool finishEditing();
    // Closes the open cell editor without taking its text.
    void abandonEditing();
    bool isEditorOpen() const;
    using QTableView::edit;
    RoomsDelegate* roomsDelegate() const { return m_delegate; }

Q_SIGNALS:
    void insertRequested();
    void deleteRequested();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;

private:
    void applyColumns();

    RoomsModel* m_model;
    RoomsDelegate* m_delegate;
};
