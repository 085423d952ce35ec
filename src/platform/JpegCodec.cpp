#include "JpegCodec.h"

#include "AppError.h"

#include <QFile>
#include <QPainter>
#include <QSysInfo>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include <jerror.h>
#include <jpeglib.h>

using namespace Qt::StringLiterals;

namespace {

using JpegCodec::MaxDecoderMemory;
using JpegCodec::MaxScans;

// libjpeg reports fatal errors through error_exit, which must not return: jump back to the
// caller's setjmp point with the message kept.
struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
    bool dataLost = false; // a warning that part of the picture is missing
};

void errorExit(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

// Warnings are not fatal and not printed; those that mean lost data are remembered.
void silentOutput(j_common_ptr) {}

void noteWarning(j_common_ptr cinfo, int level) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    if (level < 0) {
        switch (err->pub.msg_code) {
        case JWRN_JPEG_EOF:
        case JWRN_HIT_MARKER:
        case JWRN_HUFF_BAD_CODE:
        case JWRN_MUST_RESYNC:
            err->dataLost = true;
            break;
        default:
            break;
        }
        err->pub.num_warnings++;
    }
}

void installErrorManager(ErrorManager& err) {
    jpeg_std_error(&err.pub);
    err.pub.error_exit = errorExit;
    err.pub.output_message = silentOutput;
    err.pub.emit_message = noteWarning;
    err.message[0] = '\0';
}

QString libjpegMessage(const ErrorManager& err) {
    return QString::fromLocal8Bit(err.message);
}

// Called by libjpeg while it works: stops a cancelled decode.
struct Progress {
    jpeg_progress_mgr pub;
    const std::function<bool()>* cancelled = nullptr;
    bool stopped = false;

    bool cancel() {
        stopped = stopped || (cancelled && *cancelled && (*cancelled)());
        return stopped;
    }
};

void checkProgress(j_common_ptr common) {
    if (reinterpret_cast<Progress*>(common->progress)->cancel())
        std::longjmp(reinterpret_cast<ErrorManager*>(common->err)->jump, 1);
}

// State lives on the heap so that nothing the jump skips over sits in registers.
struct Decoder {
    jpeg_decompress_struct cinfo{};
    ErrorManager err{};
    Progress progress{};
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
        if (cinfo.out_color_space == JCS_EXT_BGRX || cinfo.out_color_space == JCS_GRAYSCALE) {
            // Rows land straight in the picture.
            JSAMPROW line = d.image.scanLine(y);
            jpeg_read_scanlines(&cinfo, &line, 1);
            continue;
        }
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

// Opens the decoder on the bytes and reads the header, keeping APP1 for the EXIF orientation.
// Must run under the caller's setjmp.
void startReading(Decoder& d, const QByteArray& bytes) {
    if (bytes.isEmpty())
        throw AppError(u"Пустой файл изображения JPEG"_s);
    installErrorManager(d.err);
    d.cinfo.err = &d.err.pub;
    jpeg_create_decompress(&d.cinfo);
    d.created = true;
    d.cinfo.mem->max_memory_to_use = MaxDecoderMemory;
    jpeg_mem_src(&d.cinfo, reinterpret_cast<const unsigned char*>(bytes.constData()),
                 static_cast<unsigned long>(bytes.size()));
    jpeg_save_markers(&d.cinfo, JPEG_APP0 + 1, 0xFFFF);
    jpeg_read_header(&d.cinfo, TRUE);
}

// The orientation tag (0x0112) of IFD0 in an APP1 "Exif" segment; 1 when absent or invalid.
int exifOrientation(const jpeg_decompress_struct& cinfo) {
    for (jpeg_saved_marker_ptr m = cinfo.marker_list; m; m = m->next) {
        if (m->marker != JPEG_APP0 + 1 || m->data_length < 14 || std::memcmp(m->data, "Exif\0\0", 6) != 0)
            continue;
        const unsigned char* tiff = m->data + 6;
        const size_t size = m->data_length - 6;
        bool little = false;
        if (std::memcmp(tiff, "II*\0", 4) == 0)
            little = true;
        else if (std::memcmp(tiff, "MM\0*", 4) != 0)
            return 1;
        auto u16 = [&](size_t at) -> unsigned {
            return little ? unsigned(tiff[at]) | unsigned(tiff[at + 1]) << 8
                          : unsigned(tiff[at]) << 8 | unsigned(tiff[at + 1]);
        };
        auto u32 = [&](size_t at) -> quint32 {
            return little ? quint32(u16(at)) | quint32(u16(at + 2)) << 16
                          : quint32(u16(at)) << 16 | quint32(u16(at + 2));
        };
        const quint32 ifd = u32(4);
        if (ifd < 8 || size < 2 || ifd > size - 2)
            return 1;
        const unsigned count = u16(ifd);
        for (unsigned i = 0; i < count; ++i) {
            const size_t entry = ifd + 2 + size_t(i) * 12;
            if (entry + 12 > size)
                return 1;
            if (u16(entry) != 0x0112)
                continue;
            // Type SHORT, one value, held in the first two bytes of the value field.
            const unsigned value = u16(entry + 2) == 3 ? u16(entry + 8) : 0;
            return value >= 1 && value <= 8 ? int(value) : 1;
        }
        return 1;
    }
    return 1;
}

} // namespace

