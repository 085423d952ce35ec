#include "TextPrompt.h"

#include "KeyPreview.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
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
    m_edit->setMaxLength(MaxLength);
    m_edit->setText(initialText);
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

QString TextPrompt::text() const {
    return m_edit->text();
}

void TextPrompt::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    centreOnScreen(this);
    m_edit->setFocus();
    m_edit->selectAll();
}
