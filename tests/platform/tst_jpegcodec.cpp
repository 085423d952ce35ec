#include "AppError.h"
#include "JpegCodec.h"

#include <QPainter>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include <jpeglib.h>

using namespace Qt::StringLiterals;

namespace {

// Four colour quarters, large enough that JPEG blocks inside each stay clean.
QImage quarters() {
    QImage image(64, 48, QImage::Format_RGB32);
    QPainter p(&image);
    p.fillRect(0, 0, 32, 24, QColor(255, 0, 0));
    p.fillRect(32, 0, 32, 24, QColor(0, 160, 0));
    p.fillRect(0, 24, 32, 24, QColor(0, 0, 255));
    p.fillRect(32, 24, 32, 24, QColor(240, 240, 40));
    return image;
}

bool near(QRgb a, QRgb b, int tolerance = 12) {
    return qAbs(qRed(a) - qRed(b)) <= tolerance && qAbs(qGreen(a) - qGreen(b)) <= tolerance &&
           qAbs(qBlue(a) - qBlue(b)) <= tolerance;
}

QByteArray colourName(QRgb c) {
    return QColor(c).name().toLatin1();
}

// A four-channel JPEG written straight through libjpeg. `adobe` stores the channels inverted
// with an Adobe marker, as picture editors do; otherwise they are plain ink amounts.
QByteArray cmykJpeg(int width, int height, const std::array<JSAMPLE, 4>& ink, bool adobe) {
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = JDIMENSION(width);
    cinfo.image_height = JDIMENSION(height);
    cinfo.input_components = 4;
    cinfo.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&cinfo);
    jpeg_set_colorspace(&cinfo, JCS_CMYK);
    cinfo.write_Adobe_marker = adobe ? TRUE : FALSE;
    jpeg_set_quality(&cinfo, 95, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<JSAMPLE> row(size_t(width) * 4);
    for (int x = 0; x < width; ++x)
        for (int c = 0; c < 4; ++c)
            row[size_t(x) * 4 + size_t(c)] = adobe ? JSAMPLE(255 - ink[size_t(c)]) : ink[size_t(c)];
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&cinfo, &r, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    QByteArray bytes(reinterpret_cast<const char*>(buffer), qsizetype(size));
    std::free(buffer);
    return bytes;
}

} // namespace

