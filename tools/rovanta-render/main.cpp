// rovanta-render --config FILE [--size WxH] [--angles A,B,C] [--repeat N] [--credit] --out FILE
//
// One frame of the cube, exactly as the saver draws it, written as a binary
// PPM or a PNG. Other tools drive it, so its options, outputs and exit codes
// are fixed: 0 done, 1 a side or the output failed, 2 a bad command line.

#include <png.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "host/saver_window.h"
#include "loader/side_loader.h"
#include "platform/pixel_surface.h"
#include "platform/platform.h"
#include "render/cube_renderer.h"
#include "render/depth_buffer.h"
#include "render/side_table.h"
#include "settings/settings.h"

namespace {

constexpr int kExitSideFailed = 1;
constexpr int kExitUsage = 2;
// parseOptions' answer when --help was answered: the run ends with 0.
constexpr int kHelpGiven = -1;

// The depth buffer is 16-bit wide; the pixel budget keeps a mistyped size
// from asking for gigabytes.
constexpr long kMaxSide = 16384;
constexpr long long kMaxPixels = 1LL << 26;
constexpr long kMaxRepeat = 100000;

enum class Format { Ppm, Png };

struct Options {
    const char* config = nullptr;
    const char* out = nullptr;
    std::int32_t width = 1024;
    std::int32_t height = 768;
    float angles[3] = {0.7853982f, 0.7853982f, 0.7853982f};
    long repeat = 0;
    bool credit = false;
    Format format = Format::Ppm;
};

constexpr const char* kUsage =
    "usage: rovanta-render --config FILE [--size WxH] [--angles A,B,C] "
    "[--repeat N] [--credit] --out FILE\n"
    "  FILE for --out ends in .ppm or .png\n";

int usage(const char* why) {
    std::fprintf(stderr, "rovanta-render: %s\n", why);
    std::fputs(kUsage, stderr);
    return kExitUsage;
}

bool parseLong(const char* text, long low, long high, long* out) {
    if (text == nullptr || *text < '0' || *text > '9') return false;
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v < low || v > high) return false;
    *out = v;
    return true;
}

bool parseSize(const char* text, std::int32_t* w, std::int32_t* h) {
    const char* x = std::strchr(text, 'x');
    if (x == nullptr || x - text > 15) return false;
    char first[16] = {};
    std::memcpy(first, text, static_cast<std::size_t>(x - text));
    long lw = 0, lh = 0;
    if (!parseLong(first, 1, kMaxSide, &lw) || !parseLong(x + 1, 1, kMaxSide, &lh)) return false;
    if (static_cast<long long>(lw) * lh > kMaxPixels) return false;
    *w = static_cast<std::int32_t>(lw);
    *h = static_cast<std::int32_t>(lh);
    return true;
}

bool parseFloat(const char* begin, const char* end, float* out) {
    if (end - begin <= 0 || end - begin > 63) return false;
    char buf[64] = {};
    std::memcpy(buf, begin, static_cast<std::size_t>(end - begin));
    errno = 0;
    char* stop = nullptr;
    const float v = std::strtof(buf, &stop);
    if (errno != 0 || stop == buf || *stop != '\0' || !std::isfinite(v)) return false;
    *out = v;
    return true;
}

bool parseAngles(const char* text, float out[3]) {
    const char* p = text;
    for (int i = 0; i < 3; ++i) {
        const char* comma = std::strchr(p, ',');
        const char* end = (i < 2) ? comma : p + std::strlen(p);
        if (end == nullptr || (i == 2 && comma != nullptr)) return false;
        if (!parseFloat(p, end, &out[i])) return false;
        p = end + 1;
    }
    return true;
}

bool endsWith(const char* text, const char* suffix) {
    const std::size_t n = std::strlen(text), m = std::strlen(suffix);
    return n > m && strcasecmp(text + n - m, suffix) == 0;
}

// 0 when the command line is good, else the exit code (usage printed).
int parseOptions(int argc, char** argv, Options* o) {
    // Asked for, the usage is the answer: stdout, and success.
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::fputs(kUsage, stdout);
        return std::fflush(stdout) == 0 ? kHelpGiven : 1;
    }
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(a, "--credit") == 0) {
            o->credit = true;
        } else if (std::strcmp(a, "--config") == 0 || std::strcmp(a, "--out") == 0 ||
                   std::strcmp(a, "--size") == 0 || std::strcmp(a, "--angles") == 0 ||
                   std::strcmp(a, "--repeat") == 0) {
            if (!hasValue) return usage("an option is missing its value");
            const char* v = argv[++i];
            if (std::strcmp(a, "--config") == 0) {
                o->config = v;
            } else if (std::strcmp(a, "--out") == 0) {
                o->out = v;
            } else if (std::strcmp(a, "--size") == 0) {
                if (!parseSize(v, &o->width, &o->height))
                    return usage("--size wants WxH, each 1..16384, at most 67108864 pixels");
            } else if (std::strcmp(a, "--angles") == 0) {
                if (!parseAngles(v, o->angles)) return usage("--angles wants three numbers A,B,C");
            } else if (!parseLong(v, 1, kMaxRepeat, &o->repeat)) {
                return usage("--repeat wants a count from 1 to 100000");
            }
        } else {
            return usage("unknown argument");
        }
    }
    if (o->config == nullptr) return usage("--config is required");
    if (o->out == nullptr) return usage("--out is required");
    if (endsWith(o->out, ".ppm"))
        o->format = Format::Ppm;
    else if (endsWith(o->out, ".png"))
        o->format = Format::Png;
    else
        return usage("--out must end in .ppm or .png");
    return 0;
}

