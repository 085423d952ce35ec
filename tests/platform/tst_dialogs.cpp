#include "AppError.h"
#include "Dialogs.h"
#include "Guard.h"
#include "TestSupport.h"
#include "TextPrompt.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScopeGuard>
#include <QTest>

using namespace Qt::StringLiterals;
using Dialogs::Answer;
using Dialogs::Kind;

namespace {

QStringList buttonTexts(QWidget* box) {
    QStringList texts;
    for (QAbstractButton* b : box->findChildren<QAbstractButton*>())
        texts << b->text();
    texts.sort();
    return texts;
}

} // namespace

class TestDialogs : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { DialogsTestSeam::clear(); }

    void errorReportFullStop_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        QTest::newRow("letter") << u"Нет такой таблицы"_s << u"Нет такой таблицы."_s;
        QTest::newRow("latin letter") << u"no such table: x"_s << u"no such table: x."_s;
        QTest::newRow("digit") << u"code 42"_s << u"code 42."_s;
        QTest::newRow("slash is above the stop") << u"a/"_s << u"a/."_s;
        QTest::newRow("colon") << u"Ошибка:"_s << u"Ошибка:."_s;
        QTest::newRow("full stop") << u"Готово."_s << u"Готово."_s;
        QTest::newRow("exclamation") << u"Стоп!"_s << u"Стоп!"_s;
        QTest::newRow("closing bracket") << u"(x)"_s << u"(x)"_s;
        QTest::newRow("minus") << u"a-"_s << u"a-"_s;
        QTest::newRow("comma") << u"a,"_s << u"a,"_s;
        QTest::newRow("blank") << u"a "_s << u"a "_s;
        QTest::newRow("empty") << QString() << QString();
    }

    void errorReportFullStop() {
        QFETCH(QString, text);
        QFETCH(QString, shown);
        QCOMPARE(Dialogs::errorReportText(text), shown);
        // The report itself shows the same text under the application title; a report without a
        // text, which ends a test elsewhere, says so in a sentence of its own.
        DialogsTestSeam::refuseEmptyTexts(false);
        const auto refuseAgain = qScopeGuard([] { DialogsTestSeam::refuseEmptyTexts(true); });
        DialogsTestSeam::queueAnswer(Answer::Ok);
        Dialogs::reportError(nullptr, text);
        QCOMPARE(DialogsTestSeam::last().kind, Kind::Stop);
        QCOMPARE(DialogsTestSeam::last().title, u"Tenemark 1.0"_s);
        QCOMPARE(DialogsTestSeam::last().text,
                 text.isEmpty() ? u"Действие не выполнено, причина не сообщена."_s : shown);
    }

    void guardTurnsFailureIntoReport() {
        DialogsTestSeam::queueAnswer(Answer::Ok);
        bool after = false;
        const bool ok = guard(nullptr, [&] {
            throw AppError(u"no such column: foo"_s);
            after = true;
        });
        QVERIFY(!ok);
        QVERIFY(!after);
        QCOMPARE(DialogsTestSeam::shown().size(), 1);
        QCOMPARE(DialogsTestSeam::last().text, u"no such column: foo."_s);
        QVERIFY(guard(nullptr, [] {}));
        QCOMPARE(DialogsTestSeam::shown().size(), 1);
    }

    void seamAnswersInOrderAndRecords() {
        DialogsTestSeam::queueAnswer(Answer::Yes);
        DialogsTestSeam::queueAnswer(Answer::No);
        DialogsTestSeam::queueAnswer(Answer::Ok, u"новый текст"_s);
        DialogsTestSeam::queueAnswer(Answer::Cancel, u"не этот"_s);
        QCOMPARE(DialogsTestSeam::pendingAnswers(), 4);

        QCOMPARE(Dialogs::askConfirmation(nullptr, u"Удалить?"_s), Answer::Yes);
        QCOMPARE(Dialogs::askConfirmation(nullptr, u"Точно?"_s), Answer::No);
        QString text = u"старый"_s;
        QVERIFY(Dialogs::promptText(nullptr, u"Заголовок"_s, u"Введите:"_s, text));
        QCOMPARE(text, u"новый текст"_s);
        QVERIFY(!Dialogs::promptText(nullptr, u"Заголовок"_s, u"Введите:"_s, text));
        QCOMPARE(text, u"новый текст"_s);
        QCOMPARE(DialogsTestSeam::pendingAnswers(), 0);

        const auto& shown = DialogsTestSeam::shown();
        QCOMPARE(shown.size(), 4);
        QCOMPARE(shown[0].kind, Kind::Confirmation);
        QCOMPARE(shown[0].title, u"Confirm"_s);
        QCOMPARE(shown[0].text, u"Удалить?"_s);
        QCOMPARE(shown[1].text, u"Точно?"_s);
        QCOMPARE(shown[2].kind, Kind::Prompt);
        QCOMPARE(shown[2].title, u"Заголовок"_s);

        DialogsTestSeam::queueAnswer(Answer::Ok);
        Dialogs::showError(nullptr, u"Этаж не является числом."_s);
        QCOMPARE(DialogsTestSeam::last().kind, Kind::Error);
        QCOMPARE(DialogsTestSeam::last().title, u"Error"_s);
        DialogsTestSeam::queueAnswer(Answer::Ok);
        Dialogs::showInformation(nullptr, u"Готово"_s);
        QCOMPARE(DialogsTestSeam::last().kind, Kind::Information);
        QCOMPARE(DialogsTestSeam::last().title, u"Information"_s);
        // An information box shows its text as given: no full stop rule there.
        QCOMPARE(DialogsTestSeam::last().text, u"Готово"_s);

        DialogsTestSeam::clear();
        QVERIFY(DialogsTestSeam::shown().isEmpty());
    }

    void queuedPromptTextIsCutToTheFieldLength() {
        DialogsTestSeam::queueAnswer(Answer::Ok, QString(300, u'я'));
        QString text;
        QVERIFY(Dialogs::promptText(nullptr, u"T"_s, u"P"_s, text));
        QCOMPARE(text.size(), 255);
    }

    void realConfirmationBox() {
        QString title;
        QStringList buttons;
        onNextModal([&](QWidget* box) {
            title = box->windowTitle();
            buttons = buttonTexts(box);
            QTest::keyClick(box, Qt::Key_Escape);
        });
        QCOMPARE(Dialogs::askConfirmation(nullptr, u"Удалить элемент?"_s), Answer::No);
        QCOMPARE(title, u"Confirm"_s);
        QCOMPARE(buttons, (QStringList{u"&No"_s, u"&Yes"_s}));

        onNextModal([](QWidget* box) {
            for (QAbstractButton* b : box->findChildren<QAbstractButton*>())
                if (b->text() == u"&Yes")
                    b->click();
        });
        QCOMPARE(Dialogs::askConfirmation(nullptr, u"Удалить элемент?"_s), Answer::Yes);
        // Both boxes went into the record as well.
        QCOMPARE(DialogsTestSeam::shown().size(), 2);
    }

    void realErrorBoxes() {
        QString title, text;
        QStringList buttons;
        onNextModal([&](QWidget* box) {
            title = box->windowTitle();
            buttons = buttonTexts(box);
            if (auto* mb = qobject_cast<QMessageBox*>(box))
                text = mb->text();
            QTest::keyClick(box, Qt::Key_Return);
        });
        Dialogs::reportError(nullptr, u"database is locked"_s);
        QCOMPARE(title, u"Tenemark 1.0"_s);
        QCOMPARE(text, u"database is locked."_s);
        QCOMPARE(buttons, QStringList{u"OK"_s});

        onNextModal([&](QWidget* box) {
            title = box->windowTitle();
            QTest::keyClick(box, Qt::Key_Return);
        });
        Dialogs::showError(nullptr, u"Не найден файл базы данных."_s);
        QCOMPARE(title, u"Error"_s);
    }

    void promptEnterAcceptsTypedText() {
        QString selected;
        onNextModal([&](QWidget* dialog) {
            auto* edit = dialog->findChild<QLineEdit*>(u"PromptEdit"_s);
            QVERIFY(edit);
            selected = edit->selectedText();
            QTest::keyClicks(edit, u"Kitchen 2"_s); // replaces the selected text
            QTest::keyClick(edit, Qt::Key_Return);
        });
        QString text = u"Вид с улицы"_s;
        QVERIFY(Dialogs::promptText(nullptr, u"Слайд"_s, u"Примечание:"_s, text));
        QCOMPARE(selected, u"Вид с улицы"_s);
        QCOMPARE(text, u"Kitchen 2"_s);
    }

    void promptEscCancelsAndKeepsText() {
        onNextModal([](QWidget* dialog) {
            auto* edit = dialog->findChild<QLineEdit*>(u"PromptEdit"_s);
            QVERIFY(edit);
            QTest::keyClicks(edit, u"something"_s);
            QTest::keyClick(edit, Qt::Key_Escape);
        });
        QString text = u"было"_s;
        QVERIFY(!Dialogs::promptText(nullptr, u"Слайд"_s, u"Примечание:"_s, text));
        QCOMPARE(text, u"было"_s);
    }

    void secretPromptHidesWhatIsTyped() {
        QLineEdit::EchoMode echo = QLineEdit::Normal;
        QString shownFirst = u"?"_s;
        onNextModal([&](QWidget* dialog) {
            auto* edit = dialog->findChild<QLineEdit*>(u"PromptEdit"_s);
            QVERIFY(edit);
            echo = edit->echoMode();
            shownFirst = edit->text();
            QTest::keyClicks(edit, u"Secret 1"_s);
            QTest::keyClick(edit, Qt::Key_Return);
        });
        QString text = u"не показывать"_s;
        QVERIFY(Dialogs::promptSecret(nullptr, u"Tenemark 1.0"_s, u"Пароль:"_s, text));
        QCOMPARE(echo, QLineEdit::Password);
        QCOMPARE(shownFirst, QString());
        QCOMPARE(text, u"Secret 1"_s);
    }

    void promptTakesAtMost255Characters() {
        onNextModal([](QWidget* dialog) {
            auto* edit = dialog->findChild<QLineEdit*>(u"PromptEdit"_s);
            QVERIFY(edit);
            QTest::keyClicks(edit, QString(300, u'x'));
            dialog->findChild<QPushButton*>(u"OkButton"_s)->click();
        });
        QString text;
        QVERIFY(Dialogs::promptText(nullptr, u"T"_s, u"P"_s, text));
        QCOMPARE(text, QString(255, u'x'));
    }

    void promptLimitCountsCharactersAndKeepsThemWhole_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("kept");
        const QString emoji = QString::fromUcs4(U"\U0001F3E0"); // two UTF-16 units
        const QString e = u"e\u0301"_s;                          // a letter and a combining accent
        QTest::newRow("short") << u"abc"_s << u"abc"_s;
        QTest::newRow("exactly 255") << QString(255, u'я') << QString(255, u'я');
        QTest::newRow("300 letters") << QString(300, u'я') << QString(255, u'я');
        const QString flag = QString::fromUcs4(U"\U0001F1F7\U0001F1FA"); // two code points, one character
        QTest::newRow("emoji past the limit goes whole") << QString(255, u'x') + emoji << QString(255, u'x');
        QTest::newRow("emoji as the last character stays whole")
            << QString(254, u'x') + emoji + u"tail"_s << QString(254, u'x') + emoji;
        QTest::newRow("flag across the limit goes whole") << QString(254, u'x') + flag << QString(254, u'x');
        QTest::newRow("emojis count once each") << emoji.repeated(200) << emoji.repeated(200);
        QTest::newRow("emojis past the limit") << emoji.repeated(300) << emoji.repeated(255);
        QTest::newRow("accent at 256 takes its letter") << QString(254, u'x') + e << QString(254, u'x');
        QTest::newRow("accent inside the limit") << QString(253, u'x') + e + u"yz"_s << QString(253, u'x') + e;
    }

    void promptLimitCountsCharactersAndKeepsThemWhole() {
        QFETCH(QString, text);
        QFETCH(QString, kept);
        QCOMPARE(TextPrompt::limited(text), kept);
        // Whatever is kept is valid UTF-16, so it converts to UTF-8 and back unchanged.
        QCOMPARE(QString::fromUtf8(TextPrompt::limited(text).toUtf8()), kept);
    }

    void pastedTextKeepsAnEmojiWhole() {
        const QString emoji = QString::fromUcs4(U"\U0001F600");
        onNextModal([&](QWidget* dialog) {
            auto* edit = dialog->findChild<QLineEdit*>(u"PromptEdit"_s);
            QVERIFY(edit);
            edit->insert(QString(254, u'a') + emoji + emoji); // what a paste does
            QTest::keyClick(edit, Qt::Key_Return);
        });
        QString text;
        QVERIFY(Dialogs::promptText(nullptr, u"T"_s, u"P"_s, text));
        // 255 characters in 256 UTF-16 units: the emoji is whole, the one after it left out.
        QCOMPARE(text, QString(254, u'a') + emoji);
    }

    void messageBoxesAreCentredOnTheScreen() {
        QWidget parent;
        parent.setGeometry(0, 0, 200, 100); // somewhere else, and hidden
        QPoint centre;
        onNextModal([&](QWidget* box) {
            centre = box->frameGeometry().center();
            QTest::keyClick(box, Qt::Key_Return);
        });
        Dialogs::showError(&parent, u"Не найден файл базы данных."_s);
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        QVERIFY2(qAbs(centre.x() - screen.center().x()) <= 1, qPrintable(QString::number(centre.x())));
        QVERIFY2(qAbs(centre.y() - screen.center().y()) <= 1, qPrintable(QString::number(centre.y())));
    }

    void longEntryWrapsInsideTheBox() {
        const QString entry(255, u'Ж');
        const QString question = u"Вы действительно хотите удалить запись \""_s + entry + u"\"?"_s;
        QRect box;
        int labelWidth = 0;
        int labelNeeds = 0;
        onNextModal([&](QWidget* dialog) {
            box = dialog->frameGeometry();
            auto* label = dialog->findChild<QLabel*>(u"qt_msgbox_label"_s);
            QVERIFY(label);
            labelWidth = label->width();
            labelNeeds = label->heightForWidth(labelWidth);
            QCOMPARE(label->text().remove(QChar(0x200B)), question);
            QCOMPARE(dialog->accessibleDescription(), question);
            QTest::keyClick(dialog, Qt::Key_Escape);
        });
        QCOMPARE(Dialogs::askConfirmation(nullptr, question), Answer::No);
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        QVERIFY2(screen.contains(box), qPrintable(u"%1 x %2"_s.arg(box.width()).arg(box.height())));
        // The text fits its label: it wrapped instead of running past the edge.
        const int oneLine = QFontMetrics(QApplication::font()).height();
        QVERIFY2(labelNeeds > 3 * oneLine, qPrintable(QString::number(labelNeeds)));
        QCOMPARE(DialogsTestSeam::last().text, question);
    }

    void returnOnTheConfirmationAnswersYes() {
        onNextModal([](QWidget* box) { QTest::keyClick(box, Qt::Key_Return); });
        QCOMPARE(Dialogs::askConfirmation(nullptr, u"Удалить?"_s), Answer::Yes);
    }

    void promptIsCentredOnTheScreen() {
        TextPrompt prompt(nullptr, u"T"_s, u"P"_s, u"abc"_s);
        prompt.show();
        QVERIFY(QTest::qWaitForWindowExposed(&prompt));
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        QVERIFY(qAbs(prompt.frameGeometry().center().x() - screen.center().x()) <= 1);
        QVERIFY(qAbs(prompt.frameGeometry().center().y() - screen.center().y()) <= 1);
        QCOMPARE(prompt.windowTitle(), u"T"_s);
        prompt.reject();
    }
};

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
