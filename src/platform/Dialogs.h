#pragma once

#include <QString>

class QWidget;

// The program's message dialogs and text prompt. Every box goes through here, so tests can
// answer the next box in advance and read what was shown.
namespace Dialogs {

enum class Kind { Error, Information, Confirmation, Stop, Prompt };
enum class Answer { Ok, Cancel, Yes, No, Closed };

void showError(QWidget* parent, const QString& text);       // "Error", error icon, OK
void showInformation(QWidget* parent, const QString& text); // "Information", OK
// "Confirm", question icon, "&Yes"/"&No"; Esc answers No. Returns the answer given.
Answer askConfirmation(QWidget* parent, const QString& text);
// "Confirm", question icon, "OK"/"Cancel"; Esc answers Cancel. Returns the answer given.
Answer askOkCancel(QWidget* parent, const QString& text);
// General error report: title "Tenemark 1.0", stop icon, full stop rule.
void reportError(QWidget* parent, const QString& text);
// Text prompt: returns true on OK; `text` holds the initial text on entry and the typed text on OK.
bool promptText(QWidget* parent, const QString& title, const QString& prompt, QString& text);
// The same prompt for a password: what is typed shows as dots; starts empty.
bool promptSecret(QWidget* parent, const QString& title, const QString& prompt, QString& text);

// The text as a message box shows it: long runs without blanks get invisible break opportunities.
QString wrappableText(const QString& text);

// The error report's text: a full stop is appended when the last character's code is above '.'.
QString errorReportText(const QString& text);

} // namespace Dialogs

namespace DialogsTestSeam {

struct Shown {
    Dialogs::Kind kind;
    QString title;
    QString text;
};

// Queue the answer of the next box (and, for a prompt, the text typed into it).
void queueAnswer(Dialogs::Answer answer, const QString& promptText = QString());
int pendingAnswers();
// Every box shown since the last clear(), answered from the queue or by the user.
const QList<Shown>& shown();
Shown last();
void clear();
// A box asked to show an empty text ends the process (qFatal) instead of showing a stand-in.
void refuseEmptyTexts(bool refuse);

} // namespace DialogsTestSeam
