#include "TKvartaEditForm.h"
#include "AccessibleNames.h"

#include "AppError.h"
#include "ComboText.h"
#include "Dialogs.h"
#include "Guard.h"
#include "Icons.h"
#include "ItemStore.h"
#include "JpegCodec.h"
#include "KeyPreview.h"
#include "NumberText.h"
#include "PasswordStore.h"
#include "PictureLoader.h"
#include "RoomsEditor.h"
#include "RoomsGrid.h"
#include "RoomsModel.h"
#include "Schema.h"
#include "SlideStore.h"
#include "SlideStrip.h"
#include "SlidesPage.h"
#include "Statements.h"
#include "TDirectoryForm.h"
#include "TTWAIN.h"
#include "ValueText.h"

#include <QCalendarWidget>
#include <QComboBox>
#include <QDateEdit>
#include <QFontMetrics>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QScreen>
#include <QTabWidget>
#include <QToolButton>

#include <future>

using namespace Qt::StringLiterals;

namespace {

constexpr int ClientWidth = 504;
constexpr int ClientHeight = 505;
constexpr int EditHeight = 21;
// Controls inside a group box start this much lower than laid out, below the group's caption.
constexpr int GroupCaption = 8;
const QDate NoDate(1752, 9, 14);

// Tops of the lookup selectors on the first page, in the order of LookupBindings; the gap before
// the building's features is one row wider.
constexpr int LookupTops[DirectoryCount] = {32,  56,  80,  104, 128, 151, 174,
                                            197, 220, 264, 288, 312, 336, 360};

QLabel* fieldLabel(const QString& text, QWidget* parent, int x, int y) {
    auto* label = new QLabel(text, parent);
    QFont font = label->font();
    font.setBold(true);
    font.setUnderline(true);
    label->setFont(font);
    label->adjustSize();
    label->move(x, y);
    return label;
}

// Tightens a label until it ends within `room` pixels: the positions are laid out for a narrower
// face than the one a machine may substitute, and the field beside it must not cover its end.
void fitLabel(QLabel* label, int room) {
    QFont font = label->font();
    const auto width = [&] { return QFontMetrics(font).horizontalAdvance(label->text()); };
    for (int spacing = 98; width() > room && spacing >= 86; spacing -= 2)
        font.setLetterSpacing(QFont::PercentageSpacing, spacing);
    if (font.pixelSize() > 0) {
        for (int size = font.pixelSize() - 1; width() > room && size >= 8; --size)
            font.setPixelSize(size);
    } else {
        for (qreal size = font.pointSizeF() - 0.5; width() > room && size >= 6; size -= 0.5)
            font.setPointSizeF(size);
    }
    label->setFont(font);
    label->adjustSize();
}

QLineEdit* numberEdit(const char* name, QWidget* parent, int x, int y) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1StringView(name));
    edit->setGeometry(x, y, 121, EditHeight);
    return edit;
}

QPlainTextEdit* memo(const char* name, QWidget* parent, int x, int y) {
    auto* edit = new QPlainTextEdit(parent);
    edit->setObjectName(QLatin1StringView(name));
    edit->setGeometry(x, y, 449, 97);
    edit->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    edit->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    edit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    edit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    edit->setTabChangesFocus(true);
    return edit;
}

// The user's short date format, with the year always in four digits so that editing it cannot
// move the date into another century.
QString shortDateFormat() {
    QString format = QLocale().dateFormat(QLocale::ShortFormat);
    static const QRegularExpression twoDigitYear(u"(?<!y)yy(?!y)"_s);
    format.replace(twoDigitYear, u"yyyy"_s);
    return format;
}

qint32 wholeValue(const QString& text) {
    if (const auto value = NumberText::parseWhole(text))
        return *value;
    throw AppError(u"\"%1\" не является числом"_s.arg(text));
}

double decimalValue(const QString& text) {
    if (const auto value = NumberText::parseDecimal(text, QLocale()))
        return *value;
    throw AppError(u"\"%1\" не является числом"_s.arg(text));
}