// As loadSettings, but from the named file: its first 1584 bytes over the
// record, or the defaults when it will not open.
void loadSettingsFile(const char* path) {
    std::FILE* f = plat::OpenFileForReading(path);
    if (f == nullptr) {
        setDefaultSettings();
        return;
    }
    std::uint8_t bytes[kSettingsFileSize];
    const std::size_t n = std::fread(bytes, 1, sizeof bytes, f);
    std::fclose(f);
    loadSettingsFromBytes(bytes, n);
}

// As loadAllSides, with the failure on stderr instead of a message box.
std::int32_t loadSides() {
    for (std::size_t s = 0; s < kSideCount; ++s) {
        if (!loadSide(sideTable[s], sideText(s))) {
            std::fprintf(stderr, "Image %s not found.\n", sideText(s));
            return 0;
        }
    }
    return edgeLengthOfSides();
}

void rowToRgb(const PixelSurface& s, std::int32_t y, std::uint8_t* rgb) {
    const std::uint32_t* row = s.pixels + static_cast<std::int64_t>(y) * s.stride;
    for (std::int32_t x = 0; x < s.width; ++x) {
        rgb[3 * x] = static_cast<std::uint8_t>(row[x] >> 16);
        rgb[3 * x + 1] = static_cast<std::uint8_t>(row[x] >> 8);
        rgb[3 * x + 2] = static_cast<std::uint8_t>(row[x]);
    }
}

bool writePpm(const char* path, const PixelSurface& s, std::uint8_t* rgb) {
    std::FILE* f = std::fopen(path, "wb");
    if (f == nullptr) return false;
    bool ok = std::fprintf(f, "P6\n%d %d\n255\n", s.width, s.height) > 0;
    for (std::int32_t y = 0; ok && y < s.height; ++y) {
        rowToRgb(s, y, rgb);
        ok = std::fwrite(rgb, 3, static_cast<std::size_t>(s.width), f) ==
             static_cast<std::size_t>(s.width);
    }
    return std::fclose(f) == 0 && ok;
}

// libpng reports errors by longjmp; everything it needs freed is reachable
// from the two locals here, and no C++ object lives across the jump.
bool writePng(const char* path, const PixelSurface& s, std::uint8_t* rgb) {
    std::FILE* f = std::fopen(path, "wb");
    if (f == nullptr) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (png == nullptr || info == nullptr) {
        png_destroy_write_struct(&png, &info);
        std::fclose(f);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(f);
        return false;
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, static_cast<png_uint_32>(s.width), static_cast<png_uint_32>(s.height),
                 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (std::int32_t y = 0; y < s.height; ++y) {
        rowToRgb(s, y, rgb);
        png_write_row(png, rgb);
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return std::fclose(f) == 0;
}

// The frame goes into a frame surface of the platform's, as in the saver,
// so the credit line is drawn by the same code and font; it belongs to no
// window, so no display is needed.
plat::FrameSurface* createSurface(std::int32_t width, std::int32_t height) {
    return plat::CreateFrameSurface(0, width, height);
}

int run(const Options& o) {
    loadSettingsFile(o.config);
    const std::int32_t faceSize = loadSides();
    if (faceSize == 0) {
        freeSidePixels();
        return kExitSideFailed;
    }
    saverSettings.faceSize = faceSize;
    saverSettings.centerX = o.width / 2;
    saverSettings.centerY = o.height / 2;
    std::printf("faceSize %d\n", faceSize);
    std::fflush(stdout);

    plat::FrameSurface* frame = createSurface(o.width, o.height);
    auto* rgb = static_cast<std::uint8_t*>(std::malloc(3 * static_cast<std::size_t>(o.width)));
    if (frame == nullptr || rgb == nullptr) {
        std::fprintf(stderr, "rovanta-render: no %dx%d frame surface to be had\n", o.width,
                     o.height);
        if (frame != nullptr) plat::DestroyFrameSurface(frame);
        std::free(rgb);
        freeSidePixels();
        return 1;
    }
    saverDrawing.width = o.width;
    saverDrawing.height = o.height;
    saverDrawing.surface = frame;
    createDepthBuffer(o.width, o.height);

    // As a tick: black surface, cube, credit line.
    auto drawFrame = [&] {
        plat::BlackenFrameSurface(frame);
        renderCube(*plat::FrameSurfacePixels(frame), o.angles[0], o.angles[1], o.angles[2]);
        if (o.credit) drawCredit(frame);
    };
    if (o.repeat > 0) {
        double totalMs = 0;
        for (long i = 0; i < o.repeat; ++i) {
            const auto t0 = std::chrono::steady_clock::now();
            drawFrame();
            const auto t1 = std::chrono::steady_clock::now();
            totalMs += std::chrono::duration<double, std::milli>(t1 - t0).count();
        }
        std::fprintf(stderr, "ms/frame %.3f\n", totalMs / static_cast<double>(o.repeat));
    } else {
        drawFrame();
    }

    const PixelSurface& surface = *plat::FrameSurfacePixels(frame);
    const bool written = o.format == Format::Png ? writePng(o.out, surface, rgb)
                                                 : writePpm(o.out, surface, rgb);
    destroyDepthBuffer();
    saverDrawing.surface = nullptr;
    plat::DestroyFrameSurface(frame);
    std::free(rgb);
    freeSidePixels();
    if (!written) {
        std::fprintf(stderr, "rovanta-render: cannot write %s\n", o.out);
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (const int bad = parseOptions(argc, argv, &o)) return bad == kHelpGiven ? 0 : bad;
    return run(o);
}
