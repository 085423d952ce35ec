#include "TMainForm.h"
#include "AccessibleNames.h"

#include "AppError.h"
#include "AppPaths.h"
#include "CatalogueBackup.h"
#include "CatalogueOpener.h"
#include "ColumnLayout.h"
#include "Dialogs.h"
#include "Guard.h"
#include "Icons.h"
#include "IniFile.h"
#include "ItemDetailsPanel.h"
#include "ItemDetailsText.h"
#include "ItemListModel.h"
#include "ItemListReader.h"
#include "ItemStore.h"
#include "ListClickWatcher.h"
#include "ListStyle.h"
#include "Schema.h"
#include "SlideStore.h"
#include "SortHeaderView.h"
#include "Statements.h"
#include "StatusPanels.h"
#include "TAboutForm.h"
#include "TDirectoryForm.h"
#include "TRepForm.h"
#include "DetailedReport.h"
#include "TKvartaEditForm.h"
#include "TKvartaFilterForm.h"
#include "TTableViewForm.h"
#include "WindowSettings.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFileInfo>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSplitter>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace {

constexpr int ToolPanelHeight = 57;
constexpr int StatusBarHeight = 21;
constexpr int ToolButtonSize = 41;
constexpr int FilterWidth = 129;

QString settingsPath() {
    return AppPaths::filePath(QString::fromUtf16(AppPaths::SettingsFile));
}

QString layoutPath() {
    return AppPaths::filePath(QString::fromUtf16(AppPaths::LayoutFile));
}

// Holds back the list's painting while it is rebuilt; painting resumes however the rebuild ends.
class RepaintSuspended {
public:
    explicit RepaintSuspended(QWidget* w) : m_widget(w), m_was(w->updatesEnabled()) {
        w->setUpdatesEnabled(false);
    }
    ~RepaintSuspended() { m_widget->setUpdatesEnabled(m_was); }
    RepaintSuspended(const RepaintSuspended&) = delete;
    RepaintSuspended& operator=(const RepaintSuspended&) = delete;

private:
    QWidget* m_widget;
    bool m_was;
};

QList<int> sectionWidths(const QTableView* view) {
    QList<int> widths;
    if (!view)
        return widths;
    const QHeaderView* header = view->horizontalHeader();
    for (int i = 0; i < header->count(); ++i)
        widths.append(header->sectionSize(i));
    return widths;
}

void setSectionWidths(QTableView* view, const QList<int>& widths) {
    if (!view)
        return;
    QHeaderView* header = view->horizontalHeader();
    for (int i = 0; i < header->count() && i < widths.size(); ++i)
        header->resizeSection(i, widths[i]);
}

QFrame* separator(QWidget* parent, int left) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::VLine);
    line->setFrameShadow(QFrame::Sunken);
    line->setGeometry(left, 6, 2, ToolPanelHeight - 12);
    return line;
}

// A quick-filter drop-down (selection only) under its bold underlined caption.
QComboBox* filterCombo(QWidget* parent, const QString& name, const QString& caption, int left) {
    auto* label = new QLabel(caption, parent);
    QFont f = label->font();
    f.setBold(true);
    f.setUnderline(true);
    label->setFont(f);
    label->setGeometry(left, 6, FilterWidth, 16);
    auto* combo = new QComboBox(parent);
    combo->setObjectName(name);
    combo->setEditable(false);
    combo->setGeometry(left, 24, FilterWidth, 22);
    return combo;
}

} // namespace

TMainForm::TMainForm(QWidget* parent) : QWidget(parent) {
    setObjectName(u"MainForm"_s);
    setWindowTitle(QString::fromUtf16(AppPaths::ApplicationTitle));
    buildWindow();
    AccessibleNames::nameControls(this);
    resize(700, 500);
    Database::setServerStateNotifier([this](bool reachable) {
        StatusBar1->setNote(reachable ? m_statusNote : u"Нет связи с сервером"_s);
    });
}

TMainForm::~TMainForm() {
    Database::setServerStateNotifier({});
}

