#include "DibImage.h"

#include "TTWAIN.h"
#include "TwainTypes.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>

using namespace Qt::StringLiterals;

namespace {

template <class T> T readAt(const unsigned char* p) {
    T value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

int depthColours(int bits) {
    switch (bits) {
    case 1:
        return 2;
    case 4:
        return 16;
    case 8:
        return 256;
    default:
        return 0;
    }
}

struct Layout {
    int width = 0;
    int height = 0; // rows, always positive
    bool topDown = false;
    int bits = 0;
    TW_UINT32 compression = BI_RGB;
    bool core = false;
    TW_UINT32 masks[3] = {0, 0, 0};
};

Layout readLayout(const unsigned char* p, std::size_t size) {
    if (size < 4)
        throw ETwainError(u"The image is too short for a bitmap header"_s);
    Layout l;
    const TW_UINT32 headerSize = readAt<TW_UINT32>(p);
    if (headerSize == sizeof(TW_BITMAPCOREHEADER)) {
        if (size < headerSize)
            throw ETwainError(u"The image is too short for a bitmap header"_s);
        const auto h = readAt<TW_BITMAPCOREHEADER>(p);
        l.core = true;
        l.width = h.bcWidth;
        l.height = h.bcHeight;
        l.bits = h.bcBitCount;
        return l;
    }
    if (headerSize < sizeof(TW_BITMAPINFOHEADER))
        throw ETwainError(u"Unknown bitmap header of %1 bytes"_s.arg(headerSize));
    if (size < headerSize)
        throw ETwainError(u"The image is too short for a bitmap header"_s);
    const auto h = readAt<TW_BITMAPINFOHEADER>(p);
    // The most negative height has no positive counterpart.
    if (h.biHeight == std::numeric_limits<std::int32_t>::min())
        throw ETwainError(u"Invalid bitmap size %1 x %2"_s.arg(h.biWidth).arg(h.biHeight));
    l.width = h.biWidth;
    l.topDown = h.biHeight < 0;
    l.height = h.biHeight < 0 ? -h.biHeight : h.biHeight;
    l.bits = h.biBitCount;
    l.compression = h.biCompression;
    if (l.compression == BI_BITFIELDS) {
        // A 40-byte header is followed by the masks; the later headers hold them inside.
        if (size < sizeof(TW_BITMAPINFOHEADER) + 12)
            throw ETwainError(u"The image is too short for its colour masks"_s);
        for (int i = 0; i < 3; ++i)
            l.masks[i] = readAt<TW_UINT32>(p + sizeof(TW_BITMAPINFOHEADER) + 4 * i);
    } else if (l.bits == 16) {
        l.masks[0] = 0x7C00;
        l.masks[1] = 0x03E0;
        l.masks[2] = 0x001F;
    } else if (l.bits == 32) {
        l.masks[0] = 0x00FF0000;
        l.masks[1] = 0x0000FF00;
        l.masks[2] = 0x000000FF;
    }
    return l;
}

// A colour taken out of a packed pixel with a mask, scaled to 0..255.
int maskedChannel(TW_UINT32 pixel, TW_UINT32 mask) {
    if (mask == 0)
        return 0;
    const int shift = std::countr_zero(mask);
    const TW_UINT32 max = mask >> shift;
    const TW_UINT32 value = (pixel & mask) >> shift;
    return max == 255 ? int(value) : int((value * 255 + max / 2) / max);
}

} // namespace

namespace DibImage {

int colorCount(const void* header) {
    const auto* p = static_cast<const unsigned char*>(header);
    const TW_UINT32 headerSize = readAt<TW_UINT32>(p);
    if (headerSize == sizeof(TW_BITMAPCOREHEADER))
        return depthColours(readAt<TW_BITMAPCOREHEADER>(p).bcBitCount);
    const auto h = readAt<TW_BITMAPINFOHEADER>(p);
    if (h.biClrUsed != 0)
        return int(h.biClrUsed);
    return depthColours(h.biBitCount);
}

std::size_t bitsOffset(const void* header) {
    const auto* p = static_cast<const unsigned char*>(header);
    const TW_UINT32 headerSize = readAt<TW_UINT32>(p);
    const std::size_t colours = std::size_t(colorCount(header));
    if (headerSize == sizeof(TW_BITMAPCOREHEADER))
        return headerSize + 3 * colours;
    std::size_t offset = headerSize + 4 * colours;
    if (headerSize == sizeof(TW_BITMAPINFOHEADER) &&
        readAt<TW_BITMAPINFOHEADER>(p).biCompression == BI_BITFIELDS)
        offset += 12;
    return offset;
}

} // namespace DibImage

namespace {

// A bitmap whose header, colour table and rows have been checked against its size.
struct Checked {
    Layout l;
    int colours = 0;
    std::size_t offset = 0;
    std::size_t stride = 0;
    QList<QRgb> palette;
    bool greyRamp = false;
};

Checked check(const unsigned char* p, std::size_t size) {
    Checked c;
    c.l = readLayout(p, size);
    const Layout& l = c.l;
    if (l.compression != BI_RGB && l.compression != BI_BITFIELDS)
        throw ETwainError(u"Compressed bitmaps (compression %1) are not supported"_s.arg(l.compression));
    if (l.bits != 1 && l.bits != 4 && l.bits != 8 && l.bits != 16 && l.bits != 24 && l.bits != 32)
        throw ETwainError(u"Bitmaps with %1 bits per pixel are not supported"_s.arg(l.bits));
    if (l.width <= 0 || l.height <= 0 || l.width > 1'000'000 || l.height > 1'000'000)
        throw ETwainError(u"Invalid bitmap size %1 x %2"_s.arg(l.width).arg(l.height));

    c.colours = DibImage::colorCount(p);
    if (c.colours < 0 || c.colours > 256 || (l.bits <= 8 && c.colours == 0))
        throw ETwainError(u"Invalid colour table of %1 entries"_s.arg(c.colours));
    c.offset = DibImage::bitsOffset(p);
    c.stride = ((std::size_t(l.width) * std::size_t(l.bits) + 31) / 32) * 4;
    if (c.offset > size || (size - c.offset) / c.stride < std::size_t(l.height))
        throw ETwainError(u"The image is shorter than its bitmap header says"_s);

    const std::size_t entrySize = l.core ? 3 : 4;
    const unsigned char* table = p + readAt<TW_UINT32>(p);
    c.greyRamp = l.bits == 8 && c.colours == 256;
    for (int i = 0; i < c.colours; ++i) {
        const unsigned char* e = table + entrySize * std::size_t(i);
        c.palette.append(qRgb(e[2], e[1], e[0]));
        if (e[0] != i || e[1] != i || e[2] != i)
            c.greyRamp = false;
    }
    return c;
}

QImage copyImage(const unsigned char* p, const Checked& c) {
    const Layout& l = c.l;
    const int colours = c.colours;
    const std::size_t offset = c.offset;
    const std::size_t stride = c.stride;
    const QList<QRgb>& palette = c.palette;
    const bool greyRamp = c.greyRamp;
    auto sourceRow = [&](int y) {
        const int row = l.topDown ? y : l.height - 1 - y;
        return p + offset + stride * std::size_t(row);
    };

    QImage image;
    switch (l.bits) {
    case 24: {
        image = QImage(l.width, l.height, QImage::Format_RGB888);
        if (image.isNull())
            break;
        for (int y = 0; y < l.height; ++y) {
            const unsigned char* s = sourceRow(y);
            unsigned char* d = image.scanLine(y);
            for (int x = 0; x < l.width; ++x, s += 3, d += 3) {
                d[0] = s[2];
                d[1] = s[1];
                d[2] = s[0];
            }
        }
        break;
    }
    case 16:
    case 32: {
        image = QImage(l.width, l.height, QImage::Format_RGB32);
        if (image.isNull())
            break;
        for (int y = 0; y < l.height; ++y) {
            const unsigned char* s = sourceRow(y);
            auto* d = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < l.width; ++x) {
                const TW_UINT32 pixel = l.bits == 16 ? readAt<TW_UINT16>(s + 2 * std::size_t(x))
                                                     : readAt<TW_UINT32>(s + 4 * std::size_t(x));
                d[x] = qRgb(maskedChannel(pixel, l.masks[0]), maskedChannel(pixel, l.masks[1]),
                            maskedChannel(pixel, l.masks[2]));
            }
        }
        break;
    }
    case 8: {
        image = QImage(l.width, l.height, greyRamp ? QImage::Format_Grayscale8 : QImage::Format_Indexed8);
        if (image.isNull())
            break;
        if (!greyRamp)
            image.setColorTable(palette);
        for (int y = 0; y < l.height; ++y) {
            const unsigned char* s = sourceRow(y);
            unsigned char* d = image.scanLine(y);
            std::memcpy(d, s, std::size_t(l.width));
            if (!greyRamp)
                for (int x = 0; x < l.width; ++x)
                    if (d[x] >= colours)
                        d[x] = 0;
        }
        break;
    }
    case 4: {
        image = QImage(l.width, l.height, QImage::Format_Indexed8);
        if (image.isNull())
            break;
        image.setColorTable(palette);
        for (int y = 0; y < l.height; ++y) {
            const unsigned char* s = sourceRow(y);
            unsigned char* d = image.scanLine(y);
            for (int x = 0; x < l.width; ++x) {
                const int index = (x & 1) ? (s[x / 2] & 0x0F) : (s[x / 2] >> 4);
                d[x] = index < colours ? uchar(index) : 0;
            }
        }
        break;
    }
    case 1: {
        image = QImage(l.width, l.height, QImage::Format_Mono);
        if (image.isNull())
            break;
        image.setColorTable(palette);
        const std::size_t bytes = (std::size_t(l.width) + 7) / 8;
        for (int y = 0; y < l.height; ++y)
            std::memcpy(image.scanLine(y), sourceRow(y), bytes);
        break;
    }
    }
    if (image.isNull())
        throw ETwainError(u"Not enough memory for an image of %1 x %2"_s.arg(l.width).arg(l.height));
    return image;
}

// A 24-bit row from blue-green-red to red-green-blue, where it lies.
void swapRedBlue(unsigned char* row, int width) {
    for (int x = 0; x < width; ++x, row += 3)
        std::swap(row[0], row[2]);
}

} // namespace

