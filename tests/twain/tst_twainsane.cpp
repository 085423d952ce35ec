// The component with the project's manager and SANE's test backend as the scanner: the source's
// dialog is driven through its controls, and every delivered picture is compared with the same
// page read straight from SANE.

#include "AppPaths.h"
#include "Dialogs.h"
#include "ModalWatch.h"
#include "SaneTestSupport.h"
#include "TTWAIN.h"

#include <QComboBox>
#include <QDialog>
#include <QTest>
#include <QWidget>

#include <memory>

using namespace Qt::StringLiterals;
using namespace SourceDialogDriver;

namespace {

const QRectF A4(0, 0, 210, 297);

void compareWithPage(const QImage& image, const SanePage& page) {
    QCOMPARE(image.size(), QSize(page.width, page.height));
    QCOMPARE(image.format(), page.channels == 3 ? QImage::Format_RGB888 : QImage::Format_Grayscale8);
    for (int y = 0; y < page.height; ++y)
        if (std::memcmp(image.constScanLine(y), page.row(y), std::size_t(page.width * page.channels)) != 0)
            QFAIL(qPrintable(u"row %1 differs"_s.arg(y)));
}

} // namespace

class TestTwainSane : public QObject {
    Q_OBJECT

    std::unique_ptr<SaneTestConfig> config;
    std::unique_ptr<TTWAIN> twain;
    std::unique_ptr<ModalWatch> watch;
    QImage bitmap;
    int scanReady = 0;

    // Starts an acquisition and returns the source's dialog once it is ready.
    QDialog* acquire() {
        twain->Acquire(&bitmap);
        return waitForReady();
    }

    bool scan(QDialog* dialog, bool colour, int dpi, const QRectF& area,
              const QString& source = u"Flatbed"_s) {
        if (!choose(dialog, "DeviceCB", u"test:0"_s) || !waitForReady() ||
            !choose(dialog, "SourceCB", source) || !choose(dialog, "ModeCB", colour) ||
            !choose(dialog, "ResolutionCB", dpi))
            return false;
        if (area == A4)
            dialog->findChild<QComboBox*>(u"PaperCB"_s)->setCurrentIndex(0);
        else
            setArea(dialog, area);
        click(dialog, "ScanBtn");
        return true;
    }

private Q_SLOTS:
    void initTestCase() {
        config = std::make_unique<SaneTestConfig>();
        AppPaths::setRuntimeFolderOverride(QString::fromUtf8(TENEMARK_RUNTIME_DIR));
    }

    void init() {
        watch = std::make_unique<ModalWatch>();
        DialogsTestSeam::clear();
        bitmap = QImage();
        scanReady = 0;
        twain = std::make_unique<TTWAIN>();
        twain->setDestination(TTWAIN::xfMemory);
        twain->setLanguage(TTWAIN::lgAmerican);
        twain->setCountry(TTWAIN::ctRussia);
        twain->setOnScanReady([this](TTWAIN*) { ++scanReady; });
        twain->Initialize();
    }

    void cleanup() {
        twain.reset();
        QCOMPARE(find(), nullptr);
        QCOMPARE(watch->unexpected(), QStringList());
    }

    void colourPage() {
        const SanePage page = readSanePage(u"test:0"_s, true, 75, A4);
        QCOMPARE(page.width, 620); // 210 mm at 75 dpi
        QCOMPARE(page.height, 876);
        QDialog* dialog = acquire();
        QVERIFY(dialog);
        QCOMPARE(dialog->findChild<QComboBox*>(u"PaperCB"_s)->currentIndex(),
                 0); // A4 unless chosen otherwise
        QVERIFY(scan(dialog, true, 75, A4));
        QTRY_COMPARE_WITH_TIMEOUT(scanReady, 1, 30000);
        QVERIFY(twain->imageTransferred());
        compareWithPage(bitmap, page);
        QVERIFY(!twain->IsDataSourceOpen());
        QVERIFY(twain->IsDataSourceManagerOpen());
        QCOMPARE(find(), nullptr);
    }

    void greyPage() {
        const QRectF area(20, 30, 100, 60);
        const SanePage page = readSanePage(u"test:0"_s, false, 150, area);
        QDialog* dialog = acquire();
        QVERIFY(dialog);
        QVERIFY(scan(dialog, false, 150, area));
        QTRY_COMPARE_WITH_TIMEOUT(scanReady, 1, 30000);
        compareWithPage(bitmap, page);
    }