void TMainForm::buildWindow() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(buildToolPanel());

    m_splitter = new QSplitter(Qt::Horizontal, this);
    m_splitter->setObjectName(u"Splitter1"_s);
    m_splitter->setOpaqueResize(false);
    m_splitter->setChildrenCollapsible(false);

    ItemsLV = new QTableView(m_splitter);
    ItemsLV->setObjectName(u"ItemsLV"_s);
    ItemsLV->setAccessibleName(u"Список элементов"_s);
    m_header = new SortHeaderView(ItemsLV);
    ItemsLV->setHorizontalHeader(m_header);
    m_model = new ItemListModel(this);
    ItemsLV->setModel(m_model);
    ListStyle::apply(ItemsLV);
    ItemsLV->setIconSize(QSize(16, 16));
    ItemsLV->horizontalHeader()->setSectionsMovable(false);
    // With no column to show the list is empty by design; a short hint says why.
    m_emptyHint = new QLabel(u"Нет видимых столбцов.\nСтолбцы списка выбираются в «Вид таблицы»."_s,
                             ItemsLV->viewport());
    m_emptyHint->setObjectName(u"EmptyListHint"_s);
    m_emptyHint->setAlignment(Qt::AlignCenter);
    m_emptyHint->setWordWrap(true);
    QPalette hintPalette = m_emptyHint->palette();
    hintPalette.setColor(QPalette::WindowText, hintPalette.color(QPalette::PlaceholderText));
    m_emptyHint->setPalette(hintPalette);
    m_emptyHint->hide();
    ItemsLV->viewport()->installEventFilter(this);

    Panel2 = new ItemDetailsPanel(this);
    Panel2->resize(LaidOutPanel2Width, Panel2->height());
    m_splitter->addWidget(ItemsLV);
    m_splitter->addWidget(Panel2);
    m_splitter->setStretchFactor(0, 1);
    m_splitter->setStretchFactor(1, 0);
    layout->addWidget(m_splitter, 1);

    StatusBar1 = new StatusPanels({200, 150, 50}, this);
    StatusBar1->setObjectName(u"StatusBar1"_s);
    StatusBar1->setFixedHeight(StatusBarHeight);
    layout->addWidget(StatusBar1);

    connect(m_header, &QHeaderView::sectionClicked, this,
            [this](int column) { guard(this, [this, column] { ItemsLVColumnClick(column); }); });
    connect(ItemsLV, &QTableView::doubleClicked, this, guarded(this, [this] { SpeedButton4Click(); }));
    connect(new ListClickWatcher(ItemsLV), &ListClickWatcher::clicked, this,
            guarded(this, [this] { ItemsLVClick(); }));
    connect(m_splitter, &QSplitter::splitterMoved, this, [this] { m_panel2Width = Panel2->width(); });
}

QToolButton* TMainForm::addToolButton(QWidget* panel, const char* name, const char16_t* icon,
                                      const QString& tip, int left) {
    auto* button = new QToolButton(panel);
    button->setObjectName(QString::fromLatin1(name));
    button->setAutoRaise(true);
    button->setToolTip(tip);
    button->setIcon(Icons::get(icon));
    button->setIconSize(QSize(32, 32));
    button->setGeometry(left, (ToolPanelHeight - ToolButtonSize) / 2, ToolButtonSize, ToolButtonSize);
    return button;
}