class TestJpegCodec : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void colourRoundTrip() {
        const QImage source = quarters();
        const QByteArray bytes = JpegCodec::encode(source);
        QVERIFY(bytes.startsWith("\xFF\xD8\xFF"));
        QVERIFY(bytes.endsWith("\xFF\xD9"));
        const QImage back = JpegCodec::decode(bytes);
        QCOMPARE(back.size(), source.size());
        QVERIFY(!back.isGrayscale());
        for (const QPoint pt : {QPoint(10, 8), QPoint(50, 8), QPoint(10, 40), QPoint(50, 40)})
            QVERIFY2(near(back.pixel(pt), source.pixel(pt)),
                     colourName(back.pixel(pt)) + " vs " + colourName(source.pixel(pt)));
    }

    void greyRoundTrip() {
        QImage grey(40, 30, QImage::Format_Grayscale8);
        for (int y = 0; y < grey.height(); ++y)
            for (int x = 0; x < grey.width(); ++x)
                grey.scanLine(y)[x] = x < 20 ? 30 : 200;
        const QImage back = JpegCodec::decode(JpegCodec::encode(grey));
        QCOMPARE(back.format(), QImage::Format_Grayscale8);
        QCOMPARE(back.size(), grey.size());
        QVERIFY(qAbs(back.scanLine(15)[5] - 30) <= 4);
        QVERIFY(qAbs(back.scanLine(15)[35] - 200) <= 4);
    }

    void cmykPictures_data() {
        QTest::addColumn<bool>("adobe");
        QTest::addColumn<QColor>("ink"); // c, m, y as red, green, blue; k as alpha
        QTest::addColumn<QColor>("expected");
        QTest::newRow("adobe red") << true << QColor(0, 255, 255, 0) << QColor(255, 0, 0);
        QTest::newRow("adobe grey") << true << QColor(0, 0, 0, 128) << QColor(127, 127, 127);
        QTest::newRow("adobe blue") << true << QColor(255, 255, 0, 0) << QColor(0, 0, 255);
        QTest::newRow("plain green") << false << QColor(255, 0, 255, 0) << QColor(0, 255, 0);
        QTest::newRow("plain black") << false << QColor(0, 0, 0, 255) << QColor(0, 0, 0);
        QTest::newRow("plain white") << false << QColor(0, 0, 0, 0) << QColor(255, 255, 255);
    }

    void cmykPictures() {
        QFETCH(bool, adobe);
        QFETCH(QColor, ink);
        QFETCH(QColor, expected);
        const std::array<JSAMPLE, 4> channels = {JSAMPLE(ink.red()), JSAMPLE(ink.green()),
                                                 JSAMPLE(ink.blue()), JSAMPLE(ink.alpha())};
        const QImage image = JpegCodec::decode(cmykJpeg(24, 16, channels, adobe));
        QCOMPARE(image.size(), QSize(24, 16));
        QVERIFY2(near(image.pixel(12, 8), expected.rgb(), 6),
                 colourName(image.pixel(12, 8)) + " vs " + colourName(expected.rgb()));
    }

    void qualityChangesSize() {
        QImage noisy(120, 90, QImage::Format_RGB32);
        quint32 seed = 1;
        for (int y = 0; y < noisy.height(); ++y)
            for (int x = 0; x < noisy.width(); ++x) {
                seed = seed * 1103515245u + 12345u;
                noisy.setPixel(x, y, qRgb(int(seed >> 24), int(seed >> 16) & 255, (x * 2) & 255));
            }
        const QByteArray low = JpegCodec::encode(noisy, 10);
        const QByteArray high = JpegCodec::encode(noisy, 95);
        QVERIFY(low.size() < high.size());
        QCOMPARE(JpegCodec::encode(noisy), JpegCodec::encode(noisy, 75));
        // Out-of-range qualities are clamped rather than refused.
        QCOMPARE(JpegCodec::encode(noisy, 500), JpegCodec::encode(noisy, 100));
        QCOMPARE(JpegCodec::encode(noisy, -3), JpegCodec::encode(noisy, 1));
    }

    void transparencyBecomesWhite() {
        QImage clear(32, 32, QImage::Format_ARGB32);
        clear.fill(Qt::transparent);
        const QImage back = JpegCodec::decode(JpegCodec::encode(clear));
        QVERIFY2(near(back.pixel(16, 16), qRgb(255, 255, 255), 3), colourName(back.pixel(16, 16)));
    }

    void garbageIsRefusedWithLibjpegsMessage() {
        try {
            JpegCodec::decode(QByteArray("GIF89a this is no jpeg at all"));
            QFAIL("garbage decoded");
        } catch (const AppError& e) {
            QVERIFY2(e.text().contains(u"Not a JPEG file"_s), qPrintable(e.text()));
        }
        QVERIFY_THROWS_EXCEPTION(AppError, JpegCodec::decode(QByteArray()));
        // A start marker and nothing else.
        QVERIFY_THROWS_EXCEPTION(AppError, JpegCodec::decode(QByteArray("\xFF\xD8\xFF\xE0\x00\x10", 6)));
        // A decoder that failed leaves nothing behind that breaks the next one.
        QCOMPARE(JpegCodec::decode(JpegCodec::encode(quarters())).size(), QSize(64, 48));
    }

    void corruptHeaderIsRefused() {
        QByteArray bytes = JpegCodec::encode(quarters());
        // Find the frame header (SOF0) and give the picture a precision libjpeg does not take.
        const qsizetype sof = bytes.indexOf("\xFF\xC0");
        QVERIFY(sof > 0);
        bytes[sof + 4] = char(3);
        QVERIFY_THROWS_EXCEPTION(AppError, JpegCodec::decode(bytes));
    }

    void truncatedDataStillGivesThePicture() {
        const QByteArray bytes = JpegCodec::encode(quarters(), 90);
        // The header is whole and the scan has begun; the missing rest is filled in rather
        // than refused, as picture viewers do.
        const qsizetype scan = bytes.indexOf("\xFF\xDA");
        QVERIFY(scan > 0);
        const QImage image = JpegCodec::decode(bytes.left(scan + (bytes.size() - scan) / 2));
        QCOMPARE(image.size(), QSize(64, 48));
    }

    void files() {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"фото.jpg"_s);
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(JpegCodec::encode(quarters()));
        f.close();
        QCOMPARE(JpegCodec::decodeFile(path).size(), QSize(64, 48));
        try {
            JpegCodec::decodeFile(dir.filePath(u"нет.jpg"_s));
            QFAIL("missing file decoded");
        } catch (const AppError& e) {
            QVERIFY2(e.text().contains(u"нет.jpg"_s), qPrintable(e.text()));
        }
    }

    void nullImageIsRefused() { QVERIFY_THROWS_EXCEPTION(AppError, JpegCodec::encode(QImage())); }
};

QTEST_GUILESS_MAIN(TestJpegCodec)
#include "tst_jpegcodec.moc"
