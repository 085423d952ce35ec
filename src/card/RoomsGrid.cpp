#include "RoomsGrid.h"

#include "RoomsModel.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <QRegularExpression>
#include <QRegularExpressionValidator>

using namespace Qt::StringLiterals;

// ---------------------------------------------------------------------------------------------
// RoomsDelegate

RoomsDelegate::RoomsDelegate(RoomsModel* model, QObject* parent)
    : QStyledItemDelegate(parent), m_model(model) {}

QString RoomsDelegate::areaPattern(QChar decimalSeparator) {
    return u"[0-9+\\-eE.,%1]*"_s.arg(QRegularExpression::escape(QString(decimalSeparator)));
}

QWidget* RoomsDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                                     const QModelIndex& index) const {
    QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
    if (auto* line = qobject_cast<QLineEdit*>(editor)) {
        line->setFrame(false);
        if (index.column() == m_model->areaColumn()) {
            line->setObjectName(u"AreaEditor"_s);
            line->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
            const QString separator = QLocale().decimalPoint();
            const QRegularExpression pattern(areaPattern(separator.isEmpty() ? u'.' : separator.front()));
            line->setValidator(new QRegularExpressionValidator(pattern, line));
        } else {
            line->setObjectName(u"NameEditor"_s);
        }
    }
    m_editor = editor;
    return editor;
}

void RoomsDelegate::destroyEditor(QWidget* editor, const QModelIndex& index) const {
    if (editor == m_editor)
        m_editor = nullptr;
    QStyledItemDelegate::destroyEditor(editor, index);
}

// ---------------------------------------------------------------------------------------------
// RoomsGrid

RoomsGrid::RoomsGrid(RoomsModel* model, QWidget* parent) : QTableView(parent), m_model(model) {
    m_delegate = new RoomsDelegate(model, this);
    setItemDelegate(m_delegate);
    setModel(model);
    setSelectionBehavior(SelectItems);
    setSelectionMode(SingleSelection);
    setEditTriggers(DoubleClicked | EditKeyPressed | AnyKeyPressed);
    setTabKeyNavigation(true);
    setSortingEnabled(false);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);

    QHeaderView* columns = horizontalHeader();
    columns->setSectionsClickable(false);
    columns->setHighlightSections(false);
    columns->setStretchLastSection(false);
    columns->setSectionResizeMode(QHeaderView::Interactive);

    QHeaderView* rows = verticalHeader();
    rows->setSectionsClickable(false);
    rows->setHighlightSections(false);
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setDefaultSectionSize(fontMetrics().height() + 6);
    rows->setFixedWidth(14);

    connect(model, &QAbstractItemModel::modelReset, this, &RoomsGrid::applyColumns);
    applyColumns();
}

void RoomsGrid::applyColumns() {
    for (int column = 0; column < m_model->columnCount(); ++column)
        setColumnHidden(column, column != m_model->nameColumn() && column != m_model->areaColumn());
    if (m_model->nameColumn() >= 0)
        setColumnWidth(m_model->nameColumn(), NameWidth);
    if (m_model->areaColumn() >= 0)
        setColumnWidth(m_model->areaColumn(), AreaWidth);
}

bool RoomsGrid::isEditorOpen() const {
    return m_delegate->openEditor() != nullptr && state() == EditingState;
}

bool RoomsGrid::finishEditing() {
    QWidget* editor = m_delegate->openEditor();
    if (!editor || state() != EditingState)
        return false;
    commitData(editor);
    closeEditor(editor, QAbstractItemDelegate::NoHint);
    return true;
}

void RoomsGrid::abandonEditing() {
    QWidget* editor = m_delegate->openEditor();
    if (editor && state() == EditingState)
        closeEditor(editor, QAbstractItemDelegate::NoHint);
}

void RoomsGrid::keyPressEvent(QKeyEvent* event) {
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if (event->key() == Qt::Key_Delete && modifiers == Qt::ControlModifier) {
        Q_EMIT deleteRequested();
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Insert && modifiers == Qt::NoModifier) {
        Q_EMIT insertRequested();
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

bool RoomsGrid::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) {
    // One row is edited at a time: another row's editor opens once that row is posted.
    if (index.isValid() && m_model->isEditing() && index.row() != m_model->editRow() &&
        trigger != AllEditTriggers)
        return false;
    if (!QTableView::edit(index, trigger, event))
        return false;
    if (index.isValid() && isEditorOpen())
        m_model->beginEdit(index.row());
    return true;
}
