#pragma once

#include <QImage>
#include <cstddef>

// Packed device-independent bitmaps (header, colour table or masks, pixel rows) as a native TWAIN
// transfer delivers them, turned into QImage. Failures throw ETwainError.
namespace DibImage {

// Entries of the colour table: the header's used-colour count when set, else 2, 16 or 256 for
// 1, 4 and 8 bits per pixel and 0 for other depths. A 12-byte core header has no used count.
int colorCount(const void* header);

// Offset of the first pixel row: header, colour table (4 bytes per entry, 3 for a core header)
// and, for a 40-byte header with bit-field compression, the three colour masks.
std::size_t bitsOffset(const void* header);

// 24-bit pictures come back as RGB888, 32-bit and 16-bit ones as RGB32, 8-bit ones with a
// grey ramp as Grayscale8, other palette pictures as Indexed8 (1-bit ones as Mono).
// `size` is the number of readable bytes at `dib`.
QImage toImage(const void* dib, std::size_t size);

// The same for a bitmap in a block of the C allocator, whose ownership passes to the result when
// it returns: 24-bit, 8-bit and line-art pictures are turned around where they lie and the image
// keeps the block (freed with the last copy of the image); others are copied and the block freed.
// When it throws, the block is still the caller's.
QImage adopt(void* block, std::size_t size);

} // namespace DibImage
