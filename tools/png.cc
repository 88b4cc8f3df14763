#include "tools/png.h"

#include <cairo.h>
#include <librsvg/rsvg.h>

#include <memory>

#include "tools/options.h"
#include "util/bytes.h"

namespace tools {

namespace {

template <typename T, void (*Free)(T*)>
struct Freed {
    void operator()(T* p) const { Free(p); }
};
using Surface = std::unique_ptr<cairo_surface_t, Freed<cairo_surface_t, cairo_surface_destroy>>;
using Context = std::unique_ptr<cairo_t, Freed<cairo_t, cairo_destroy>>;

void unref(RsvgHandle* handle) { g_object_unref(handle); }
using Handle = std::unique_ptr<RsvgHandle, Freed<RsvgHandle, unref>>;

[[noreturn]] void fail(const std::string& path, GError* error) {
    const std::string why = error != nullptr ? error->message : "unknown reason";
    if (error != nullptr) {
        g_error_free(error);
    }
    throw EBadInput("cannot draw " + path + ": " + why);
}

}  // namespace

void write_png(const std::string& svg, double width, double height, const std::string& path) {
    GError* error = nullptr;
    const Handle handle(rsvg_handle_new_from_data(util::bytes_of(svg), svg.size(), &error));
    if (!handle) {
        fail(path, error);
    }
    const Surface surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, static_cast<int>(width),
                                                     static_cast<int>(height)));
    const Context cairo(cairo_create(surface.get()));
    const RsvgRectangle viewport{0, 0, width, height};
    if (!rsvg_handle_render_document(handle.get(), cairo.get(), &viewport, &error)) {
        fail(path, error);
    }
    if (cairo_surface_write_to_png(surface.get(), path.c_str()) != CAIRO_STATUS_SUCCESS) {
        throw EBadInput("cannot write " + path);
    }
}

}  // namespace tools