// The glyph of "Вычислить": a sum sign.
QIcon sumGlyph() {
    constexpr qreal Scale = 3;
    QPixmap pixmap(int(16 * Scale), int(16 * Scale));
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(Scale, Scale);
    p.setPen(QPen(QColor(0x2b, 0x5a, 0xa8), 1.8, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    p.drawPolyline(QPolygonF({QPointF(12.5, 4), QPointF(12.5, 2.5), QPointF(3.5, 2.5), QPointF(8.5, 8),
                              QPointF(3.5, 13.5), QPointF(12.5, 13.5), QPointF(12.5, 12)}));
    p.end();
    pixmap.setDevicePixelRatio(Scale);
    return QIcon(pixmap);
}

// The text of the area sum: fixed point, two decimals, the regional separator, no grouping.
QString sumText(double value) {
    QString text = QString::number(value, 'f', 2);
    if (text == u"-0.00"_s)
        text = u"0.00"_s;
    const QString separator = QLocale().decimalPoint();
    if (!separator.isEmpty() && separator != u"."_s)
        text.replace(u'.', separator);
    return text;
}

// A scanned picture as the slide strip shows it: reduced to fit `target`, never enlarged.
PictureResult stripPicture(const QImage& picture, QSize target) {
    const QSize fit = PictureLoader::fitSize(picture.size(), target);
    PictureResult result;
    result.image = fit.width() < picture.width() || fit.height() < picture.height()
                       ? picture.scaled(fit, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                       : picture;
    result.image.convertTo(QImage::Format_RGB32);
    result.sourceSize = picture.size();
    return result;
}

const QString OverwriteQuestion =
    u"Пока карточка была открыта, этот элемент изменили в другой копии программы.\n\n"
    u"Записать данные карточки поверх этих изменений? Если нет, в карточку будут загружены "
    u"сохранённые данные."_s;

} // namespace

TKvartaEditForm::TKvartaEditForm(TDirectoryForm* directory, QWidget* parent)
    : QDialog(parent), m_directory(directory) {
    buildWindow();
    setUpScanner();
    AccessibleNames::nameControls(this);
    new KeyPreview(this, [this](QKeyEvent* event) { return FormKeyDown(event); });
    FormCreate();
}

TKvartaEditForm::~TKvartaEditForm() = default;

// ---------------------------------------------------------------------------------------------
// Layout

void TKvartaEditForm::buildWindow() {
    setObjectName(u"KvartaEditForm"_s);
    setWindowTitle(u"Карточка элемента"_s);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFixedSize(ClientWidth, ClientHeight);
    setModal(true);

    m_pages = new QTabWidget(this);
    m_pages->setObjectName(u"PageControl1"_s);
    m_pages->setGeometry(8, 8, 473, 441);
    m_pages->addTab(buildMainPage(), u"Основное"_s);
    m_pages->addTab(buildNumbersPage(), u"Цифры"_s);
    m_pages->addTab(buildDescriptionPage(), u"Описание"_s);
    m_pages->addTab(buildFinancePage(), u"Финансы"_s);
    m_slides = new SlidesPage(m_query);
    m_slides->setObjectName(u"TabSheet5"_s);
    m_pages->addTab(m_slides, u"Слайды"_s);

    m_okBtn = new QPushButton(Icons::get(u"ok"), u"OK"_s, this);
    m_okBtn->setObjectName(u"OkBtn"_s);
    m_okBtn->setGeometry(32, 464, 105, 33);
    m_okBtn->setToolTip(u"Ctrl + Enter"_s);
    m_cancelBtn = new QPushButton(Icons::get(u"cancel"), u"Отмена"_s, this);
    m_cancelBtn->setObjectName(u"CancelBtn"_s);
    m_cancelBtn->setGeometry(176, 464, 105, 33);
    m_cancelBtn->setToolTip(u"Esc"_s);
    for (QPushButton* button : {m_okBtn, m_cancelBtn}) {
        // Plain Enter belongs to the focused control, so neither button is a default one.
        button->setAutoDefault(false);
        button->setDefault(false);
        button->setIconSize(QSize(24, 24));
    }
    connect(m_okBtn, &QPushButton::clicked, this, guarded(this, [this] { OkBtnClick(); }));
    connect(m_cancelBtn, &QPushButton::clicked, this, guarded(this, [this] { CancelBtnClick(); }));
}

QWidget* TKvartaEditForm::buildMainPage() {
    auto* page = new QWidget;
    page->setObjectName(u"TabSheet1"_s);

    fieldLabel(u"Дата рег.:"_s, page, 16, 12);
    m_dateReg = new QDateEdit(page);
    m_dateReg->setObjectName(u"Date_RegDTP"_s);
    m_dateReg->setGeometry(112, 8, 186, EditHeight);
    m_dateReg->setCalendarPopup(true);
    // The lowest date stands for "no date" and shows as an empty field.
    m_dateReg->setMinimumDate(NoDate);
    m_dateReg->setSpecialValueText(u" "_s);
    connect(m_dateReg, &QDateEdit::dateChanged, this, [this](QDate date) {
        if (m_settingDate)
            return;
        m_noDateReg = date == NoDate;
    });
    // The calendar of an item without a date opens on today, not on the placeholder date.
    m_dateReg->calendarWidget()->installEventFilter(this);

    for (size_t i = 0; i < LookupBindings.size(); ++i) {
        const LookupBinding& binding = LookupBindings[i];
        const int top = LookupTops[i];
        fieldLabel(QString::fromUtf16(binding.label), page, 16, top + 4);

        auto* combo = new QComboBox(page);
        combo->setObjectName(QLatin1StringView(binding.control));
        combo->setEditable(false);
        combo->setGeometry(112, top, 321, EditHeight);
        m_lookups.insert(QLatin1StringView(binding.column), combo);

        auto* button = new QToolButton(page);
        button->setObjectName(QLatin1StringView(binding.button));
        button->setAutoRaise(true);
        button->setIcon(Icons::get(u"lookup"));
        button->setIconSize(QSize(16, 16));
        button->setGeometry(432, top, 23, 22);
        button->setFocusPolicy(Qt::NoFocus);
        button->setAccessibleName(AccessibleNames::lookupButtonName(QString::fromUtf16(binding.label)));
        const QString table = QLatin1StringView(binding.table);
        // SpeedButton1Click ... SpeedButton14Click: each edits the directory of its row.
        connect(button, &QToolButton::clicked, this,
                guarded(this, [this, combo, table] { EditLookup(combo, table); }));
    }
    return page;
}

QWidget* TKvartaEditForm::buildNumbersPage() {
    auto* page = new QWidget;
    page->setObjectName(u"TabSheet2"_s);
    fieldLabel(u"Этаж:"_s, page, 8, 12);
    m_etazh = numberEdit("EtazhEdit", page, 120, 8);
    fieldLabel(u"Этажность:"_s, page, 8, 36);
    m_etazhnost = numberEdit("EtazhnostEdit", page, 120, 32);

    auto* group = new QGroupBox(u"Площадь"_s, page);
    group->setObjectName(u"GroupBox1"_s);
    group->setGeometry(8, 56, 449, 345);
    fitLabel(fieldLabel(u"Общая площадь:"_s, group, 8, 20 + GroupCaption), 112 - 8 - 2);
    m_ploshad = numberEdit("PloshadEdit", group, 112, 16 + GroupCaption);

    BitBtn3 = new QPushButton(sumGlyph(), u"Вычислить"_s, group);
    BitBtn3->setObjectName(u"BitBtn3"_s);
    BitBtn3->setGeometry(240, 16 + GroupCaption, 97, 25);
    BitBtn3->setIconSize(QSize(16, 16));
    BitBtn3->setAutoDefault(false);
    connect(BitBtn3, &QPushButton::clicked, this, guarded(this, [this] { SumRoomAreas(); }));

    m_rooms = new RoomsEditor(this, group);
    m_rooms->navigator()->setGeometry(8, 40 + GroupCaption, 224, 25);
    // The grid ends as far above the group's lower edge as laid out.
    m_rooms->grid()->setGeometry(8, 72 + GroupCaption, 425, 265 - GroupCaption);
    m_numbersPage = page;
    return page;
}

QWidget* TKvartaEditForm::buildDescriptionPage() {
    auto* page = new QWidget;
    page->setObjectName(u"TabSheet3"_s);
    fieldLabel(u"Состояние:"_s, page, 8, 8);
    m_sost = memo("SostMemo", page, 8, 24);
    fieldLabel(u"Особенности:"_s, page, 8, 128);
    m_osob = memo("OsobEdit", page, 8, 144);
    m_kontaktInfLabel = fieldLabel(u"Контактная информация:"_s, page, 8, 248);
    m_kontaktInfLabel->setObjectName(u"KontaktInfLabel"_s);
    m_kontaktInfLabel->setEnabled(false);
    m_kontaktInf = memo("KontaktInfMemo", page, 8, 264);
    m_kontaktInf->hide();

    UnLockBtn = new QPushButton(Icons::get(u"padlock"), u"Показать информацию"_s, page);
    UnLockBtn->setObjectName(u"UnLockBtn"_s);
    UnLockBtn->setGeometry(56, 280, 369, 57);
    UnLockBtn->setIconSize(QSize(24, 24));
    UnLockBtn->setAutoDefault(false);
    connect(UnLockBtn, &QPushButton::clicked, this, guarded(this, [this] { UnLockBtnClick(); }));
    return page;
}

QWidget* TKvartaEditForm::buildFinancePage() {
    auto* page = new QWidget;
    page->setObjectName(u"TabSheet4"_s);
    fieldLabel(u"Стоимость:"_s, page, 8, 12);
    m_stoimost = numberEdit("StoimostEdit", page, 96, 8);
    fieldLabel(u"Долг:"_s, page, 8, 36);
    m_dolg = numberEdit("DolgEdit", page, 96, 32);
    return page;
}

void TKvartaEditForm::showEvent(QShowEvent* event) {
    centreOnScreen(this);
    QDialog::showEvent(event);
}

// ---------------------------------------------------------------------------------------------
// Handlers

void TKvartaEditForm::setUpScanner() {
    TWAIN1 = new TTWAIN(this);
    TWAIN1->setDestination(TTWAIN::xfMemory);
    TWAIN1->setShowUI(true);
    TWAIN1->setFileFormat(TTWAIN::ffBMP);
    TWAIN1->setFilename(u"C:\\TWAIN.BMP"_s);
    TWAIN1->setLanguage(TTWAIN::lgAmerican);
    TWAIN1->setCountry(TTWAIN::ctRussia);
    TWAIN1->setVersionInfo(u"Twain component"_s);
    TWAIN1->setVersionMajor(1);
    TWAIN1->setVersionMinor(0);
    TWAIN1->setProductname(u"Tenemark"_s);
    TWAIN1->setManufacturer(u"Tenemark"_s);
    TWAIN1->setProductFamily(u"Tenemark catalogue"_s);
    TWAIN1->setOnScanReady([this](TTWAIN*) { guard(this, [this] { TWAIN1ScanReady(); }); });
    connect(m_slides->scanButton(), &QPushButton::clicked, this, guarded(this, [this] { BitBtn2Click(); }));
}

void TKvartaEditForm::FormCreate() {
    setDateReg(QDateTime::currentDateTime());
    // The scanner is optional: when its manager cannot be opened now, the card works on and the
    // scan command reports the component's error.
    try {
        TWAIN1->Initialize();
    } catch (const AppError&) {
    }
    ScanBitmap = QImage();
    m_pages->setCurrentIndex(0);
}

bool TKvartaEditForm::FormKeyDown(QKeyEvent* event) {
    if (handleDialogKeys(
            this, event, [this] { OkBtnClick(); }, [this] { CancelBtnClick(); }))
        return true;
    // Neither button is a default one, but Enter on a focused button still presses it.
    const bool plainEnter = (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
                            (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if (plainEnter && (focusWidget() == m_okBtn || focusWidget() == m_cancelBtn)) {
        static_cast<QPushButton*>(focusWidget())->click();
        return true;
    }
    return false;
}

void TKvartaEditForm::OkBtnClick() {
    const QString failure = NumberText::firstNumericFailure(
        {m_etazh->text(), m_etazhnost->text(), m_ploshad->text(), m_stoimost->text(), m_dolg->text()});
    if (!failure.isEmpty()) {
        Dialogs::showError(this, failure);
        return;
    }
    // A room row still in editing is posted first; a refused one keeps the card open on it.
    if (!m_rooms->postBeforeClose()) {
        m_pages->setCurrentWidget(m_numbersPage);
        return;
    }
    // Saved while the card is still open: a statement the database refuses leaves the card, and
    // everything typed into it, in place.
    if (saveItem())
        accept();
}

void TKvartaEditForm::CancelBtnClick() {
    reject();
}

// ---------------------------------------------------------------------------------------------
// Operations

void TKvartaEditForm::ResetFields() {
    m_ploshad->setText(u"0"_s);
    m_etazh->setText(u"1"_s);
    m_etazhnost->setText(u"9"_s);
    m_stoimost->setText(u"0"_s);
    m_dolg->setText(u"0"_s);
    m_sost->clear();
    m_osob->clear();
    m_kontaktInf->clear();
}

void TKvartaEditForm::LoadLookup(QComboBox* combo, const QString& table) {
    combo->clear();
    combo->addItems(LookupStore::loadEntries(m_query, table));
    combo->setCurrentIndex(combo->count() > 0 ? 0 : -1);
}

void TKvartaEditForm::SelectByText(QComboBox* combo, const QString& text) {
    ComboText::selectLowerCased(combo, text);
}

void TKvartaEditForm::EditLookup(QComboBox* combo, const QString& table) {
    const auto reload = [&] { LoadLookup(combo, table); };
    if (m_directory)
        m_directory->EditLookup(combo, table, reload);
    else
        reload();
}

void TKvartaEditForm::loadAllLookups() {
    for (const char* table : LookupLoadOrder) {
        const QString name = QLatin1StringView(table);
        LoadLookup(m_lookups.value(QLatin1StringView(lookupByTable(name).column)), name);
    }
}

void TKvartaEditForm::LoadItem(int itemId) {
    if (!ItemStore::openItem(m_query, itemId)) {
        m_query.finish();
        m_loaded = ItemStore::ItemSnapshot();
        m_loaded.id = itemId;
        return;
    }
    m_loaded = ItemStore::snapshot(m_query, itemId);
    const QVariant stored = m_query.value(u"date_reg"_s);
    const QDateTime registered = stored.typeId() == QMetaType::QDateTime
                                     ? stored.toDateTime()
                                     : ValueText::parseStoredDateTime(stored.toString());
    if (registered.isValid() && registered.date() > NoDate)
        setDateReg(registered);
    else
        setNoDateReg(stored);

    const QLocale locale;
    for (const char* column : LookupReadOrder) {
        const QString name = QLatin1StringView(column);
        SelectByText(m_lookups.value(name), locale.toLower(m_query.text(name)));
    }

    m_ploshad->setText(m_query.text(u"obsh_plosh"_s));
    m_etazh->setText(m_query.text(u"etazh"_s));
    m_etazhnost->setText(m_query.text(u"etazhnost"_s));
    m_osob->setPlainText(shownMemoText(m_query.text(u"osob"_s)));
    m_stoimost->setText(m_query.text(u"stoim"_s));
    m_dolg->setText(m_query.text(u"dolg"_s));
    m_sost->setPlainText(shownMemoText(m_query.text(u"sost"_s)));
    m_kontaktInf->setPlainText(shownMemoText(m_query.text(u"kontakt_inf"_s)));
    m_query.finish();
    LoadSlides();
}

void TKvartaEditForm::LoadSlides() {
    m_slides->LoadSlides();
}

bool TKvartaEditForm::OpenForEdit(int itemId) {
    bool saved = false;
    guard(this, [&] {
        ResetFields();
        loadAllLookups();
        ItemId = itemId;
        m_slides->setItemId(itemId);
        LoadItem(itemId);
        m_rooms->setItemId(itemId);
        SetRoomsEnabled(true);
        saved = showModal(Mode::Edit);
    });
    return saved;
}

bool TKvartaEditForm::OpenForNew() {
    bool saved = false;
    guard(this, [&] {
        ResetFields();
        setDateReg(QDateTime::currentDateTime());
        // A new item has no id yet: its photographs are added once it is saved.
        m_slides->setItemId(0);
        loadAllLookups();
        // A new item has no id to hang rooms on.
        SetRoomsEnabled(false);
        saved = showModal(Mode::New);
    });
    return saved;
}

bool TKvartaEditForm::showModal(Mode mode) {
    m_mode = mode;
    m_dateReg->setDisplayFormat(shortDateFormat());
    const bool accepted = exec() == QDialog::Accepted;
    // A room row left in editing: posted by OK already; Cancel, Esc and the close box drop it.
    m_rooms->discardEditing();
    return accepted;
}

void TKvartaEditForm::setDateReg(const QDateTime& value) {
    m_settingDate = true;
    m_dateReg->setDate(value.date());
    m_settingDate = false;
    m_dateRegTime = value.time();
    m_noDateReg = false;
    m_storedDateReg = QVariant();
}

void TKvartaEditForm::setNoDateReg(const QVariant& stored) {
    m_settingDate = true;
    m_dateReg->setDate(NoDate);
    m_settingDate = false;
    m_dateRegTime = QTime(0, 0);
    m_noDateReg = true;
    m_storedDateReg = stored;
}

QDateTime TKvartaEditForm::dateReg() const {
    return QDateTime(m_dateReg->date(), m_dateRegTime);
}

QVariant TKvartaEditForm::dateRegValue() const {
    return m_noDateReg ? m_storedDateReg : QVariant(dateReg());
}

bool TKvartaEditForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_dateReg->calendarWidget() && event->type() == QEvent::Show && m_noDateReg) {
        const QDate today = QDate::currentDate();
        m_dateReg->calendarWidget()->setSelectedDate(today);
        m_dateReg->calendarWidget()->setCurrentPage(today.year(), today.month());
    }
    return QDialog::eventFilter(watched, event);
}

QHash<QString, QString> TKvartaEditForm::lookupTexts() const {
    QHash<QString, QString> texts;
    for (auto it = m_lookups.begin(); it != m_lookups.end(); ++it)
        texts.insert(it.key(), it.value()->currentText());
    texts.insert(u"sost"_s, storedMemoText(m_sost->toPlainText()));
    texts.insert(u"osob"_s, storedMemoText(m_osob->toPlainText()));
    texts.insert(u"kontakt_inf"_s, storedMemoText(m_kontaktInf->toPlainText()));
    return texts;
}

bool TKvartaEditForm::saveItem() {
    if (m_mode == Mode::New) {
        insertItem();
        return true;
    }
    return updateItem();
}

void TKvartaEditForm::insertItem() {
    ItemStore::NewItem item;
    item.texts = lookupTexts();
    item.etazh = wholeValue(m_etazh->text());
    item.etazhnost = wholeValue(m_etazhnost->text());
    item.obshPlosh = decimalValue(m_ploshad->text());
    item.stoim = decimalValue(m_stoimost->text());
    item.dolg = decimalValue(m_dolg->text());
    item.dateReg = dateReg();
    // A broken server connection leaves the card as typed: nothing to reload for an item that may
    // not exist; the message says that the save may not have happened.
    ItemStore::insertItem(m_query, item);
}

bool TKvartaEditForm::updateItem() {
    QHash<QString, QString> texts = lookupTexts();
    texts.insert(u"etazh"_s, m_etazh->text());
    texts.insert(u"etazhnost"_s, m_etazhnost->text());
    texts.insert(u"obsh_plosh"_s, m_ploshad->text());
    texts.insert(u"stoim"_s, m_stoimost->text());
    texts.insert(u"dolg"_s, m_dolg->text());
    if (!m_loaded.exists) {
        // The card opened on an item that had no row: the update finds nothing to change.
        ItemStore::updateItem(m_query, ItemId, texts, dateRegValue());
        return true;
    }
    // Written only over the version the card loaded; when another copy changed the item since,
    // the operator decides between overwriting that change and reloading the card.
    ItemStore::ItemSnapshot loaded = m_loaded;
    for (;;) {
        // When the server did not confirm the save, the card shows what is stored.
        const ItemStore::SaveResult result = Database::reloadIfUncertain(
            [&] { return ItemStore::updateItemIfUnchanged(m_query, ItemId, loaded, texts, dateRegValue()); },
            [this] { reloadItem(); });
        switch (result.outcome) {
        case ItemStore::SaveOutcome::Saved:
            m_loaded = result.current;
            return true;
        case ItemStore::SaveOutcome::Deleted:
            throw AppError(u"Пока карточка была открыта, этот элемент удалили в другой копии программы: "
                           u"данные карточки не сохранены"_s);
        case ItemStore::SaveOutcome::ChangedElsewhere:
            break;
        }
        switch (Dialogs::askConfirmation(this, OverwriteQuestion)) {
        case Dialogs::Answer::Yes:
            loaded = result.current;
            continue;
        case Dialogs::Answer::No:
            reloadItem();
            return false;
        default:
            return false;
        }
    }
}

// The card shows the item as stored now; the page and the rooms stay as they are.
void TKvartaEditForm::reloadItem() {
    ResetFields();
    loadAllLookups();
    LoadItem(ItemId);
}

// ---------------------------------------------------------------------------------------------
// Contact-information lock

void TKvartaEditForm::setPasswordQuery(std::function<StoreQuery&()> query) {
    m_passwordQuery = std::move(query);
}

StoreQuery& TKvartaEditForm::passwordQuery() {
    return m_passwordQuery ? m_passwordQuery() : m_query;
}

void TKvartaEditForm::UnLockBtnClick() {
    const QString stored = PasswordStore::readPassword(passwordQuery());
    if (stored.isEmpty()) {
        RevealContactInfo();
        return;
    }
    QString typed;
    if (!Dialogs::promptText(this, u"Введите пароль"_s, u"Пароль"_s, typed))
        return;
    if (typed == stored)
        RevealContactInfo();
    else
        Dialogs::showError(this, u"Ошибка ввода пароля!"_s);
}

void TKvartaEditForm::RevealContactInfo() {
    m_contactUnlocked = true;
    m_kontaktInfLabel->setEnabled(true);
    m_kontaktInf->show();
    UnLockBtn->hide();
}

// ---------------------------------------------------------------------------------------------
// Rooms

void TKvartaEditForm::SetRoomsEnabled(bool enabled) {
    m_rooms->setActive(enabled);
}

void TKvartaEditForm::SumRoomAreas() {
    // The rooms the card shows: none on a new item's card.
    double sum = 0;
    const RoomsModel* rooms = m_rooms->model();
    if (rooms->isOpen()) {
        m_query.setText(Statements::roomAreaSum(rooms->itemId()));
        m_query.open();
        if (m_query.next())
            sum = m_query.value(0).toDouble(); // null when there are no rooms
        m_query.finish();
    }
    m_ploshad->setText(sumText(sum));
}

// ---------------------------------------------------------------------------------------------
// Scanning

void TKvartaEditForm::BitBtn2Click() {
    const int itemId = m_slides->itemId();
    if (itemId == 0)
        return;
    // Opened here when it could not be at start-up, so that a missing manager is named.
    TWAIN1->OpenDataSourceManager();
    if (!TWAIN1->IsDataSourceOpen())
        TWAIN1->OpenDataSource();
    if (TWAIN1->IsDataSourceOpen()) {
        m_scanItemId = itemId;
        TWAIN1->Acquire(&ScanBitmap);
    }
}

void TKvartaEditForm::TWAIN1ScanReady() {
    // The picture is dropped whatever happens; the bitmap stays for the next scan.
    const auto dropPicture = qScopeGuard([this] { ScanBitmap = QImage(); });
    const int itemId = std::exchange(m_scanItemId, 0);
    // A source dialog closed or cancelled without a transfer brings nothing new.
    if (!TWAIN1->imageTransferred() || ScanBitmap.isNull() || itemId == 0)
        return;
    const QImage picture = ScanBitmap.convertToFormat(QImage::Format_RGB888);
    // The strip shows the scan itself, reduced while it is compressed, rather than decoding the
    // stored JPEG back.
    const bool shown = m_slides->itemId() == itemId;
    std::future<PictureResult> reduced;
    if (shown)
        reduced = std::async(std::launch::async, [picture, target = m_slides->strip()->pictureTarget()] {
            return stripPicture(picture, target);
        });
    const QByteArray jpeg = JpegCodec::encode(picture, 75);
    Database::reloadIfUncertain([&] { SlideStore::insertSlide(m_query, itemId, u".jpg"_s, jpeg); },
                                [&] {
                                    if (shown)
                                        LoadSlides();
                                });
    if (!shown)
        return;
    m_query.setText(Statements::lastInsertId(Statements::dialectOf(Database::connection())));
    m_query.open();
    const int slideId = m_query.next() ? m_query.value(0).toInt() : 0;
    m_query.finish();
    m_slides->LoadSlides({{slideId, reduced.get()}});
}

QString TKvartaEditForm::storedMemoText(const QString& widgetText) {
    QString text = widgetText;
    text.replace(u"\r\n"_s, u"\n"_s);
    text.replace(u'\r', u'\n');
    text.replace(u'\n', u"\r\n"_s);
    return text;
}

QString TKvartaEditForm::shownMemoText(const QString& storedText) {
    QString text = storedText;
    text.replace(u"\r\n"_s, u"\n"_s);
    text.replace(u'\r', u'\n');
    return text;
}
