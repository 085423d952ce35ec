#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

// JPEG pictures through libjpeg. Every failure throws AppError with libjpeg's own message.
namespace JpegCodec {

inline constexpr int DefaultQuality = 75;

// Grey pictures come back as Grayscale8, colour and CMYK ones (plain or Adobe inverted) as RGB32.
QImage decode(const QByteArray& bytes);
QImage decodeFile(const QString& path);

// Grayscale8 pictures are written as grey JPEGs, everything else as colour (alpha is dropped
// onto white). Quality is clamped to 1..100.
QByteArray encode(const QImage& image, int quality = DefaultQuality);

} // namespace JpegCodec
