#include "Dialogs.h"
#include "ReportFileName.h"
#include "ReportListModel.h"
#include "ReportTestData.h"
#include "ShellLaunch.h"
#include "TRepForm.h"
#include "TestSupport.h"
#include "Windows1251.h"

#include <QAbstractItemModelTester>
#include <QDir>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QTableView>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

QTableView* list(TRepForm& f) {
    return f.findChild<QTableView*>(u"ListView1"_s);
}
QPushButton* button(TRepForm& f, const char* name) {
    return f.findChild<QPushButton*>(QString::fromLatin1(name));
}

std::unique_ptr<QStandardItemModel> threeRows() {
    return makeSourceList({u"Район"_s, u"Цена"_s},
                          {{u"Центральный"_s, u"100"_s}, {u"Заречный"_s, u"200"_s}, {u"Южный"_s, u"300"_s}},
                          {11, 12, 13});
}

// Types any text, one key per character (QTest::keyClicks takes Latin-1 only).
void typeText(QWidget* widget, const QString& text) {
    for (const QChar c : text)
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

QStringList reportFiles(const TempCatalogue& cat) {
    return QDir(cat.path(u"RepTmp"_s)).entryList(QDir::Files, QDir::Name);
}

} // namespace

class TestRepForm : public QObject {
    Q_OBJECT
    bool m_boxExpected = false;

private Q_SLOTS:
    void init() {
        ShellLaunchTestSeam::setRecording(true);
        ShellLaunchTestSeam::clear();
        DialogsTestSeam::clear();
        // A box nobody expects must not block the run; cleanup() fails the test for it.
        for (int i = 0; i < 3; ++i)
            DialogsTestSeam::queueAnswer(Dialogs::Answer::Ok);
        m_boxExpected = false;
    }

    void cleanup() {
        if (!m_boxExpected && !DialogsTestSeam::shown().isEmpty())
            QFAIL(qPrintable(u"unexpected message: "_s + DialogsTestSeam::last().text));
    }

