#pragma once

#include "TwainTypes.h"

#include <QByteArray>
#include <QList>
#include <QRgb>
#include <cstring>
#include <functional>

// Packed device-independent bitmaps written byte by byte, as a scanner driver would hand them over.
struct DibShape {
    int headerSize = 40; // 40, or 12 for the core form
    int width = 1;
    int height = 1;
    int bits = 24;
    TW_UINT32 compression = BI_RGB;
    TW_UINT32 colorsUsed = 0;
    QList<QRgb> palette;    // written as the colour table
    QList<TW_UINT32> masks; // written after a 40-byte header
    bool topDown = false;
    int dpi = 0;
};

inline int dibStride(int width, int bits) {
    return ((width * bits + 31) / 32) * 4;
}

// `fillRow(y, row)` writes picture row y (0 = top) into a zeroed row of dibStride() bytes.
inline QByteArray buildDib(const DibShape& shape, const std::function<void(int, unsigned char*)>& fillRow) {
    QByteArray bytes;
    auto append = [&bytes](const void* data, std::size_t size) {
        bytes.append(static_cast<const char*>(data), qsizetype(size));
    };
    const int stride = dibStride(shape.width, shape.bits);
    if (shape.headerSize == 12) {
        TW_BITMAPCOREHEADER h{12, TW_UINT16(shape.width), TW_UINT16(shape.height), 1, TW_UINT16(shape.bits)};
        append(&h, sizeof h);
    } else {
        TW_BITMAPINFOHEADER h{};
        h.biSize = 40;
        h.biWidth = shape.width;
        h.biHeight = shape.topDown ? -shape.height : shape.height;
        h.biPlanes = 1;
        h.biBitCount = TW_UINT16(shape.bits);
        h.biCompression = shape.compression;
        h.biSizeImage = TW_UINT32(stride * shape.height);
        h.biXPelsPerMeter = h.biYPelsPerMeter = std::int32_t(shape.dpi / 0.0254 + 0.5);
        h.biClrUsed = shape.colorsUsed;
        append(&h, sizeof h);
        for (TW_UINT32 m : shape.masks)
            append(&m, 4);
    }
    for (QRgb c : shape.palette) {
        const unsigned char entry[4] = {uchar(qBlue(c)), uchar(qGreen(c)), uchar(qRed(c)), 0};
        append(entry, shape.headerSize == 12 ? 3 : 4);
    }
    QByteArray row(stride, '\0');
    QList<QByteArray> rows;
    for (int y = 0; y < shape.height; ++y) {
        row.fill('\0');
        fillRow(y, reinterpret_cast<unsigned char*>(row.data()));
        rows.append(row);
    }
    for (int i = 0; i < shape.height; ++i)
        bytes.append(rows[shape.topDown ? i : shape.height - 1 - i]);
    return bytes;
}

inline QList<QRgb> greyRamp() {
    QList<QRgb> ramp;
    for (int i = 0; i < 256; ++i)
        ramp.append(qRgb(i, i, i));
    return ramp;
}
