#include "TKvartaFilterForm.h"
#include "AccessibleNames.h"

#include "AppError.h"
#include "ComboText.h"
#include "Dialogs.h"
#include "Guard.h"
#include "Icons.h"
#include "ItemStore.h"
#include "KeyPreview.h"
#include "NumberText.h"
#include "Schema.h"
#include "TDirectoryForm.h"

#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QToolButton>

using namespace Qt::StringLiterals;

namespace {

// Tops of the criterion rows; the wider gap before the sixth-from-last row sets the building's
// features apart from the apartment's own.
constexpr std::array<int, DirectoryCount> RowTops = {8,   32,  56,  80,  104, 127, 150,
                                                     173, 196, 240, 264, 288, 312, 336};
constexpr int FieldHeight = 21;

QLabel* makeLabel(QWidget* parent, const QString& text, int x, int y, bool enabled = true) {
    auto* label = new QLabel(text, parent);
    QFont font;
    font.setBold(true);
    font.setUnderline(true);
    label->setFont(font);
    label->adjustSize();
    label->move(x, y);
    label->setEnabled(enabled);
    return label;
}

QLineEdit* makeDisabledEdit(QWidget* parent, const QString& name, int x, int y) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(name);
    edit->setGeometry(x, y, 121, FieldHeight);
    edit->setEnabled(false);
    return edit;
}

QPlainTextEdit* makeDisabledMemo(QWidget* parent, const QString& name, int y) {
    auto* memo = new QPlainTextEdit(parent);
    memo->setObjectName(name);
    memo->setGeometry(8, y, 449, 97);
    memo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    memo->setEnabled(false);
    return memo;
}

QPushButton* makeButton(QWidget* parent, const QString& name, const QString& caption, int x) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setGeometry(x, 464, 105, 33);
    button->setAutoDefault(false);
    return button;
}

} // namespace

TKvartaFilterForm::TKvartaFilterForm(TDirectoryForm* directory, QWidget* parent)
    : QDialog(parent), m_directory(directory) {
    setObjectName(u"KvartaFilterForm"_s);
    setWindowTitle(u"Карточка элемента"_s);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(504, 505);
    buildLayout();
    AccessibleNames::nameControls(this);
    new KeyPreview(this, [this](QKeyEvent* e) { return FormKeyDown(e); });
    FormCreate();
}

TKvartaFilterForm::~TKvartaFilterForm() = default;

void TKvartaFilterForm::buildLayout() {
    m_pages = new QTabWidget(this);
    m_pages->setObjectName(u"PageControl1"_s);
    m_pages->setGeometry(8, 8, 473, 441);
    m_pages->addTab(buildMainPage(), u"Основное"_s);
    m_pages->addTab(buildNumbersPage(), u"Цифры"_s);
    m_pages->addTab(buildDescriptionPage(), u"Описание"_s);
    m_pages->addTab(buildFinancePage(), u"Финансы"_s);

    m_okBtn = makeButton(this, u"OkBtn"_s, u"OK"_s, 32);
    m_okBtn->setIcon(Icons::get(u"ok"));
    m_okBtn->setIconSize(QSize(24, 24));
    m_okBtn->setToolTip(u"Ctrl + Enter"_s);
    m_cancelBtn = makeButton(this, u"CancelBtn"_s, u"Отмена"_s, 176);
    m_cancelBtn->setIcon(Icons::get(u"cancel"));
    m_cancelBtn->setIconSize(QSize(24, 24));
    m_cancelBtn->setToolTip(u"Esc"_s);
    m_resetBtn = makeButton(this, u"BitBtn1"_s, u"Сбросить"_s, 320);

    connect(m_okBtn, &QPushButton::clicked, this, guarded(this, [this] { OkBtnClick(); }));
    connect(m_cancelBtn, &QPushButton::clicked, this, guarded(this, [this] { CancelBtnClick(); }));
    connect(m_resetBtn, &QPushButton::clicked, this, guarded(this, [this] { BitBtn1Click(); }));
}

QWidget* TKvartaFilterForm::buildMainPage() {
    auto* page = new QWidget;
    page->setObjectName(u"TabSheet1"_s);
    for (int i = 0; i < DirectoryCount; ++i) {
        const LookupBinding& b = LookupBindings[size_t(i)];
        const int top = RowTops[size_t(i)];
        const QString label = QString::fromUtf16(b.label);
        makeLabel(page, label, 16, top + 4);

        auto* combo = new QComboBox(page);
        combo->setObjectName(QString::fromLatin1(b.control));
        combo->setEditable(false);
        combo->setGeometry(112, top, 321, FieldHeight);
        combo->setMaxVisibleItems(16);

        auto* button = new QToolButton(page);
        button->setObjectName(QString::fromLatin1(b.button));
        button->setAutoRaise(true);
        button->setGeometry(432, top - 1, 23, 22);
        button->setIcon(Icons::get(u"lookup"));
        button->setIconSize(QSize(16, 16));
        button->setFocusPolicy(Qt::NoFocus);
        button->setAccessibleName(AccessibleNames::lookupButtonName(label));

        const QString table = QString::fromLatin1(b.table);
        m_lookups.append({combo, table, QString::fromLatin1(b.column)});
        connect(button, &QToolButton::clicked, this,
                guarded(this, [this, combo, table] { EditLookup(combo, table); }));
    }
    return page;
}

