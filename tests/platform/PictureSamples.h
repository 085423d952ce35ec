#pragma once

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QList>
#include <QSize>

// Pictures made by the tests themselves, in every format the loader reads except metafiles
// (those come from metafile-samples).
namespace PictureSamples {

inline const QColor TopLeft(230, 30, 30);
inline const QColor TopRight(30, 170, 40);
inline const QColor BottomLeft(30, 50, 220);
inline const QColor BottomRight(240, 220, 40);

// Four coloured quarters in the colours above.
QImage quarters(QSize size);

// Colours equal within `tolerance` per channel.
bool near(QRgb a, QRgb b, int tolerance = 24);

QByteArray jpeg(const QImage& image, int quality = 92);
// Progressive as libjpeg's simple script makes it (10 scans), or with one scan per coefficient
// of each colour component after the first scan of all three averages: 190 scans.
QByteArray progressiveJpeg(const QImage& image, int quality = 92, bool scanPerCoefficient = false);
// A four-channel JPEG of one ink (c, m, y as red, green, blue; k as alpha): CMYK with the
// Adobe marker and inverted values as Adobe tools write it, or YCCK.
QByteArray cmykJpeg(QSize size, const QColor& ink, bool ycck);
// `jpeg` with an APP1 Exif segment carrying the orientation tag, in either byte order.
QByteArray withOrientation(const QByteArray& jpeg, int orientation, bool bigEndian = false);
// `jpeg` whose frame header claims another size.
QByteArray withFrameSize(const QByteArray& jpeg, int width, int height);

// A 24-bit BMP written byte by byte; rows bottom-up unless `topDown`.
QByteArray bmp(const QImage& image, bool topDown = false);
// An icon file holding the pictures in order, each as Qt writes a one-picture icon.
QByteArray ico(const QList<QImage>& images);

} // namespace PictureSamples
