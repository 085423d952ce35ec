#include "AppError.h"
#include "Database.h"
#include "Dialogs.h"
#include "ShellLaunch.h"
#include "Statements.h"
#include "TAboutForm.h"
#include "TestSupport.h"
#include "TextPrompt.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionGroupBox>
#include <QTest>
#include <QWindow>

using namespace Qt::StringLiterals;
using Dialogs::Answer;

namespace {

// The answer to one box of the procedure, in the order the boxes appear.
struct Reply {
    Answer answer;
    QString text;
};
using Replies = QList<Reply>;

Reply typed(const QString& text) {
    return {Answer::Ok, text};
}
const Reply Cancel{Answer::Cancel, QString()};
const Reply Ok{Answer::Ok, QString()};

// Every box shown, one line each: "prompt <title>/<prompt>", "error <text>", "stop <title>/<text>".
QStringList shownBoxes() {
    QStringList lines;
    for (const DialogsTestSeam::Shown& s : DialogsTestSeam::shown()) {
        if (s.kind == Dialogs::Kind::Prompt || s.kind == Dialogs::Kind::Stop)
            lines << (s.kind == Dialogs::Kind::Prompt ? u"prompt "_s : u"stop "_s) + s.title + u'/' + s.text;
        else
            lines << (s.kind == Dialogs::Kind::Error ? u"error "_s : u"info "_s) + s.text;
    }
    return lines;
}

// The table's rows in storage order; a null shows as "<null>".
QStringList storedRows() {
    QSqlQuery q(Database::connection());
    if (!q.exec(u"select pwl_value from pwl_cell order by rowid"_s))
        qFatal("cannot read pwl_cell");
    QStringList rows;
    while (q.next())
        rows << (q.value(0).isNull() ? u"<null>"_s : q.value(0).toString());
    return rows;
}

const QString OldPrompt = u"prompt Введите старый пароль/Пароль"_s;
const QString NewPrompt = u"prompt Введите новый пароль/Пароль"_s;
const QString AgainPrompt = u"prompt Введите новый пароль еще раз/Пароль"_s;
const QString WrongPassword = u"error Ошибка ввода пароля!"_s;
const QString Mismatch = u"error Новый пароль и его подтверждение различны!"_s;
const QString Changed = u"info Пароль успешно изменен!"_s;

template <class T> T* child(QWidget& w, const char* name) {
    T* found = w.findChild<T*>(QString::fromLatin1(name));
    if (!found)
        qFatal("no control %s", name);
    return found;
}

} // namespace

Q_DECLARE_METATYPE(Replies)