QWidget* TMainForm::buildToolPanel() {
    auto* panel = new QFrame(this);
    panel->setObjectName(u"Panel1"_s);
    panel->setFixedHeight(ToolPanelHeight);
    panel->setFrameShape(QFrame::StyledPanel);
    panel->setFrameShadow(QFrame::Raised);

    int x = 4;
    const int step = ToolButtonSize + 1;
    QToolButton* newBtn = addToolButton(panel, "SpeedButton5", u"new_item", u"Новый элемент"_s, x);
    QToolButton* editBtn =
        addToolButton(panel, "SpeedButton4", u"edit_item", u"Править элемент"_s, x += step);
    QToolButton* deleteBtn =
        addToolButton(panel, "SpeedButton6", u"delete_item", u"Удалить элемент"_s, x += step);
    QToolButton* refreshBtn = addToolButton(panel, "SpeedButton7", u"refresh", u"Обновить"_s, x += step);
    x += step + 3;
    separator(panel, x);
    x += 7;

    GroupCB = filterCombo(panel, u"GroupCB"_s, u"Группа:"_s, x);
    x += FilterWidth + 6;
    LocationCB = filterCombo(panel, u"LocationCB"_s, u"Район:"_s, x);
    x += FilterWidth + 6;

    QToolButton* filterBtn = addToolButton(panel, "SpeedButton1", u"filter", u"Расширеный фильтр"_s, x);
    QToolButton* layoutBtn = addToolButton(panel, "SpeedButton2", u"table_view", u"Вид таблицы"_s, x += step);
    QToolButton* dirBtn = addToolButton(panel, "SpeedButton3", u"directories", u"Справочники"_s, x += step);
    x += step + 3;
    separator(panel, x);
    x += 7;
    QToolButton* reportBtn = addToolButton(panel, "SpeedButton8", u"report", u"Отчет"_s, x);
    QToolButton* itemReportBtn =
        addToolButton(panel, "SpeedButton9", u"item_report", u"Отчет по элементу"_s, x + step);

    connect(newBtn, &QToolButton::clicked, this, guarded(this, [this] { SpeedButton5Click(); }));
    connect(editBtn, &QToolButton::clicked, this, guarded(this, [this] { SpeedButton4Click(); }));
    connect(deleteBtn, &QToolButton::clicked, this, guarded(this, [this] { SpeedButton6Click(); }));
    connect(refreshBtn, &QToolButton::clicked, this, guarded(this, [this] { SpeedButton7Click(); }));
    connect(filterBtn, &QToolButton::clicked, this, guarded(this, [this] { SpeedButton1Click(); }));
    connect(layoutBtn, &QToolButton::clicked, this, guarded(this, [this] { SpeedButton2Click(); }));
    connect(dirBtn, &QToolButton::clicked, this, guarded(this, [this] { SpeedButton3Click(); }));
    connect(reportBtn, &QToolButton::clicked, this, guarded(this, [this] { SpeedButton8Click(); }));
    connect(itemReportBtn, &QToolButton::clicked, this, guarded(this, [this] { SpeedButton9Click(); }));
    connect(GroupCB, &QComboBox::currentIndexChanged, this,
            guarded(this, [this] { GroupCBChange(GroupCB); }));
    connect(LocationCB, &QComboBox::currentIndexChanged, this,
            guarded(this, [this] { GroupCBChange(LocationCB); }));
    return panel;
}

QPushButton* TMainForm::AddStatusBarButton(StatusPanels* bar, int panel) {
    auto* button = new QPushButton(bar);
    button->setFlat(true);
    int left = 0;
    for (int i = 0; i < panel; ++i)
        left += bar->panelWidth(i) + 1;
    button->setGeometry(left, 2, bar->panelWidth(panel) - 5, bar->height() - 2);
    button->setVisible(true);
    return button;
}

bool TMainForm::FormCreate() {
    // The bar has its designed height before the button is placed on it.
    StatusBar1->resize(StatusBar1->width(), StatusBarHeight);
    m_aboutButton = AddStatusBarButton(StatusBar1, 1);
    m_aboutButton->setObjectName(u"AboutButton"_s);
    m_aboutButton->setText(u"О программе"_s);
    m_aboutButton->setIcon(Icons::get(u"about"));
    m_aboutButton->setIconSize(QSize(16, 16));

    m_query.reset();
    Database::close();
    if (!CatalogueOpener::open(this, settingsPath(), AppPaths::filePath(QString::fromUtf16(AppPaths::DatabaseFile))))
        return false;
    m_query.emplace();
    // A file or folder that cannot be written is browsed as usual; the status bar says that
    // changes cannot be saved.
    const Database::WriteAccess access = Database::writeAccess();
    if (access != Database::WriteAccess::Writable)
        setStatusNote(Database::writeAccessText(access));
    return true;
}

void TMainForm::setStatusNote(const QString& text) {
    m_statusNote = text;
    StatusBar1->setNote(text);
}

