#include "TTableViewForm.h"
#include "AccessibleNames.h"

#include "ui_TTableViewForm.h"

#include "AppPaths.h"
#include "Guard.h"
#include "Icons.h"
#include "IniFile.h"
#include "KeyPreview.h"
#include "Schema.h"

#include <QKeyEvent>
#include <QListWidgetItem>
#include <QScreen>

using namespace Qt::StringLiterals;

namespace {
constexpr int AttributeRole = Qt::UserRole + 1;

QString layoutPath() {
    return AppPaths::filePath(QString::fromUtf16(AppPaths::LayoutFile));
}
} // namespace

TTableViewForm::TTableViewForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      ui(std::make_unique<Ui::TTableViewForm>()) {
    ui->setupUi(this);
    ui->CheckListBox1->setAccessibleName(u"Столбцы списка"_s);
    AccessibleNames::nameControls(this);
    setModal(true);
    setFixedSize(337, 370);
    QFont f = font();
    f.setFamilies({u"MS Sans Serif"_s, u"Tahoma"_s, u"Liberation Sans"_s, u"DejaVu Sans"_s});
    f.setPointSize(8);
    setFont(f);

    ui->SpeedButton1->setIcon(Icons::get(u"move_down"));
    ui->SpeedButton2->setIcon(Icons::get(u"move_up"));
    ui->SpeedButton1->setIconSize(QSize(24, 24));
    ui->SpeedButton2->setIconSize(QSize(24, 24));
    ui->OkBtn->setIcon(Icons::get(u"ok"));
    ui->CancelBtn->setIcon(Icons::get(u"cancel"));

    connect(ui->CheckListBox1, &QListWidget::itemSelectionChanged, this,
            guarded(this, [this] { CheckListBox1Click(); }));
    connect(ui->SpeedButton1, &QToolButton::clicked, this, guarded(this, [this] { SpeedButton1Click(); }));
    connect(ui->SpeedButton2, &QToolButton::clicked, this, guarded(this, [this] { SpeedButton2Click(); }));
    connect(ui->OkBtn, &QPushButton::clicked, this, guarded(this, [this] { OkBtnClick(); }));
    connect(ui->CancelBtn, &QPushButton::clicked, this, guarded(this, [this] { CancelBtnClick(); }));
    m_keys = new KeyPreview(this, [this](QKeyEvent* e) { return FormKeyDown(e); });

    FillDefaultLayout();
}

TTableViewForm::~TTableViewForm() = default;

void TTableViewForm::showEvent(QShowEvent* event) {
    centreOnScreen(this);
    QDialog::showEvent(event);
}

bool TTableViewForm::EditLayout() {
    if (IniFile(layoutPath()).fileExists())
        LoadLayout();
    else
        FillDefaultLayout();
    return exec() == QDialog::Accepted;
}

void TTableViewForm::fill(const QList<ColumnLayout::Entry>& entries) {
    QListWidget* list = ui->CheckListBox1;
    list->clear();
    for (const ColumnLayout::Entry& e : entries) {
        auto* item = new QListWidgetItem(attributeCaption(e.attribute), list);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        item->setData(AttributeRole, e.attribute);
        item->setCheckState(e.checked ? Qt::Checked : Qt::Unchecked);
    }
    CheckListBox1Click();
}

void TTableViewForm::FillDefaultLayout() {
    fill(ColumnLayout::defaultEntries());
}

void TTableViewForm::LoadLayout() {
    fill(ColumnLayout::readEntries(IniFile(layoutPath())));
}

QList<ColumnLayout::Entry> TTableViewForm::entries() const {
    QList<ColumnLayout::Entry> result;
    const QListWidget* list = ui->CheckListBox1;
    for (int i = 0; i < list->count(); ++i) {
        const QListWidgetItem* item = list->item(i);
        result.append({item->data(AttributeRole).toInt(), item->checkState() == Qt::Checked});
    }
    return result;
}

void TTableViewForm::SaveLayout() {
    IniFile ini(layoutPath());
    ColumnLayout::writeEntries(ini, entries());
    ini.save();
}

void TTableViewForm::CheckListBox1Click() {
    const QListWidget* list = ui->CheckListBox1;
    const QList<QListWidgetItem*> selected = list->selectedItems();
    const int row = selected.isEmpty() ? -1 : list->row(selected.first());
    ui->SpeedButton2->setEnabled(row > 0);
    ui->SpeedButton1->setEnabled(row >= 0 && row < list->count() - 1);
}

void TTableViewForm::moveSelected(int step) {
    QListWidget* list = ui->CheckListBox1;
    const QList<QListWidgetItem*> selected = list->selectedItems();
    if (selected.isEmpty())
        return;
    const int row = list->row(selected.first());
    const int target = row + step;
    if (target < 0 || target >= list->count())
        return;
    {
        const QSignalBlocker block(list);
        QListWidgetItem* item = list->takeItem(row);
        list->insertItem(target, item);
        list->setCurrentItem(item, QItemSelectionModel::ClearAndSelect);
    }
    CheckListBox1Click();
}

void TTableViewForm::SpeedButton1Click() {
    moveSelected(+1);
}

void TTableViewForm::SpeedButton2Click() {
    moveSelected(-1);
}

void TTableViewForm::OkBtnClick() {
    SaveLayout();
    accept();
}

void TTableViewForm::CancelBtnClick() {
    reject();
}

bool TTableViewForm::FormKeyDown(QKeyEvent* event) {
    return handleDialogKeys(
        this, event, [this] { OkBtnClick(); }, [this] { CancelBtnClick(); });
}
