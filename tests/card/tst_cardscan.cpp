// Scanning a slide on the item card, against the project's scanner manager with SANE's test
// backend as the scanner: the source's dialog is driven through its controls, and the stored JPEG
// is compared with the same page read straight from SANE.

#include "AppPaths.h"
#include "CardTestSupport.h"
#include "Dialogs.h"
#include "JpegCodec.h"
#include "PictureService.h"
#include "PictureView.h"
#include "SaneTestSupport.h"
#include "SlideStrip.h"
#include "SlidesPage.h"
#include "TTWAIN.h"

#include <QDialog>
#include <QScopeGuard>
#include <QTabWidget>
#include <QTemporaryDir>

using namespace Qt::StringLiterals;
using namespace CardTest;
using namespace SourceDialogDriver;

namespace {

const QRectF Area(10, 20, 40, 30); // millimetres
constexpr int Dpi = 150;

QImage pageImage(const SanePage& page) {
    QImage image(page.width, page.height,
                 page.channels == 3 ? QImage::Format_RGB888 : QImage::Format_Grayscale8);
    for (int y = 0; y < page.height; ++y)
        std::memcpy(image.scanLine(y), page.row(y), std::size_t(page.width * page.channels));
    return image;
}

// The centre of the first red square of the test pattern (its squares are a few pixels wide).
QPoint firstRedSquare(const QImage& image) {
    const auto red = [&](int x, int y) {
        const QRgb p = image.pixel(x, y);
        return qRed(p) > 200 && qGreen(p) < 40 && qBlue(p) < 40;
    };
    for (int y = 1; y < image.height() - 1; ++y)
        for (int x = 1; x < image.width() - 1; ++x)
            if (red(x - 1, y - 1) && red(x, y - 1) && red(x + 1, y - 1) && red(x - 1, y) && red(x, y) &&
                red(x + 1, y) && red(x - 1, y + 1) && red(x, y + 1) && red(x + 1, y + 1))
                return QPoint(x, y);
    return QPoint(-1, -1);
}

struct Scan : Card {
    SlidesPage& page() { return *card->slidesPage(); }
    SlideStrip& strip() { return *page().strip(); }
    int slideCount() { return scalar(u"select count(*) from slides"_s).toInt(); }

    // Presses "Сканировать" and runs `drive` on the source's dialog while it is up.
    void scan(QWidget* w, const std::function<void(QDialog*)>& drive) {
        // A failed step must not leave the source's dialog up: the card could not close.
        const auto closeLeftDialog = qScopeGuard([] {
            if (QDialog* dialog = find())
                dialog->reject();
        });
        control<QTabWidget>(w, "PageControl1")->setCurrentIndex(4);
        clickButton(w, "BitBtn2");
        bool driven = false;
        onNextModal(
            [&](QWidget* modal) {
                QCOMPARE(modal->objectName(), u"TwainSourceDialog"_s);
                drive(qobject_cast<QDialog*>(modal));
                QTRY_VERIFY_WITH_TIMEOUT(!find(), 30000);
                driven = true;
            },
            10000);
        QTRY_VERIFY_WITH_TIMEOUT(driven, 40000);
    }
    static void scanPage(QDialog* dialog, bool colour) {
        QVERIFY(waitForReady());
        QVERIFY(choose(dialog, "DeviceCB", u"test:0"_s));
        QVERIFY(waitForReady());
        QVERIFY(choose(dialog, "SourceCB", u"Flatbed"_s));
        QVERIFY(choose(dialog, "ModeCB", colour));
        QVERIFY(choose(dialog, "ResolutionCB", Dpi));
        setArea(dialog, Area);
        click(dialog, "ScanBtn");
    }
    static void cancel(QDialog* dialog) {
        QVERIFY(waitForReady());
        click(dialog, "CancelBtn");
    }
};

} // namespace

class CardScanTest : public QObject {
    Q_OBJECT

    std::unique_ptr<SaneTestConfig> config;

private Q_SLOTS:
    void initTestCase() {
        config = std::make_unique<SaneTestConfig>();
        AppPaths::setRuntimeFolderOverride(QString::fromUtf8(TENEMARK_RUNTIME_DIR));
    }
    void init() { DialogsTestSeam::clear(); }