void TMainForm::startDailyBackup() {
    const int keep = IniFile(settingsPath()).readInteger(u"Backup"_s, u"Keep"_s, DefaultBackupsKept);
    // A server is backed up with the server's own tools.
    if (keep <= 0 || !Database::isOpen() || Database::isServer())
        return;
    if (!m_backup) {
        m_backup = new CatalogueBackup(this);
        connect(m_backup, &CatalogueBackup::backupFinished, this, [this](const BackupReport& report) {
            if (m_statusNote.isEmpty())
                StatusBar1->setNote(u"Резервная копия сохранена: "_s + QFileInfo(report.path).fileName(),
                                    StatusPanels::NoteKind::Information);
        });
        // Below a note that is there (the catalogue is read-only), which matters more.
        connect(m_backup, &CatalogueBackup::backupFailed, this, [this](const QString& message) {
            setStatusNote(m_statusNote.isEmpty() ? message : m_statusNote + u'\n' + message);
        });
    }
    m_backup->startIfDue(AppPaths::filePath(QString::fromUtf16(AppPaths::DatabaseFile)),
                         CatalogueBackup::defaultFolder(), keep);
}

void TMainForm::setAboutForm(TAboutForm* about) {
    m_about = about;
    connect(m_aboutButton, &QPushButton::clicked, this, guarded(this, [this] { m_about->Open(); }));
}

void TMainForm::setWindows(TTableViewForm* tableView, TDirectoryForm* directory, TKvartaFilterForm* filter,
                           TKvartaEditForm* card) {
    m_tableView = tableView;
    m_directory = directory;
    m_filter = filter;
    m_card = card;
}

StoreQuery& TMainForm::query() {
    if (!m_query)
        m_query.emplace();
    return *m_query;
}

FilterCriteria* TMainForm::criteria() const {
    return m_filter ? &m_filter->criteria() : nullptr;
}

// --- settings ---

int TMainForm::panel2Width() const {
    return Panel2->isVisible() ? Panel2->width() : m_panel2Width;
}

void TMainForm::setPanel2Width(int width) {
    m_panel2Width = width;
    const int total = m_splitter->width() - m_splitter->handleWidth();
    m_splitter->setSizes({qMax(0, total - width), width});
}

void TMainForm::LoadSettings() {
    MainSettings current;
    current.panel2Width = LaidOutPanel2Width;
    if (m_directory) {
        current.dirListWidth = m_directory->dirListWidth();
        current.dirColumnWidths = sectionWidths(m_directory->dirList());
        current.entryColumnWidths = sectionWidths(m_directory->entriesList());
    }
    const MainSettings s = MainSettings::read(IniFile(settingsPath()), current);
    s.main.applyTo(this);
    setPanel2Width(s.panel2Width);
    if (m_directory) {
        s.directory.applyTo(m_directory);
        m_directory->setDirListWidth(s.dirListWidth);
        setSectionWidths(m_directory->dirList(), s.dirColumnWidths);
        setSectionWidths(m_directory->entriesList(), s.entryColumnWidths);
    }
}

void TMainForm::SaveSettings() {
    MainSettings s;
    s.main = WindowPlacement::of(this);
    s.panel2Width = panel2Width();
    if (m_directory) {
        s.directory = WindowPlacement::of(m_directory);
        s.dirColumnWidths = sectionWidths(m_directory->dirList());
        s.entryColumnWidths = sectionWidths(m_directory->entriesList());
    }
    IniFile ini(settingsPath());
    s.write(ini);
    ini.save();
}

// --- column layout ---

void TMainForm::ApplyColumnLayout() {
    const QList<ColumnLayout::Column> columns = ColumnLayout::visibleColumns(IniFile(layoutPath()));
    QList<int> attributes;
    for (const ColumnLayout::Column& c : columns)
        attributes.append(c.attribute);
    m_header->clearSortMarks();
    m_model->setColumns(attributes);
    for (int i = 0; i < columns.size(); ++i)
        m_header->resizeSection(i, columns[i].width);
    m_emptyHint->setGeometry(ItemsLV->viewport()->rect());
    m_emptyHint->setVisible(attributes.isEmpty());
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ItemsLV->viewport() && event->type() == QEvent::Resize)
        m_emptyHint->setGeometry(ItemsLV->viewport()->rect());
    return QWidget::eventFilter(watched, event);
}

void TMainForm::SaveColumnWidths() {
    const int count = m_model->columnCount();
    if (count == 0)
        return;
    QList<ColumnLayout::Column> columns;
    for (int i = 0; i < count; ++i)
        columns.append({m_model->attributeOf(i), m_header->sectionSize(i)});
    IniFile ini(layoutPath());
    ColumnLayout::writeWidths(ini, columns);
    ini.save();
}