class TestAboutForm : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() {
        DialogsTestSeam::clear();
        ShellLaunchTestSeam::setRecording(true);
        ShellLaunchTestSeam::clear();
    }

    void cleanup() { QCOMPARE(DialogsTestSeam::pendingAnswers(), 0); }

    void windowAsLaidOut() {
        TempCatalogue cat;
        StoreQuery query;
        TAboutForm f([&query]() -> StoreQuery& { return query; });
        f.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f));

        QCOMPARE(f.objectName(), u"TAboutForm"_s);
        QCOMPARE(f.windowTitle(), u"О программе"_s);
        QCOMPARE(f.size(), QSize(524, 153));
        QCOMPARE(f.minimumSize(), f.maximumSize());
        QVERIFY(f.isModal());
        QVERIFY(f.windowFlags() & Qt::WindowCloseButtonHint);
        QVERIFY(!(f.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint |
                                     Qt::WindowContextHelpButtonHint)));

        // The three lines at the top left, each showing its whole text.
        struct Line {
            const char* name;
            QPoint pos;
            QString text;
            bool bold;
        };
        for (const Line& l : {Line{"Label1", QPoint(24, 8), u"Tenemark 1.0"_s, true},
                              Line{"Label2", QPoint(24, 24), u"Версия: 1.00.00"_s, false},
                              Line{"Label13", QPoint(24, 40), u"https://tenemark.example/"_s, true}}) {
            auto* label = child<QLabel>(f, l.name);
            QCOMPARE(label->pos(), l.pos);
            QCOMPARE(label->text(), l.text);
            QCOMPARE(label->accessibleName(), l.text);
            QCOMPARE(label->font().bold(), l.bold);
            QVERIFY2(label->fontMetrics().horizontalAdvance(l.text) <= label->contentsRect().width(), l.name);
            QVERIFY2(label->geometry().bottom() < 71, l.name); // clear of the group box
        }

        auto* link = child<QLabel>(f, "Label13");
        QVERIFY(link->font().underline());
        QCOMPARE(link->cursor().shape(), Qt::PointingHandCursor);
        QCOMPARE(link->palette().color(QPalette::WindowText), f.palette().color(QPalette::Link));
        QVERIFY(!link->accessibleDescription().isEmpty());

        auto* maker = child<QLabel>(f, "Label3");
        QCOMPARE(maker->geometry(), QRect(216, 0, 263, 48));
        QCOMPARE(maker->text(), u"Tenemark"_s);
        QCOMPARE(maker->accessibleName(), u"Tenemark"_s);
        QCOMPARE(maker->font().pixelSize(), 40);
        QCOMPARE(maker->font().families().value(0), u"Tahoma"_s);
        QCOMPARE(maker->alignment(), Qt::AlignCenter);
        QCOMPARE(maker->palette().color(QPalette::WindowText), QColor(0xC0, 0xC0, 0xC0));
        // The name fits its label as drawn.
        const QFontMetrics makerMetrics(maker->font());
        QVERIFY(makerMetrics.horizontalAdvance(maker->text()) <= 263);
        QVERIFY(makerMetrics.height() <= 48);

        auto* group = child<QGroupBox>(f, "GroupBox1");
        QCOMPARE(group->geometry(), QRect(8, 71, 249, 57));
        QCOMPARE(group->title(), u"Пароль"_s);
        QCOMPARE(group->accessibleName(), u"Пароль"_s);

        struct Button {
            const char* name;
            QWidget* parent;
            QRect geometry; // the password button's place depends on where the style puts the title
            QString text;
            QString tip;
        };
        for (const Button& b : {Button{"SetPwlBtn", group, QRect(12, -1, 225, 33),
                                       u"Установить (изменить) пароль"_s, QString()},
                                Button{"CancelBtn", &f, QRect(304, 87, 185, 33), u"Закрыть"_s, u"Esc"_s}}) {
            auto* button = child<QPushButton>(f, b.name);
            QCOMPARE(button->parentWidget(), b.parent);
            QCOMPARE(button->x(), b.geometry.x());
            if (b.geometry.y() >= 0)
                QCOMPARE(button->y(), b.geometry.y());
            QCOMPARE(button->size(), b.geometry.size());
            QCOMPARE(button->text(), b.text);
            QCOMPARE(button->accessibleName(), b.text);
            QCOMPARE(button->toolTip(), b.tip);
            QCOMPARE(button->iconSize(), QSize(24, 24));
            QVERIFY2(!button->icon().pixmap(24, 24).isNull(), b.name);
            // The caption and the icon fit the button.
            QVERIFY2(button->sizeHint().width() <= b.geometry.width(), b.name);
        }
        // The password button sits in the middle of the group's frame, below its title.
        QStyleOptionGroupBox option;
        option.initFrom(group);
        option.text = group->title();
        option.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
        const QRect title =
            group->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, group);
        const QRect inside = group->contentsRect();
        const QRect setButton = child<QPushButton>(f, "SetPwlBtn")->geometry();
        QVERIFY(inside.contains(setButton));
        QVERIFY2(setButton.top() > title.bottom(), qPrintable(u"title ends at %1"_s.arg(title.bottom())));
        QVERIFY(std::abs((setButton.top() - inside.top()) - (inside.bottom() - setButton.bottom())) <= 1);

        // Every control carries a name, for tests and for assistive technology.
        for (QWidget* w : f.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            QVERIFY2(!w->objectName().isEmpty(), w->metaObject()->className());
            QVERIFY2(!w->accessibleName().isEmpty(), qPrintable(w->objectName()));
        }
    }

    void passwordProcedure_data() {
        QTest::addColumn<QVariantList>("rows");
        QTest::addColumn<Replies>("replies");
        QTest::addColumn<QStringList>("boxes");
        QTest::addColumn<QStringList>("stored");

        QTest::newRow("none set") << QVariantList{} << Replies{typed(u"abc"_s), typed(u"abc"_s), Ok}
                                  << QStringList{NewPrompt, AgainPrompt, Changed} << QStringList{u"abc"_s};
        QTest::newRow("null value") << QVariantList{QVariant()}
                                    << Replies{typed(u"abc"_s), typed(u"abc"_s), Ok}
                                    << QStringList{NewPrompt, AgainPrompt, Changed} << QStringList{u"abc"_s};
        QTest::newRow("empty value") << QVariantList{u""_s} << Replies{typed(u"Ключ"_s), typed(u"Ключ"_s), Ok}
                                     << QStringList{NewPrompt, AgainPrompt, Changed}
                                     << QStringList{u"Ключ"_s};
        QTest::newRow("right password")
            << QVariantList{u"Secret"_s}
            << Replies{typed(u"Secret"_s), typed(u"next "_s), typed(u"next "_s), Ok}
            << QStringList{OldPrompt, NewPrompt, AgainPrompt, Changed} << QStringList{u"next "_s};
        QTest::newRow("wrong case") << QVariantList{u"Secret"_s} << Replies{typed(u"secret"_s), Ok}
                                    << QStringList{OldPrompt, WrongPassword} << QStringList{u"Secret"_s};
        QTest::newRow("trailing blank") << QVariantList{u"Secret"_s} << Replies{typed(u"Secret "_s), Ok}
                                        << QStringList{OldPrompt, WrongPassword} << QStringList{u"Secret"_s};
        QTest::newRow("old prompt cancelled") << QVariantList{u"Secret"_s} << Replies{Cancel}
                                              << QStringList{OldPrompt} << QStringList{u"Secret"_s};
        QTest::newRow("first new prompt cancelled")
            << QVariantList{u"Secret"_s} << Replies{typed(u"Secret"_s), Cancel}
            << QStringList{OldPrompt, NewPrompt} << QStringList{u"Secret"_s};
        QTest::newRow("confirmation cancelled")
            << QVariantList{u"Secret"_s} << Replies{typed(u"Secret"_s), typed(u"new"_s), Cancel}
            << QStringList{OldPrompt, NewPrompt, AgainPrompt} << QStringList{u"Secret"_s};
        QTest::newRow("mismatched confirmation")
            << QVariantList{u"Secret"_s} << Replies{typed(u"Secret"_s), typed(u"new"_s), typed(u"New"_s), Ok}
            << QStringList{OldPrompt, NewPrompt, AgainPrompt, Mismatch} << QStringList{u"Secret"_s};
        QTest::newRow("several rows become one")
            << QVariantList{u"first"_s, u"second"_s, QVariant()}
            << Replies{typed(u"first"_s), typed(u"x"_s), typed(u"x"_s), Ok}
            << QStringList{OldPrompt, NewPrompt, AgainPrompt, Changed} << QStringList{u"x"_s};
        QTest::newRow("second row is not the password")
            << QVariantList{u"first"_s, u"second"_s} << Replies{typed(u"second"_s), Ok}
            << QStringList{OldPrompt, WrongPassword} << QStringList{u"first"_s, u"second"_s};
    }

    void passwordProcedure() {
        QFETCH(QVariantList, rows);
        QFETCH(Replies, replies);
        QFETCH(QStringList, boxes);
        QFETCH(QStringList, stored);

        TempCatalogue cat;
        for (const QVariant& row : rows)
            cat.exec(u"insert into pwl_cell (pwl_value) values (?)"_s, {row});
        StoreQuery query;
        TAboutForm f([&query]() -> StoreQuery& { return query; });
        for (const Reply& r : replies)
            DialogsTestSeam::queueAnswer(r.answer, r.text);

        child<QPushButton>(f, "SetPwlBtn")->click();

        QCOMPARE(shownBoxes(), boxes);
        QCOMPARE(storedRows(), stored);
        // A change runs on the main query object: its last statement is the insert.
        if (boxes.contains(Changed)) {
            QCOMPARE(query.text(), Statements::insertPassword());
            QCOMPARE(query.boundValues().size(), 1);
            QCOMPARE(query.boundValues().first().first, u"p"_s);
            QCOMPARE(query.boundValues().first().second.toString(), stored.first());
        } else {
            QCOMPARE(query.text(), Statements::selectPassword());
        }
    }

    void emptyPasswordCountsAsUnset() {
        TempCatalogue cat;
        cat.exec(u"insert into pwl_cell (pwl_value) values ('Secret')"_s);
        StoreQuery query;
        TAboutForm f([&query]() -> StoreQuery& { return query; });
        for (const Reply& r : {typed(u"Secret"_s), typed(QString()), typed(QString()), Ok})
            DialogsTestSeam::queueAnswer(r.answer, r.text);
        child<QPushButton>(f, "SetPwlBtn")->click();
        QCOMPARE(storedRows(), QStringList{QString(u""_s)});

        // The next run asks for no current password.
        DialogsTestSeam::clear();
        for (const Reply& r : {typed(u"Новый"_s), typed(u"Новый"_s), Ok})
            DialogsTestSeam::queueAnswer(r.answer, r.text);
        child<QPushButton>(f, "SetPwlBtn")->click();
        QCOMPARE(shownBoxes(), (QStringList{NewPrompt, AgainPrompt, Changed}));
        QCOMPARE(storedRows(), QStringList{u"Новый"_s});
    }

    void refusedInsertKeepsTheOldPassword() {
        TempCatalogue cat;
        cat.exec(u"insert into pwl_cell (pwl_value) values ('Secret')"_s);
        cat.exec(u"create trigger refuse_password before insert on pwl_cell "
                 u"begin select raise(abort, 'password refused'); end"_s);
        StoreQuery query;
        TAboutForm f([&query]() -> StoreQuery& { return query; });
        for (const Reply& r : {typed(u"Secret"_s), typed(u"new"_s), typed(u"new"_s), Ok})
            DialogsTestSeam::queueAnswer(r.answer, r.text);
        child<QPushButton>(f, "SetPwlBtn")->click();

        // The general error report, and no success message.
        QCOMPARE(shownBoxes(),
                 (QStringList{OldPrompt, NewPrompt, AgainPrompt, u"stop Tenemark 1.0/password refused."_s}));
        QCOMPARE(storedRows(), QStringList{u"Secret"_s});
    }

    void failingReadIsReported() {
        TempCatalogue cat;
        cat.exec(u"drop table pwl_cell"_s);
        StoreQuery query;
        TAboutForm f([&query]() -> StoreQuery& { return query; });
        DialogsTestSeam::queueAnswer(Answer::Ok);
        child<QPushButton>(f, "SetPwlBtn")->click();
        QCOMPARE(shownBoxes(), QStringList{u"stop Tenemark 1.0/no such table: pwl_cell."_s});
    }

    void realPromptShowsWhatIsTyped() {
        TempCatalogue cat;
        StoreQuery query;
        TAboutForm f([&query]() -> StoreQuery& { return query; });
        QStringList seen;
        // Reads the prompt as the operator sees it, then types and presses Enter.
        auto answer = [&seen](QWidget* modal, const QString& text) {
            auto* prompt = qobject_cast<TextPrompt*>(modal);
            QVERIFY(prompt);
            auto* edit = prompt->findChild<QLineEdit*>();
            QVERIFY(edit);
            const QString initial = edit->text();
            QTest::keyClicks(edit, text);
            seen << u"%1|%2|%3|%4"_s.arg(prompt->windowTitle(), initial, edit->displayText(),
                                         edit->echoMode() == QLineEdit::Normal ? u"shown"_s : u"hidden"_s);
            QTest::keyClick(edit, Qt::Key_Return);
        };
        onNextModal([&](QWidget* first) {
            answer(first, u"Abc 1"_s);
            onNextModal([&](QWidget* second) {
                // The success message that follows is answered in advance.
                DialogsTestSeam::queueAnswer(Answer::Ok);
                answer(second, u"Abc 1"_s);
            });
        });
        child<QPushButton>(f, "SetPwlBtn")->click();

        QCOMPARE(seen, (QStringList{u"Введите новый пароль||Abc 1|shown"_s,
                                    u"Введите новый пароль еще раз||Abc 1|shown"_s}));
        QCOMPARE(shownBoxes(), (QStringList{NewPrompt, AgainPrompt, Changed}));
        QCOMPARE(storedRows(), QStringList{u"Abc 1"_s});
    }

    void linkOpensTheAddress() {
        TempCatalogue cat;
        StoreQuery query;
        TAboutForm f([&query]() -> StoreQuery& { return query; });
        f.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f));
        auto* link = child<QLabel>(f, "Label13");

        // Other buttons, or a release outside the label, open nothing.
        QTest::mouseClick(link, Qt::RightButton);
        QTest::mouseRelease(link, Qt::LeftButton, {}, QPoint(link->width() + 5, 2));
        QCOMPARE(ShellLaunchTestSeam::launches().size(), 0);

        QTest::mouseClick(link, Qt::LeftButton);
        QCOMPARE(ShellLaunchTestSeam::launches().size(), 1);
        QCOMPARE(ShellLaunchTestSeam::launches().first().opener, ShellLaunch::Opener::Default);
        QCOMPARE(ShellLaunchTestSeam::launches().first().target, u"https://tenemark.example/"_s);
        QVERIFY(f.isVisible());

        // A click as the window system delivers it to the window reaches the label too.
        QTest::mouseClick(f.windowHandle(), Qt::LeftButton, {}, link->geometry().center());
        QCOMPARE(ShellLaunchTestSeam::launches().size(), 2);
        QCOMPARE(ShellLaunchTestSeam::launches().last().target, u"https://tenemark.example/"_s);
        QVERIFY(DialogsTestSeam::shown().isEmpty());
    }

    void everyClosingRunsTheHandlerOnce_data() {
        QTest::addColumn<int>("way");
        QTest::newRow("Esc") << 0;
        QTest::newRow("Закрыть") << 1;
        QTest::newRow("close box") << 2;
    }

    void everyClosingRunsTheHandlerOnce() {
        QFETCH(int, way);
        TempCatalogue cat;
        StoreQuery query;
        TAboutForm f([&query]() -> StoreQuery& { return query; });
        int closings = 0;
        f.setCloseHandler([&closings] { ++closings; });

        auto close = [way](QWidget* modal) {
            QVERIFY(QTest::qWaitForWindowExposed(modal));
            switch (way) {
            case 0:
                QTest::keyClick(modal->focusWidget() ? modal->focusWidget() : modal, Qt::Key_Escape);
                break;
            case 1:
                QTest::mouseClick(modal->findChild<QPushButton*>(u"CancelBtn"_s), Qt::LeftButton);
                break;
            default:
                // What the window system sends for the title bar's close box.
                modal->windowHandle()->close();
                break;
            }
        };
        for (int opening = 1; opening <= 2; ++opening) {
            onNextModal(close);
            f.Open();
            QVERIFY(!f.isVisible());
            QCOMPARE(closings, opening);
        }
        QVERIFY(DialogsTestSeam::shown().isEmpty());
    }

    void failingCloseHandlerIsReported() {
        TempCatalogue cat;
        StoreQuery query;
        TAboutForm f([&query]() -> StoreQuery& { return query; });
        f.setCloseHandler([] { throw AppError(u"cannot write kvarta.ini"_s); });
        DialogsTestSeam::queueAnswer(Answer::Ok);
        onNextModal([](QWidget* modal) { QTest::keyClick(modal, Qt::Key_Escape); });
        f.Open();
        QVERIFY(!f.isVisible());
        QCOMPARE(shownBoxes(), QStringList{u"stop Tenemark 1.0/cannot write kvarta.ini."_s});
    }
};

QTEST_MAIN(TestAboutForm)
#include "tst_aboutform.moc"