QWidget* TKvartaFilterForm::buildNumbersPage() {
    auto* page = new QWidget;
    page->setObjectName(u"TabSheet2"_s);
    makeLabel(page, u"Этаж:"_s, 8, 12, false);
    m_etazh = makeDisabledEdit(page, u"EtazhEdit"_s, 120, 8);
    makeLabel(page, u"Этажность:"_s, 8, 36, false);
    m_etazhnost = makeDisabledEdit(page, u"EtazhnostEdit"_s, 120, 32);

    auto* group = new QGroupBox(u"Площадь"_s, page);
    group->setObjectName(u"GroupBox1"_s);
    group->setGeometry(8, 56, 449, 57);
    makeLabel(group, u"Общая площадь:"_s, 8, 28, false);
    m_ploshad = makeDisabledEdit(group, u"PloshadEdit"_s, 112, 24);
    return page;
}

QWidget* TKvartaFilterForm::buildDescriptionPage() {
    auto* page = new QWidget;
    page->setObjectName(u"TabSheet3"_s);
    makeLabel(page, u"Состояние:"_s, 8, 8, false);
    m_sost = makeDisabledMemo(page, u"SostMemo"_s, 24);
    makeLabel(page, u"Особенности:"_s, 8, 128, false);
    m_osob = makeDisabledMemo(page, u"OsobEdit"_s, 144);
    makeLabel(page, u"Контактная информация:"_s, 8, 248, false);
    m_kontakt = makeDisabledMemo(page, u"KontaktInfMemo"_s, 264);
    return page;
}

QWidget* TKvartaFilterForm::buildFinancePage() {
    auto* page = new QWidget;
    page->setObjectName(u"TabSheet4"_s);
    makeLabel(page, u"Стоимость:"_s, 8, 12, false);
    m_stoimost = makeDisabledEdit(page, u"StoimostEdit"_s, 96, 8);
    makeLabel(page, u"Долг:"_s, 8, 36, false);
    m_dolg = makeDisabledEdit(page, u"DolgEdit"_s, 96, 32);
    return page;
}

void TKvartaFilterForm::FormCreate() {
    m_pages->setCurrentIndex(0);
    m_criteria.RegisterCriteria();
}

FilterCriteria& TKvartaFilterForm::criteria() {
    return m_criteria;
}

const FilterCriteria& TKvartaFilterForm::criteria() const {
    return m_criteria;
}

StoreQuery& TKvartaFilterForm::query() {
    if (!m_query)
        m_query.emplace();
    return *m_query;
}

const TKvartaFilterForm::Lookup& TKvartaFilterForm::lookupByTable(const QString& table) const {
    for (const Lookup& l : m_lookups) {
        if (l.table == table)
            return l;
    }
    throw AppError(u"Неизвестный справочник: "_s + table);
}

const TKvartaFilterForm::Lookup& TKvartaFilterForm::lookupByKey(const QString& key) const {
    for (const Lookup& l : m_lookups) {
        if (l.key == key)
            return l;
    }
    throw AppError(u"Неизвестный критерий: "_s + key);
}

bool TKvartaFilterForm::EditCriteria() {
    // A lookup the database refuses is reported here and the window stays closed.
    const bool prepared = guard(this, [this] {
        PresetFixedFields();
        for (const char* table : LookupLoadOrder) {
            const QString name = QString::fromLatin1(table);
            LoadLookup(lookupByTable(name).combo, name);
        }
        ShowCriteria();
    });
    if (!prepared)
        return false;
    if (exec() != QDialog::Accepted)
        return false;
    for (const QString& key : m_criteria.keys())
        m_criteria.SetCriterion(key, lookupByKey(key).combo->currentText());
    return true;
}

void TKvartaFilterForm::PresetFixedFields() {
    m_ploshad->setText(u"0"_s);
    m_etazh->setText(u"1"_s);
    m_etazhnost->setText(u"9"_s);
    m_stoimost->setText(u"0"_s);
    m_dolg->setText(u"0"_s);
    m_sost->clear();
    m_osob->clear();
    m_kontakt->clear();
}

void TKvartaFilterForm::LoadLookup(QComboBox* combo, const QString& table) {
    combo->clear();
    combo->addItem(FilterCriteria::noFilterMarker());
    combo->addItems(LookupStore::loadEntries(query(), table));
    combo->setCurrentIndex(0);
}

void TKvartaFilterForm::ShowCriteria() {
    const QLocale locale;
    for (const QString& key : m_criteria.keys())
        SelectByText(lookupByKey(key).combo, locale.toLower(m_criteria.GetCriterion(key)));
}

void TKvartaFilterForm::SelectByText(QComboBox* combo, const QString& lowerText) {
    ComboText::selectLowerCased(combo, lowerText);
}

void TKvartaFilterForm::EditLookup(QComboBox* combo, const QString& table) {
    const auto reload = [&] { LoadLookup(combo, table); };
    if (m_directory)
        m_directory->EditLookup(combo, table, reload);
    else
        reload();
}

void TKvartaFilterForm::BitBtn1Click() {
    for (const Lookup& l : m_lookups)
        l.combo->setCurrentIndex(0);
}

void TKvartaFilterForm::OkBtnClick() {
    const QString failure = NumberText::firstNumericFailure(
        {m_etazh->text(), m_etazhnost->text(), m_ploshad->text(), m_stoimost->text(), m_dolg->text()});
    if (!failure.isEmpty()) {
        Dialogs::showError(this, failure);
        return;
    }
    accept();
}

void TKvartaFilterForm::CancelBtnClick() {
    reject();
}

bool TKvartaFilterForm::FormKeyDown(QKeyEvent* event) {
    return handleDialogKeys(
        this, event, [this] { OkBtnClick(); }, [this] { CancelBtnClick(); });
}

void TKvartaFilterForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    centreOnScreen(this);
}
