// A SANE backend for the manager's tests, loaded by SANE's dll backend as "tenemarkfake": one
// device without options whose frames are what TWAIN_FAKE_FRAMES says when a page starts, e.g.
//   "rgb 100 300 20 8"                      format, pixels per line, bytes per line, lines, depth
//   "gray 5 8 4 8 3"                         the same, and the lines it sends if not all
//   "red 8 8 4 8;green 8 8 4 8;blue 8 8 4 8" one frame per colour
//   "busy"                                   the device is in use
// Each frame sends its rows (4 when the height is unknown), byte k of a frame being k % 251.

#include <sane/sane.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#define FAKE_ENTRY(name) extern "C" __attribute__((visibility("default"))) auto sane_tenemarkfake_##name

namespace {

struct State {
    std::vector<SANE_Parameters> frames;
    std::vector<int> linesSent;
    std::size_t frame = 0; // the frame being sent
    long long sent = 0;
    bool busy = false;
    bool started = false;
} state;

SANE_Frame formatNamed(const std::string& name) {
    if (name == "rgb")
        return SANE_FRAME_RGB;
    if (name == "red")
        return SANE_FRAME_RED;
    if (name == "green")
        return SANE_FRAME_GREEN;
    if (name == "blue")
        return SANE_FRAME_BLUE;
    return SANE_FRAME_GRAY;
}

void readFrames() {
    state.frames.clear();
    state.linesSent.clear();
    const char* text = std::getenv("TWAIN_FAKE_FRAMES");
    state.busy = text && std::strcmp(text, "busy") == 0;
    std::stringstream all(text ? text : "gray 8 8 2 8");
    std::string one;
    while (std::getline(all, one, ';')) {
        std::stringstream fields(one);
        std::string format;
        SANE_Parameters p{};
        int sent = 0;
        fields >> format >> p.pixels_per_line >> p.bytes_per_line >> p.lines >> p.depth >> sent;
        p.format = formatNamed(format);
        state.frames.push_back(p);
        state.linesSent.push_back(sent > 0 ? sent : p.lines > 0 ? p.lines : 4);
    }
    for (std::size_t i = 0; i < state.frames.size(); ++i)
        state.frames[i].last_frame = i + 1 == state.frames.size();
}

// Rows as long as bytes_per_line says, or as the pixels need when it says less.
long long frameBytes(std::size_t frame) {
    const SANE_Parameters& p = state.frames[frame];
    const long long pixels = static_cast<long long>(p.pixels_per_line) * (p.format == SANE_FRAME_RGB ? 3 : 1);
    const long long row = std::max<long long>(p.bytes_per_line, (pixels * p.depth + 7) / 8);
    return row * state.linesSent[frame];
}

const SANE_Device device{"scanner", "Tenemark", "fake", "flatbed scanner"};
const SANE_Device* devices[] = {&device, nullptr};
const SANE_Option_Descriptor optionCount{"", "Number of options", "", SANE_TYPE_INT, SANE_UNIT_NONE,
                                         sizeof(SANE_Word), SANE_CAP_SOFT_DETECT, SANE_CONSTRAINT_NONE, {}};

} // namespace

FAKE_ENTRY(init)(SANE_Int* version, SANE_Auth_Callback)->SANE_Status {
    if (version)
        *version = SANE_VERSION_CODE(1, 0, 0);
    return SANE_STATUS_GOOD;
}

FAKE_ENTRY(exit)()->void {}

FAKE_ENTRY(get_devices)(const SANE_Device*** list, SANE_Bool)->SANE_Status {
    *list = devices;
    return SANE_STATUS_GOOD;
}

FAKE_ENTRY(open)(SANE_String_Const, SANE_Handle* handle)->SANE_Status {
    *handle = &state;
    return SANE_STATUS_GOOD;
}

FAKE_ENTRY(close)(SANE_Handle)->void {}

FAKE_ENTRY(get_option_descriptor)(SANE_Handle, SANE_Int option)->const SANE_Option_Descriptor* {
    return option == 0 ? &optionCount : nullptr;
}

FAKE_ENTRY(control_option)(SANE_Handle, SANE_Int option, SANE_Action action, void* value, SANE_Int*)
    ->SANE_Status {
    if (option != 0 || action != SANE_ACTION_GET_VALUE)
        return SANE_STATUS_INVAL;
    *static_cast<SANE_Word*>(value) = 1;
    return SANE_STATUS_GOOD;
}

FAKE_ENTRY(start)(SANE_Handle)->SANE_Status {
    if (!state.started) {
        readFrames();
        state.frame = 0;
        state.started = true;
    } else if (state.frame + 1 < state.frames.size()) {
        ++state.frame;
    } else {
        return SANE_STATUS_NO_DOCS;
    }
    state.sent = 0;
    return state.busy ? SANE_STATUS_DEVICE_BUSY : SANE_STATUS_GOOD;
}

FAKE_ENTRY(get_parameters)(SANE_Handle, SANE_Parameters* params)->SANE_Status {
    if (state.frames.empty())
        return SANE_STATUS_INVAL;
    *params = state.frames[state.frame];
    return SANE_STATUS_GOOD;
}

FAKE_ENTRY(read)(SANE_Handle, SANE_Byte* data, SANE_Int max, SANE_Int* length)->SANE_Status {
    *length = 0;
    const long long left = frameBytes(state.frame) - state.sent;
    if (left <= 0)
        return SANE_STATUS_EOF;
    const SANE_Int n = SANE_Int(left < max ? left : max);
    for (SANE_Int i = 0; i < n; ++i)
        data[i] = SANE_Byte((state.sent + i) % 251);
    state.sent += n;
    *length = n;
    return SANE_STATUS_GOOD;
}

FAKE_ENTRY(cancel)(SANE_Handle)->void {
    state.started = false;
}

FAKE_ENTRY(set_io_mode)(SANE_Handle, SANE_Bool nonBlocking)->SANE_Status {
    return nonBlocking ? SANE_STATUS_UNSUPPORTED : SANE_STATUS_GOOD;
}

FAKE_ENTRY(get_select_fd)(SANE_Handle, SANE_Int*)->SANE_Status {
    return SANE_STATUS_UNSUPPORTED;
}
