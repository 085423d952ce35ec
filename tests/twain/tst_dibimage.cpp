#include "DibImage.h"
#include "JpegCodec.h"
#include "TTWAIN.h"
#include "TestDib.h"

#include <QTest>
#include <QtEndian>

#include <cstdlib>
#include <cstring>
#include <limits>

using namespace Qt::StringLiterals;

namespace {

// A 3 x 2 picture: top row red, green, blue; bottom row white, black, grey.
const QRgb Pixels[2][3] = {{qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255)},
                           {qRgb(255, 255, 255), qRgb(0, 0, 0), qRgb(128, 128, 128)}};

QByteArray sixColours24(bool topDown) {
    DibShape shape;
    shape.width = 3;
    shape.height = 2;
    shape.topDown = topDown;
    return buildDib(shape, [](int y, unsigned char* row) {
        for (int x = 0; x < 3; ++x) {
            row[3 * x] = uchar(qBlue(Pixels[y][x]));
            row[3 * x + 1] = uchar(qGreen(Pixels[y][x]));
            row[3 * x + 2] = uchar(qRed(Pixels[y][x]));
        }
    });
}

void comparePixels(const QImage& image) {
    QCOMPARE(image.size(), QSize(3, 2));
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            QCOMPARE(image.pixel(x, y), Pixels[y][x]);
}

// The picture copied out of the bitmap, and the one a block taken over by the image gives; null
// when they differ.
QImage imageOf(const QByteArray& dib) {
    const QImage copied = DibImage::toImage(dib.constData(), std::size_t(dib.size()));
    void* block = std::malloc(std::size_t(dib.size()));
    std::memcpy(block, dib.constData(), std::size_t(dib.size()));
    const QImage adopted = DibImage::adopt(block, std::size_t(dib.size()));
    return adopted.format() == copied.format() && adopted == copied ? adopted : QImage();
}

QString errorOf(const QByteArray& dib) {
    try {
        DibImage::toImage(dib.constData(), std::size_t(dib.size()));
    } catch (const ETwainError& e) {
        return e.text();
    }
    return QString();
}

} // namespace

