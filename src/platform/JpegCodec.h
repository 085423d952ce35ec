#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

#include <functional>

// JPEG pictures through libjpeg. Every failure throws AppError with libjpeg's own message.
namespace JpegCodec {

inline constexpr int DefaultQuality = 75;
// Working memory of one decode: a progressive picture's coefficients (a 64-megapixel colour photo
// takes about 200 MB).
inline constexpr long MaxDecoderMemory = 256L * 1024 * 1024;
// Scans of a progressive picture that are decoded; common encoders write about ten, and every
// scan walks the whole picture again.
inline constexpr int MaxScans = 100;

// Grey pictures come back as Grayscale8, colour and CMYK ones (plain or Adobe inverted) as RGB32.
QImage decode(const QByteArray& bytes);
QImage decodeFile(const QString& path);

// What the header tells, read without decoding the picture.
struct Header {
    QSize size;          // as stored
    int orientation = 1; // EXIF orientation 1..8 (1 when there is none or it is invalid)
    bool progressive = false;
    // Memory of the whole picture's coefficients, which a progressive picture is decoded through.
    qint64 coefficientBytes = 0;
};
Header readHeader(const QByteArray& bytes);

// The stored size reduced by libjpeg's DCT scaling (denominator 1, 2, 4 or 8), rounded up.
QSize scaledSize(QSize stored, int denominator);

struct Scaled {
    QImage image;            // at the chosen scale, in stored orientation; null when cancelled
    bool incomplete = false; // the data ended early or is corrupt; the rest is filled in grey
};
// Decodes at 1/denominator of the stored size (1, 2, 4 or 8). Memory use is bounded: progressive
// pictures beyond MaxDecoderMemory of coefficients are refused. A progressive picture of more than
// MaxScans scans is shown as its first MaxScans scans draw it, marked incomplete.
// `cancelled`, when given, is polled while decoding; a true answer stops it with a null image.
Scaled decodeScaled(const QByteArray& bytes, int denominator, const std::function<bool()>& cancelled = {});

// Grayscale8 pictures are written as grey JPEGs, everything else as colour (alpha is dropped
// onto white). Quality is clamped to 1..100.
QByteArray encode(const QImage& image, int quality = DefaultQuality);

} // namespace JpegCodec