    void colourScanIsStoredAsJpeg() {
        const SanePage reference = readSanePage(u"test:0"_s, true, Dpi, Area);
        const QImage expected = pageImage(reference);
        Scan f;
        const int item = f.addItem();
        f.catalogue.exec(u"insert into slides (parent_id, ext, picture) values (?, '.jpg', ?)"_s,
                         {item, JpegCodec::encode(QImage(8, 8, QImage::Format_RGB32), 75)});
        QVERIFY(f.card->twain()->IsDataSourceManagerOpen()); // opened when the card was created
        int lastShown = 0;
        f.whileEditing(item, [&](QWidget* w) {
            f.scan(w, [](QDialog* d) { Scan::scanPage(d, true); });
            QTRY_COMPARE_WITH_TIMEOUT(f.slideCount(), 2, 30000);
            // Shown at once, below the slide already there.
            QCOMPARE(f.strip().count(), 2);
            lastShown = f.strip().cell(1)->slideId();
            QVERIFY(f.strip().pictureService().waitForBatch(20000));
            // The strip shows the scan itself: smaller than the cell, so as it came.
            QCOMPARE(f.strip().cell(1)->picture()->state(), PictureView::State::Shown);
            QCOMPARE(f.strip().cell(1)->picture()->image(), expected.convertToFormat(QImage::Format_RGB32));
            QCOMPARE(f.strip().cell(0)->picture()->state(), PictureView::State::Shown);
            QCOMPARE(f.strip().cell(0)->picture()->image().size(), QSize(8, 8));
            QVERIFY(!f.card->twain()->IsDataSourceOpen());
        });
        const int slide = f.scalar(u"select max(id) from slides"_s).toInt();
        QCOMPARE(lastShown, slide);
        QCOMPARE(f.scalar(u"select parent_id from slides where id=?"_s, {slide}).toInt(), item);
        QCOMPARE(f.scalar(u"select ext from slides where id=?"_s, {slide}).toString(), u".jpg"_s);
        const QByteArray stored = f.scalar(u"select picture from slides where id=?"_s, {slide}).toByteArray();
        // The project's codec at quality 75, baseline, from the 24-bit picture SANE delivered.
        QCOMPARE(stored, JpegCodec::encode(expected, 75));
        QVERIFY(!JpegCodec::readHeader(stored).progressive);
        const QImage decoded = JpegCodec::decode(stored);
        QCOMPARE(decoded.size(), QSize(reference.width, reference.height));
        QCOMPARE(decoded.format(), QImage::Format_RGB32);
        // JPEG keeps the colour of a red square.
        const QPoint at = firstRedSquare(expected);
        QVERIFY(at.x() >= 0);
        const QRgb pixel = decoded.pixel(at);
        QVERIFY2(qRed(pixel) > 150 && qRed(pixel) > qGreen(pixel) + 80 && qRed(pixel) > qBlue(pixel) + 80,
                 qPrintable(QString::number(pixel, 16)));
    }

    // A page larger than the strip's cell is shown reduced to fit it, as a stored picture is.
    void largeScanIsShownFitted() {
        const QRectF page(0, 0, 200, 280);
        Scan f;
        const int item = f.addItem();
        QSize shown, target;
        f.whileEditing(item, [&](QWidget* w) {
            f.scan(w, [&](QDialog* d) {
                QVERIFY(waitForReady());
                QVERIFY(choose(d, "DeviceCB", u"test:0"_s));
                QVERIFY(waitForReady());
                QVERIFY(choose(d, "ModeCB", true));
                QVERIFY(choose(d, "ResolutionCB", Dpi));
                setArea(d, page);
                click(d, "ScanBtn");
            });
            QTRY_COMPARE_WITH_TIMEOUT(f.strip().count(), 1, 30000);
            target = f.strip().pictureTarget();
            shown = f.strip().cell(0)->picture()->image().size();
        });
        const QByteArray stored = f.scalar(u"select picture from slides"_s).toByteArray();
        const QSize scanned = JpegCodec::readHeader(stored).size;
        QVERIFY(scanned.width() > target.width() || scanned.height() > target.height());
        QCOMPARE(shown, PictureLoader::fitSize(scanned, target));
    }

