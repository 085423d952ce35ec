// A scanner that fails in the middle of a transfer (SANE's test backend told to answer every read
// with an I/O error): the card reports the failure, stores nothing, and the next press of
// "Сканировать" opens the source again.

#include "AppPaths.h"
#include "CardTestSupport.h"
#include "Dialogs.h"
#include "SaneTestSupport.h"
#include "SlideStrip.h"
#include "SlidesPage.h"
#include "TTWAIN.h"

#include <QDialog>
#include <QScopeGuard>
#include <QTabWidget>

using namespace Qt::StringLiterals;
using namespace CardTest;
using namespace SourceDialogDriver;

class CardScanFaultTest : public QObject {
    Q_OBJECT

    std::unique_ptr<SaneTestConfig> config;

    // Presses "Сканировать", scans a small colour area and waits until the dialog is gone.
    static void scanOnce(QWidget* w) {
        const auto closeLeftDialog = qScopeGuard([] {
            if (QDialog* dialog = find())
                dialog->reject();
        });
        bool driven = false;
        onNextModal(
            [&](QWidget* modal) {
                auto* dialog = qobject_cast<QDialog*>(modal);
                QVERIFY(dialog);
                QVERIFY(waitForReady());
                QVERIFY(choose(dialog, "DeviceCB", u"test:0"_s));
                QVERIFY(waitForReady());
                QVERIFY(choose(dialog, "ModeCB", true));
                QVERIFY(choose(dialog, "ResolutionCB", 75));
                setArea(dialog, QRectF(0, 0, 30, 30));
                click(dialog, "ScanBtn");
                QTRY_VERIFY_WITH_TIMEOUT(!find(), 30000);
                driven = true;
            },
            10000);
        clickButton(w, "BitBtn2");
        QTRY_VERIFY_WITH_TIMEOUT(driven, 40000);
    }

private Q_SLOTS:
    void initTestCase() {
        config = std::make_unique<SaneTestConfig>(
            QMap<QString, QString>{{u"read-status-code"_s, u"\"SANE_STATUS_IO_ERROR\""_s}});
        AppPaths::setRuntimeFolderOverride(QString::fromUtf8(TENEMARK_RUNTIME_DIR));
    }
    void init() { DialogsTestSeam::clear(); }

    void failedTransferIsReportedAndScanningStartsAgain() {
        Card f;
        const int item = f.addItem();
        QStringList reported;
        bool openAfterFailure = true;
        f.whileEditing(item, [&](QWidget* w) {
            control<QTabWidget>(w, "PageControl1")->setCurrentIndex(4);
            for (int attempt = 0; attempt < 2; ++attempt) {
                DialogsTestSeam::queueAnswer(Dialogs::Answer::Ok);
                scanOnce(w);
                QTRY_COMPARE_WITH_TIMEOUT(DialogsTestSeam::shown().size(), attempt + 1, 20000);
                reported << DialogsTestSeam::last().text;
                openAfterFailure = openAfterFailure && f.card->twain()->IsDataSourceOpen();
            }
            QVERIFY(w->isVisible());
            QCOMPARE(f.card->slidesPage()->strip()->count(), 0);
        });
        QVERIFY(!openAfterFailure);
        QCOMPARE(reported.size(), 2);
        QCOMPARE(DialogsTestSeam::last().kind, Dialogs::Kind::Stop);
        // The same failure both times, in the component's words.
        const QString failure =
            u"Data Source Manager error in module Native Transfer:\r\nGeneral failure. Unload Source immediately."_s;
        QCOMPARE(reported, (QStringList{failure, failure}));
        QCOMPARE(f.scalar(u"select count(*) from slides"_s).toInt(), 0);
    }
};

QTEST_MAIN(CardScanFaultTest)
#include "tst_cardscanfault.moc"
