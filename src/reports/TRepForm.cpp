#include "TRepForm.h"

#include "ui_TRepForm.h"

#include "GeneralReport.h"
#include "Guard.h"
#include "Icons.h"
#include "KeyPreview.h"
#include "ListStyle.h"
#include "ReportListModel.h"

#include <QHeaderView>
#include <QKeyEvent>

using namespace Qt::StringLiterals;

TRepForm::TRepForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint),
      ui(std::make_unique<Ui::TRepForm>()), m_model(new ReportListModel(this)) {
    ui->setupUi(this);
    setModal(true);
    resize(711, 533); // the client area of a sizeable 719 x 560 window

    QTableView* list = ui->ListView1;
    ListStyle::apply(list);
    list->setModel(m_model);
    // The first column's text is edited in place, like a list item's label.
    list->setEditTriggers(QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed);
    list->horizontalHeader()->setSectionsClickable(false);

    ui->BitBtn1->setIcon(Icons::get(u"cancel"));
    ui->BitBtn4->setIcon(Icons::get(u"print"));
    ui->BitBtn3->setIcon(Icons::get(u"check_all"));
    ui->BitBtn2->setIcon(Icons::get(u"uncheck_all"));
    for (QPushButton* b : {ui->BitBtn1, ui->BitBtn4, ui->BitBtn3, ui->BitBtn2})
        b->setIconSize(QSize(24, 24));

    connect(ui->BitBtn1, &QPushButton::clicked, this, guarded(this, [this] { CancelBtnClick(); }));
    connect(ui->BitBtn4, &QPushButton::clicked, this, guarded(this, [this] { BitBtn4Click(); }));
    connect(ui->BitBtn3, &QPushButton::clicked, this, guarded(this, [this] { SetAllChecked(true); }));
    connect(ui->BitBtn2, &QPushButton::clicked, this, guarded(this, [this] { SetAllChecked(false); }));
    m_keys = new KeyPreview(this, [this](QKeyEvent* e) { return FormKeyDown(e); });
}

TRepForm::~TRepForm() = default;

void TRepForm::showEvent(QShowEvent* event) {
    centreOnScreen(this);
    QDialog::showEvent(event);
}

void TRepForm::Fill(const QAbstractItemModel& source, const QList<int>& widths) {
    QTableView* list = ui->ListView1;
    list->setUpdatesEnabled(false);
    m_model->copyFrom(source, widths);
    QHeaderView* header = list->horizontalHeader();
    const QList<ReportListModel::Column>& columns = m_model->columns();
    for (int c = 0; c < columns.size(); ++c)
        header->resizeSection(c, columns.at(c).width);
    list->setUpdatesEnabled(true);
    if (m_model->rowCount() > 0)
        list->setCurrentIndex(m_model->index(0, 0));
    list->scrollToTop();
}

void TRepForm::Open(const QAbstractItemModel& source, const QList<int>& widths) {
    Fill(source, widths);
    exec();
    // The main list's rows are not held past the visit.
    m_model->clear();
}

void TRepForm::Open(const QTableView& sourceList) {
    if (const QAbstractItemModel* source = sourceList.model())
        Open(*source, columnWidths(sourceList));
}

QList<int> TRepForm::columnWidths(const QTableView& view) {
    QList<int> widths;
    const QAbstractItemModel* model = view.model();
    const int count = model ? model->columnCount() : 0;
    for (int c = 0; c < count; ++c)
        widths.append(view.columnWidth(c));
    return widths;
}

void TRepForm::SetAllChecked(bool checked) {
    m_model->setAllChecked(checked);
}

void TRepForm::CancelBtnClick() {
    reject();
}

QString TRepForm::BitBtn4Click() {
    return GeneralReport::run(*m_model);
}

bool TRepForm::FormKeyDown(QKeyEvent* event) {
    if (!isCancelKey(event))
        return false;
    // Esc in the label editor ends the edit, not the visit.
    const QTableView* list = ui->ListView1;
    if (list->indexWidget(list->currentIndex()))
        return false;
    guard(this, [this] { CancelBtnClick(); });
    return true;
}
