#include "PictureLoader.h"

#include "AppError.h"
#include "AppPaths.h"
#include "JpegCodec.h"
#include "metafile/MetafileProtocol.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QImageReader>
#include <QPainter>
#include <QProcess>
#include <QTransform>
#include <QtEndian>

#include <algorithm>

#include <sys/resource.h>

using namespace Qt::StringLiterals;

namespace {

PictureResult failed(const QString& reason) {
    PictureResult r;
    r.failure = reason;
    return r;
}

QString tooLarge(qint64 width, qint64 height) {
    return u"Изображение слишком большое (%1 × %2 точек) и не будет показано"_s.arg(width).arg(height);
}

QString damaged(const QString& format) {
    return u"Изображение %1 повреждено и не может быть показано"_s.arg(format);
}

// The fitted size for a raster picture: reduced to fit, never enlarged.
QSize reducedSize(QSize source, QSize target) {
    const QSize fit = PictureLoader::fitSize(source, target);
    return fit.width() > source.width() || fit.height() > source.height() ? source : fit;
}

QImage reduced(QImage image, QSize target) {
    const QSize size = reducedSize(image.size(), target);
    if (size == image.size())
        return image;
    return image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

int allocationLimitMb(const PictureLimits& limits) {
    const qint64 bytes = qMin(limits.maxPixels * 4, limits.maxDecodeBytes);
    return int(qBound(qint64(1), bytes / (1024 * 1024), qint64(1) << 20));
}

qint64 rasterBytes(QSize size) {
    return qint64(size.width()) * size.height() * 4;
}

// A decode's share of the process's budget, held while it lives: refused() when it is beyond the
// picture's own limit or the whole budget, else not held() only when the caller gave up waiting.
class Share {
public:
    Share(qint64 bytes, const PictureLimits& limits, const std::function<bool()>& cancelled)
        : m_bytes(bytes) {
        m_refused = bytes > limits.maxDecodeBytes || bytes > DecodeBudget::ProcessBytes;
        m_held = !m_refused && DecodeBudget::process().acquire(bytes, cancelled);
    }
    ~Share() {
        if (m_held)
            DecodeBudget::process().release(m_bytes);
    }
    Share(const Share&) = delete;
    Share& operator=(const Share&) = delete;
    bool refused() const { return m_refused; }
    bool held() const { return m_held; }

private:
    qint64 m_bytes;
    bool m_refused = false;
    bool m_held = false;
};

// ---- JPEG

QImage upright(const QImage& image, int orientation) {
    QTransform quarter;
    quarter.rotate(90);
    switch (orientation) {
    case 2:
        return image.mirrored(true, false);
    case 3:
        return image.mirrored(true, true);
    case 4:
        return image.mirrored(false, true);
    case 5:
        return image.transformed(quarter).mirrored(true, false);
    case 6:
        return image.transformed(quarter);
    case 7:
        return image.transformed(quarter).mirrored(false, true);
    case 8:
        return image.transformed(QTransform().rotate(270));
    default:
        return image;
    }
}

PictureResult loadJpeg(const QByteArray& bytes, QSize target, const PictureLimits& limits,
                       const std::function<bool()>& cancelled) {
    try {
        const JpegCodec::Header header = JpegCodec::readHeader(bytes);
        const QSize stored = header.size;
        if (stored.isEmpty())
            return failed(damaged(u"JPEG"_s));
        if (qint64(stored.width()) * stored.height() > limits.maxPixels)
            return failed(tooLarge(stored.width(), stored.height()));
        const bool turned = header.orientation >= 5;
        const QSize uprightSize = turned ? stored.transposed() : stored;
        const QSize fit = reducedSize(uprightSize, target);
        const int denominator = PictureLoader::jpegDenominator(uprightSize, target);

        const QSize decoded = JpegCodec::scaledSize(stored, denominator);
        const Share share(rasterBytes(decoded) + (decoded != fit ? rasterBytes(fit) : 0) +
                              (header.progressive ? header.coefficientBytes : 0),
                          limits, cancelled);
        if (share.refused())
            return failed(tooLarge(stored.width(), stored.height()));
        if (!share.held())
            return {};
        JpegCodec::Scaled scaled = JpegCodec::decodeScaled(bytes, denominator, cancelled);
        if (scaled.image.isNull())
            return {};
        const QSize fitStored = turned ? fit.transposed() : fit;
        if (scaled.image.size() != fitStored)
            scaled.image = scaled.image.scaled(fitStored, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        PictureResult r;
        r.image = upright(scaled.image, header.orientation);
        r.incomplete = scaled.incomplete;
        r.sourceSize = uprightSize;
        return r;
    } catch (const AppError& e) {
        return failed(damaged(u"JPEG"_s) + u" (%1)"_s.arg(e.text()));
    }
}

// ---- BMP and ICO through Qt

QImage readWithQt(const QByteArray& bytes, const char* format, const PictureLimits& limits, int index = 0) {
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, format);
    reader.setAllocationLimit(allocationLimitMb(limits));
    if (index > 0 && !reader.jumpToImage(index))
        return {};
    return reader.read();
}

quint16 u16(const QByteArray& b, qsizetype at) {
    return qFromLittleEndian<quint16>(b.constData() + at);
}
quint32 u32(const QByteArray& b, qsizetype at) {
    return qFromLittleEndian<quint32>(b.constData() + at);
}

PictureResult loadBmp(const QByteArray& bytes, QSize target, const PictureLimits& limits,
                      const std::function<bool()>& cancelled) {
    const QString bmp = u"BMP"_s;
    // File header (14 bytes), then an info header whose first field is its own size.
    if (bytes.size() < 26 || !bytes.startsWith("BM"))
        return failed(damaged(bmp));
    const quint32 dataOffset = u32(bytes, 10);
    const quint32 infoSize = u32(bytes, 14);
    qint64 width = 0;
    qint64 height = 0;
    int bitCount = 0;
    quint32 compression = 0;
    quint32 imageSize = 0;
    if (infoSize == 12) {
        width = u16(bytes, 18);
        height = u16(bytes, 20);
        bitCount = u16(bytes, 24);
    } else if (infoSize >= 40 && bytes.size() >= 54) {
        width = qint32(u32(bytes, 18));
        height = qint32(u32(bytes, 22));
        bitCount = u16(bytes, 28);
        compression = u32(bytes, 30);
        imageSize = u32(bytes, 34);
    } else {
        return failed(damaged(bmp));
    }
    const bool topDown = height < 0;
    height = qAbs(height);
    const bool knownDepth =
        bitCount == 1 || bitCount == 4 || bitCount == 8 || bitCount == 16 || bitCount == 24 || bitCount == 32;
    if (width <= 0 || height <= 0 || !knownDepth)
        return failed(damaged(bmp));
    if (width * height > limits.maxPixels)
        return failed(tooLarge(width, height));

    // Uncompressed rows must be in the file. Qt reads a cut-off file without complaint, at the
    // size its header gives, and leaves the missing rows undefined: it is given a header that
    // counts only the rows stored, and the rest is painted grey afterwards.
    QByteArray stored = bytes;
    qint64 rows = height;
    bool incomplete = false;
    const bool uncompressed = compression == 0 || compression == 3 || compression == 6;
    if (uncompressed) {
        const qint64 stride = (width * bitCount + 31) / 32 * 4;
        if (bytes.size() < qint64(dataOffset) + stride * height) {
            rows = bytes.size() > qint64(dataOffset) ? (bytes.size() - dataOffset) / stride : 0;
            if (rows == 0)
                return failed(damaged(bmp));
            incomplete = true;
            stored = bytes.left(qsizetype(dataOffset + stride * rows));
            if (infoSize == 12)
                qToLittleEndian(quint16(rows), stored.data() + 20);
            else
                qToLittleEndian(qint32(topDown ? -rows : rows), stored.data() + 22);
        }
    } else if (imageSize > 0 && bytes.size() < qint64(dataOffset) + imageSize) {
        incomplete = true;
    }

    const QSize whole{int(width), int(height)};
    const QSize fit = reducedSize(whole, target);
    const Share share(width * rows * 4 + (fit != whole || rows < height ? rasterBytes(fit) : 0), limits,
                      cancelled);
    if (share.refused())
        return failed(tooLarge(width, height));
    if (!share.held())
        return {};
    QImage image = readWithQt(stored, "bmp", limits);
    stored = QByteArray();
    if (image.isNull())
        return failed(damaged(bmp));
    PictureResult r;
    r.sourceSize = whole;
    r.incomplete = incomplete;
    if (rows == height) {
        r.image = reduced(std::move(image), target);
        return r;
    }
    // The stored rows in their place (at the bottom unless the height is negative), grey above
    // or below them.
    QImage canvas(fit, image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (canvas.isNull())
        return failed(u"Недостаточно памяти для изображения"_s);
    canvas.fill(qRgb(128, 128, 128));
    const double scale = double(fit.height()) / double(height);
    const double top = topDown ? 0.0 : double(height - rows) * scale;
    QPainter painter(&canvas);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRectF(0, top, fit.width(), double(rows) * scale), image);
    painter.end();
    r.image = std::move(canvas);
    return r;
}

// The pixels that the picture of an icon directory entry declares in its own header (PNG, or a
// bitmap whose height counts the mask too); 0 when the entry's data is not in the file.
qint64 iconEntryPixels(const QByteArray& bytes, qsizetype entry, qint64* width, qint64* height) {
    const qint64 offset = u32(bytes, entry + 12);
    if (offset + 24 > bytes.size())
        return 0;
    if (bytes.mid(offset, 8) == "\x89PNG\r\n\x1a\n") {
        *width = qFromBigEndian<quint32>(bytes.constData() + offset + 16);
        *height = qFromBigEndian<quint32>(bytes.constData() + offset + 20);
    } else {
        *width = qAbs(qint64(qint32(u32(bytes, offset + 4))));
        *height = qAbs(qint64(qint32(u32(bytes, offset + 8)))) / 2;
    }
    return *width * *height;
}

PictureResult loadIcon(const QByteArray& bytes, QSize target, const PictureLimits& limits,
                       const std::function<bool()>& cancelled) {
    const QString ico = u"ICO"_s;
    // Directory: reserved 0, type 1 (icon) or 2 (cursor), count; then 16 bytes per entry.
    if (bytes.size() < 6 || u16(bytes, 0) != 0 || (u16(bytes, 2) != 1 && u16(bytes, 2) != 2))
        return failed(damaged(ico));
    const int count = u16(bytes, 4);
    if (count == 0 || bytes.size() < 6 + 16 * qsizetype(count))
        return failed(damaged(ico));
    // The largest of the first few pictures that decodes: sizes are checked before any of them is
    // decoded; the largest, the one being decoded and the fitted copy may be held at once.
    constexpr int MaxEntries = 64;
    qint64 largest = 0;
    for (int i = 0; i < qMin(count, MaxEntries); ++i) {
        qint64 width = 0;
        qint64 height = 0;
        const qint64 pixels = iconEntryPixels(bytes, 6 + 16 * qsizetype(i), &width, &height);
        if (pixels > limits.maxPixels || pixels * 4 > limits.maxDecodeBytes)
            return failed(tooLarge(width, height));
        largest = qMax(largest, pixels);
    }
    const Share share(3 * 4 * largest, limits, cancelled);
    if (share.refused())
        return failed(u"Изображение слишком большое и не будет показано"_s);
    if (!share.held())
        return {};
    QImage best;
    bool bestCut = false;
    for (int i = 0; i < qMin(count, MaxEntries); ++i) {
        const qsizetype entry = 6 + 16 * qsizetype(i);
        const bool cut = qint64(u32(bytes, entry + 12)) + u32(bytes, entry + 8) > bytes.size();
        QImage image = readWithQt(bytes, "ico", limits, i);
        if (image.isNull())
            continue;
        if (best.isNull() || qint64(image.width()) * image.height() > qint64(best.width()) * best.height() ||
            (image.size() == best.size() && image.depth() > best.depth())) {
            best = std::move(image);
            bestCut = cut;
        }
    }
    if (best.isNull())
        return failed(damaged(ico));
    PictureResult r;
    r.sourceSize = best.size();
    r.image = reduced(std::move(best), target);
    r.incomplete = bestCut;
    return r;
}

// ---- WMF and EMF in helper processes

bool looksLikeMetafile(const QByteArray& bytes, PictureFormat format) {
    if (format == PictureFormat::Wmf) {
        // A placeable header's key, or a standard header: type 1 or 2, nine words long.
        if (bytes.size() >= 22 && u32(bytes, 0) == 0x9AC6CDD7u)
            return true;
        return bytes.size() >= 18 && (u16(bytes, 0) == 1 || u16(bytes, 0) == 2) && u16(bytes, 2) == 9;
    }
    return bytes.size() >= 88 && bytes.mid(40, 4) == " EMF" &&
           MetafileProtocol::emfRecordsEnd(bytes.constData(), std::size_t(bytes.size())) > 0;
}

// The length a WMF's header gives the file; 0 when it gives none. The standard header (after the
// 22-byte placeable one, if any) counts 16-bit words.
qint64 wmfDeclaredLength(const QByteArray& bytes) {
    // Writers disagree whether the placeable header is counted, so it is not added here.
    const qsizetype header = u32(bytes, 0) == 0x9AC6CDD7u ? 22 : 0;
    return bytes.size() >= header + 10 ? 2 * qint64(u32(bytes, header + 6)) : 0;
}

PictureResult drawMetafile(const QByteArray& bytes, PictureFormat format, QSize target,
                           const PictureLimits& limits, const std::function<bool()>& cancelled) {
    namespace P = MetafileProtocol;
    const bool wmf = format == PictureFormat::Wmf;
    const QString kind = wmf ? u"WMF"_s : u"EMF"_s;
    if (!looksLikeMetafile(bytes, format))
        return failed(u"Метафайл %1 повреждён и не может быть показан"_s.arg(kind));
    if (quint64(bytes.size()) > P::MaxInputBytes)
        return failed(u"Метафайл %1 слишком большой и не будет показан"_s.arg(kind));

    const QString helper = AppPaths::runtimeFile(QString::fromLatin1(wmf ? P::WmfHelper : P::EmfHelper));
    const QSize box =
        target.isEmpty() ? QSize(0, 0) : target.boundedTo(QSize(int(P::MaxSide), int(P::MaxSide)));
    // The drawn picture comes back as PNG and is decoded here: at most the box, at most MaxPixels.
    const Share share(
        4 * qMin(box.isEmpty() ? P::MaxPixels : qint64(box.width()) * box.height(), P::MaxPixels), limits,
        cancelled);
    if (share.refused())
        return failed(u"Метафайл %1 слишком большой и не будет показан"_s.arg(kind));
    if (!share.held())
        return {};
    QProcess process;
    process.setProgram(helper);
    process.setArguments({QString::number(box.width()), QString::number(box.height())});
    process.setStandardErrorFile(QProcess::nullDevice());
    const rlim_t memory = rlim_t(qMax<qint64>(limits.helperMemoryBytes, 1 << 20));
    const rlim_t seconds = rlim_t(limits.helperTimeoutMs / 1000 + 1);
    // Runs in the child between fork and exec: only system calls here.
    process.setChildProcessModifier([memory, seconds] {
#ifndef __SANITIZE_ADDRESS__ // the sanitizer's shadow memory needs far more address space
        const rlimit space{memory, memory};
        setrlimit(RLIMIT_AS, &space);
#else
        Q_UNUSED(memory);
#endif
        const rlimit cpu{seconds, seconds + 1};
        setrlimit(RLIMIT_CPU, &cpu);
        const rlimit core{0, 0};
        setrlimit(RLIMIT_CORE, &core);
    });
    QElapsedTimer clock;
    clock.start();
    process.start();
    if (!process.waitForStarted(qMax(1000, limits.helperTimeoutMs)))
        return failed(u"Не удалось запустить программу отрисовки метафайлов %1 (%2): %3"_s.arg(
            kind, QDir::toNativeSeparators(helper), process.errorString()));
    process.write(bytes);
    process.closeWriteChannel();
    while (process.state() != QProcess::NotRunning) {
        if (process.waitForFinished(50))
            break;
        if (cancelled && cancelled()) {
            process.kill();
            process.waitForFinished(-1);
            return {};
        }
        if (clock.elapsed() > limits.helperTimeoutMs) {
            process.kill();
            process.waitForFinished(-1);
            return failed(u"Метафайл %1 рисуется слишком долго и пропущен"_s.arg(kind));
        }
    }
    if (process.exitStatus() != QProcess::NormalExit)
        return failed(
            u"Метафайл %1 не удалось нарисовать: программа отрисовки завершилась аварийно"_s.arg(kind));
    switch (process.exitCode()) {
    case P::Drawn:
        break;
    case P::TooLarge:
        return failed(u"Метафайл %1 слишком большой и не будет показан"_s.arg(kind));
    case P::NoMemory:
        return failed(u"Для метафайла %1 не хватило памяти"_s.arg(kind));
    case P::Damaged:
        return failed(u"Метафайл %1 повреждён и не может быть показан"_s.arg(kind));
    default:
        return failed(u"Метафайл %1 не удалось нарисовать (код %2)"_s.arg(kind).arg(process.exitCode()));
    }
    PictureResult r;
    r.image = readWithQt(process.readAllStandardOutput(), "png", limits);
    if (r.image.isNull())
        return failed(u"Метафайл %1 не удалось нарисовать"_s.arg(kind));
    // A cut-off WMF whose first records still played (an EMF is drawn only whole).
    r.incomplete = wmf && bytes.size() < wmfDeclaredLength(bytes);
    return r;
}

} // namespace

DecodeBudget& DecodeBudget::process() {
    static DecodeBudget budget(ProcessBytes);
    return budget;
}

bool DecodeBudget::acquire(qint64 bytes, const std::function<bool()>& cancelled) {
    if (bytes > m_total)
        return false;
    QMutexLocker lock(&m_mutex);
    // Looks at `cancelled` now and then while it waits.
    while (m_used + bytes > m_total) {
        if (cancelled && cancelled())
            return false;
        m_freed.wait(&m_mutex, 50);
    }
    m_used += bytes;
    return true;
}

void DecodeBudget::release(qint64 bytes) {
    QMutexLocker lock(&m_mutex);
    m_used -= bytes;
    m_freed.wakeAll();
}

qint64 DecodeBudget::inUse() const {
    QMutexLocker lock(&m_mutex);
    return m_used;
}

namespace PictureLoader {

PictureFormat formatOf(const QString& ext) {
    QString e = ext.trimmed().toLower();
    if (e.startsWith(u'.'))
        e.remove(0, 1);
    if (e == u"jpg" || e == u"jpeg")
        return PictureFormat::Jpeg;
    if (e == u"bmp")
        return PictureFormat::Bmp;
    if (e == u"ico")
        return PictureFormat::Icon;
    if (e == u"wmf")
        return PictureFormat::Wmf;
    if (e == u"emf")
        return PictureFormat::Emf;
    return PictureFormat::Unknown;
}

QSize fitSize(QSize source, QSize target) {
    if (source.isEmpty())
        return {};
    if (target.isEmpty())
        return source;
    const double s = qMin(double(target.width()) / source.width(), double(target.height()) / source.height());
    return QSize(qMax(1, qRound(source.width() * s)), qMax(1, qRound(source.height() * s)));
}

int jpegDenominator(QSize stored, QSize target) {
    if (stored.isEmpty() || target.isEmpty())
        return 1;
    const QSize fit = fitSize(stored, target);
    for (const int d : {8, 4, 2}) {
        const QSize s = JpegCodec::scaledSize(stored, d);
        if (s.width() >= fit.width() && s.height() >= fit.height())
            return d;
    }
    return 1;
}

PictureResult load(const QByteArray& bytes, const QString& ext, QSize target, const PictureLimits& limits,
                   const std::function<bool()>& cancelled) {
    const PictureFormat format = formatOf(ext);
    if (format == PictureFormat::Unknown) {
        const QString shown = ext.trimmed();
        return failed(shown.isEmpty() ? u"Формат изображения не указан: у файла нет расширения"_s
                                      : u"Неизвестный формат изображения «%1»"_s.arg(shown));
    }
    if (bytes.isEmpty())
        return failed(u"Файл изображения пуст"_s);
    try {
        switch (format) {
        case PictureFormat::Jpeg:
            return loadJpeg(bytes, target, limits, cancelled);
        case PictureFormat::Bmp:
            return loadBmp(bytes, target, limits, cancelled);
        case PictureFormat::Icon:
            return loadIcon(bytes, target, limits, cancelled);
        case PictureFormat::Wmf:
        case PictureFormat::Emf:
            return drawMetafile(bytes, format, target, limits, cancelled);
        case PictureFormat::Unknown:
            break;
        }
    } catch (const std::bad_alloc&) {
        return failed(u"Недостаточно памяти для изображения"_s);
    }
    return {};
}

QImage loadOrThrow(const QByteArray& bytes, const QString& ext, QSize target, const PictureLimits& limits) {
    PictureResult r = load(bytes, ext, target, limits);
    if (!r.ok())
        throw AppError(r.failure);
    return std::move(r.image);
}

} // namespace PictureLoader
