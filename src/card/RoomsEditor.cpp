#include "RoomsEditor.h"

#include "AppError.h"
#include "Dialogs.h"
#include "Guard.h"
#include "KeyPreview.h"
#include "RoomsGrid.h"
#include "RoomsModel.h"

#include <QPushButton>
#include <QScopeGuard>

#include <utility>

using namespace Qt::StringLiterals;

RoomsEditor::RoomsEditor(QWidget* window, QWidget* parent) : QObject(parent), m_window(window) {
    m_model = new RoomsModel(this);
    m_navigator = new DBNavigator(parent);
    m_navigator->setObjectName(u"DBNavigator1"_s);
    m_grid = new RoomsGrid(m_model, parent);
    m_grid->setObjectName(u"DBGrid1"_s);
    m_grid->setAccessibleName(u"Комнаты"_s);

    connect(m_navigator, &DBNavigator::clicked, this,
            [this](DBNavigator::Button button) { runCommand(button); });
    connect(m_grid, &RoomsGrid::insertRequested, this, [this] { runCommand(DBNavigator::Insert); });
    connect(m_grid, &RoomsGrid::deleteRequested, this, [this] { runCommand(DBNavigator::Delete); });
    connect(m_grid->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) { currentRowChanged(current.row()); });
    connect(m_model, &RoomsModel::areaRefused, this, [this] {
        if (m_busy)
            return;
        m_areaRefused = true;
        scheduleSettle();
    });
    connect(m_model, &RoomsModel::editStateChanged, this, &RoomsEditor::updateButtons);
    connect(m_model, &QAbstractItemModel::modelReset, this, &RoomsEditor::updateButtons);
    connect(m_model, &QAbstractItemModel::rowsInserted, this, &RoomsEditor::updateButtons);
    connect(m_model, &QAbstractItemModel::rowsRemoved, this, &RoomsEditor::updateButtons);
    m_grid->setEnabled(false);
    m_navigator->setEnabled(false);
    updateButtons();
}

void RoomsEditor::setItemId(int itemId) {
    m_model->setItemId(itemId);
}

void RoomsEditor::setActive(bool active) {
    const bool wasBusy = std::exchange(m_busy, true);
    const auto done = qScopeGuard([&] {
        m_busy = wasBusy;
        updateButtons();
    });
    m_areaRefused = false;
    m_rowLeft = false;
    m_grid->abandonEditing();
    m_grid->setEnabled(active);
    m_navigator->setEnabled(active);
    if (!active) {
        m_model->close();
        return;
    }
    m_model->open();
    setCurrent(0, m_model->nameColumn());
}

bool RoomsEditor::runCommand(DBNavigator::Button button) {
    return run([this, button] { command(button); });
}

bool RoomsEditor::postBeforeClose() {
    return run([this] {
        m_grid->finishEditing();
        // A new row the operator typed nothing into is not a room.
        if (m_model->isInserting() && !m_model->isEditTouched()) {
            m_model->cancel();
            return;
        }
        postPending();
    });
}

void RoomsEditor::discardEditing() {
    const bool wasBusy = std::exchange(m_busy, true);
    m_areaRefused = false;
    m_rowLeft = false;
    m_grid->abandonEditing();
    m_model->cancel();
    m_busy = wasBusy;
    updateButtons();
}

// ---------------------------------------------------------------------------------------------
// Commands

void RoomsEditor::command(DBNavigator::Button button) {
    if (!m_model->isOpen())
        return;
    switch (button) {
    case DBNavigator::Prior:
        prior();
        break;
    case DBNavigator::Next:
        next();
        break;
    case DBNavigator::Insert:
        insert();
        break;
    case DBNavigator::Delete:
        remove();
        break;
    case DBNavigator::Edit:
        edit();
        break;
    case DBNavigator::Post:
        post();
        break;
    case DBNavigator::Cancel:
        cancel();
        break;
    case DBNavigator::Refresh:
        refresh();
        break;
    }
}

void RoomsEditor::prior() {
    postPending();
    if (currentRow() > 0)
        setCurrent(currentRow() - 1, currentColumn());
}

void RoomsEditor::next() {
    postPending();
    if (currentRow() + 1 < m_model->rowCount())
        setCurrent(currentRow() + 1, currentColumn());
}

void RoomsEditor::insert() {
    postPending();
    const int row = qMax(0, currentRow());
    m_model->insertRoom(row);
    const QModelIndex name = m_model->index(row, m_model->nameColumn());
    setCurrent(row, m_model->nameColumn());
    m_grid->setFocus();
    m_grid->edit(name);
}

void RoomsEditor::remove() {
    const int row = currentRow();
    if (row < 0 || m_model->rowCount() == 0 || !confirmDelete())
        return;
    const int column = currentColumn();
    m_grid->abandonEditing();
    m_model->deleteRoom(row);
    setCurrent(qMin(row, m_model->rowCount() - 1), column);
}

void RoomsEditor::edit() {
    if (currentRow() < 0)
        return;
    if (m_model->isEditing() && m_model->editRow() != currentRow())
        postPending();
    const QModelIndex index = m_grid->currentIndex();
    if (!index.isValid())
        return;
    m_model->beginEdit(index.row());
    m_grid->setFocus();
    m_grid->edit(index);
}

