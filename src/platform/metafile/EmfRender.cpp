// tenemark-emf-render: draws one EMF picture (see MetafileProtocol.h). libemf2svg turns the
// records into SVG and librsvg draws that: unlike Qt Svg it honours clip paths and patterns,
// which EMF clipping and hatched brushes become. Runs in a process of its own: libemf2svg loads
// libUEMF, which clashes with libwmf, and shuts fontconfig down (FcFini) when it is done.

#include "MetafileProtocol.h"

#include <cstdlib>
#include <new>
#include <string>

#include <cairo.h>
#include <emf2svg.h>
#include <librsvg/rsvg.h>

using namespace MetafileProtocol;

#ifdef __SANITIZE_ADDRESS__
// The process lives for one picture: what the libraries keep until exit is no leak worth a report.
extern "C" const char* __asan_default_options() {
    return "detect_leaks=0";
}
#endif

namespace {

cairo_status_t collect(void* closure, const unsigned char* data, unsigned int length) {
    try {
        static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
    } catch (const std::bad_alloc&) {
        return CAIRO_STATUS_NO_MEMORY;
    }
    return CAIRO_STATUS_SUCCESS;
}

struct Svg {
    char* text = nullptr;
    std::size_t size = 0;
    ~Svg() { std::free(text); }
};

int render(std::string& input, Size box) {
    // An EMF starts with its header record: type 1, and " EMF" at offset 40. The library reads
    // records as their sizes say, so the chain is walked first.
    if (input.size() < 88 || input.compare(40, 4, " EMF") != 0)
        return Damaged;
    const std::size_t end = emfRecordsEnd(input.data(), input.size());
    if (end == 0)
        return Damaged;
    input.resize(end);

    generatorOptions options{};
    char noNamespace[] = "";
    options.nameSpace = noNamespace;
    options.verbose = false;
    options.emfplus = true;
    options.svgDelimiter = true;
    Svg svg;
    if (!emf2svg(input.data(), input.size(), &svg.text, &svg.size, &options) || !svg.text || svg.size == 0)
        return Damaged;
    input = std::string(); // the records are no longer needed

    GError* error = nullptr;
    RsvgHandle* handle =
        rsvg_handle_new_from_data(reinterpret_cast<const guint8*>(svg.text), gsize(svg.size), &error);
    if (!handle) {
        g_clear_error(&error);
        return Damaged;
    }
    struct Unref {
        RsvgHandle* handle;
        ~Unref() { g_object_unref(handle); }
    } unref{handle};

    gdouble naturalWidth = 0;
    gdouble naturalHeight = 0;
    if (!rsvg_handle_get_intrinsic_size_in_pixels(handle, &naturalWidth, &naturalHeight))
        return Damaged;
    const Size size = fitted({std::lround(naturalWidth), std::lround(naturalHeight)}, box);
    if (size.width == 0)
        return Damaged;

    cairo_surface_t* surface =
        cairo_image_surface_create(CAIRO_FORMAT_RGB24, int(size.width), int(size.height));
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        return NoMemory;
    }
    cairo_t* cr = cairo_create(surface);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    const RsvgRectangle viewport{0, 0, double(size.width), double(size.height)};
    const bool drawn = rsvg_handle_render_document(handle, cr, &viewport, &error);
    g_clear_error(&error);
    cairo_destroy(cr);
    std::string png;
    const bool written =
        drawn && cairo_surface_write_to_png_stream(surface, collect, &png) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(surface);
    if (!drawn)
        return Damaged;
    if (!written)
        return NoMemory;
    return writeOutput(png.data(), png.size()) ? Drawn : Usage;
}

} // namespace

int main(int argc, char** argv) {
    return runHelper(argc, argv, render);
}
