#pragma once

#include <QByteArray>
#include <QImage>
#include <QMetaType>
#include <QMutex>
#include <QSize>
#include <QString>
#include <QWaitCondition>

#include <functional>

// The program's one picture loader: decodes a stored picture from memory by the format that its
// extension names and returns it fitted into the size the caller asks for. Never throws for a bad
// picture; the result says why there is none. Safe to call from any thread.
//
//   JPEG (.jpg, .jpeg)  libjpeg, scaled while decoding, EXIF orientation applied
//   BMP, ICO            Qt's image readers
//   WMF, EMF            drawn by the helper programs tenemark-wmf-render / tenemark-emf-render
//                       (beside the program, AppPaths::runtimeFile), one process per picture,
//                       with a time and memory limit
enum class PictureFormat { Unknown, Jpeg, Bmp, Icon, Wmf, Emf };

struct PictureLimits {
    // Pixels of a raster picture as stored; larger ones are refused before they are decoded.
    qint64 maxPixels = 150'000'000;
    // Memory that decoding one picture may take (the picture at the size it is decoded, the fitted
    // copy, a progressive JPEG's coefficients), worked out from its header before decoding; a
    // picture that needs more is refused. A 50-megapixel photo decoded whole takes 200 MB.
    qint64 maxDecodeBytes = qint64(256) << 20;
    // A metafile helper is killed after this long...
    int helperTimeoutMs = 5000;
    // ...and gets this much address space (not in AddressSanitizer builds).
    qint64 helperMemoryBytes = qint64(1) << 30;
};

struct PictureResult {
    QImage image;            // the picture fitted into the requested size; null on failure
    QString failure;         // why there is no picture, for the user; empty on success
    bool incomplete = false; // only part of the picture decoded (a truncated or damaged file)
    QSize sourceSize;        // the picture's own size, upright; empty when unknown

    bool ok() const { return !image.isNull(); }
};
Q_DECLARE_METATYPE(PictureResult)

// What the decodes running at once may take together: each takes its share, worked out before it
// allocates, and waits while the others hold too much of it. Safe to use from any thread.
class DecodeBudget {
public:
    // Every load() shares this one: 512 MB, the most that four decoding threads may hold.
    static constexpr qint64 ProcessBytes = qint64(512) << 20;
    static DecodeBudget& process();

    explicit DecodeBudget(qint64 total) : m_total(total) {}
    // Waits until `bytes` fit beside the shares held; false at once when they exceed the whole,
    // and when `cancelled` answers true while waiting.
    bool acquire(qint64 bytes, const std::function<bool()>& cancelled = {});
    void release(qint64 bytes);
    qint64 inUse() const;

private:
    const qint64 m_total;
    qint64 m_used = 0;
    mutable QMutex m_mutex;
    QWaitCondition m_freed;
};

namespace PictureLoader {

// The format that `ext` names (".jpg", "JPG", ".Emf", ...), letter case and the dot ignored.
PictureFormat formatOf(const QString& ext);

// `source` scaled proportionally to fit `target` (up or down); `source` itself when `target` is
// empty. Never smaller than 1 x 1.
QSize fitSize(QSize source, QSize target);

// The largest JPEG DCT reduction (1, 2, 4 or 8) that still leaves at least fitSize(stored,
// target) pixels, so the picture is never enlarged for display; 1 when `target` is empty.
int jpegDenominator(QSize stored, QSize target);

// Decodes `bytes` as the format `ext` names and fits the picture into `target` (device pixels):
// raster pictures are only ever reduced (the widget enlarges when it paints), metafiles are drawn
// at the fitted size. An empty `target` keeps the picture's own size. Only the fitted picture is
// kept. `cancelled`, when given, is polled during long work; a true answer ends it early with a
// null image.
PictureResult load(const QByteArray& bytes, const QString& ext, QSize target,
                   const PictureLimits& limits = {}, const std::function<bool()>& cancelled = {});

// The same for code that runs under the action guard: the fitted picture, or AppError with the
// failure text. An incomplete picture is returned as it is.
QImage loadOrThrow(const QByteArray& bytes, const QString& ext, QSize target,
                   const PictureLimits& limits = {});

} // namespace PictureLoader
