// The frame surface: a cairo RGB24 image whose memory the renderer writes
// straight into, and text on it through pango.
//
// The memory context's "default font" is DejaVu Sans Mono 10 at 96 dpi. A
// monospaced font makes the credit line's placement formula (characters x
// average width from the right edge) end the line exactly at the edge, as the
// formula intends; DejaVu is in every Debian desktop. Metrics come from the
// font itself: height = ascent + descent, average width = pango's approximate
// character width, external leading = the font's line spacing beyond that.
#include <algorithm>
#include <cstring>
#include <string>

#include <cairo.h>
#include <pango/pangocairo.h>

#include "platform/core/core_state.h"

struct plat::FrameSurface {
    cairo_surface_t* image;
    PixelSurface pixels;
    void* backendMemory;  // from the backend's allocateFrameMemory, or null
};

namespace linuxplat::detail {
namespace {

constexpr const char* kDefaultFont = "DejaVu Sans Mono 10";
constexpr double kResolutionDpi = 96.0;

struct FontState {
    PangoFontMap* map = nullptr;
    PangoContext* context = nullptr;
    PangoFontDescription* description = nullptr;
    plat::TextMetrics metrics{};
    std::int32_t ascent = 0;
    bool ready = false;
};

FontState& font() {
    static FontState state;
    return state;
}

// Fonts are looked up once per process; fontconfig's start-up is the slow part.
bool ensureFont() {
    FontState& f = font();
    if (f.ready) return true;
    f.map = pango_cairo_font_map_new();
    if (!f.map) return false;
    pango_cairo_font_map_set_resolution(PANGO_CAIRO_FONT_MAP(f.map), kResolutionDpi);
    f.context = pango_font_map_create_context(f.map);
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_ON);
    cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
    pango_cairo_context_set_font_options(f.context, options);
    cairo_font_options_destroy(options);
    f.description = pango_font_description_from_string(kDefaultFont);

    PangoFontMetrics* m = pango_context_get_metrics(f.context, f.description, nullptr);
    if (!m) return false;
    std::int32_t ascent = PANGO_PIXELS_CEIL(pango_font_metrics_get_ascent(m));
    std::int32_t descent = PANGO_PIXELS_CEIL(pango_font_metrics_get_descent(m));
    std::int32_t line = PANGO_PIXELS_CEIL(pango_font_metrics_get_height(m));
    f.ascent = ascent;
    f.metrics.height = ascent + descent;
    f.metrics.averageCharWidth = PANGO_PIXELS(pango_font_metrics_get_approximate_char_width(m));
    f.metrics.externalLeading = std::max(0, line - f.metrics.height);
    pango_font_metrics_unref(m);
    f.ready = true;
    return true;
}

// Text is 8-bit ANSI; the bytes above 0x7F are read as Latin-1 so that every
// byte string is drawable and none is invalid UTF-8 for pango.
std::string utf8FromLatin1(const char* text) {
    std::string out;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
        if (*p < 0x80) {
            out += static_cast<char>(*p);
        } else {
            out += static_cast<char>(0xC0 | (*p >> 6));
            out += static_cast<char>(0x80 | (*p & 0x3F));
        }
    }
    return out;
}

void setColour(cairo_t* cr, std::uint32_t colour) {
    cairo_set_source_rgb(cr, (colour & 0xFF) / 255.0, ((colour >> 8) & 0xFF) / 255.0,
                         ((colour >> 16) & 0xFF) / 255.0);
}

}  // namespace


}  // namespace linuxplat::detail


