// A SANE backend for the manager's tests, loaded by SANE's dll backend as "tenemarkfake": one
// device without options whose frames are what TWAIN_FAKE_FRAMES says when a page starts, e.g.
//   "rgb 100 300 20 8"       format, pixels per line, bytes per line, lines, depth
//   "gray 5 8 4 8 3"         the same, and the lines it sends when not all
//   "red 8 8 4 8;green ..."  one frame after another; "busy": the device is in use.
// A frame sends its rows as long as bytes_per_line says (or the pixels need, when it says less),
// byte k of the frame being k % 251. The dll backend answers the calls missing here.

#include <sane/sane.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#define FAKE_ENTRY(name) extern "C" __attribute__((visibility("default"))) auto sane_tenemarkfake_##name

namespace {

struct Frame {
    SANE_Parameters params;
    long long bytes;
};
std::vector<Frame> frames;
std::size_t current = 0;
long long sent = 0;
bool started = false;
const SANE_Device device{"scanner", "Tenemark", "fake", "flatbed scanner"};
const SANE_Device* devices[] = {&device, nullptr};

SANE_Status readFrames() {
    frames.clear();
    const char* text = std::getenv("TWAIN_FAKE_FRAMES");
    if (!text || std::strcmp(text, "busy") == 0)
        return SANE_STATUS_DEVICE_BUSY;
    for (const char* one = text; one; one = std::strchr(one, ';'), one = one ? one + 1 : nullptr) {
        char format[8] = {};
        SANE_Parameters p{};
        int linesSent = 0;
        std::sscanf(one, "%7s %d %d %d %d %d", format, &p.pixels_per_line, &p.bytes_per_line, &p.lines,
                    &p.depth, &linesSent);
        const char* names[] = {"gray", "rgb", "red", "green", "blue"};
        for (int f = 0; f < 5; ++f)
            if (std::strcmp(format, names[f]) == 0)
                p.format = SANE_Frame(f);
        const long long pixels =
            static_cast<long long>(p.pixels_per_line) * (p.format == SANE_FRAME_RGB ? 3 : 1);
        const long long row = std::max<long long>(p.bytes_per_line, (pixels * p.depth + 7) / 8);
        frames.push_back({p, row * (linesSent > 0 ? linesSent : p.lines > 0 ? p.lines : 4)});
    }
    frames.back().params.last_frame = SANE_TRUE;
    return SANE_STATUS_GOOD;
}

} // namespace

FAKE_ENTRY(init)(SANE_Int* version, SANE_Auth_Callback)->SANE_Status {
    *version = SANE_VERSION_CODE(1, 0, 0);
    return SANE_STATUS_GOOD;
}

FAKE_ENTRY(get_devices)(const SANE_Device*** list, SANE_Bool)->SANE_Status {
    *list = devices;
    return SANE_STATUS_GOOD;
}

FAKE_ENTRY(open)(SANE_String_Const, SANE_Handle* handle)->SANE_Status {
    *handle = &frames;
    return SANE_STATUS_GOOD;
}

FAKE_ENTRY(get_option_descriptor)(SANE_Handle, SANE_Int)->const SANE_Option_Descriptor* {
    return nullptr;
}

FAKE_ENTRY(start)(SANE_Handle)->SANE_Status {
    sent = 0;
    if (started)
        return ++current < frames.size() ? SANE_STATUS_GOOD : SANE_STATUS_NO_DOCS;
    current = 0;
    started = readFrames() == SANE_STATUS_GOOD;
    return started ? SANE_STATUS_GOOD : SANE_STATUS_DEVICE_BUSY;
}

FAKE_ENTRY(get_parameters)(SANE_Handle, SANE_Parameters* params)->SANE_Status {
    *params = frames.at(current).params;
    return SANE_STATUS_GOOD;
}

FAKE_ENTRY(read)(SANE_Handle, SANE_Byte* data, SANE_Int max, SANE_Int* length)->SANE_Status {
    *length = SANE_Int(std::clamp<long long>(frames.at(current).bytes - sent, 0, max));
    if (*length == 0)
        return SANE_STATUS_EOF;
    for (SANE_Int i = 0; i < *length; ++i)
        data[i] = SANE_Byte((sent + i) % 251);
    sent += *length;
    return SANE_STATUS_GOOD;
}

FAKE_ENTRY(cancel)(SANE_Handle)->void {
    started = false;
}
