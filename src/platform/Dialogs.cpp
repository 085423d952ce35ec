#include "Dialogs.h"

#include "AppPaths.h"
#include "KeyPreview.h"
#include "TextPrompt.h"

#include <QList>
#include <QMessageBox>
#include <QPushButton>
#include <QQueue>

namespace {

struct QueuedAnswer {
    Dialogs::Answer answer;
    QString text;
};

QQueue<QueuedAnswer>& queue() {
    static QQueue<QueuedAnswer> q;
    return q;
}

QList<DialogsTestSeam::Shown>& shownList() {
    static QList<DialogsTestSeam::Shown> list;
    return list;
}

void record(Dialogs::Kind kind, const QString& title, const QString& text) {
    shownList().append({kind, title, text});
}

bool& refuseEmpty() {
    static bool refuse = false;
    return refuse;
}

// Every box says what happened: a box without a text is a fault of the program, which a test
// refuses outright; the operator still gets a sentence.
QString sayingSomething(const QString& text) {
    if (!text.trimmed().isEmpty())
        return text;
    if (refuseEmpty())
        qFatal("a message box without a text");
    return QStringLiteral("Действие не выполнено, причина не сообщена");
}

bool takeQueued(QueuedAnswer* out) {
    if (queue().isEmpty())
        return false;
    *out = queue().dequeue();
    return true;
}

// A message box centred on the screen (not over its parent, which may be hidden), whose long
// unbroken runs of text (a long directory entry, a path) may wrap.
class MessageBox : public QMessageBox {
public:
    MessageBox(Icon icon, const QString& title, const QString& text, StandardButtons buttons, QWidget* parent)
        : QMessageBox(icon, title, Dialogs::wrappableText(text), buttons, parent) {
        setTextFormat(Qt::PlainText);
        setAccessibleDescription(text);
    }

protected:
    void showEvent(QShowEvent* event) override {
        QMessageBox::showEvent(event);
        centreOnScreen(this);
    }
};

void showOkBox(QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text) {
    MessageBox box(icon, title, text, QMessageBox::Ok, parent);
    box.button(QMessageBox::Ok)->setText(QStringLiteral("OK"));
    box.exec();
}

} // namespace

namespace Dialogs {

QString wrappableText(const QString& text) {
    constexpr int Run = 40;
    QString out;
    out.reserve(text.size() + text.size() / Run);
    int run = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        out += c;
        run = c.isSpace() ? 0 : run + 1;
        // A zero-width space is a line-break opportunity; never put one inside a surrogate pair
        // or before a combining mark.
        if (run >= Run && !c.isHighSurrogate() && i + 1 < text.size() && !text[i + 1].isMark() &&
            !text[i + 1].isLowSurrogate()) {
            out += QChar(0x200B);
            run = 0;
        }
    }
    return out;
}

QString errorReportText(const QString& text) {
    if (!text.isEmpty() && text.back().unicode() > u'.')
        return text + QLatin1Char('.');
    return text;
}

void showError(QWidget* parent, const QString& message) {
    const QString text = sayingSomething(message);
    const QString title = QStringLiteral("Error");
    record(Kind::Error, title, text);
    QueuedAnswer a;
    if (!takeQueued(&a))
        showOkBox(parent, QMessageBox::Critical, title, text);
}

void showInformation(QWidget* parent, const QString& message) {
    const QString text = sayingSomething(message);
    const QString title = QStringLiteral("Information");
    record(Kind::Information, title, text);
    QueuedAnswer a;
    if (!takeQueued(&a))
        showOkBox(parent, QMessageBox::Information, title, text);
}

namespace {

// A question with two buttons; the first is the default, the second answers Esc.
Answer askQuestion(QWidget* parent, const QString& text, const char* objectName, const QString& first,
                   Answer firstAnswer, const QString& second, Answer secondAnswer) {
    const QString title = QStringLiteral("Confirm");
    record(Kind::Confirmation, title, text);
    QueuedAnswer a;
    if (takeQueued(&a))
        return a.answer;
    MessageBox box(QMessageBox::Question, title, text, QMessageBox::NoButton, parent);
    if (objectName)
        box.setObjectName(QString::fromLatin1(objectName));
    QPushButton* firstButton = box.addButton(first, QMessageBox::YesRole);
    QPushButton* secondButton = box.addButton(second, QMessageBox::NoRole);
    box.setDefaultButton(firstButton);
    box.setEscapeButton(secondButton);
    box.exec();
    if (box.clickedButton() == firstButton)
        return firstAnswer;
    if (box.clickedButton() == secondButton)
        return secondAnswer;
    return Answer::Closed;
}

} // namespace

Answer askConfirmation(QWidget* parent, const QString& text) {
    return askQuestion(parent, text, nullptr, QStringLiteral("&Yes"), Answer::Yes, QStringLiteral("&No"),
                       Answer::No);
}

Answer askOkCancel(QWidget* parent, const QString& text) {
    return askQuestion(parent, text, "OkCancelQuestion", QStringLiteral("OK"), Answer::Ok,
                       QStringLiteral("Cancel"), Answer::Cancel);
}

void reportError(QWidget* parent, const QString& text) {
    const QString title = QString::fromUtf16(AppPaths::ApplicationTitle);
    const QString shownText = errorReportText(sayingSomething(text));
    record(Kind::Stop, title, shownText);
    QueuedAnswer a;
    if (!takeQueued(&a))
        showOkBox(parent, QMessageBox::Critical, title, shownText);
}

namespace {

bool showPrompt(QWidget* parent, const QString& title, const QString& prompt, QString& text, bool secret) {
    record(Kind::Prompt, title, prompt);
    QueuedAnswer a;
    if (takeQueued(&a)) {
        if (a.answer != Answer::Ok)
            return false;
        text = TextPrompt::limited(a.text);
        return true;
    }
    TextPrompt dialog(parent, title, prompt, secret ? QString() : text);
    dialog.setSecret(secret);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    text = dialog.text();
    return true;
}

} // namespace

bool promptText(QWidget* parent, const QString& title, const QString& prompt, QString& text) {
    return showPrompt(parent, title, prompt, text, false);
}

bool promptSecret(QWidget* parent, const QString& title, const QString& prompt, QString& text) {
    return showPrompt(parent, title, prompt, text, true);
}

} // namespace Dialogs

namespace DialogsTestSeam {

void queueAnswer(Dialogs::Answer answer, const QString& promptText) {
    queue().enqueue({answer, promptText});
}

int pendingAnswers() {
    return int(queue().size());
}

const QList<Shown>& shown() {
    return shownList();
}

Shown last() {
    return shownList().isEmpty() ? Shown{Dialogs::Kind::Error, QString(), QString()} : shownList().back();
}

void refuseEmptyTexts(bool refuse) {
    refuseEmpty() = refuse;
}

void clear() {
    shownList().clear();
    queue().clear();
}

} // namespace DialogsTestSeam