namespace plat {

using namespace linuxplat::detail;

FrameSurface* CreateFrameSurface(Window window, std::int32_t width, std::int32_t height) {
    // Window 0 is the screen, as for GetDC(NULL): a surface shown in no window.
    if ((window != 0 && !findWindow(window)) || width < 0 || height < 0) return nullptr;
    // Memory the display can read directly spares a copy of every frame.
    void* memory = nullptr;
    const int stride = cairo_format_stride_for_width(CAIRO_FORMAT_RGB24, width);
    if (window != 0 && stride > 0 && width > 0 && height > 0 && backend().allocateFrameMemory)
        memory = backend().allocateFrameMemory(
            window, static_cast<std::size_t>(stride) * static_cast<std::size_t>(height));
    cairo_surface_t* image =
        memory ? cairo_image_surface_create_for_data(static_cast<unsigned char*>(memory),
                                                     CAIRO_FORMAT_RGB24, width, height, stride)
               : cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
    if (cairo_surface_status(image) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(image);
        if (memory) backend().releaseFrameMemory(memory);
        return nullptr;
    }
    auto* s = new FrameSurface{image, PixelSurface{}, memory};
    s->pixels.pixels = reinterpret_cast<std::uint32_t*>(cairo_image_surface_get_data(image));
    s->pixels.width = width;
    s->pixels.height = height;
    s->pixels.stride = cairo_image_surface_get_stride(image) / 4;
    BlackenFrameSurface(s);  // a new bitmap is black on Windows too
    return s;
}

void DestroyFrameSurface(FrameSurface* surface) {
    if (!surface) return;
    cairo_surface_destroy(surface->image);
    if (surface->backendMemory && backend().releaseFrameMemory)
        backend().releaseFrameMemory(surface->backendMemory);
    delete surface;
}

void BlackenFrameSurface(FrameSurface* surface) {
    if (!surface || !surface->pixels.pixels) return;
    cairo_surface_flush(surface->image);
    std::memset(surface->pixels.pixels, 0,
                static_cast<std::size_t>(surface->pixels.stride) * 4 *
                    static_cast<std::size_t>(surface->pixels.height));
    cairo_surface_mark_dirty(surface->image);
}

void BlackenFrameSurfaceRect(FrameSurface* surface, const Rect& rect) {
    if (!surface || !surface->pixels.pixels) return;
    const PixelSurface& p = surface->pixels;
    const std::int32_t left = std::clamp(rect.left, 0, p.width);
    const std::int32_t right = std::clamp(rect.right, 0, p.width);
    const std::int32_t top = std::clamp(rect.top, 0, p.height);
    const std::int32_t bottom = std::clamp(rect.bottom, 0, p.height);
    if (left >= right || top >= bottom) return;
    cairo_surface_flush(surface->image);
    for (std::int32_t y = top; y < bottom; ++y)
        std::memset(p.pixels + static_cast<std::int64_t>(y) * p.stride + left, 0,
                    static_cast<std::size_t>(right - left) * 4);
    cairo_surface_mark_dirty(surface->image);
}

PixelSurface* FrameSurfacePixels(FrameSurface* surface) {
    if (!surface) return nullptr;
    cairo_surface_flush(surface->image);
    return &surface->pixels;
}

TextMetrics GetFrameSurfaceTextMetrics(FrameSurface* surface) {
    if (!surface || !ensureFont()) return TextMetrics{0, 0, 0};
    return font().metrics;
}

void FrameSurfaceTextOut(FrameSurface* surface, std::int32_t x, std::int32_t y, const char* text,
                         std::uint32_t textColour, std::uint32_t backgroundColour) {
    if (!surface || !text || !text[0] || !surface->pixels.pixels || !ensureFont()) return;
    FontState& f = font();
    cairo_surface_mark_dirty(surface->image);  // the renderer wrote behind cairo's back
    cairo_t* cr = cairo_create(surface->image);
    PangoLayout* layout = pango_layout_new(f.context);
    pango_layout_set_font_description(layout, f.description);
    std::string utf8 = utf8FromLatin1(text);
    pango_layout_set_text(layout, utf8.c_str(), static_cast<int>(utf8.size()));

    PangoRectangle logical{};
    pango_layout_get_pixel_extents(layout, nullptr, &logical);
    // Opaque background mode: the text cell is the string's width by the
    // font's full height.
    cairo_rectangle(cr, x, y, logical.width, f.metrics.height);
    setColour(cr, backgroundColour);
    cairo_fill(cr);

    std::int32_t baseline = PANGO_PIXELS(pango_layout_get_baseline(layout));
    cairo_move_to(cr, x, y + f.ascent - baseline);
    setColour(cr, textColour);
    pango_cairo_show_layout(cr, layout);

    g_object_unref(layout);
    cairo_destroy(cr);
    cairo_surface_flush(surface->image);
}

void ShowFrameSurface(Window window, FrameSurface* surface, std::int32_t width,
                      std::int32_t height) {
    ShowFrameSurfaceRect(window, surface, Rect{0, 0, width, height});
}

void ShowFrameSurfaceRect(Window window, FrameSurface* surface, const Rect& rect) {
    if (!surface || !findWindow(window)) return;
    cairo_surface_flush(surface->image);
    const PixelSurface& p = surface->pixels;
    const Rect clipped{std::clamp(rect.left, 0, p.width), std::clamp(rect.top, 0, p.height),
                       std::clamp(rect.right, 0, p.width), std::clamp(rect.bottom, 0, p.height)};
    backend().present(window, p, clipped);
}

}  // namespace plat

// The one leak LeakSanitizer is told to ignore: fontconfig's. The font map is
// built once and kept for the life of the process (ensureFont), and
// fontconfig keeps the patterns and sets it matched for it in caches that no
// pointer LeakSanitizer can follow reaches at exit, so every run that draws
// text would report them (checked: without this, the unit tests that measure
// text fail the sanitizer run). Only objects allocated inside libfontconfig
// are suppressed; anything of ours or of GTK, cairo and pango is still
// reported. Without LeakSanitizer nobody calls this.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
