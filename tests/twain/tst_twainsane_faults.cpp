// The component with the project's manager and a SANE test device that misbehaves: a slow device
// whose page is cancelled half-way, or one that reports a jammed feeder. Each configuration runs
// as a process of its own (SANE reads its configuration once per process).

#include "AppPaths.h"
#include "Dialogs.h"
#include "ModalWatch.h"
#include "SaneTestSupport.h"
#include "TTWAIN.h"

#include <QDialog>
#include <QProgressBar>
#include <QRegularExpression>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;
using namespace SourceDialogDriver;

class TestTwainSaneFaults : public QObject {
    Q_OBJECT

    std::unique_ptr<SaneTestConfig> config;
    std::unique_ptr<TTWAIN> twain;
    std::unique_ptr<ModalWatch> watch;
    QImage bitmap;
    int scanReady = 0;
    const bool jammed = qEnvironmentVariable("TWAIN_FAULT") == u"jammed"_s;

    QDialog* startScan(int dpi, const QRectF& area) {
        twain->Acquire(&bitmap);
        QDialog* dialog = waitForReady();
        if (!dialog || !choose(dialog, "DeviceCB", u"test:0"_s) || !choose(dialog, "ModeCB", true) ||
            !choose(dialog, "ResolutionCB", dpi))
            return nullptr;
        setArea(dialog, area);
        click(dialog, "ScanBtn");
        return dialog;
    }

private Q_SLOTS:
    void initTestCase() {
        if (jammed)
            config = std::make_unique<SaneTestConfig>(
                QMap<QString, QString>{{u"read-status-code"_s, u"\"SANE_STATUS_JAMMED\""_s}});
        else // a line of 75 dpi colour per read, 20 ms per read: an A4 page takes about 18 s
            config = std::make_unique<SaneTestConfig>(
                QMap<QString, QString>{{u"read-limit"_s, u"true"_s},
                                       {u"read-limit-size"_s, u"1860"_s},
                                       {u"read-delay"_s, u"true"_s},
                                       {u"read-delay-duration"_s, u"20000"_s}});
        AppPaths::setRuntimeFolderOverride(QString::fromUtf8(TENEMARK_RUNTIME_DIR));
    }

    void init() {
        watch = std::make_unique<ModalWatch>();
        DialogsTestSeam::clear();
        bitmap = QImage(2, 2, QImage::Format_RGB32);
        bitmap.fill(Qt::magenta);
        scanReady = 0;
        twain = std::make_unique<TTWAIN>();
        twain->setOnScanReady([this](TTWAIN*) { ++scanReady; });
        twain->Initialize();
    }

    void cleanup() {
        twain.reset();
        QCOMPARE(find(), nullptr);
        QCOMPARE(watch->unexpected(), QStringList());
    }

    void cancelStopsTheDevice() {
        if (jammed)
            QSKIP("runs with the slow device");
        QDialog* dialog = startScan(75, QRectF(0, 0, 210, 297));
        QVERIFY(dialog);
        auto* progress = dialog->findChild<QProgressBar*>(u"ProgressBar"_s);
        QTRY_VERIFY_WITH_TIMEOUT(progress->value() >= 5, 20000);
        QCOMPARE(progress->maximum(), 876);
        click(dialog, "CancelBtn");
        // The reading stops at once: the dialog says after how many lines, far from the page's end.
        QTRY_VERIFY_WITH_TIMEOUT(status(dialog).startsWith(u"Scan cancelled after "_s), 10000);
        const QRegularExpressionMatch m =
            QRegularExpression(u"^Scan cancelled after (\\d+) lines\\.$"_s).match(status(dialog));
        QVERIFY(m.hasMatch());
        QVERIFY(m.captured(1).toInt() >= 5);
        QVERIFY(m.captured(1).toInt() < 876);
        QVERIFY(progress->value() < 876);
        QVERIFY(twain->IsDataSourceEnabled());
        QCOMPARE(scanReady, 0);

        // The device is free again: a small page goes through at once.
        QVERIFY(choose(dialog, "ResolutionCB", 75));
        setArea(dialog, QRectF(0, 0, 10, 5));
        click(dialog, "ScanBtn");
        QTRY_COMPARE_WITH_TIMEOUT(scanReady, 1, 20000);
        QVERIFY(twain->imageTransferred());
        QCOMPARE(bitmap.size(), QSize(29, 14));
    }

    void cancelThenCloseStoresNothing() {
        if (jammed)
            QSKIP("runs with the slow device");
        QDialog* dialog = startScan(75, QRectF(0, 0, 210, 297));
        QVERIFY(dialog);
        auto* progress = dialog->findChild<QProgressBar*>(u"ProgressBar"_s);
        QTRY_VERIFY_WITH_TIMEOUT(progress->value() >= 1, 20000);
        click(dialog, "CancelBtn");
        QTRY_VERIFY_WITH_TIMEOUT(status(dialog).startsWith(u"Scan cancelled"_s), 10000);
        click(dialog, "CancelBtn");
        QTRY_COMPARE(scanReady, 1);
        QVERIFY(!twain->imageTransferred());
        QCOMPARE(bitmap.pixel(0, 0), QColor(Qt::magenta).rgb());
    }

    void jammedFeederIsReported() {
        if (!jammed)
            QSKIP("runs with the jamming device");
        DialogsTestSeam::queueAnswer(Dialogs::Answer::Ok);
        QVERIFY(startScan(75, QRectF(0, 0, 50, 50)));
        QTRY_COMPARE_WITH_TIMEOUT(DialogsTestSeam::shown().size(), 1, 20000);
        QCOMPARE(DialogsTestSeam::last().kind, Dialogs::Kind::Stop);
        QCOMPARE(DialogsTestSeam::last().title, u"Tenemark 1.0"_s);
        QCOMPARE(
            DialogsTestSeam::last().text,
            u"Data Source Manager error in module Native Transfer:\r\nTransfer failed because of a feeder error."_s);
        QCOMPARE(scanReady, 0);
        QVERIFY(!twain->IsDataSourceOpen());
        QVERIFY(twain->IsDataSourceManagerOpen());
        QCOMPARE(find(), nullptr);
        QCOMPARE(bitmap.pixel(0, 0), QColor(Qt::magenta).rgb());

        // The component can scan again: the same device jams again, and says so again.
        DialogsTestSeam::queueAnswer(Dialogs::Answer::Ok);
        QVERIFY(startScan(75, QRectF(0, 0, 50, 50)));
        QTRY_COMPARE_WITH_TIMEOUT(DialogsTestSeam::shown().size(), 2, 20000);
        QCOMPARE(DialogsTestSeam::last().text, DialogsTestSeam::shown().first().text);
    }
};

QTEST_MAIN(TestTwainSaneFaults)
#include "tst_twainsane_faults.moc"
