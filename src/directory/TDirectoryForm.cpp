#include "TDirectoryForm.h"
#include "AccessibleNames.h"

#include "ComboText.h"
#include "Database.h"
#include "Dialogs.h"
#include "Guard.h"
#include "Icons.h"
#include "ItemStore.h"
#include "KeyPreview.h"
#include "ListStyle.h"
#include "RowListModel.h"
#include "Schema.h"

#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QSplitter>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace {

constexpr int ColumnWidth = 160;
constexpr int StripHeight = 25;
constexpr int BottomStripHeight = 50;

QTableView* makeList(QWidget* parent, const QString& name, RowListModel* model) {
    auto* view = new QTableView(parent);
    view->setObjectName(name);
    view->setModel(model);
    ListStyle::apply(view);
    view->setIconSize(QSize(16, 16));
    view->horizontalHeader()->resizeSection(0, ColumnWidth);
    return view;
}

QToolButton* makeStripButton(QWidget* parent, const QString& name, const char16_t* icon,
                             const QString& hint) {
    auto* button = new QToolButton(parent);
    button->setObjectName(name);
    button->setAutoRaise(true);
    button->setFixedSize(23, 22);
    button->setIcon(Icons::get(icon));
    button->setIconSize(QSize(16, 16));
    button->setToolTip(hint);
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

QPushButton* makeBottomButton(QWidget* parent, const QString& name, const QString& caption,
                              const char16_t* icon, const QString& hint) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setFixedSize(105, 33);
    button->setIcon(Icons::get(icon));
    button->setIconSize(QSize(24, 24));
    button->setToolTip(hint);
    button->setAutoDefault(false);
    return button;
}

} // namespace

TDirectoryForm::TDirectoryForm(QWidget* parent) : QDialog(parent) {
    setObjectName(u"DirectoryForm"_s);
    setWindowTitle(u"Справочники"_s);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                   Qt::WindowCloseButtonHint);
    setSizeGripEnabled(true);
    buildLayout();
    m_dirList->setAccessibleName(u"Название справочника"_s);
    m_entriesList->setAccessibleName(u"Значение записи"_s);
    AccessibleNames::nameControls(this);
    new KeyPreview(this, [this](QKeyEvent* e) { return FormKeyDown(e); });
    resize(700, 500);
    move(50, 50);
}

TDirectoryForm::~TDirectoryForm() = default;

