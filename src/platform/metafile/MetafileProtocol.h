#pragma once

// How the picture loader and its metafile helpers talk. A helper is started per picture as
//   <helper> WIDTH HEIGHT
// reads the metafile from its standard input, draws it fitted into WIDTH x HEIGHT pixels keeping
// its proportions (0 0: at its own size at 96 dpi) on white, and writes a PNG to its standard
// output. The exit code tells what went wrong. Plain C++ so that the helpers need no Qt.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <unistd.h>

namespace MetafileProtocol {

inline constexpr const char* WmfHelper = "tenemark-wmf-render";
inline constexpr const char* EmfHelper = "tenemark-emf-render";

enum Exit : int {
    Drawn = 0,
    Usage = 1,
    Damaged = 2,  // not a metafile of the kind, or its records do not play
    TooLarge = 3, // the input or the picture is beyond the limits below
    NoMemory = 4,
};

inline constexpr std::size_t MaxInputBytes = std::size_t(64) << 20;
inline constexpr long MaxSide = 8192;
inline constexpr long MaxPixels = 24'000'000;

struct Size {
    long width = 0;
    long height = 0;
};

// `natural` fitted into `box` keeping proportions (scaled up or down); `natural` itself when the
// box is empty; in both cases shrunk to stay within MaxSide and MaxPixels.
inline Size fitted(Size natural, Size box) {
    if (natural.width <= 0 || natural.height <= 0)
        return {};
    double w = double(natural.width);
    double h = double(natural.height);
    if (box.width > 0 && box.height > 0) {
        const double s = std::min(double(box.width) / w, double(box.height) / h);
        w *= s;
        h *= s;
    }
    double shrink = std::min({1.0, double(MaxSide) / w, double(MaxSide) / h});
    shrink = std::min(shrink, std::sqrt(double(MaxPixels) / (w * h)));
    w *= shrink;
    h *= shrink;
    return {std::max(1L, std::lround(w)), std::max(1L, std::lround(h))};
}

inline bool parseSize(int argc, char** argv, Size* box) {
    if (argc != 3)
        return false;
    char* end = nullptr;
    box->width = std::strtol(argv[1], &end, 10);
    if (*end != '\0')
        return false;
    box->height = std::strtol(argv[2], &end, 10);
    return *end == '\0' && box->width >= 0 && box->height >= 0 && box->width <= MaxSide &&
           box->height <= MaxSide;
}

// Where the records of an EMF end: every record (type, size, data) at least 8 bytes long, its size
// a multiple of 4 and within the file, the first one the header and one an end record (EMR_EOF).
// What follows the end record is not part of the picture. 0 when the chain is broken.
inline std::size_t emfRecordsEnd(const char* data, std::size_t size) {
    const auto u32 = [data](std::size_t at) {
        const auto* b = reinterpret_cast<const unsigned char*>(data + at);
        return std::uint32_t(b[0]) | std::uint32_t(b[1]) << 8 | std::uint32_t(b[2]) << 16 |
               std::uint32_t(b[3]) << 24;
    };
    constexpr std::uint32_t Header = 1;
    constexpr std::uint32_t EndOfFile = 14;
    for (std::size_t at = 0; size - at >= 8;) {
        const std::uint32_t type = u32(at);
        const std::uint32_t length = u32(at + 4);
        if (length < 8 || length % 4 != 0 || length > size - at ||
            (at == 0 && (type != Header || length < 88)))
            return 0;
        at += length;
        if (type == EndOfFile)
            return at;
    }
    return 0;
}

// The whole standard input; false when it is larger than MaxInputBytes.
inline bool readInput(std::string* bytes) {
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        if (bytes->size() + std::size_t(n) > MaxInputBytes)
            return false;
        bytes->append(chunk, std::size_t(n));
    }
}

inline bool writeOutput(const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(STDOUT_FILENO, data, size);
        if (n <= 0)
            return false;
        data += n;
        size -= std::size_t(n);
    }
    return true;
}


// A helper's main(): the size from the arguments, the metafile from standard input, then `render`
// (which writes the PNG); running out of memory anywhere is reported as such.
inline int runHelper(int argc, char** argv, int (*render)(std::string& input, Size box)) {
    Size box;
    if (!parseSize(argc, argv, &box))
        return Usage;
    try {
        std::string input;
        if (!readInput(&input))
            return TooLarge;
        return render(input, box);
    } catch (const std::bad_alloc&) {
        return NoMemory;
    }
}

} // namespace MetafileProtocol
