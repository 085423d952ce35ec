#include "TextPrompt.h"

#include "KeyPreview.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTextBoundaryFinder>
#include <QVBoxLayout>

TextPrompt::TextPrompt(QWidget* parent, const QString& title, const QString& prompt,
                       const QString& initialText)
    : QDialog(parent), m_edit(new QLineEdit(this)) {
    setObjectName(QStringLiteral("TextPrompt"));
    setWindowTitle(title);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);

    auto* label = new QLabel(prompt, this);
    m_edit->setObjectName(QStringLiteral("PromptEdit"));
    m_edit->setText(limited(initialText));
    // Typed or pasted text is cut at a character boundary, never inside a surrogate pair.
    connect(m_edit, &QLineEdit::textChanged, this, [this](const QString& text) {
        const QString cut = limited(text);
        if (cut.size() == text.size())
            return;
        const int cursor = qMin(m_edit->cursorPosition(), int(cut.size()));
        m_edit->setText(cut);
        m_edit->setCursorPosition(cursor);
    });
    m_edit->selectAll();
    m_edit->setMinimumWidth(260);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("OkButton"));
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("CancelButton"));
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(m_edit);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void TextPrompt::setSecret(bool secret) {
    m_edit->setEchoMode(secret ? QLineEdit::Password : QLineEdit::Normal);
}

QString TextPrompt::limited(const QString& text) {
    // Fast path: fewer UTF-16 units than the limit means fewer code points too.
    if (text.size() <= MaxLength)
        return text;
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, text);
    qsizetype kept = 0;
    qsizetype codePoints = 0;
    qsizetype previous = 0;
    for (qsizetype next = graphemes.toNextBoundary(); next > 0; next = graphemes.toNextBoundary()) {
        codePoints += QStringView(text).sliced(previous, next - previous).toUcs4().size();
        if (codePoints > MaxLength)
            break;
        kept = next;
        previous = next;
    }
    return text.left(kept);
}

QString TextPrompt::text() const {
    return m_edit->text();
}

void TextPrompt::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    centreOnScreen(this);
    m_edit->setFocus();
    m_edit->selectAll();
}