    void greyScanIsStoredInColour() {
        const SanePage reference = readSanePage(u"test:0"_s, false, Dpi, Area);
        Scan f;
        const int item = f.addItem();
        f.whileEditing(item, [&](QWidget* w) {
            f.scan(w, [](QDialog* d) { Scan::scanPage(d, false); });
            QTRY_COMPARE_WITH_TIMEOUT(f.slideCount(), 1, 30000);
        });
        const QByteArray stored = f.scalar(u"select picture from slides"_s).toByteArray();
        QCOMPARE(stored, JpegCodec::encode(pageImage(reference).convertToFormat(QImage::Format_RGB888), 75));
        QCOMPARE(JpegCodec::decode(stored).format(), QImage::Format_RGB32);
    }

    // A source dialog closed without a transfer stores nothing, not even the picture of the scan
    // before; each press opens the source anew.
    void cancelledDialogStoresNothing() {
        Scan f;
        const int item = f.addItem();
        f.whileEditing(item, [&](QWidget* w) {
            f.scan(w, [](QDialog* d) { Scan::scanPage(d, true); });
            QTRY_COMPARE_WITH_TIMEOUT(f.slideCount(), 1, 30000);
            f.scan(w, [](QDialog* d) { Scan::cancel(d); });
            f.scan(w, [](QDialog* d) {
                QVERIFY(waitForReady());
                d->close();
            });
            QTest::qWait(200);
            QVERIFY(!f.card->twain()->IsDataSourceOpen());
            QCOMPARE(f.slideCount(), 1);
            QCOMPARE(f.strip().count(), 1);
        });
        QCOMPARE(DialogsTestSeam::shown().size(), 0);
    }

    // A refused insert is reported; the next scan goes through.
    void refusedInsertIsReportedAndScanningGoesOn() {
        Scan f;
        const int item = f.addItem();
        f.catalogue.exec(u"create trigger refuse before insert on slides "
                         u"begin select raise(abort, 'запись запрещена'); end"_s);
        f.whileEditing(item, [&](QWidget* w) {
            DialogsTestSeam::queueAnswer(Dialogs::Answer::Ok);
            f.scan(w, [](QDialog* d) { Scan::scanPage(d, true); });
            QTRY_COMPARE_WITH_TIMEOUT(DialogsTestSeam::shown().size(), 1, 30000);
            QCOMPARE(DialogsTestSeam::last().kind, Dialogs::Kind::Stop);
            QCOMPARE(DialogsTestSeam::last().text, u"запись запрещена."_s);
            QVERIFY(!f.card->twain()->IsDataSourceOpen());
            QVERIFY(w->isVisible());
            f.catalogue.exec(u"drop trigger refuse"_s);
            f.scan(w, [](QDialog* d) { Scan::scanPage(d, true); });
            QTRY_COMPARE_WITH_TIMEOUT(f.slideCount(), 1, 30000);
        });
        QCOMPARE(DialogsTestSeam::shown().size(), 1);
    }

    void missingManagerIsNamed() {
        QTemporaryDir empty;
        AppPaths::setRuntimeFolderOverride(empty.path());
        {
            Scan f; // the card is created without a manager, and says nothing yet
            QCOMPARE(DialogsTestSeam::shown().size(), 0);
            QVERIFY(!f.card->twain()->IsDataSourceManagerOpen());
            const int item = f.addItem();
            f.whileEditing(item, [&](QWidget* w) {
                control<QTabWidget>(w, "PageControl1")->setCurrentIndex(4);
                DialogsTestSeam::queueAnswer(Dialogs::Answer::Ok);
                clickButton(w, "BitBtn2");
                QVERIFY(w->isVisible());
            });
            QCOMPARE(DialogsTestSeam::shown().size(), 1);
            QCOMPARE(DialogsTestSeam::last().kind, Dialogs::Kind::Stop);
            QCOMPARE(DialogsTestSeam::last().text,
                     u"Unable to load or find: %1/libtenemark-twaindsm.so."_s.arg(empty.path()));
            QCOMPARE(f.slideCount(), 0);
        }
        AppPaths::setRuntimeFolderOverride(QString::fromUtf8(TENEMARK_RUNTIME_DIR));
    }

    void newItemCannotScan() {
        Scan f;
        f.whileNew([&](QWidget* w) { QVERIFY(!control<QPushButton>(w, "BitBtn2")->isEnabled()); });
        const int item = f.addItem();
        f.whileEditing(item, [&](QWidget* w) { QVERIFY(control<QPushButton>(w, "BitBtn2")->isEnabled()); });
    }
};

QTEST_MAIN(CardScanTest)
#include "tst_cardscan.moc"