namespace DibImage {

QImage toImage(const void* dib, std::size_t size) {
    const auto* p = static_cast<const unsigned char*>(dib);
    return copyImage(p, check(p, size));
}

QImage adopt(void* block, std::size_t size) {
    auto* p = static_cast<unsigned char*>(block);
    const Checked c = check(p, size);
    const Layout& l = c.l;
    if (l.compression != BI_RGB || (l.bits != 24 && l.bits != 8 && l.bits != 1)) {
        QImage image = copyImage(p, c);
        std::free(block);
        return image;
    }
    // The rows turned top-down and into Qt's order where they lie, a pair of rows at a time.
    unsigned char* bits = p + c.offset;
    const auto row = [&](int i) { return bits + c.stride * std::size_t(i); };
    const std::size_t used = (std::size_t(l.width) * std::size_t(l.bits) + 7) / 8;
    const auto fix = [&](unsigned char* r) {
        if (l.bits == 24)
            swapRedBlue(r, l.width);
        else if (l.bits == 8 && !c.greyRamp)
            for (unsigned char* d = r; d < r + l.width; ++d)
                if (*d >= c.colours)
                    *d = 0;
    };
    for (int top = 0, bottom = l.height - 1; top <= bottom; ++top, --bottom) {
        if (!l.topDown && top < bottom)
            std::swap_ranges(row(top), row(top) + used, row(bottom));
        fix(row(top));
        if (top < bottom)
            fix(row(bottom));
    }
    const QImage::Format format = l.bits == 24  ? QImage::Format_RGB888
                                  : l.bits == 1 ? QImage::Format_Mono
                                  : c.greyRamp  ? QImage::Format_Grayscale8
                                                : QImage::Format_Indexed8;
    QImage image(
        bits, l.width, l.height, qsizetype(c.stride), format, [](void* b) { std::free(b); }, block);
    if (format == QImage::Format_Mono || format == QImage::Format_Indexed8)
        image.setColorTable(c.palette);
    return image;
}

} // namespace DibImage