    void windowAsLaidOut() {
        TempCatalogue cat(false);
        TRepForm f;
        f.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f));
        QCOMPARE(f.windowTitle(), u"Отчеты"_s);
        QCOMPARE(f.size(), QSize(711, 533));
        QCOMPARE(list(f)->geometry(), QRect(8, 8, 697, 473));
        struct Expected {
            const char* name;
            QRect geometry;
            QString text;
            QString tip;
            QString accessible;
        };
        const Expected buttons[] = {
            {"BitBtn1", QRect(8, 489, 121, 33), u"Закрыть"_s, u"Esc"_s, u"Закрыть"_s},
            {"BitBtn4", QRect(137, 489, 121, 33), u"Печать"_s, QString(), u"Печать"_s},
            {"BitBtn3", QRect(591, 489, 57, 33), QString(), u"Пометить все"_s, u"Пометить все"_s},
            {"BitBtn2", QRect(656, 489, 49, 33), QString(), u"Снять пометку со всех"_s,
             u"Снять пометку со всех"_s},
        };
        for (const Expected& e : buttons) {
            QPushButton* b = button(f, e.name);
            QVERIFY2(b, e.name);
            QCOMPARE(b->geometry(), e.geometry);
            QCOMPARE(b->text(), e.text);
            QCOMPARE(b->toolTip(), e.tip);
            QCOMPARE(b->accessibleName(), e.accessible);
            QVERIFY(!b->icon().isNull());
            QVERIFY(!b->autoDefault());
        }
        QVERIFY(!list(f)->accessibleName().isEmpty());
        QVERIFY(list(f)->showGrid());

        // Anchors: the list grows with the window, the picture buttons keep to the right edge.
        f.resize(811, 583);
        QTRY_COMPARE(list(f)->geometry(), QRect(8, 8, 797, 523));
        QCOMPARE(button(f, "BitBtn1")->geometry(), QRect(8, 539, 121, 33));
        QCOMPARE(button(f, "BitBtn2")->geometry(), QRect(756, 539, 49, 33));
        QCOMPARE(button(f, "BitBtn3")->geometry(), QRect(691, 539, 57, 33));
    }

    void fillsWithAFreshTickedCopy() {
        TempCatalogue cat(false);
        auto source = threeRows();
        TRepForm f;
        QAbstractItemModelTester tester(f.listModel(),
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        f.Fill(*source, {140, 60});
        QTableView* view = list(f);
        QCOMPARE(view->model()->rowCount(), 3);
        QCOMPARE(view->horizontalHeader()->sectionSize(0), 140);
        QCOMPARE(view->horizontalHeader()->sectionSize(1), 60);
        QCOMPARE(view->model()->headerData(1, Qt::Horizontal).toString(), u"Цена"_s);
        QCOMPARE(view->model()->index(0, 0).data().toString(), u"Центральный"_s);
        for (int r = 0; r < 3; ++r)
            QCOMPARE(view->model()->index(r, 0).data(Qt::CheckStateRole).toInt(), int(Qt::Checked));

        button(f, "BitBtn2")->click();
        QCOMPARE(f.listModel()->checkedCount(), 0);
        button(f, "BitBtn3")->click();
        QCOMPARE(f.listModel()->checkedCount(), 3);
        button(f, "BitBtn2")->click();
        // Refilling ticks everything again.
        f.Fill(*source, {140, 60});
        QCOMPARE(f.listModel()->checkedCount(), 3);
        // The source model was never touched.
        QCOMPARE(source->index(0, 0).data(ListRoles::FullText).toString(), u"Центральный"_s);
        QCOMPARE(source->rowCount(), 3);

        // Widths taken from a view in column order.
        QTableView sourceView;
        sourceView.setModel(source.get());
        sourceView.setColumnWidth(0, 77);
        sourceView.setColumnWidth(1, 55);
        QCOMPARE(TRepForm::columnWidths(sourceView), (QList<int>{77, 55}));
    }

    void tickingAndEditingAsAUser() {
        TempCatalogue cat(false);
        auto source = threeRows();
        TRepForm f;
        f.Fill(*source, {});
        f.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f));
        QTableView* view = list(f);
        view->setFocus();

        // Space on a row flips its tick.
        view->setCurrentIndex(view->model()->index(1, 0));
        QTest::keyClick(view, Qt::Key_Space);
        QVERIFY(!f.listModel()->isChecked(1));
        QVERIFY(f.listModel()->isChecked(0));

        // F2 edits the first column in place; Enter keeps the text.
        view->setCurrentIndex(view->model()->index(0, 0));
        QTest::keyClick(view, Qt::Key_F2);
        auto* editor = view->findChild<QLineEdit*>();
        QVERIFY(editor);
        editor->selectAll();
        typeText(editor, u"Центр, угловая"_s);
        QTest::keyClick(editor, Qt::Key_Return);
        // The view commits the text from the event loop.
        QTRY_COMPARE(f.listModel()->cellText(0, 0), u"Центр, угловая"_s);
        QVERIFY(f.isVisible());

        // Esc in the editor drops the edit and leaves the window open.
        view->setCurrentIndex(view->model()->index(2, 0));
        QTest::keyClick(view, Qt::Key_F2);
        editor = view->findChild<QLineEdit*>();
        QVERIFY(editor && editor->isVisible());
        QTest::keyClicks(editor, u"xyz"_s);
        QTest::keyClick(editor, Qt::Key_Escape);
        QCOMPARE(f.listModel()->cellText(2, 0), u"Южный"_s);
        QVERIFY(f.isVisible());

        // Enter alone does nothing.
        QTest::keyClick(view, Qt::Key_Return);
        QVERIFY(f.isVisible());
        QVERIFY(ShellLaunchTestSeam::launches().isEmpty());

        // Печать writes the edited text and the ticked rows only, and the window stays open.
        QTest::mouseClick(button(f, "BitBtn4"), Qt::LeftButton);
        QVERIFY(f.isVisible());
        QCOMPARE(ShellLaunchTestSeam::launches().size(), 1);
        const QString path = ShellLaunchTestSeam::launches().at(0).target;
        QCOMPARE(ShellLaunchTestSeam::launches().at(0).opener, ShellLaunch::Opener::Spreadsheet);
        QCOMPARE(path, cat.path(u"RepTmp/Общий отчет "_s) + ReportFileDate(QDate::currentDate()) + u".htm"_s);
        const QString text = Windows1251::decode(cat.readFile(u"RepTmp/"_s + QFileInfo(path).fileName()));
        QVERIFY(text.contains(
            u"<td align=\"right\" valign=\"middle\">&nbsp;1</td>\r\n"
            u"<td align=\"justiful\" valign=\"middle\" sdnum=\"1033;0;@\">Центр, угловая</td>\r\n"_s));
        QVERIFY(
            text.contains(u"<td align=\"right\" valign=\"middle\">&nbsp;2</td>\r\n"
                          u"<td align=\"justiful\" valign=\"middle\" sdnum=\"1033;0;@\">Южный</td>\r\n"_s));
        QVERIFY(!text.contains(u"Заречный"_s));
        QVERIFY(!text.contains(u"&nbsp;3</td>"_s));
        // The main list keeps its own text.
        QCOMPARE(source->index(0, 0).data(ListRoles::FullText).toString(), u"Центральный"_s);

        // A second report in the same visit gets the next name.
        QTest::mouseClick(button(f, "BitBtn4"), Qt::LeftButton);
        QCOMPARE(reportFiles(cat).size(), 2);
        QCOMPARE(ShellLaunchTestSeam::launches().at(1).target,
                 cat.path(u"RepTmp/Общий отчет "_s) + ReportFileDate(QDate::currentDate()) + u" (1).htm"_s);

        // Esc closes the window as cancelled.
        QTest::keyClick(view, Qt::Key_Escape);
        QVERIFY(!f.isVisible());
        QCOMPARE(f.result(), int(QDialog::Rejected));
    }

    void openedModallyAndClosedByItsButton() {
        TempCatalogue cat(false);
        auto source = threeRows();
        TRepForm f;
        int visits = 0;
        for (int visit = 0; visit < 2; ++visit) {
            onNextModal([&](QWidget* w) {
                auto* form = qobject_cast<TRepForm*>(w);
                auto close = qScopeGuard([w] { w->hide(); });
                QVERIFY(form == &f);
                ++visits;
                // Each visit starts from a fresh copy with every row ticked.
                QCOMPARE(form->listModel()->rowCount(), 3);
                QCOMPARE(form->listModel()->checkedCount(), 3);
                QTest::mouseClick(button(*form, "BitBtn2"), Qt::LeftButton);
                QCOMPARE(form->listModel()->checkedCount(), 0);
                close.dismiss();
                QTest::mouseClick(button(*form, "BitBtn1"), Qt::LeftButton);
            });
            f.Open(*source, {100, 50});
            QVERIFY(!f.isVisible());
            QCOMPARE(f.result(), int(QDialog::Rejected));
        }
        QCOMPARE(visits, 2);
        QVERIFY(ShellLaunchTestSeam::launches().isEmpty());
    }

    void failedPrintIsReportedAndTheWindowStays() {
        TempCatalogue cat(false);
        cat.writeFile(u"RepTmp"_s, "not a folder");
        auto source = threeRows();
        TRepForm f;
        f.Fill(*source, {});
        f.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f));
        m_boxExpected = true;
        button(f, "BitBtn4")->click();
        QCOMPARE(DialogsTestSeam::shown().size(), 1);
        QCOMPARE(DialogsTestSeam::last().kind, Dialogs::Kind::Stop);
        QCOMPARE(DialogsTestSeam::last().text,
                 u"Cannot create file \"%1\". Not a directory."_s.arg(
                     cat.path(u"RepTmp/Общий отчет "_s) + ReportFileDate(QDate::currentDate()) + u".htm"_s));
        QVERIFY(f.isVisible());
        QCOMPARE(f.listModel()->checkedCount(), 3);
        QVERIFY(ShellLaunchTestSeam::launches().isEmpty());
    }
};

QTEST_MAIN(TestRepForm)
#include "tst_repform.moc"