// --- item list ---

std::optional<int> TMainForm::selectedItemId() const {
    const int row = selectedRow();
    if (row < 0)
        return std::nullopt;
    return m_model->idAt(row);
}

int TMainForm::selectedRow() const {
    const QModelIndexList rows = ItemsLV->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void TMainForm::markRow(int row) {
    QItemSelectionModel* selection = ItemsLV->selectionModel();
    if (row < 0) {
        selection->clear();
        return;
    }
    // Marks the row only: the view neither scrolls to it nor takes the focus.
    const bool autoScroll = ItemsLV->hasAutoScroll();
    ItemsLV->setAutoScroll(false);
    selection->setCurrentIndex(m_model->index(row, 0),
                               QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    ItemsLV->setAutoScroll(autoScroll);
}

void TMainForm::LoadItemList() {
    const RepaintSuspended suspended(ItemsLV);
    const std::optional<int> remembered = selectedItemId();
    const int columns = m_model->columnCount();
    const FilterCriteria* filter = criteria();
    const QString where = filter ? filter->BuildWhereClause() : QString();
    const auto bind = [filter](StoreQuery& statement) {
        if (filter)
            filter->BindCriteria(statement);
    };
    {
        ItemListModel::Rebuild rebuild(*m_model);
        if (columns > 0) {
            if (SortColumn < 0 || SortColumn >= columns) {
                // The sort column is gone with the layout: sort by the first column and say so.
                SortColumn = 0;
                for (int i = 0; i < columns; ++i)
                    SetSortMark(ItemsLV, i, i == 0, !SortAscending);
            }
            ItemListReader::Request request;
            request.whereClause = where;
            request.bindCriteria = bind;
            request.sortColumn = attributeColumn(m_model->attributeOf(SortColumn));
            request.ascending = SortAscending;
            for (int c = 0; c < columns; ++c)
                request.columns.append(attributeColumn(m_model->attributeOf(c)));
            ItemListReader::read(query(), request, rebuild.rows());
        }
    }
    // With no visible column the list is empty by design; the count still tells what the filters
    // select.
    m_hiddenRowCount = columns > 0 ? -1 : ItemListReader::count(query(), where, bind);
    if (remembered)
        markRow(m_model->rowOfId(*remembered));
    else if (m_model->rowCount() > 0)
        markRow(0);
    ShowRecordCount();
}

void TMainForm::ShowRecordCount() {
    const int rows = m_hiddenRowCount >= 0 ? m_hiddenRowCount : m_model->rowCount();
    StatusBar1->setPanelText(0, u"Отобрано записей: "_s + QString::number(rows));
}

void TMainForm::SetSortMark(QTableView* list, int column, bool sorted, bool descending) {
    if (auto* header = qobject_cast<SortHeaderView*>(list->horizontalHeader()))
        header->setSortMark(column, sorted, descending);
}

void TMainForm::ItemsLVColumnClick(int column) {
    if (column == SortColumn)
        SortAscending = !SortAscending;
    else
        SortAscending = true;
    for (int i = 0; i < m_model->columnCount(); ++i)
        SetSortMark(ItemsLV, i, i == column, !SortAscending);
    SortColumn = column;
    LoadItemList();
}

void TMainForm::fillFilter(QComboBox* combo, const QString& table) {
    const QSignalBlocker block(combo);
    combo->clear();
    combo->addItem(FilterCriteria::noFilterMarker());
    // Entries read before a failure stay in the drop-down.
    StoreQuery& q = query();
    q.setText(Statements::lookupSelect(table));
    q.open();
    while (q.next())
        combo->addItem(q.value(0).toString());
    combo->setCurrentIndex(0);
}

void TMainForm::FillGroupFilter() {
    fillFilter(GroupCB, u"grupy"_s);
}

void TMainForm::FillDistrictFilter() {
    fillFilter(LocationCB, u"rajony"_s);
}

void TMainForm::GroupCBChange(QComboBox* combo) {
    if (FilterCriteria* filter = criteria()) {
        if (combo == GroupCB)
            filter->SetCriterion(u"grupa"_s, GroupCB->currentText());
        else
            filter->SetCriterion(u"rajon"_s, LocationCB->currentText());
    }
    LoadItemList();
}

// --- details panel ---

void TMainForm::ItemsLVClick() {
    const std::optional<int> id = selectedItemId();
    if (!id) {
        // The photographs of the item shown before stay.
        Panel2->setText(QString());
        return;
    }
    StoreQuery& q = query();
    if (!ItemStore::openItem(q, *id)) {
        // Deleted elsewhere: the panel stays as it is.
        q.finish();
        return;
    }
    const QString text = ItemDetailsText::build([&q](const QString& column) { return q.text(column); });
    q.finish();
    Panel2->setText(text);
    ShowItemSlides(*id);
}

void TMainForm::ShowItemSlides(int itemId) {
    Panel2->clearSlides();
    // The rows are read here; the pictures are decoded off this thread and shown as they come.
    Panel2->showSlides(SlideStore::loadSlides(query(), itemId));
}

// --- commands ---

void TMainForm::SpeedButton5Click() {
    if (!m_card || !m_card->OpenForNew())
        return;
    LoadItemList();
    int best = -1;
    int bestId = 0;
    for (int row = 0; row < m_model->rowCount(); ++row) {
        if (m_model->idAt(row) > bestId) {
            bestId = m_model->idAt(row);
            best = row;
        }
    }
    if (best >= 0)
        markRow(best);
}

void TMainForm::SpeedButton4Click() {
    const std::optional<int> id = selectedItemId();
    if (!id || !m_card)
        return;
    if (!m_card->OpenForEdit(*id))
        return;
    LoadItemList();
    const int row = m_model->rowOfId(*id);
    if (row >= 0)
        markRow(row);
}

void TMainForm::SpeedButton6Click() {
    const int row = selectedRow();
    if (row < 0)
        return;
    if (Dialogs::askConfirmation(this, u"Вы действительно хотите удалить выделенный элемент?"_s) ==
        Dialogs::Answer::No)
        return;
    Database::reloadIfUncertain([&] { ItemStore::deleteItem(query(), m_model->idAt(row)); },
                                [this] { LoadItemList(); });
    m_model->removeItemRow(row);
    // No other row takes the deleted one's place: a second press must find nothing selected.
    ItemsLV->selectionModel()->clear();
}

void TMainForm::SpeedButton7Click() {
    LoadItemList();
}

void TMainForm::SpeedButton1Click() {
    if (m_filter && m_filter->EditCriteria())
        LoadItemList();
}

void TMainForm::SpeedButton2Click() {
    SaveColumnWidths();
    if (!m_tableView || !m_tableView->EditLayout())
        return;
    ApplyColumnLayout();
    LoadItemList();
}

void TMainForm::SpeedButton8Click() {
    if (m_report)
        m_report->Open(*ItemsLV);
}

void TMainForm::SpeedButton9Click() {
    DetailedReport::run(query(), selectedItemId());
}

void TMainForm::SpeedButton3Click() {
    if (m_directory)
        m_directory->OpenOnTable(QString());
}

// --- window events ---

void TMainForm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!m_formShown) {
        m_formShown = true;
        FormShow();
    }
}

void TMainForm::FormShow() {
    if (layout())
        layout()->activate();
    setPanel2Width(m_panel2Width);
    // Each step reports its own failure; the later ones still run.
    guard(this, [this] {
        ApplyColumnLayout();
        SortColumn = 0;
        SortAscending = true;
        for (int i = 0; i < m_model->columnCount(); ++i)
            SetSortMark(ItemsLV, i, i == 0, false);
    });
    guard(this, [this] { FillGroupFilter(); });
    guard(this, [this] { FillDistrictFilter(); });
    guard(this, [this] { LoadItemList(); });
    // The day's first start takes a copy of the catalogue in the background, once the window shows.
    QTimer::singleShot(0, this, guarded(this, [this] { startDailyBackup(); }));
}

void TMainForm::closeEvent(QCloseEvent* event) {
    FormClose();
    event->accept();
}

void TMainForm::FormClose() {
    // A settings file that cannot be written does not keep the layout file from being written.
    guard(this, [this] { SaveSettings(); });
    guard(this, [this] { SaveColumnWidths(); });
}