void TDirectoryForm::buildLayout() {
    m_dirModel = new RowListModel(u"Название справочника"_s, Icons::get(u"dir_clip"), this);
    m_entriesModel = new RowListModel(u"Значение записи"_s, Icons::get(u"dir_pin"), this);

    m_splitter = new QSplitter(Qt::Horizontal, this);
    m_splitter->setObjectName(u"Splitter1"_s);
    m_splitter->setOpaqueResize(false); // a line follows the mouse; the lists resize on release
    m_splitter->setChildrenCollapsible(false);

    m_dirList = makeList(m_splitter, u"DirLV"_s, m_dirModel);
    m_dirList->installEventFilter(this);

    auto* right = new QWidget(m_splitter);
    right->setObjectName(u"Panel1"_s);
    auto* rightLayout = new QVBoxLayout(right);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    rightLayout->setSpacing(0);

    auto* strip = new QWidget(right);
    strip->setObjectName(u"Panel3"_s);
    strip->setFixedHeight(StripHeight);
    auto* stripLayout = new QGridLayout(strip);
    stripLayout->setContentsMargins(0, 0, 0, 0);
    stripLayout->setSpacing(0);

    m_chapterLabel = new QLabel(strip);
    m_chapterLabel->setObjectName(u"ChapterLabel"_s);
    m_chapterLabel->setAlignment(Qt::AlignCenter);
    QFont chapterFont(u"Tahoma"_s);
    chapterFont.setFamilies({u"Tahoma"_s, u"Liberation Sans"_s, u"DejaVu Sans"_s});
    chapterFont.setStyleHint(QFont::SansSerif);
    chapterFont.setPixelSize(21);
    chapterFont.setBold(true);
    m_chapterLabel->setFont(chapterFont);
    QPalette chapterPalette = m_chapterLabel->palette();
    chapterPalette.setColor(QPalette::WindowText, QColor(0xC0, 0xC0, 0xC0));
    m_chapterLabel->setPalette(chapterPalette);
    stripLayout->addWidget(m_chapterLabel, 0, 0);

    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(0, 0, 0, 0);
    buttons->setSpacing(0);
    m_addBtn = makeStripButton(strip, u"AddBtn"_s, u"add_badge", u"Новая запись"_s);
    m_editBtn = makeStripButton(strip, u"EditBtn"_s, u"edit_badge", u"Править запись"_s);
    m_delBtn = makeStripButton(strip, u"DelBtn"_s, u"del_badge", u"Удалить запись"_s);
    buttons->addWidget(m_addBtn);
    buttons->addWidget(m_editBtn);
    buttons->addWidget(m_delBtn);
    buttons->addStretch(1);
    stripLayout->addLayout(buttons, 0, 0, Qt::AlignVCenter);
    rightLayout->addWidget(strip);

    m_entriesList = makeList(right, u"DirItemsLV"_s, m_entriesModel);
    rightLayout->addWidget(m_entriesList, 1);

    m_splitter->setStretchFactor(0, 0);
    m_splitter->setStretchFactor(1, 1);
    m_splitter->setSizes({m_dirListWidth, 700 - m_dirListWidth});
    connect(m_splitter, &QSplitter::splitterMoved, this,
            [this] { m_dirListWidth = m_splitter->sizes().value(0); });

    auto* bottom = new QWidget(this);
    bottom->setObjectName(u"Panel2"_s);
    bottom->setFixedHeight(BottomStripHeight);
    auto* bottomLayout = new QHBoxLayout(bottom);
    bottomLayout->setContentsMargins(8, 0, 8, 0);
    bottomLayout->setSpacing(8);
    m_okBtn = makeBottomButton(bottom, u"OkBtn"_s, u"OK"_s, u"ok", u"Ctrl + Enter"_s);
    m_cancelBtn = makeBottomButton(bottom, u"CancelBtn"_s, u"Отмена"_s, u"cancel", u"Esc"_s);
    bottomLayout->addStretch(1);
    bottomLayout->addWidget(m_okBtn);
    bottomLayout->addWidget(m_cancelBtn);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_splitter, 1);
    layout->addWidget(bottom);

    connect(m_dirList, &QTableView::clicked, this, guarded(this, [this] { DirLVClick(); }));
    connect(m_entriesList, &QTableView::doubleClicked, this, guarded(this, [this] { EditBtnClick(); }));
    connect(m_addBtn, &QToolButton::clicked, this, guarded(this, [this] { AddBtnClick(); }));
    connect(m_editBtn, &QToolButton::clicked, this, guarded(this, [this] { EditBtnClick(); }));
    connect(m_delBtn, &QToolButton::clicked, this, guarded(this, [this] { DelBtnClick(); }));
    connect(m_okBtn, &QPushButton::clicked, this, guarded(this, [this] { OkBtnClick(); }));
    connect(m_cancelBtn, &QPushButton::clicked, this, guarded(this, [this] { CancelBtnClick(); }));
}

StoreQuery& TDirectoryForm::query() {
    if (!m_query)
        m_query.emplace();
    return *m_query;
}

bool TDirectoryForm::OpenOnTable(const QString& tableName) {
    FillDirectoryList(tableName);
    m_dirList->setFocus();
    return exec() == QDialog::Accepted;
}

