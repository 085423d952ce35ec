#include "AppError.h"
#include "AppPaths.h"
#include "JpegCodec.h"
#include "MetafileSamples.h"
#include "PictureLoader.h"
#include "PictureSamples.h"
#include "metafile/MetafileProtocol.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

using namespace Qt::StringLiterals;
using namespace PictureSamples;

namespace {

QByteArray name(QRgb c) {
    return QColor(c).name().toLatin1();
}

#define CHECK_COLOUR(image, point, colour)                                                                   \
    QVERIFY2(near((image).pixel(point), QColor(colour).rgb()),                                               \
             name((image).pixel(point)) + " at (" + QByteArray::number((point).x()) + ", " +                 \
                 QByteArray::number((point).y()) + "), expected " + name(QColor(colour).rgb()))

// The four quarter colours at the centres of the quarters of `image`.
void checkQuarters(const QImage& image) {
    const int w = image.width();
    const int h = image.height();
    CHECK_COLOUR(image, QPoint(w / 4, h / 4), TopLeft);
    CHECK_COLOUR(image, QPoint(3 * w / 4, h / 4), TopRight);
    CHECK_COLOUR(image, QPoint(w / 4, 3 * h / 4), BottomLeft);
    CHECK_COLOUR(image, QPoint(3 * w / 4, 3 * h / 4), BottomRight);
}

void writeScript(const QString& path, const QByteArray& body) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("#!/bin/sh\n" + body + "\n");
    f.close();
    QVERIFY(f.setPermissions(f.permissions() | QFileDevice::ExeOwner));
}

} // namespace

