// tenemark-wmf-render: draws one WMF picture through libwmf's gd device (see MetafileProtocol.h).
// Runs in a process of its own: libwmf and libUEMF cannot share one, and a picture that crashes
// or hangs the library costs only this process.

#include "MetafileProtocol.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

extern "C" {
#include <libwmf/api.h>
#include <libwmf/gd.h>
}

using namespace MetafileProtocol;

#ifdef __SANITIZE_ADDRESS__
// The process lives for one picture: what the libraries keep until exit is no leak worth a report.
extern "C" const char* __asan_default_options() {
    return "detect_leaks=0";
}
#endif

namespace {

// The gd device hands the PNG over in pieces.
int collect(void* context, char* buffer, int length) {
    static_cast<std::string*>(context)->append(buffer, std::size_t(length));
    return length;
}

int render(std::string& input, Size box) {
    wmfAPI_Options options{};
    options.function = wmf_gd_function;
    const unsigned long flags =
        WMF_OPT_FUNCTION | WMF_OPT_IGNORE_NONFATAL | WMF_OPT_NO_ERROR | WMF_OPT_NO_DEBUG;
    wmfAPI* api = nullptr;
    if (wmf_api_create(&api, flags, &options) != wmf_E_None) {
        if (api)
            wmf_api_destroy(api);
        return NoMemory;
    }
    struct Destroy {
        wmfAPI* api;
        ~Destroy() { wmf_api_destroy(api); }
    } destroy{api};

    if (wmf_mem_open(api, reinterpret_cast<unsigned char*>(input.data()), long(input.size())) != wmf_E_None)
        return Damaged;
    wmfD_Rect bbox{};
    if (wmf_scan(api, 0, &bbox) != wmf_E_None)
        return Damaged;
    unsigned int naturalWidth = 0;
    unsigned int naturalHeight = 0;
    if (wmf_display_size(api, &naturalWidth, &naturalHeight, 96, 96) != wmf_E_None)
        return Damaged;
    const Size size = fitted({long(naturalWidth), long(naturalHeight)}, box);
    if (size.width == 0)
        return Damaged;

    std::string png;
    wmf_gd_t* gd = WMF_GD_GetData(api);
    gd->type = wmf_gd_png;
    // Memory output into a buffer of our own: the device passes the PNG to the sink.
    gd->flags |= WMF_GD_OUTPUT_MEMORY | WMF_GD_OWN_BUFFER;
    gd->sink.context = &png;
    gd->sink.function = collect;
    gd->width = unsigned(size.width);
    gd->height = unsigned(size.height);
    gd->bbox = bbox;
    if (wmf_play(api, 0, &bbox) != wmf_E_None)
        return Damaged;
    if (png.empty())
        return Damaged;
    return writeOutput(png.data(), png.size()) ? Drawn : Usage;
}

} // namespace

int main(int argc, char** argv) {
    return runHelper(argc, argv, render);
}