    void dialogRemembersTheLastChoices() {
        QDialog* dialog = acquire();
        QVERIFY(dialog);
        QVERIFY(scan(dialog, false, 100, QRectF(10, 10, 50, 50)));
        QTRY_COMPARE_WITH_TIMEOUT(scanReady, 1, 30000);
        dialog = acquire();
        QVERIFY(dialog);
        QCOMPARE(dialog->findChild<QComboBox*>(u"ModeCB"_s)->currentData(), QVariant(false));
        QCOMPARE(dialog->findChild<QComboBox*>(u"ResolutionCB"_s)->currentData(), QVariant(100));
        QCOMPARE(dialog->findChild<QComboBox*>(u"PaperCB"_s)->currentText(), u"Custom"_s);
        click(dialog, "CancelBtn");
        QTRY_COMPARE(scanReady, 2);
    }

    void feederDeliversOnePage() {
        const QRectF area(0, 0, 60, 40);
        const SanePage page = readSanePage(u"test:0"_s, true, 100, area, u"Automatic Document Feeder"_s);
        QDialog* dialog = acquire();
        QVERIFY(dialog);
        QVERIFY(scan(dialog, true, 100, area, u"Automatic Document Feeder"_s));
        QTRY_COMPARE_WITH_TIMEOUT(scanReady, 1, 30000);
        compareWithPage(bitmap, page);
        QVERIFY(!twain->IsDataSourceOpen());
        // The rest of the job was dropped: the next acquisition starts with a fresh dialog.
        dialog = acquire();
        QVERIFY(dialog);
        QCOMPARE(status(dialog), u"Ready"_s);
        click(dialog, "CancelBtn");
        QTRY_COMPARE(scanReady, 2);
        QVERIFY(!twain->imageTransferred());
    }

    void cancelledDialogKeepsThePicture() {
        bitmap = QImage(3, 3, QImage::Format_RGB32);
        bitmap.fill(Qt::cyan);
        QDialog* dialog = acquire();
        QVERIFY(dialog);
        click(dialog, "CancelBtn");
        QTRY_COMPARE(scanReady, 1);
        QVERIFY(!twain->imageTransferred());
        QCOMPARE(bitmap.size(), QSize(3, 3));
        QCOMPARE(bitmap.pixel(0, 0), QColor(Qt::cyan).rgb());
        QVERIFY(!twain->IsDataSourceOpen());
        QCOMPARE(find(), nullptr);
    }

    void escapeAndCloseAreCancel() {
        QDialog* dialog = acquire();
        QVERIFY(dialog);
        QTest::keyClick(dialog, Qt::Key_Escape);
        QTRY_COMPARE(scanReady, 1);
        dialog = acquire();
        QVERIFY(dialog);
        dialog->close();
        QTRY_COMPARE(scanReady, 2);
        QVERIFY(!twain->imageTransferred());
    }

    void destinationAndTexts() {
        twain->setManufacturer(u"0123456789012345678901234567890123456789"_s);
        QCOMPARE(twain->manufacturer(), u"01234567890123456789012345678901"_s);
        QDialog* dialog = acquire();
        QVERIFY(dialog);
        QCOMPARE(twain->destination(), TTWAIN::xfNative);
        click(dialog, "CancelBtn");
        QTRY_COMPARE(scanReady, 1);
    }

    void preview() {
        const SanePage whole = readSanePage(u"test:0"_s, true, 30, QRectF(0, 0, 300, 300));
        QDialog* dialog = acquire();
        QVERIFY(dialog);
        click(dialog, "PreviewBtn");
        QWidget* view = dialog->findChild<QWidget*>(u"PreviewView"_s);
        QTRY_COMPARE_WITH_TIMEOUT(view->toolTip(),
                                  u"Preview: %1 × %2 pixels"_s.arg(whole.width).arg(whole.height), 20000);
        QTRY_COMPARE(status(dialog), u"Ready"_s);
        click(dialog, "CancelBtn");
        QTRY_COMPARE(scanReady, 1);
        QVERIFY(!twain->imageTransferred());
    }

    // Destroying the component while the source reads a page: the manager stops its worker,
    // ends SANE and deletes its dialog before it is unloaded; a new component scans again.
    void destroyedWhileScanning() {
        QDialog* dialog = acquire();
        QVERIFY(dialog);
        QVERIFY(scan(dialog, true, 600, A4));
        twain.reset();
        QCOMPARE(find(), nullptr);
        const SanePage page = readSanePage(u"test:0"_s, true, 50, QRectF(0, 0, 30, 30));
        init();
        dialog = acquire();
        QVERIFY(dialog);
        QVERIFY(scan(dialog, true, 50, QRectF(0, 0, 30, 30)));
        QTRY_COMPARE_WITH_TIMEOUT(scanReady, 1, 30000);
        compareWithPage(bitmap, page);
    }
};

QTEST_MAIN(TestTwainSane)
#include "tst_twainsane.moc"
