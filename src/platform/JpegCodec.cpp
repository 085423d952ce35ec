#include "JpegCodec.h"

#include "AppError.h"

#include <QFile>
#include <QPainter>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include <jpeglib.h>

using namespace Qt::StringLiterals;

namespace {

// libjpeg reports fatal errors through error_exit, which must not return: jump back to the
// caller's setjmp point with the message kept.
struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void errorExit(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

// Warnings (for instance a file that ends early) are not fatal and not printed.
void silentOutput(j_common_ptr) {}

void installErrorManager(ErrorManager& err) {
    jpeg_std_error(&err.pub);
    err.pub.error_exit = errorExit;
    err.pub.output_message = silentOutput;
    err.message[0] = '\0';
}

QString libjpegMessage(const ErrorManager& err) {
    return QString::fromLocal8Bit(err.message);
}

// State lives on the heap so that nothing the jump skips over sits in registers.
struct Decoder {
    jpeg_decompress_struct cinfo{};
    ErrorManager err{};
    QImage image;
    std::vector<JSAMPLE> row;
    bool created = false;
    ~Decoder() {
        if (created)
            jpeg_destroy_decompress(&cinfo);
    }
};

struct Encoder {
    jpeg_compress_struct cinfo{};
    ErrorManager err{};
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    QImage source;
    bool created = false;
    ~Encoder() {
        if (created)
            jpeg_destroy_compress(&cinfo);
        std::free(buffer);
    }
};

QRgb cmykToRgb(int c, int m, int y, int k, bool inverted) {
    if (!inverted) {
        c = 255 - c;
        m = 255 - m;
        y = 255 - y;
        k = 255 - k;
    }
    // Stored (or made) inverted: each value is 255 minus the ink amount.
    return qRgb(c * k / 255, m * k / 255, y * k / 255);
}

void readScanlines(Decoder& d) {
    jpeg_decompress_struct& cinfo = d.cinfo;
    const int width = int(cinfo.output_width);
    const int components = cinfo.output_components;
    d.row.resize(size_t(width) * size_t(components));
    JSAMPROW rowPointer = d.row.data();
    const bool inverted = cinfo.saw_Adobe_marker;
    while (cinfo.output_scanline < cinfo.output_height) {
        const int y = int(cinfo.output_scanline);
        jpeg_read_scanlines(&cinfo, &rowPointer, 1);
        if (cinfo.out_color_space == JCS_GRAYSCALE) {
            std::memcpy(d.image.scanLine(y), d.row.data(), size_t(width));
        } else if (cinfo.out_color_space == JCS_CMYK) {
            auto* out = reinterpret_cast<QRgb*>(d.image.scanLine(y));
            const JSAMPLE* in = d.row.data();
            for (int x = 0; x < width; ++x, in += 4)
                out[x] = cmykToRgb(in[0], in[1], in[2], in[3], inverted);
        } else {
            auto* out = reinterpret_cast<QRgb*>(d.image.scanLine(y));
            const JSAMPLE* in = d.row.data();
            for (int x = 0; x < width; ++x, in += 3)
                out[x] = qRgb(in[0], in[1], in[2]);
        }
    }
}

} // namespace

namespace JpegCodec {

QImage decode(const QByteArray& bytes) {
    if (bytes.isEmpty())
        throw AppError(u"Пустой файл изображения JPEG"_s);
    auto d = std::make_unique<Decoder>();
    installErrorManager(d->err);
    d->cinfo.err = &d->err.pub;
    if (setjmp(d->err.jump))
        throw AppError(libjpegMessage(d->err));

    jpeg_create_decompress(&d->cinfo);
    d->created = true;
    jpeg_mem_src(&d->cinfo, reinterpret_cast<const unsigned char*>(bytes.constData()),
                 static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&d->cinfo, TRUE);
    switch (d->cinfo.jpeg_color_space) {
    case JCS_GRAYSCALE:
        d->cinfo.out_color_space = JCS_GRAYSCALE;
        break;
    case JCS_CMYK:
    case JCS_YCCK:
        d->cinfo.out_color_space = JCS_CMYK;
        break;
    default:
        d->cinfo.out_color_space = JCS_RGB;
        break;
    }
    jpeg_start_decompress(&d->cinfo);
    const QImage::Format format =
        d->cinfo.out_color_space == JCS_GRAYSCALE ? QImage::Format_Grayscale8 : QImage::Format_RGB32;
    d->image = QImage(int(d->cinfo.output_width), int(d->cinfo.output_height), format);
    if (d->image.isNull())
        throw AppError(u"Недостаточно памяти для изображения %1 x %2"_s.arg(d->cinfo.output_width)
                           .arg(d->cinfo.output_height));
    readScanlines(*d);
    jpeg_finish_decompress(&d->cinfo);
    return std::move(d->image);
}

QImage decodeFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw AppError(u"Не удалось открыть файл %1: %2"_s.arg(path, file.errorString()));
    return decode(file.readAll());
}

QByteArray encode(const QImage& image, int quality) {
    if (image.isNull())
        throw AppError(u"Нет изображения для записи в JPEG"_s);
    auto e = std::make_unique<Encoder>();
    const bool grey = image.format() == QImage::Format_Grayscale8;
    if (grey) {
        e->source = image;
    } else if (image.hasAlphaChannel()) {
        e->source = QImage(image.size(), QImage::Format_RGB888);
        e->source.fill(Qt::white);
        QPainter painter(&e->source);
        painter.drawImage(0, 0, image);
    } else {
        e->source = image.convertToFormat(QImage::Format_RGB888);
    }
    if (e->source.isNull())
        throw AppError(
            u"Недостаточно памяти для изображения %1 x %2"_s.arg(image.width()).arg(image.height()));

    installErrorManager(e->err);
    e->cinfo.err = &e->err.pub;
    if (setjmp(e->err.jump))
        throw AppError(libjpegMessage(e->err));

    jpeg_create_compress(&e->cinfo);
    e->created = true;
    jpeg_mem_dest(&e->cinfo, &e->buffer, &e->size);
    e->cinfo.image_width = JDIMENSION(e->source.width());
    e->cinfo.image_height = JDIMENSION(e->source.height());
    e->cinfo.input_components = grey ? 1 : 3;
    e->cinfo.in_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&e->cinfo);
    jpeg_set_quality(&e->cinfo, qBound(1, quality, 100), TRUE);
    jpeg_start_compress(&e->cinfo, TRUE);
    while (e->cinfo.next_scanline < e->cinfo.image_height) {
        // libjpeg takes non-const rows but only reads them.
        JSAMPROW row = const_cast<JSAMPROW>(e->source.constScanLine(int(e->cinfo.next_scanline)));
        jpeg_write_scanlines(&e->cinfo, &row, 1);
    }
    jpeg_finish_compress(&e->cinfo);
    return QByteArray(reinterpret_cast<const char*>(e->buffer), qsizetype(e->size));
}

} // namespace JpegCodec
