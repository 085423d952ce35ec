#include "PictureSamples.h"

#include "JpegCodec.h"

#include <QBuffer>
#include <QPainter>
#include <QtEndian>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include <jpeglib.h>

namespace PictureSamples {

QImage quarters(QSize size) {
    QImage image(size, QImage::Format_RGB32);
    const int w = size.width() / 2;
    const int h = size.height() / 2;
    QPainter p(&image);
    p.fillRect(0, 0, w, h, TopLeft);
    p.fillRect(w, 0, size.width() - w, h, TopRight);
    p.fillRect(0, h, w, size.height() - h, BottomLeft);
    p.fillRect(w, h, size.width() - w, size.height() - h, BottomRight);
    return image;
}

bool near(QRgb a, QRgb b, int tolerance) {
    return qAbs(qRed(a) - qRed(b)) <= tolerance && qAbs(qGreen(a) - qGreen(b)) <= tolerance &&
           qAbs(qBlue(a) - qBlue(b)) <= tolerance;
}

QByteArray jpeg(const QImage& image, int quality) {
    return JpegCodec::encode(image, quality);
}

namespace {

struct Compressor {
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr err{};
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    Compressor(int width, int height, int components, J_COLOR_SPACE space) {
        cinfo.err = jpeg_std_error(&err);
        jpeg_create_compress(&cinfo);
        jpeg_mem_dest(&cinfo, &buffer, &size);
        cinfo.image_width = JDIMENSION(width);
        cinfo.image_height = JDIMENSION(height);
        cinfo.input_components = components;
        cinfo.in_color_space = space;
        jpeg_set_defaults(&cinfo);
    }
    ~Compressor() {
        jpeg_destroy_compress(&cinfo);
        std::free(buffer);
    }
    QByteArray write(const std::vector<std::vector<JSAMPLE>>& rows) {
        jpeg_start_compress(&cinfo, TRUE);
        for (const auto& row : rows) {
            JSAMPROW r = const_cast<JSAMPROW>(row.data());
            jpeg_write_scanlines(&cinfo, &r, 1);
        }
        jpeg_finish_compress(&cinfo);
        return QByteArray(reinterpret_cast<const char*>(buffer), qsizetype(size));
    }
};

} // namespace

QByteArray progressiveJpeg(const QImage& image, int quality, bool scanPerCoefficient) {
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    Compressor c(rgb.width(), rgb.height(), 3, JCS_RGB);
    jpeg_set_quality(&c.cinfo, quality, TRUE);
    jpeg_simple_progression(&c.cinfo);
    std::vector<jpeg_scan_info> scans{{3, {0, 1, 2, 0}, 0, 0, 0, 0}};
    for (int component = 0; component < 3; ++component)
        for (int k = 1; k < 64; ++k)
            scans.push_back({1, {component, 0, 0, 0}, k, k, 0, 0});
    if (scanPerCoefficient) {
        c.cinfo.scan_info = scans.data();
        c.cinfo.num_scans = int(scans.size());
    }
    std::vector<std::vector<JSAMPLE>> rows;
    for (int y = 0; y < rgb.height(); ++y)
        rows.emplace_back(rgb.constScanLine(y), rgb.constScanLine(y) + rgb.width() * 3);
    return c.write(rows);
}

QByteArray cmykJpeg(QSize size, const QColor& ink, bool ycck) {
    Compressor c(size.width(), size.height(), 4, JCS_CMYK);
    jpeg_set_colorspace(&c.cinfo, ycck ? JCS_YCCK : JCS_CMYK);
    c.cinfo.write_Adobe_marker = TRUE;
    jpeg_set_quality(&c.cinfo, 95, TRUE);
    // Adobe's convention: stored values are 255 minus the ink.
    const JSAMPLE px[4] = {JSAMPLE(255 - ink.red()), JSAMPLE(255 - ink.green()), JSAMPLE(255 - ink.blue()),
                           JSAMPLE(255 - ink.alpha())};
    std::vector<JSAMPLE> row;
    for (int x = 0; x < size.width(); ++x)
        row.insert(row.end(), px, px + 4);
    return c.write(std::vector<std::vector<JSAMPLE>>(size_t(size.height()), row));
}

QByteArray withOrientation(const QByteArray& jpeg, int orientation, bool bigEndian) {
    QByteArray tiff;
    auto put16 = [&](quint16 v) {
        char b[2];
        if (bigEndian)
            qToBigEndian(v, b);
        else
            qToLittleEndian(v, b);
        tiff.append(b, 2);
    };
    auto put32 = [&](quint32 v) {
        char b[4];
        if (bigEndian)
            qToBigEndian(v, b);
        else
            qToLittleEndian(v, b);
        tiff.append(b, 4);
    };
    tiff.append(bigEndian ? "MM" : "II");
    put16(42);
    put32(8);      // IFD0 right after the header
    put16(2);      // two entries: something else first, then the orientation
    put16(0x010F); // Make, ASCII, 4 bytes inline
    put16(2);
    put32(4);
    tiff.append("Cam", 4);
    put16(0x0112);
    put16(3); // SHORT
    put32(1);
    put16(quint16(orientation));
    put16(0);
    put32(0); // no next IFD
    const QByteArray payload = QByteArray("Exif\0\0", 6) + tiff;
    QByteArray segment("\xFF\xE1", 2);
    char length[2];
    qToBigEndian(quint16(payload.size() + 2), length);
    segment.append(length, 2);
    segment.append(payload);
    return jpeg.left(2) + segment + jpeg.mid(2);
}

QByteArray withFrameSize(const QByteArray& jpeg, int width, int height) {
    QByteArray bytes = jpeg;
    const qsizetype sof = bytes.indexOf("\xFF\xC0");
    if (sof < 0)
        return bytes;
    // Marker, length (2), precision (1), height (2), width (2).
    qToBigEndian(quint16(height), bytes.data() + sof + 5);
    qToBigEndian(quint16(width), bytes.data() + sof + 7);
    return bytes;
}

QByteArray bmp(const QImage& image, bool topDown) {
    const int w = image.width();
    const int h = image.height();
    const int stride = (w * 3 + 3) / 4 * 4;
    QByteArray out(54 + qsizetype(stride) * h, '\0');
    char* d = out.data();
    d[0] = 'B';
    d[1] = 'M';
    qToLittleEndian(quint32(out.size()), d + 2);
    qToLittleEndian(quint32(54), d + 10);
    qToLittleEndian(quint32(40), d + 14);
    qToLittleEndian(qint32(w), d + 18);
    qToLittleEndian(qint32(topDown ? -h : h), d + 22);
    qToLittleEndian(quint16(1), d + 26);
    qToLittleEndian(quint16(24), d + 28);
    qToLittleEndian(quint32(stride) * quint32(h), d + 34);
    for (int row = 0; row < h; ++row) {
        const int y = topDown ? row : h - 1 - row;
        char* line = d + 54 + qsizetype(row) * stride;
        for (int x = 0; x < w; ++x) {
            const QRgb c = image.pixel(x, y);
            line[x * 3] = char(qBlue(c));
            line[x * 3 + 1] = char(qGreen(c));
            line[x * 3 + 2] = char(qRed(c));
        }
    }
    return out;
}

QByteArray ico(const QList<QImage>& images) {
    // Each picture is written by Qt as a one-picture icon; their data blocks are joined under
    // one directory.
    QList<QByteArray> entries;
    QList<QByteArray> blocks;
    for (const QImage& image : images) {
        QByteArray single;
        QBuffer buffer(&single);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "ICO");
        const quint32 size = qFromLittleEndian<quint32>(single.constData() + 6 + 8);
        const quint32 offset = qFromLittleEndian<quint32>(single.constData() + 6 + 12);
        entries.append(single.mid(6, 16));
        blocks.append(single.mid(offset, size));
    }
    QByteArray out(6, '\0');
    qToLittleEndian(quint16(1), out.data() + 2);
    qToLittleEndian(quint16(images.size()), out.data() + 4);
    quint32 offset = quint32(6 + 16 * images.size());
    for (qsizetype i = 0; i < entries.size(); ++i) {
        QByteArray entry = entries[i];
        qToLittleEndian(offset, entry.data() + 12);
        out.append(entry);
        offset += quint32(blocks[i].size());
    }
    for (const QByteArray& block : blocks)
        out.append(block);
    return out;
}

} // namespace PictureSamples