void TDirectoryForm::FillDirectoryList(const QString& tableName) {
    m_dirList->setUpdatesEnabled(false);
    QList<RowListModel::Row> rows;
    for (int i = 0; i < DirectoryCount; ++i)
        rows.append({QString::fromUtf16(DirectoryTables[size_t(i)].caption), i + 1});
    m_dirModel->setRows(std::move(rows));
    m_dirList->setUpdatesEnabled(true);

    int requested = -1;
    if (tableName.isEmpty()) {
        requested = 0;
    } else {
        const QLocale locale;
        const QString wanted = locale.toLower(tableName);
        for (int i = 0; i < DirectoryCount; ++i) {
            if (locale.toLower(QString::fromLatin1(DirectoryTables[size_t(i)].table)) == wanted) {
                requested = i;
                break;
            }
        }
    }
    if (requested >= 0)
        m_dirList->selectionModel()->setCurrentIndex(
            m_dirModel->index(requested, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    DirLVClick();
}

int TDirectoryForm::selectedDirectoryRow() const {
    const QModelIndexList rows = m_dirList->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

int TDirectoryForm::selectedEntryRow() const {
    const QModelIndexList rows = m_entriesList->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

QString TDirectoryForm::selectedTable() const {
    const int row = selectedDirectoryRow();
    if (row < 0)
        return QString();
    const int number = m_dirModel->rowAt(row).number;
    return QString::fromLatin1(DirectoryTables[size_t(number - 1)].table);
}

void TDirectoryForm::DirLVClick() {
    const int row = selectedDirectoryRow();
    if (row < 0)
        return;
    m_entriesModel->setRows({});
    m_chapterLabel->setText(m_dirModel->rowAt(row).text);
    const QStringList entries = LookupStore::loadEntries(query(), selectedTable());
    QList<RowListModel::Row> rows;
    rows.reserve(entries.size());
    for (const QString& e : entries)
        rows.append({e, 0});
    m_entriesModel->setRows(std::move(rows));
    m_entriesList->selectionModel()->clear();
}

void TDirectoryForm::AddBtnClick() {
    const QString table = selectedTable();
    if (table.isEmpty())
        return;
    QString text = u"Новая запись"_s;
    if (!Dialogs::promptText(this, u"Новая запись"_s, u"Значение"_s, text))
        return;
    Database::reloadIfUncertain([&] { LookupStore::addEntry(query(), table, text); },
                                [this] { DirLVClick(); });
    DirLVClick();
}

void TDirectoryForm::EditBtnClick() {
    const QString table = selectedTable();
    const int row = selectedEntryRow();
    if (table.isEmpty() || row < 0)
        return;
    const QString oldText = m_entriesModel->rowAt(row).text;
    QString text = oldText;
    if (!Dialogs::promptText(this, u"Правка записи"_s, u"Значение"_s, text))
        return;
    const int changed = Database::reloadIfUncertain(
        [&] { return LookupStore::renameEntry(query(), table, oldText, text); }, [this] { DirLVClick(); });
    DirLVClick();
    if (changed == 0)
        reportEntryGone(oldText);
}

void TDirectoryForm::DelBtnClick() {
    const QString table = selectedTable();
    const int row = selectedEntryRow();
    if (table.isEmpty() || row < 0)
        return;
    const QString text = m_entriesModel->rowAt(row).text;
    const QString question = u"Вы действительно хотите удалить запись \""_s + text + u"\"?"_s;
    if (Dialogs::askConfirmation(this, question) != Dialogs::Answer::Yes)
        return;
    if (Database::reloadIfUncertain([&] { return LookupStore::deleteEntry(query(), table, text); },
                                    [this] { DirLVClick(); }) == 0) {
        DirLVClick();
        reportEntryGone(text);
        return;
    }
    m_entriesModel->removeRowAt(row);
    // No other entry takes the deleted one's place: a second press must find nothing selected.
    m_entriesList->selectionModel()->clear();
}

void TDirectoryForm::reportEntryGone(const QString& text) {
    Dialogs::showInformation(this, u"Запись \""_s + text +
                                       u"\" не найдена: её изменили или удалили в другой копии программы. "
                                       u"Список записей обновлён."_s);
}

void TDirectoryForm::OkBtnClick() {
    accept();
}

void TDirectoryForm::CancelBtnClick() {
    reject();
}

bool TDirectoryForm::FormKeyDown(QKeyEvent* event) {
    return handleDialogKeys(
        this, event, [this] { OkBtnClick(); }, [this] { CancelBtnClick(); });
}

bool TDirectoryForm::eventFilter(QObject* watched, QEvent* event) {
    // Any key released in the directory list reloads the entries, so the arrow keys browse.
    if (watched == m_dirList && event->type() == QEvent::KeyRelease &&
        !static_cast<QKeyEvent*>(event)->isAutoRepeat())
        guard(this, [this] { DirLVClick(); });
    return QDialog::eventFilter(watched, event);
}

void TDirectoryForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    m_dirList->setFocus();
}

int TDirectoryForm::dirListWidth() const {
    return m_dirListWidth;
}

void TDirectoryForm::setDirListWidth(int width) {
    m_dirListWidth = width;
    const int total = qMax(m_splitter->width(), width + 1);
    m_splitter->setSizes({width, total - width});
}

QTableView* TDirectoryForm::dirList() const {
    return m_dirList;
}

QTableView* TDirectoryForm::entriesList() const {
    return m_entriesList;
}

void TDirectoryForm::EditLookup(QComboBox* combo, const QString& tableName,
                                const std::function<void()>& reload) {
    const QString remembered = combo->currentText();
    OpenOnTable(tableName);
    reload();
    ComboText::selectExact(combo, remembered);
}