void RoomsEditor::post() {
    postPending();
}

void RoomsEditor::cancel() {
    const int row = currentRow();
    const int column = currentColumn();
    m_grid->abandonEditing();
    m_model->cancel();
    setCurrent(qMin(row, m_model->rowCount() - 1), column);
}

void RoomsEditor::refresh() {
    postPending();
    const int row = currentRow();
    const int column = currentColumn();
    const qint64 id = m_model->idAt(row);
    m_model->refresh();
    setCurrentById(id, row, column);
}

void RoomsEditor::postPending() {
    m_grid->finishEditing();
    if (!m_model->isEditing())
        return;
    const int row = m_model->editRow();
    const int column = currentColumn();
    const std::optional<qint64> id = m_model->post();
    setCurrentById(id, row, column);
}

// ---------------------------------------------------------------------------------------------
// Keeping the grid and the cursor together

bool RoomsEditor::run(const std::function<void()>& action) {
    const bool wasBusy = std::exchange(m_busy, true);
    const bool done = guard(m_window, action);
    if (!done)
        returnToEditRow();
    m_busy = wasBusy;
    updateButtons();
    return done;
}

// After a refused post: the grid goes back to the row in editing, and to its area editor when
// the area was what did not convert.
void RoomsEditor::returnToEditRow() {
    if (!m_model->isEditing())
        return;
    const int row = m_model->editRow();
    const bool refused = !m_model->invalidAreaText().isNull();
    setCurrent(row, refused ? m_model->areaColumn() : currentColumn());
    if (refused && m_grid->isEnabled() && m_grid->isVisible())
        m_grid->edit(m_model->index(row, m_model->areaColumn()));
}

// The grid's own moves and cell commits happen inside its event handling; what they lead to
// (posting, refusing) runs right after, from the event loop.
void RoomsEditor::scheduleSettle() {
    if (m_settleQueued)
        return;
    m_settleQueued = true;
    QMetaObject::invokeMethod(
        this, [this] { settle(); }, Qt::QueuedConnection);
}

void RoomsEditor::settle() {
    m_settleQueued = false;
    const bool refused = std::exchange(m_areaRefused, false);
    const bool left = std::exchange(m_rowLeft, false);
    if (!m_model->isEditing())
        return;
    if (refused && !m_model->invalidAreaText().isNull()) {
        run([this] { throw AppError(RoomsModel::invalidAreaMessage(m_model->invalidAreaText())); });
        return;
    }
    const int row = currentRow();
    if (!left || row == m_model->editRow())
        return;
    run([this, row] {
        const qint64 target = m_model->idAt(row);
        const int column = currentColumn();
        if (m_model->isInserting() && !m_model->isEditTouched())
            m_model->cancel(); // a new row the operator typed nothing into is not a room
        else
            m_model->post();
        setCurrentById(target, row, column);
    });
}

void RoomsEditor::currentRowChanged(int row) {
    m_model->setIndicatorRow(row);
    updateButtons();
    if (m_busy || !m_model->isEditing() || row == m_model->editRow())
        return;
    m_rowLeft = true;
    scheduleSettle();
}

void RoomsEditor::setCurrent(int row, int column) {
    if (row < 0 || row >= m_model->rowCount()) {
        m_grid->setCurrentIndex(QModelIndex());
        m_model->setIndicatorRow(-1);
        return;
    }
    if (column != m_model->nameColumn() && column != m_model->areaColumn())
        column = m_model->nameColumn();
    m_grid->setCurrentIndex(m_model->index(row, column));
    m_model->setIndicatorRow(row);
}

void RoomsEditor::setCurrentById(std::optional<qint64> id, int fallbackRow, int column) {
    const std::optional<int> row = id ? m_model->rowOfId(*id) : std::nullopt;
    setCurrent(row ? *row : qMin(fallbackRow, m_model->rowCount() - 1), column);
}

int RoomsEditor::currentRow() const {
    return m_grid->currentIndex().isValid() ? m_grid->currentIndex().row() : -1;
}

int RoomsEditor::currentColumn() const {
    return m_grid->currentIndex().isValid() ? m_grid->currentIndex().column() : m_model->nameColumn();
}

void RoomsEditor::updateButtons() {
    const bool active = m_model->isOpen();
    const int rows = m_model->rowCount();
    const int row = currentRow();
    const bool editing = m_model->isEditing();
    m_navigator->setButtonEnabled(DBNavigator::Prior, active && row > 0);
    m_navigator->setButtonEnabled(DBNavigator::Next, active && row >= 0 && row + 1 < rows);
    m_navigator->setButtonEnabled(DBNavigator::Insert, active);
    m_navigator->setButtonEnabled(DBNavigator::Delete, active && rows > 0);
    m_navigator->setButtonEnabled(DBNavigator::Edit, active && rows > 0 && !editing);
    m_navigator->setButtonEnabled(DBNavigator::Post, active && editing);
    m_navigator->setButtonEnabled(DBNavigator::Cancel, active && editing);
    m_navigator->setButtonEnabled(DBNavigator::Refresh, active);
}

bool RoomsEditor::confirmDelete() {
    return Dialogs::askOkCancel(m_window, u"Delete record?"_s) == Dialogs::Answer::Ok;
}