namespace JpegCodec {

QImage decode(const QByteArray& bytes) {
    return decodeScaled(bytes, 1).image;
}

Header readHeader(const QByteArray& bytes) {
    auto d = std::make_unique<Decoder>();
    if (setjmp(d->err.jump))
        throw AppError(libjpegMessage(d->err));
    startReading(*d, bytes);
    Header header;
    header.size = QSize(int(d->cinfo.image_width), int(d->cinfo.image_height));
    header.progressive = d->cinfo.progressive_mode;
    header.orientation = exifOrientation(d->cinfo);
    for (int c = 0; c < d->cinfo.num_components; ++c) {
        const jpeg_component_info& comp = d->cinfo.comp_info[c];
        header.coefficientBytes +=
            qint64(comp.width_in_blocks) * comp.height_in_blocks * DCTSIZE2 * qint64(sizeof(JCOEF));
    }
    return header;
}

QSize scaledSize(QSize stored, int denominator) {
    return QSize((stored.width() + denominator - 1) / denominator,
                 (stored.height() + denominator - 1) / denominator);
}

Scaled decodeScaled(const QByteArray& bytes, int denominator, const std::function<bool()>& cancelled) {
    auto d = std::make_unique<Decoder>();
    if (setjmp(d->err.jump)) {
        if (d->progress.stopped)
            return {};
        throw AppError(libjpegMessage(d->err));
    }
    startReading(*d, bytes);
    d->progress.cancelled = &cancelled;
    d->progress.pub.progress_monitor = checkProgress;
    d->cinfo.progress = &d->progress.pub;
    d->cinfo.scale_num = 1;
    d->cinfo.scale_denom =
        unsigned(denominator == 2 || denominator == 4 || denominator == 8 ? denominator : 1);
    if (d->cinfo.scale_denom > 1) {
        // A reduced picture is smoothed again when it is fitted: the faster paths lose nothing.
        d->cinfo.dct_method = JDCT_IFAST;
        d->cinfo.do_fancy_upsampling = FALSE;
    }
    switch (d->cinfo.jpeg_color_space) {
    case JCS_GRAYSCALE:
        d->cinfo.out_color_space = JCS_GRAYSCALE;
        break;
    case JCS_CMYK:
    case JCS_YCCK:
        d->cinfo.out_color_space = JCS_CMYK;
        break;
    default:
        // Blue, green, red and a pad byte: the memory order of RGB32 on little-endian machines.
        d->cinfo.out_color_space = QSysInfo::ByteOrder == QSysInfo::LittleEndian ? JCS_EXT_BGRX : JCS_RGB;
        break;
    }
    // A progressive picture is read scan by scan first, so that it can be shown as far as its
    // first MaxScans scans draw it.
    const bool progressive = d->cinfo.progressive_mode;
    d->cinfo.buffered_image = d->cinfo.progressive_mode;
    jpeg_start_decompress(&d->cinfo);
    const QImage::Format format =
        d->cinfo.out_color_space == JCS_GRAYSCALE ? QImage::Format_Grayscale8 : QImage::Format_RGB32;
    d->image = QImage(int(d->cinfo.output_width), int(d->cinfo.output_height), format);
    if (d->image.isNull())
        throw AppError(u"Недостаточно памяти для изображения %1 x %2"_s.arg(d->cinfo.output_width)
                           .arg(d->cinfo.output_height));
    bool scansLeft = false;
    if (progressive) {
        for (;;) {
            const int state = jpeg_consume_input(&d->cinfo);
            if (state == JPEG_REACHED_EOI || state == JPEG_SUSPENDED)
                break;
            if (d->progress.cancel())
                return {};
            // At the start of the scan after the last one wanted: the scans before it are complete.
            if (state == JPEG_REACHED_SOS && d->cinfo.input_scan_number > MaxScans) {
                scansLeft = true;
                break;
            }
        }
        jpeg_start_output(&d->cinfo, scansLeft ? MaxScans : d->cinfo.input_scan_number);
        readScanlines(*d);
        jpeg_finish_output(&d->cinfo);
        if (scansLeft)
            jpeg_abort_decompress(&d->cinfo);
        else
            jpeg_finish_decompress(&d->cinfo);
    } else {
        readScanlines(*d);
        jpeg_finish_decompress(&d->cinfo);
    }
    Scaled result;
    result.image = std::move(d->image);
    result.incomplete = d->err.dataLost || scansLeft;
    return result;
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
