#include "Dialogs.h"
#include "TestSupport.h"

#include <QApplication>
#include <QProcess>
#include <QTest>

using namespace Qt::StringLiterals;

// Run as a child: a test that meets a box nobody answers.
class UnansweredBox : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void showsAnErrorNobodyExpects() {
        Dialogs::showError(nullptr, u"Этаж не является числом."_s);
        QVERIFY(true);
    }
    void runsOnAfterwards() { QCOMPARE(1 + 1, 2); }
};

class TestModalWatchdog : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void unexpectedModalFailsTheTestWithItsText() {
        QProcess child;
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QCoreApplication::applicationFilePath(), {u"--unanswered"_s});
        QVERIFY(child.waitForFinished(60000));
        const QString output = QString::fromUtf8(child.readAll());
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 1); // one failed test function
        QVERIFY2(output.contains(u"FAIL!  : UnansweredBox::showsAnErrorNobodyExpects() unexpected modal window: "
                                 u"Error: Этаж не является числом."_s),
                 qPrintable(output));
        QVERIFY2(output.contains(u"PASS   : UnansweredBox::runsOnAfterwards()"_s), qPrintable(output));
    }

    void expectedModalIsLeftToItsHandler() {
        QString text;
        onNextModal([&](QWidget* box) {
            text = box->windowTitle();
            QTest::keyClick(box, Qt::Key_Return);
        });
        Dialogs::showInformation(nullptr, u"Готово"_s);
        QCOMPARE(text, u"Information"_s);
    }
};

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc > 1 && qstrcmp(argv[1], "--unanswered") == 0) {
        UnansweredBox child;
        return QTest::qExec(&child, 1, argv);
    }
    TestModalWatchdog test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_modalwatchdog.moc"
