#include "TAboutForm.h"

#include "ui_TAboutForm.h"

#include "Dialogs.h"
#include "Guard.h"
#include "Icons.h"
#include "KeyPreview.h"
#include "PasswordStore.h"
#include "ShellLaunch.h"

#include <QGroupBox>
#include <QKeyEvent>
#include <QMouseEvent>
#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

constexpr QSize ClientSize(524, 153);
constexpr QSize ButtonIconSize(24, 24);
const QColor MakerColour(0xC0, 0xC0, 0xC0); // light silver

QFont tahoma() {
    QFont f(u"Tahoma"_s);
    f.setFamilies({u"Tahoma"_s, u"Liberation Sans"_s, u"DejaVu Sans"_s});
    return f;
}

const QString PasswordPrompt = u"Пароль"_s;

} // namespace

TAboutForm::TAboutForm(QueryProvider query, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      ui(std::make_unique<Ui::TAboutForm>()), m_query(std::move(query)) {
    ui->setupUi(this);
    setModal(true);
    setFixedSize(ClientSize);

    QFont formFont = tahoma();
    formFont.setPointSize(8);
    setFont(formFont);

    QFont titleFont = formFont;
    titleFont.setBold(true);
    ui->Label1->setFont(titleFont);

    QFont linkFont = formFont;
    linkFont.setBold(true);
    linkFont.setUnderline(true);
    ui->Label13->setFont(linkFont);
    // The system's colour of a hot-tracked (hovered) link.
    QPalette linkPalette = ui->Label13->palette();
    linkPalette.setColor(QPalette::WindowText, palette().color(QPalette::Link));
    ui->Label13->setPalette(linkPalette);
    ui->Label13->installEventFilter(this);

    QFont makerFont = tahoma();
    makerFont.setPixelSize(40);
    ui->Label3->setFont(makerFont);
    QPalette makerPalette = ui->Label3->palette();
    makerPalette.setColor(QPalette::WindowText, MakerColour);
    ui->Label3->setPalette(makerPalette);

    // The three lines at the top left take the size of their text.
    for (QLabel* label : {ui->Label1, ui->Label2, ui->Label13})
        label->adjustSize();

    // The password button sits in the middle of the group's frame, below its title, wherever the
    // style puts the title.
    QGroupBox* group = ui->GroupBox1;
    group->ensurePolished();
    const QRect inside = group->contentsRect();
    const QSize buttonSize = ui->SetPwlBtn->size();
    ui->SetPwlBtn->move((group->width() - buttonSize.width()) / 2,
                        inside.top() + std::max(0, (inside.height() - buttonSize.height()) / 2));

    ui->SetPwlBtn->setIcon(Icons::get(u"padlock"));
    ui->CancelBtn->setIcon(Icons::get(u"close_window"));
    for (QPushButton* b : {ui->SetPwlBtn, ui->CancelBtn})
        b->setIconSize(ButtonIconSize);

    connect(ui->SetPwlBtn, &QPushButton::clicked, this, guarded(this, [this] { SetPwlBtnClick(); }));
    connect(ui->CancelBtn, &QPushButton::clicked, this, guarded(this, [this] { CancelBtnClick(); }));
    // Every way of closing (the button, Esc, the close box) ends in done().
    connect(this, &QDialog::finished, this, [this] { FormClose(); });
    m_keys = new KeyPreview(this, [this](QKeyEvent* e) { return FormKeyDown(e); });
}

TAboutForm::~TAboutForm() = default;

void TAboutForm::setCloseHandler(std::function<void()> handler) {
    m_closeHandler = std::move(handler);
}

void TAboutForm::showEvent(QShowEvent* event) {
    centreOnScreen(this);
    QDialog::showEvent(event);
}

void TAboutForm::Open() {
    exec();
}

void TAboutForm::SetPwlBtnClick() {
    const QString stored = PasswordStore::readPassword(m_query());
    if (stored.isEmpty()) {
        AskNewPassword();
        return;
    }
    if (CheckOldPassword(stored))
        AskNewPassword();
}

bool TAboutForm::CheckOldPassword(const QString& stored) {
    QString typed;
    if (!Dialogs::promptText(this, u"Введите старый пароль"_s, PasswordPrompt, typed))
        return false;
    if (typed != stored) {
        Dialogs::showError(this, u"Ошибка ввода пароля!"_s);
        return false;
    }
    return true;
}

void TAboutForm::AskNewPassword() {
    QString first;
    if (!Dialogs::promptText(this, u"Введите новый пароль"_s, PasswordPrompt, first))
        return;
    QString second;
    if (!Dialogs::promptText(this, u"Введите новый пароль еще раз"_s, PasswordPrompt, second))
        return;
    if (first != second) {
        Dialogs::showError(this, u"Новый пароль и его подтверждение различны!"_s);
        return;
    }
    PasswordStore::setPassword(m_query(), first);
    Dialogs::showInformation(this, u"Пароль успешно изменен!"_s);
}

void TAboutForm::Label4Click() {
    ShellLaunch::openAddress(ui->Label13->text());
}

void TAboutForm::CancelBtnClick() {
    reject();
}

bool TAboutForm::FormKeyDown(QKeyEvent* event) {
    if (!isCancelKey(event))
        return false;
    guard(this, [this] { CancelBtnClick(); });
    return true;
}

void TAboutForm::FormClose() {
    if (m_closeHandler)
        guard(this, m_closeHandler);
}

bool TAboutForm::eventFilter(QObject* watched, QEvent* event) {
    // A click is a left-button press and release over the link.
    if (watched == ui->Label13 && event->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton && ui->Label13->rect().contains(mouse->position().toPoint())) {
            guard(this, [this] { Label4Click(); });
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}
