#pragma once

#include "DBNavigator.h"

#include <QObject>

#include <functional>
#include <optional>

class QWidget;
class RoomsGrid;
class RoomsModel;

// The rooms of the item card: the cursor, its grid and its navigator, and the commands that join
// them. A row is stored when it is posted (the navigator's post button, or moving to another
// row); a stored row does not wait for the card's OK. An area that does not convert is refused
// with a message and its row stays in editing, with the editor back on the area.
class RoomsEditor : public QObject {
    Q_OBJECT
public:
    // Creates `DBNavigator1` and `DBGrid1` as children of `parent`; messages go to `window`.
    RoomsEditor(QWidget* window, QWidget* parent);

    RoomsModel* model() const { return m_model; }
    RoomsGrid* grid() const { return m_grid; }
    DBNavigator* navigator() const { return m_navigator; }

    // The item whose rooms are shown: the cursor's filter "Items_ID=" + id.
    void setItemId(int itemId);
    // Enables the grid and the navigator and opens the cursor, or disables them and closes it.
    // Opening throws AppError with the engine's text.
    void setActive(bool active);

    // The navigator's commands; each reports its own failure and returns whether it succeeded.
    bool runCommand(DBNavigator::Button command);

    // Before the card closes with OK: takes an open editor's text and posts the row in editing.
    // False when the row was refused (the failure has been reported; the row stays in editing).
    bool postBeforeClose();
    // When the card closes otherwise: the unposted row and an open editor are dropped.
    void discardEditing();

private:
    void command(DBNavigator::Button command);
    void prior();
    void next();
    void insert();
    void remove();
    void edit();
    void post();
    void cancel();
    void refresh();

    // Takes an open editor's text and posts the row in editing; the current row follows it.
    void postPending();
    bool run(const std::function<void()>& action);
    void returnToEditRow();
    void scheduleSettle();
    void settle();
    void currentRowChanged(int row);
    void updateButtons();
    void setCurrent(int row, int column);
    void setCurrentById(std::optional<qint64> id, int fallbackRow, int column);
    int currentRow() const;
    int currentColumn() const;
    bool confirmDelete();

    QWidget* m_window;
    RoomsModel* m_model = nullptr;
    RoomsGrid* m_grid = nullptr;
    DBNavigator* m_navigator = nullptr;
    bool m_busy = false; // a command runs: the grid's own signals wait
    bool m_settleQueued = false;
    bool m_areaRefused = false; // the grid took an area that does not convert
    bool m_rowLeft = false;     // the grid moved away from the row in editing
};