class TestPictureLoader : public QObject {
    Q_OBJECT
    QTemporaryDir m_samples;
    QMap<QString, QByteArray> m_metafiles;

private Q_SLOTS:
    void initTestCase() {
        AppPaths::setRuntimeFolderOverride(QString::fromUtf8(TENEMARK_RUNTIME_DIR));
        QProcess p;
        p.start(QString::fromUtf8(METAFILE_SAMPLES), {m_samples.path()});
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitCode(), 0);
        for (const QString& sample : MetafileSamples::Names) {
            for (const QString& ext : {u".wmf"_s, u".emf"_s}) {
                QFile f(m_samples.filePath(sample + ext));
                QVERIFY(f.open(QIODevice::ReadOnly));
                m_metafiles[sample + ext] = f.readAll();
            }
        }
    }

    void cleanup() { AppPaths::setRuntimeFolderOverride(QString::fromUtf8(TENEMARK_RUNTIME_DIR)); }

    void formatByExtension_data() {
        QTest::addColumn<QString>("ext");
        QTest::addColumn<int>("format");
        QTest::newRow(".jpg") << u".jpg"_s << int(PictureFormat::Jpeg);
        QTest::newRow(".JPG") << u".JPG"_s << int(PictureFormat::Jpeg);
        QTest::newRow(".Jpeg") << u".Jpeg"_s << int(PictureFormat::Jpeg);
        QTest::newRow("jpeg without dot") << u"jpeg"_s << int(PictureFormat::Jpeg);
        QTest::newRow(".BMP") << u".BMP"_s << int(PictureFormat::Bmp);
        QTest::newRow(".ico") << u".ico"_s << int(PictureFormat::Icon);
        QTest::newRow(".Wmf") << u".Wmf"_s << int(PictureFormat::Wmf);
        QTest::newRow(".EMF") << u".EMF"_s << int(PictureFormat::Emf);
        QTest::newRow(".png") << u".png"_s << int(PictureFormat::Unknown);
        QTest::newRow(".jpgx") << u".jpgx"_s << int(PictureFormat::Unknown);
        QTest::newRow("blanks around") << u" .jpg "_s << int(PictureFormat::Jpeg);
        QTest::newRow("empty") << QString() << int(PictureFormat::Unknown);
    }
    void formatByExtension() {
        QFETCH(QString, ext);
        QFETCH(int, format);
        QCOMPARE(int(PictureLoader::formatOf(ext)), format);
    }

    void scaleChoice_data() {
        QTest::addColumn<QSize>("stored");
        QTest::addColumn<QSize>("target");
        QTest::addColumn<QSize>("fit");
        QTest::addColumn<int>("denominator");
        QTest::newRow("photo in panel") << QSize(4000, 3000) << QSize(165, 145) << QSize(165, 124) << 8;
        QTest::newRow("upright photo in panel")
            << QSize(3000, 4000) << QSize(165, 145) << QSize(109, 145) << 8;
        QTest::newRow("quarter is enough") << QSize(4000, 3000) << QSize(800, 600) << QSize(800, 600) << 4;
        QTest::newRow("eighth just too small")
            << QSize(4000, 3000) << QSize(501, 400) << QSize(501, 376) << 4;
        QTest::newRow("half") << QSize(4000, 3000) << QSize(2100, 1500) << QSize(2000, 1500) << 2;
        QTest::newRow("needs full size") << QSize(4000, 3000) << QSize(3000, 3000) << QSize(3000, 2250) << 1;
        QTest::newRow("rounded up by libjpeg")
            << QSize(1001, 1001) << QSize(126, 126) << QSize(126, 126) << 8;
        QTest::newRow("enlarged") << QSize(100, 50) << QSize(400, 400) << QSize(400, 200) << 1;
        QTest::newRow("no target") << QSize(4000, 3000) << QSize() << QSize(4000, 3000) << 1;
    }
    void scaleChoice() {
        QFETCH(QSize, stored);
        QFETCH(QSize, target);
        QFETCH(QSize, fit);
        QFETCH(int, denominator);
        QCOMPARE(PictureLoader::fitSize(stored, target), fit);
        QCOMPARE(PictureLoader::jpegDenominator(stored, target), denominator);
    }

    void jpegAtItsOwnSize_data() {
        QTest::addColumn<QString>("ext");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("incomplete");
        const QImage source = quarters(QSize(64, 48));
        QTest::newRow(".jpg") << u".jpg"_s << jpeg(source) << false;
        QTest::newRow(".JPG") << u".JPG"_s << jpeg(source) << false;
        QTest::newRow(".JPEG progressive") << u".JPEG"_s << progressiveJpeg(source) << false;
        // Shown as its first scans draw it: the colours come with the first one.
        QTest::newRow("190 scans") << u".jpg"_s << progressiveJpeg(source, 92, true) << true;
    }
    void jpegAtItsOwnSize() {
        QFETCH(QString, ext);
        QFETCH(QByteArray, bytes);
        QFETCH(bool, incomplete);
        const PictureResult r = PictureLoader::load(bytes, ext, QSize());
        QVERIFY2(r.ok(), qPrintable(r.failure));
        QVERIFY(r.failure.isEmpty());
        QCOMPARE(r.incomplete, incomplete);
        QCOMPARE(r.image.size(), QSize(64, 48));
        QCOMPARE(r.sourceSize, QSize(64, 48));
        checkQuarters(r.image);
    }

    void jpegScaledWhileDecoding() {
        const QImage source = quarters(QSize(1600, 1200));
        for (const bool progressive : {false, true}) {
            const QByteArray bytes = progressive ? progressiveJpeg(source) : jpeg(source);
            // libjpeg's own reduction...
            const JpegCodec::Scaled eighth = JpegCodec::decodeScaled(bytes, 8);
            QCOMPARE(eighth.image.size(), QSize(200, 150));
            checkQuarters(eighth.image);
            // ...and the loader's result fitted into the panel.
            const PictureResult r = PictureLoader::load(bytes, u".jpg"_s, QSize(165, 145));
            QVERIFY2(r.ok(), qPrintable(r.failure));
            QCOMPARE(r.image.size(), QSize(165, 124));
            QCOMPARE(r.sourceSize, QSize(1600, 1200));
            checkQuarters(r.image);
        }
        // A picture smaller than the area is not enlarged by the loader.
        const PictureResult small =
            PictureLoader::load(jpeg(quarters(QSize(40, 30))), u".jpg"_s, QSize(400, 400));
        QCOMPARE(small.image.size(), QSize(40, 30));
    }

    void cmykAndYcckJpegs_data() {
        QTest::addColumn<bool>("ycck");
        QTest::addColumn<QColor>("ink");
        QTest::addColumn<QColor>("expected");
        QTest::newRow("cmyk red") << false << QColor(0, 255, 255, 0) << QColor(255, 0, 0);
        QTest::newRow("cmyk dark blue") << false << QColor(255, 255, 0, 128) << QColor(0, 0, 127);
        QTest::newRow("ycck green") << true << QColor(255, 0, 255, 0) << QColor(0, 255, 0);
        QTest::newRow("ycck grey") << true << QColor(0, 0, 0, 128) << QColor(127, 127, 127);
    }
    void cmykAndYcckJpegs() {
        QFETCH(bool, ycck);
        QFETCH(QColor, ink);
        QFETCH(QColor, expected);
        const PictureResult r =
            PictureLoader::load(cmykJpeg(QSize(32, 24), ink, ycck), u".jpg"_s, QSize(16, 16));
        QVERIFY2(r.ok(), qPrintable(r.failure));
        QCOMPARE(r.image.size(), QSize(16, 12));
        CHECK_COLOUR(r.image, QPoint(8, 6), expected);
    }

    void exifOrientation_data() {
        QTest::addColumn<int>("orientation");
        QTest::addColumn<bool>("bigEndian");
        // Where the stored top left (red) and top right (green) corners end up when shown.
        QTest::addColumn<QPoint>("red");
        QTest::addColumn<QPoint>("green");
        QTest::addColumn<bool>("turned");
        const QPoint tl(0, 0), tr(1, 0), bl(0, 1), br(1, 1);
        QTest::newRow("1 as stored") << 1 << false << tl << tr << false;
        QTest::newRow("2 mirrored") << 2 << false << tr << tl << false;
        QTest::newRow("3 upside down") << 3 << true << br << bl << false;
        QTest::newRow("4 flipped") << 4 << false << bl << br << false;
        QTest::newRow("5 transposed") << 5 << false << tl << bl << true;
        QTest::newRow("6 turned right") << 6 << true << tr << br << true;
        QTest::newRow("7 transversed") << 7 << false << br << tr << true;
        QTest::newRow("8 turned left") << 8 << false << bl << tl << true;
        QTest::newRow("9 invalid") << 9 << false << tl << tr << false;
    }
    void exifOrientation() {
        QFETCH(int, orientation);
        QFETCH(bool, bigEndian);
        QFETCH(QPoint, red);
        QFETCH(QPoint, green);
        QFETCH(bool, turned);
        const QByteArray bytes = withOrientation(jpeg(quarters(QSize(160, 96))), orientation, bigEndian);
        QCOMPARE(JpegCodec::readHeader(bytes).orientation, orientation <= 8 ? orientation : 1);
        // Reduced on the way, so the turn is checked together with the fitting.
        const PictureResult r = PictureLoader::load(bytes, u".jpg"_s, QSize(80, 80));
        QVERIFY2(r.ok(), qPrintable(r.failure));
        const QSize expected = turned ? QSize(48, 80) : QSize(80, 48);
        QCOMPARE(r.image.size(), expected);
        QCOMPARE(r.sourceSize, turned ? QSize(96, 160) : QSize(160, 96));
        const auto corner = [&](QPoint q) {
            return QPoint(q.x() ? expected.width() - 6 : 5, q.y() ? expected.height() - 6 : 5);
        };
        CHECK_COLOUR(r.image, corner(red), TopLeft);
        CHECK_COLOUR(r.image, corner(green), TopRight);
    }

    void truncatedJpegsShowWhatThereIs() {
        const QImage source = quarters(QSize(320, 240));
        for (const bool progressive : {false, true}) {
            const QByteArray bytes = progressive ? progressiveJpeg(source) : jpeg(source);
            const qsizetype scan = bytes.indexOf("\xFF\xDA");
            QVERIFY(scan > 0);
            // Baseline: the top rows are there; progressive: a first coarse pass of all of it.
            const QByteArray cut =
                bytes.left(progressive ? bytes.size() / 3 : scan + (bytes.size() - scan) / 3);
            const PictureResult r = PictureLoader::load(cut, u".jpg"_s, QSize());
            QVERIFY2(r.ok(), qPrintable(r.failure));
            QVERIFY(r.incomplete);
            QCOMPARE(r.image.size(), QSize(320, 240));
            CHECK_COLOUR(r.image, QPoint(40, 20), TopLeft);
            if (!progressive) // the missing lower part is filled in grey
                CHECK_COLOUR(r.image, QPoint(240, 220), QColor(128, 128, 128));
        }
        // Cut inside the header: nothing to show.
        const PictureResult none = PictureLoader::load(jpeg(source).left(100), u".jpg"_s, QSize());
        QVERIFY(!none.ok());
        QVERIFY2(none.failure.startsWith(u"Изображение JPEG повреждено"_s), qPrintable(none.failure));
    }

    void damagedFilesOfEveryFormatFailWithAReason() {
        const QImage source = quarters(QSize(48, 32));
        const QByteArray garbage = "this is not a picture of any kind, just some words in a file";
        const QList<std::pair<QString, QByteArray>> good = {{u".jpg"_s, jpeg(source)},
                                                            {u".jpg"_s, progressiveJpeg(source)},
                                                            {u".bmp"_s, bmp(source)},
                                                            {u".ico"_s, ico({source})},
                                                            {u".wmf"_s, m_metafiles[u"clip.wmf"_s]},
                                                            {u".emf"_s, m_metafiles[u"clip.emf"_s]}};
        for (const auto& [ext, bytes] : good) {
            const PictureResult r = PictureLoader::load(garbage, ext, QSize(100, 100));
            QVERIFY2(!r.ok() && r.failure.contains(u"поврежд"_s), qPrintable(ext + u": "_s + r.failure));
            // Every cut: either a partial picture marked as such, or a failure with a reason.
            for (qsizetype length = 1; length < bytes.size();
                 length += qMax<qsizetype>(1, bytes.size() / 23)) {
                const PictureResult cut = PictureLoader::load(bytes.left(length), ext, QSize(100, 100));
                QVERIFY2(cut.ok() ? cut.incomplete : !cut.failure.isEmpty(),
                         qPrintable(u"%1 cut at %2: %3"_s.arg(ext).arg(length).arg(cut.failure)));
            }
        }
    }

    void fuzzedRasterPicturesNeverCrash() {
        const QImage source = quarters(QSize(48, 32));
        const QList<std::pair<QString, QByteArray>> good = {{u".jpg"_s, jpeg(source)},
                                                            {u".jpg"_s, progressiveJpeg(source)},
                                                            {u".bmp"_s, bmp(source)},
                                                            {u".ico"_s, ico({source})}};
        QRandomGenerator random(20240611);
        PictureLimits limits; // a damaged size field may ask for a large picture
        limits.maxPixels = 4'000'000;
        for (const auto& [ext, bytes] : good) {
            for (int round = 0; round < 150; ++round) {
                QByteArray fuzzed = bytes;
                const int flips = 1 + random.bounded(8);
                for (int i = 0; i < flips; ++i)
                    fuzzed[random.bounded(int(fuzzed.size()))] = char(random.bounded(256));
                const PictureResult r = PictureLoader::load(fuzzed, ext, QSize(64, 64), limits);
                QVERIFY2(r.ok() ? r.failure.isEmpty() : !r.failure.isEmpty(),
                         qPrintable(ext + u": "_s + r.failure));
                if (r.ok())
                    QVERIFY(r.image.width() <= 64 && r.image.height() <= 64);
            }
        }
    }

    void bombsAreRefusedBeforeDecoding() {
        const QByteArray bigJpeg = withFrameSize(jpeg(quarters(QSize(64, 48))), 60000, 60000);
        QCOMPARE(JpegCodec::readHeader(bigJpeg).size, QSize(60000, 60000));
        const PictureResult j = PictureLoader::load(bigJpeg, u".jpg"_s, QSize(165, 145));
        QVERIFY(!j.ok());
        QCOMPARE(j.failure, u"Изображение слишком большое (60000 × 60000 точек) и не будет показано"_s);

        QByteArray bigBmp = bmp(quarters(QSize(8, 8)));
        qToLittleEndian(qint32(50000), bigBmp.data() + 18);
        qToLittleEndian(qint32(-50000), bigBmp.data() + 22);
        const PictureResult b = PictureLoader::load(bigBmp, u".bmp"_s, QSize(165, 145));
        QVERIFY(!b.ok());
        QVERIFY2(b.failure.contains(u"слишком большое (50000 × 50000"_s), qPrintable(b.failure));

        // 12,247 x 12,247 pixels of 32 bits declared, one row stored: only that row is decoded,
        // within a megabyte.
        QByteArray oneRow = bmp(quarters(QSize(8, 8)));
        qToLittleEndian(qint32(12247), oneRow.data() + 18);
        qToLittleEndian(qint32(12247), oneRow.data() + 22);
        qToLittleEndian(quint16(32), oneRow.data() + 28);
        oneRow = oneRow.left(54) + QByteArray(12247 * 4, '\x40');
        PictureLimits small;
        small.maxDecodeBytes = 1 << 20;
        const PictureResult row = PictureLoader::load(oneRow, u".bmp"_s, QSize(165, 145), small);
        QVERIFY2(row.ok(), qPrintable(row.failure));
        QVERIFY(row.incomplete);
        QCOMPARE(row.image.size(), QSize(145, 145));
        CHECK_COLOUR(row.image, QPoint(70, 70), QColor(128, 128, 128));

        // The limit is the caller's: a picture within the default is refused under a lower one.
        const QByteArray ordinary = jpeg(quarters(QSize(400, 300)));
        PictureLimits tight;
        tight.maxPixels = 100'000;
        QVERIFY(PictureLoader::load(ordinary, u".jpg"_s, QSize(), tight).failure.contains(u"400 × 300"_s));
        QVERIFY(PictureLoader::load(ordinary, u".jpg"_s, QSize()).ok());
    }

    void decodesShareOneBudget() {
        // Every picture takes its share of the process's budget: while all of it is held, a
        // picture waits until its caller gives up; once it is free, the picture is decoded.
        const QByteArray bytes = jpeg(quarters(QSize(64, 48)));
        QVERIFY(DecodeBudget::process().acquire(DecodeBudget::ProcessBytes));
        QElapsedTimer waited;
        waited.start();
        const PictureResult r =
            PictureLoader::load(bytes, u".jpg"_s, QSize(), {}, [&] { return waited.elapsed() > 300; });
        DecodeBudget::process().release(DecodeBudget::ProcessBytes);
        QVERIFY(!r.ok() && r.failure.isEmpty());
        QVERIFY(waited.elapsed() > 300);
        QVERIFY(PictureLoader::load(bytes, u".jpg"_s, QSize()).ok());
        QCOMPARE(DecodeBudget::process().inUse(), 0);
    }

    void bitmaps_data() {
        QTest::addColumn<QString>("ext");
        QTest::addColumn<bool>("topDown");
        QTest::addColumn<QSize>("size");
        QTest::newRow(".bmp bottom-up") << u".bmp"_s << false << QSize(640, 480);
        QTest::newRow(".BMP top-down") << u".BMP"_s << true << QSize(640, 480);
        QTest::newRow("rows padded from 15 to 16 bytes") << u".bmp"_s << false << QSize(5, 40);
    }
    void bitmaps() {
        QFETCH(QString, ext);
        QFETCH(bool, topDown);
        QFETCH(QSize, size);
        const int w = size.width();
        const int h = size.height();
        const QByteArray bytes = bmp(quarters(size), topDown);
        const PictureResult whole = PictureLoader::load(bytes, ext, QSize());
        QVERIFY2(whole.ok(), qPrintable(whole.failure));
        QVERIFY(!whole.incomplete);
        QCOMPARE(whole.image.size(), size);
        checkQuarters(whole.image);
        const PictureResult fitted = PictureLoader::load(bytes, ext, size / 2);
        QCOMPARE(fitted.image.size(), size / 2);
        QCOMPARE(fitted.sourceSize, size);
        checkQuarters(fitted.image);

        // A quarter of the rows is cut off: the rows stored first are shown, the rest is grey.
        const qsizetype stride = (w * 3 + 3) / 4 * 4;
        const int stored = h * 3 / 4;
        const PictureResult cut = PictureLoader::load(bytes.left(54 + stride * stored), ext, QSize());
        QVERIFY2(cut.ok(), qPrintable(cut.failure));
        QVERIFY(cut.incomplete);
        QCOMPARE(cut.image.size(), size);
        const QColor grey(128, 128, 128);
        if (topDown) {
            CHECK_COLOUR(cut.image, QPoint(w / 4, h / 4), TopLeft);
            CHECK_COLOUR(cut.image, QPoint(3 * w / 4, stored - 1), BottomRight);
            CHECK_COLOUR(cut.image, QPoint(w / 4, stored), grey);
        } else {
            CHECK_COLOUR(cut.image, QPoint(w / 4, 3 * h / 4), BottomLeft);
            CHECK_COLOUR(cut.image, QPoint(3 * w / 4, h - stored), TopRight);
            CHECK_COLOUR(cut.image, QPoint(w / 4, h - stored - 1), grey);
        }
        // Only the headers: nothing to show.
        QVERIFY(!PictureLoader::load(bytes.left(60), ext, QSize()).ok());
    }

    void icons() {
        const QImage small = quarters(QSize(16, 16));
        QImage large(48, 48, QImage::Format_ARGB32);
        large.fill(BottomLeft);
        const QByteArray bytes = ico({small, large});
        for (const QString& ext : {u".ico"_s, u".ICO"_s}) {
            const PictureResult r = PictureLoader::load(bytes, ext, QSize());
            QVERIFY2(r.ok(), qPrintable(r.failure));
            QCOMPARE(r.image.size(), QSize(48, 48)); // the largest picture of the file
            CHECK_COLOUR(r.image, QPoint(24, 24), BottomLeft);
        }
        const PictureResult one = PictureLoader::load(ico({small}), u".ico"_s, QSize(8, 8));
        QCOMPARE(one.image.size(), QSize(8, 8));
        QCOMPARE(one.sourceSize, QSize(16, 16));
        CHECK_COLOUR(one.image, QPoint(1, 1), TopLeft);
        CHECK_COLOUR(one.image, QPoint(6, 6), BottomRight);
        // The large picture cut off: the small one is still whole.
        const PictureResult cut = PictureLoader::load(bytes.left(bytes.size() - 2000), u".ico"_s, QSize());
        QVERIFY2(cut.ok() ? cut.incomplete || cut.image.size() == QSize(16, 16) : !cut.failure.isEmpty(),
                 qPrintable(cut.failure));
        // A directory that names no picture.
        QVERIFY(PictureLoader::load(QByteArray("\0\0\1\0\0\0", 6), u".ico"_s, QSize())
                    .failure.contains(u"ICO"_s));
    }

    void metafiles_data() {
        QTest::addColumn<QString>("ext");
        QTest::newRow(".wmf") << u".wmf"_s;
        QTest::newRow(".EMF") << u".EMF"_s;
        QTest::newRow(".emf") << u".emf"_s;
        QTest::newRow(".WMF") << u".WMF"_s;
    }
    void metafiles() {
        QFETCH(QString, ext);
        using namespace MetafileSamples;
        const auto load = [&](const QString& sample, QSize target) {
            return PictureLoader::load(m_metafiles[sample + ext.toLower()], ext, target);
        };
        // Drawn at the fitted size: twice the natural size here.
        const PictureResult fills = load(u"fills"_s, QSize(400, 300));
        QVERIFY2(fills.ok(), qPrintable(fills.failure));
        QVERIFY(!fills.incomplete);
        QCOMPARE(fills.image.size(), QSize(400, 200));
        CHECK_COLOUR(fills.image, QPoint(50, 100), Red);
        CHECK_COLOUR(fills.image, QPoint(210, 20), Blue);
        CHECK_COLOUR(fills.image, QPoint(300, 100), Green);
        CHECK_COLOUR(fills.image, QPoint(380, 20), Blue);

        const PictureResult clip = load(u"clip"_s, QSize(400, 200));
        QVERIFY2(clip.ok(), qPrintable(clip.failure));
        CHECK_COLOUR(clip.image, QPoint(200, 100), Red);
        CHECK_COLOUR(clip.image, QPoint(40, 100), Grey); // outside the clip
        CHECK_COLOUR(clip.image, QPoint(360, 30), Grey); // outside the clip
        CHECK_COLOUR(clip.image, QPoint(40, 190), Blue); // drawn after the clip was undone

        const PictureResult hatch = load(u"hatch"_s, QSize(400, 200));
        QVERIFY2(hatch.ok(), qPrintable(hatch.failure));
        int dark = 0;
        for (int y = 10; y < 190; y += 3)
            for (int x = 10; x < 190; x += 3)
                dark += qGray(hatch.image.pixel(x, y)) < 100;
        QVERIFY2(dark > 100, QByteArray::number(dark));
        for (const QPoint pt : {QPoint(220, 20), QPoint(300, 100), QPoint(390, 190)})
            CHECK_COLOUR(hatch.image, pt, QColor(Qt::white));

        // The text starts at (20, 60) at this size and is 80 pixels high.
        const PictureResult text = load(u"text"_s, QSize(400, 200));
        QVERIFY2(text.ok(), qPrintable(text.failure));
        int inside = 0;
        int outside = 0;
        for (int y = 0; y < 200; ++y)
            for (int x = 0; x < 400; ++x) {
                const bool ink = qGray(text.image.pixel(x, y)) < 128;
                const bool inBox = x >= 14 && y >= 50 && y < 150;
                (inBox ? inside : outside) += ink;
            }
        QVERIFY2(inside > 1500, QByteArray::number(inside));
        QCOMPARE(outside, 0);

        // No target: the natural size at 96 dpi; a target beyond what a helper draws is bounded.
        QCOMPARE(load(u"fills"_s, QSize()).image.size(), Size);
        QCOMPARE(load(u"fills"_s, QSize(9000, 10)).image.size(), QSize(20, 10));
    }

    // A damaged EMF is refused before any helper starts, and by the helper itself; a WMF that
    // claims more than it holds still plays, marked as cut off.
    void damagedMetafiles_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("drawn");
        const auto changed = [this](const QString& sample, int offset, quint32 value, int cut = 0) {
            QByteArray bytes = m_metafiles[sample];
            if (offset >= 0)
                qToLittleEndian(value, bytes.data() + offset);
            bytes.chop(cut);
            return bytes;
        };
        // fills.emf: a 108-byte header, then a 12-byte record; 20 bytes of end record last.
        QTest::newRow("header record too short") << changed(u"fills.emf"_s, 4, 40) << false;
        QTest::newRow("record size not a multiple of 4") << changed(u"fills.emf"_s, 112, 14) << false;
        QTest::newRow("record size below 8") << changed(u"fills.emf"_s, 112, 4) << false;
        QTest::newRow("record past the end") << changed(u"fills.emf"_s, 112, 0x10000) << false;
        QTest::newRow("no end record") << changed(u"fills.emf"_s, -1, 0, 20) << false;
        // fills.wmf: placeable header, then the standard one with the file's length in words at 28.
        QTest::newRow("WMF claiming more words than it holds") << changed(u"fills.wmf"_s, 28, 1000) << true;
    }
    void damagedMetafiles() {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, drawn);
        if (drawn) {
            const PictureResult r = PictureLoader::load(bytes, u".wmf"_s, QSize(100, 100));
            QVERIFY2(r.ok(), qPrintable(r.failure));
            QVERIFY(r.incomplete);
            CHECK_COLOUR(r.image, QPoint(12, 25), MetafileSamples::Red);
            CHECK_COLOUR(r.image, QPoint(75, 25), MetafileSamples::Green);
            return;
        }
        QTemporaryDir noHelpers;
        AppPaths::setRuntimeFolderOverride(noHelpers.path());
        QCOMPARE(PictureLoader::load(bytes, u".emf"_s, QSize(100, 100)).failure,
                 u"Метафайл EMF повреждён и не может быть показан"_s);
        QProcess helper;
        helper.start(QString::fromUtf8(TENEMARK_RUNTIME_DIR) + u"/tenemark-emf-render"_s,
                     {u"100"_s, u"100"_s});
        helper.write(bytes);
        helper.closeWriteChannel();
        QVERIFY(helper.waitForFinished(30000));
        QCOMPARE(helper.exitCode(), int(MetafileProtocol::Damaged));
    }

    // A helper draws at most 24 megapixels, whatever box it is asked for.
    void metafileBoxIsBounded() {
        const auto drawn = MetafileProtocol::fitted({200, 100}, {8000, 8000});
        QCOMPARE(QSize(int(drawn.width), int(drawn.height)), QSize(6928, 3464));
    }

    void helperThatHangsIsKilled() {
        QTemporaryDir runtime;
        writeScript(runtime.filePath(u"tenemark-wmf-render"_s), "exec sleep 30");
        AppPaths::setRuntimeFolderOverride(runtime.path());
        PictureLimits limits;
        limits.helperTimeoutMs = 300;
        const PictureResult r =
            PictureLoader::load(m_metafiles[u"fills.wmf"_s], u".wmf"_s, QSize(100, 100), limits);
        QVERIFY(!r.ok());
        QCOMPARE(r.failure, u"Метафайл WMF рисуется слишком долго и пропущен"_s);
    }

    void helperThatCrashesIsReported() {
        QTemporaryDir runtime;
        writeScript(runtime.filePath(u"tenemark-emf-render"_s), "cat > /dev/null\nkill -SEGV $$");
        AppPaths::setRuntimeFolderOverride(runtime.path());
        const PictureResult r = PictureLoader::load(m_metafiles[u"fills.emf"_s], u".emf"_s, QSize(100, 100));
        QVERIFY(!r.ok());
        QCOMPARE(r.failure,
                 u"Метафайл EMF не удалось нарисовать: программа отрисовки завершилась аварийно"_s);
    }

    void missingHelperIsReported() {
        QTemporaryDir runtime;
        AppPaths::setRuntimeFolderOverride(runtime.path());
        const PictureResult r = PictureLoader::load(m_metafiles[u"fills.emf"_s], u".emf"_s, QSize(100, 100));
        QVERIFY(!r.ok());
        QVERIFY2(r.failure.startsWith(u"Не удалось запустить программу отрисовки метафайлов"_s) &&
                     r.failure.contains(u"tenemark-emf-render"_s),
                 qPrintable(r.failure));
    }

    void helperMemoryIsLimited() {
#ifdef __SANITIZE_ADDRESS__
        QSKIP("AddressSanitizer builds run the helpers without an address-space limit");
#endif
        for (const QString& ext : {u".wmf"_s, u".emf"_s}) {
            const QByteArray bytes = m_metafiles[u"fills"_s + ext];
            PictureLimits limits;
            QVERIFY(PictureLoader::load(bytes, ext, QSize(100, 100), limits).ok());
            limits.helperMemoryBytes = 4 << 20; // too little even to load the libraries
            const PictureResult r = PictureLoader::load(bytes, ext, QSize(100, 100), limits);
            QVERIFY(!r.ok());
            QVERIFY2(r.failure.contains(ext.mid(1).toUpper()), qPrintable(r.failure));
        }
    }

    void cancelledWorkEndsWithoutAPicture() {
        const auto yes = [] { return true; };
        const PictureResult j =
            PictureLoader::load(jpeg(quarters(QSize(320, 240))), u".jpg"_s, QSize(), {}, yes);
        QVERIFY(!j.ok());
        QVERIFY(j.failure.isEmpty());
        QTemporaryDir runtime;
        writeScript(runtime.filePath(u"tenemark-wmf-render"_s), "exec sleep 30");
        AppPaths::setRuntimeFolderOverride(runtime.path());
        const PictureResult w = PictureLoader::load(m_metafiles[u"fills.wmf"_s], u".wmf"_s, QSize(), {}, yes);
        QVERIFY(!w.ok());
        QVERIFY(w.failure.isEmpty());
    }

    void unknownAndEmpty() {
        const QByteArray bytes = jpeg(quarters(QSize(16, 16)));
        QCOMPARE(PictureLoader::load(bytes, u".png"_s, QSize()).failure,
                 u"Неизвестный формат изображения «.png»"_s);
        QCOMPARE(PictureLoader::load(bytes, QString(), QSize()).failure,
                 u"Формат изображения не указан: у файла нет расширения"_s);
        QCOMPARE(PictureLoader::load(QByteArray(), u".jpg"_s, QSize()).failure, u"Файл изображения пуст"_s);
        try {
            PictureLoader::loadOrThrow(bytes, u".gif"_s, QSize());
            QFAIL("a gif was loaded");
        } catch (const AppError& e) {
            QCOMPARE(e.text(), u"Неизвестный формат изображения «.gif»"_s);
        }
        QCOMPARE(PictureLoader::loadOrThrow(bytes, u".jpg"_s, QSize(8, 8)).size(), QSize(8, 8));
    }
};

QTEST_GUILESS_MAIN(TestPictureLoader)
#include "tst_pictureloader.moc"