class TestDibImage : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void colourRowsAreBottomUpAndPadded() {
        // Three pixels of 3 bytes: each row is padded from 9 to 12 bytes.
        const QByteArray dib = sixColours24(false);
        QCOMPARE(dib.size(), 40 + 2 * 12);
        const QImage image = imageOf(dib);
        QCOMPARE(image.format(), QImage::Format_RGB888);
        comparePixels(image);
    }

    void negativeHeightIsTopDown() {
        const QByteArray dib = sixColours24(true);
        comparePixels(imageOf(dib));
    }

    void greyRampGivesGreyscale() {
        DibShape shape;
        shape.width = 5;
        shape.height = 2;
        shape.bits = 8;
        shape.palette = greyRamp();
        const QByteArray dib = buildDib(shape, [](int y, unsigned char* row) {
            for (int x = 0; x < 5; ++x)
                row[x] = uchar(y * 100 + x * 30);
        });
        const QImage image = imageOf(dib);
        QCOMPARE(image.format(), QImage::Format_Grayscale8);
        QCOMPARE(image.size(), QSize(5, 2));
        QCOMPARE(image.constScanLine(0)[4], uchar(120));
        QCOMPARE(image.constScanLine(1)[0], uchar(100));
        QCOMPARE(image.constScanLine(1)[3], uchar(190));
    }

    void usedColourCountPlacesThePixels() {
        // Three table entries: the pixels start 12 bytes after the header, not 1024.
        DibShape shape;
        shape.width = 3;
        shape.height = 1;
        shape.bits = 8;
        shape.colorsUsed = 3;
        shape.palette = {qRgb(10, 20, 30), qRgb(200, 100, 0), qRgb(0, 0, 0)};
        const QByteArray dib = buildDib(shape, [](int, unsigned char* row) {
            row[0] = 1;
            row[1] = 0;
            row[2] = 2;
        });
        QCOMPARE(TTWAIN::DibColorCount(dib.constData()), 3);
        QCOMPARE(DibImage::bitsOffset(dib.constData()), std::size_t(52));
        const QImage image = imageOf(dib);
        QCOMPARE(image.format(), QImage::Format_Indexed8);
        QCOMPARE(image.pixel(0, 0), qRgb(200, 100, 0));
        QCOMPARE(image.pixel(1, 0), qRgb(10, 20, 30));
        QCOMPARE(image.pixel(2, 0), qRgb(0, 0, 0));
    }

    void fourAndOneBitPictures() {
        DibShape four;
        four.width = 3;
        four.height = 1;
        four.bits = 4;
        for (int i = 0; i < 16; ++i)
            four.palette.append(qRgb(i * 16, 0, 255 - i * 16));
        const QByteArray dib4 = buildDib(four, [](int, unsigned char* row) {
            row[0] = 0x2F; // pixels 2 and 15
            row[1] = 0x70; // pixel 7
        });
        const QImage image4 = imageOf(dib4);
        QCOMPARE(image4.pixel(0, 0), qRgb(32, 0, 223));
        QCOMPARE(image4.pixel(1, 0), qRgb(240, 0, 15));
        QCOMPARE(image4.pixel(2, 0), qRgb(112, 0, 143));

        DibShape one;
        one.width = 10;
        one.height = 2;
        one.bits = 1;
        one.palette = {qRgb(255, 255, 255), qRgb(0, 0, 0)};
        const QByteArray dib1 = buildDib(one, [](int y, unsigned char* row) {
            row[0] = y == 0 ? 0x80 : 0x01; // top row: first pixel black; bottom row: eighth
            row[1] = y == 0 ? 0x40 : 0x00; // top row: tenth pixel black
        });
        const QImage image1 = imageOf(dib1);
        QCOMPARE(image1.format(), QImage::Format_Mono);
        QCOMPARE(image1.pixel(0, 0), qRgb(0, 0, 0));
        QCOMPARE(image1.pixel(1, 0), qRgb(255, 255, 255));
        QCOMPARE(image1.pixel(9, 0), qRgb(0, 0, 0));
        QCOMPARE(image1.pixel(7, 1), qRgb(0, 0, 0));
        QCOMPARE(image1.pixel(0, 1), qRgb(255, 255, 255));
    }

    void maskedPixels() {
        // 32 bits without masks: blue, green, red, unused.
        DibShape plain;
        plain.width = 1;
        plain.height = 1;
        plain.bits = 32;
        const QByteArray dib32 = buildDib(plain, [](int, unsigned char* row) {
            row[0] = 0x10;
            row[1] = 0x20;
            row[2] = 0x30;
            row[3] = 0x00;
        });
        QCOMPARE(imageOf(dib32).pixel(0, 0), qRgb(0x30, 0x20, 0x10));

        // 16 bits with 5-6-5 masks after the header: pure green at full scale, red at half.
        DibShape masked;
        masked.width = 2;
        masked.height = 1;
        masked.bits = 16;
        masked.compression = BI_BITFIELDS;
        masked.masks = {0xF800, 0x07E0, 0x001F};
        const QByteArray dib16 = buildDib(masked, [](int, unsigned char* row) {
            const TW_UINT16 green = 0x07E0;
            const TW_UINT16 halfRed = 0x8000; // 16 of 31
            std::memcpy(row, &green, 2);
            std::memcpy(row + 2, &halfRed, 2);
        });
        QCOMPARE(DibImage::bitsOffset(dib16.constData()), std::size_t(52));
        const QImage image = imageOf(dib16);
        QCOMPARE(image.pixel(0, 0), qRgb(0, 255, 0));
        QCOMPARE(image.pixel(1, 0), qRgb(132, 0, 0));
    }

    void coreHeader() {
        DibShape core;
        core.headerSize = 12;
        core.width = 2;
        core.height = 2;
        core.bits = 8;
        core.palette = greyRamp();
        core.palette[7] = qRgb(1, 2, 3);
        const QByteArray dib = buildDib(core, [](int y, unsigned char* row) {
            row[0] = y == 0 ? 7 : 200;
            row[1] = 9;
        });
        QCOMPARE(TTWAIN::DibColorCount(dib.constData()), 256);
        QCOMPARE(DibImage::bitsOffset(dib.constData()), std::size_t(12 + 3 * 256));
        const QImage image = imageOf(dib);
        QCOMPARE(image.pixel(0, 0), qRgb(1, 2, 3));
        QCOMPARE(image.pixel(0, 1), qRgb(200, 200, 200));
        QCOMPARE(image.pixel(1, 1), qRgb(9, 9, 9));
    }

    void colourCountByDepth_data() {
        QTest::addColumn<int>("headerSize");
        QTest::addColumn<int>("bits");
        QTest::addColumn<int>("used");
        QTest::addColumn<int>("expected");
        QTest::newRow("1 bit") << 40 << 1 << 0 << 2;
        QTest::newRow("4 bits") << 40 << 4 << 0 << 16;
        QTest::newRow("8 bits") << 40 << 8 << 0 << 256;
        QTest::newRow("24 bits") << 40 << 24 << 0 << 0;
        QTest::newRow("16 bits") << 40 << 16 << 0 << 0;
        QTest::newRow("used count wins") << 40 << 8 << 17 << 17;
        QTest::newRow("24 bits with a table") << 40 << 24 << 4 << 4;
        QTest::newRow("core 4 bits") << 12 << 4 << 0 << 16;
        QTest::newRow("core 24 bits") << 12 << 24 << 0 << 0;
    }
    void colourCountByDepth() {
        QFETCH(int, headerSize);
        QFETCH(int, bits);
        QFETCH(int, used);
        QFETCH(int, expected);
        DibShape shape;
        shape.headerSize = headerSize;
        shape.bits = bits;
        shape.colorsUsed = TW_UINT32(used);
        const QByteArray dib = buildDib(shape, [](int, unsigned char*) {});
        QCOMPARE(TTWAIN::DibColorCount(dib.constData()), expected);
    }

    void brokenBitmapsRaise() {
        const QByteArray whole = sixColours24(false);
        QCOMPARE(errorOf(whole.left(whole.size() - 1)),
                 u"The image is shorter than its bitmap header says"_s);
        QCOMPARE(errorOf(whole.left(20)), u"The image is too short for a bitmap header"_s);
        QByteArray v2 = whole;
        v2[0] = 20;
        QCOMPARE(errorOf(v2), u"Unknown bitmap header of 20 bytes"_s);
        QByteArray lowest = whole;
        qToLittleEndian(std::numeric_limits<qint32>::min(), lowest.data() + 8);
        QCOMPARE(errorOf(lowest), u"Invalid bitmap size 3 x -2147483648"_s);

        DibShape rle;
        rle.bits = 8;
        rle.compression = 1;
        rle.palette = greyRamp();
        QCOMPARE(errorOf(buildDib(rle, [](int, unsigned char*) {})),
                 u"Compressed bitmaps (compression 1) are not supported"_s);

        DibShape odd;
        odd.bits = 2;
        QCOMPARE(errorOf(buildDib(odd, [](int, unsigned char*) {})),
                 u"Bitmaps with 2 bits per pixel are not supported"_s);
    }

    // The card stores a scan as JPEG quality 75 through the program's codec.
    void deliveredPictureEncodesAsJpeg() {
        DibShape shape;
        shape.width = 64;
        shape.height = 32;
        const QByteArray dib = buildDib(shape, [](int y, unsigned char* row) {
            for (int x = 0; x < 64; ++x) {
                const bool left = x < 32;
                row[3 * x] = left ? 0 : 200;       // blue
                row[3 * x + 1] = y < 16 ? 160 : 0; // green
                row[3 * x + 2] = left ? 230 : 10;  // red
            }
        });
        const QImage image = imageOf(dib);
        const QByteArray jpeg = JpegCodec::encode(image, 75);
        QVERIFY(jpeg.startsWith("\xFF\xD8\xFF"));
        const QImage decoded = JpegCodec::decode(jpeg);
        QCOMPARE(decoded.size(), QSize(64, 32));
        auto near = [](QRgb a, QRgb b) {
            return qAbs(qRed(a) - qRed(b)) <= 12 && qAbs(qGreen(a) - qGreen(b)) <= 12 &&
                   qAbs(qBlue(a) - qBlue(b)) <= 12;
        };
        QVERIFY(near(decoded.pixel(8, 4), qRgb(230, 160, 0)));
        QVERIFY(near(decoded.pixel(56, 4), qRgb(10, 160, 200)));
        QVERIFY(near(decoded.pixel(8, 28), qRgb(230, 0, 0)));
        QVERIFY(near(decoded.pixel(56, 28), qRgb(10, 0, 200)));
    }
};

QTEST_GUILESS_MAIN(TestDibImage)
#include "tst_dibimage.moc"
