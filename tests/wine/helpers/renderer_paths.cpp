// Renders the heavy scene (six 1000 x 1000 pictures at stride 1) and the
// default scene (six colours at stride 2) on a 1920 x 1080 surface through
// the plain and the SSE2 fast paths of this build, and compares the frames;
// then does the same for a run of small seeded random scenes, where the x87
// arithmetic of the plain path meets many more sums than two scenes give.
// Writes to OUT the path the saver chooses on this processor
// ("renderer path: sse2" or "plain"), a line per scene, the heavy scene's
// time a frame on each path ("renderer paths: plain N ms, sse2 M ms"), and a
// line for the random scenes.
//   renderer_paths OUT
// Exit status: 0 when the frames agree (or only one path can run here),
// 1 when a frame differs, 2 on a bad command line or missing memory.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

// Ours first: the platform's interface (through settings.h) declares the
// Win32 names that windows.h makes macros of.
#include "loader/side_loader.h"
#include "render/cube_renderer.h"
#include "render/depth_buffer.h"
#include "render/side_table.h"
#include "settings/settings.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace {

constexpr std::int32_t kWidth = 1920;
constexpr std::int32_t kHeight = 1080;

// A picture whose every texel differs from its neighbours, so that a splat
// painted from the wrong sample shows.
void makePicture(Side& side, int seed, std::int32_t width = 1000, std::int32_t height = 1000) {
    allocSidePixels(side, width, height);
    if (side.pixels == nullptr) return;
    std::vector<std::uint8_t> row(3 * static_cast<std::size_t>(side.width));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < side.width; ++x) {
            row[3 * x] = static_cast<std::uint8_t>(x * 7 + y * 3 + seed * 50);
            row[3 * x + 1] = static_cast<std::uint8_t>((x ^ y) * 5 + seed * 31);
            row[3 * x + 2] = static_cast<std::uint8_t>(y * 11 - x * 2 + seed * 17);
        }
        appendSideRow(side, row.data(), row.size());
    }
}

bool loadScene(bool heavy) {
    freeSidePixels();
    const char* colours[6] = {"#ff0000", "#00ff00", "#0000ff", "#ffffff", "#000000", "#f0f0ff"};
    for (int s = 0; s < 6; ++s) {
        sideTable[s] = Side{};
        if (heavy)
            makePicture(sideTable[s], s + 1);
        else if (!loadSide(sideTable[s], colours[s]))
            return false;
        if (heavy && sideTable[s].pixels == nullptr) return false;
    }
    saverSettings.pointStep = heavy ? 1 : 2;
    saverSettings.reduceFactor = 1;
    saverSettings.faceSize = edgeLengthOfSides();
    saverSettings.centerX = kWidth / 2;
    saverSettings.centerY = kHeight / 2;
    return true;
}

// A surface and the angles a run of frames tumbles through.
struct Tumble {
    std::int32_t width = kWidth;
    std::int32_t height = kHeight;
    float a = 0.7853982f, b = 0.7853982f, c = 0.7853982f;
    float stepA = 0.31f, stepB = 0.23f, stepC = 0.17f;
    // What the surface holds before each frame: the random scenes take a
    // colour, so that a black texel and a pixel left alone tell apart.
    std::uint32_t background = 0;
};

struct Run {
    std::vector<std::vector<std::uint32_t>> frames;
    double msPerFrame = 0;
};

// The processor time of this thread so far: on a machine shared with other
// work, the wall clock would count their time too.
double nowMs() {
    FILETIME created, ended, kernel, user;
    if (!GetThreadTimes(GetCurrentThread(), &created, &ended, &kernel, &user)) return 0;
    auto ms = [](const FILETIME& t) {
        return static_cast<double>((static_cast<std::uint64_t>(t.dwHighDateTime) << 32) |
                                   t.dwLowDateTime) /
               1e4;
    };
    return ms(kernel) + ms(user);
}

// Frames from a clear depth buffer along a tumbling sequence of angles.
Run render(RendererPath path, int frameCount, const Tumble& t = Tumble{}) {
    useRendererPath(path);
    clearDepthBuffer();
    Run run;
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(t.width) * t.height);
    PixelSurface surface{pixels.data(), t.width, t.height, t.width};
    float a = t.a, b = t.b, c = t.c;
    double ms = 0;
    for (int i = 0; i < frameCount; ++i) {
        std::fill(pixels.begin(), pixels.end(), t.background);
        const double start = nowMs();
        renderCube(surface, a, b, c);
        ms += nowMs() - start;
        run.frames.push_back(pixels);
        a += t.stepA;
        b += t.stepB;
        c += t.stepC;
    }
    run.msPerFrame = ms / frameCount;
    return run;
}

long differingPixels(const Run& x, const Run& y) {
    long differing = 0;
    for (std::size_t f = 0; f < x.frames.size(); ++f)
        for (std::size_t p = 0; p < x.frames[f].size(); ++p)
            differing += x.frames[f][p] != y.frames[f][p];
    return differing;
}

// ---- seeded random scenes ---------------------------------------------------------------

struct Random {
    std::uint32_t state;
    std::uint32_t next() {  // xorshift32
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
    std::int32_t below(std::int32_t n) { return static_cast<std::int32_t>(next() % n); }
    float between(float low, float high) {
        return low + (high - low) * static_cast<float>(next() >> 8) / 16777216.0f;
    }
};

// Sides of pictures up to 64 x 64, colours and empty sides; a surface up to
// 320 x 240 with the cube at its centre or anywhere near it; strides 1 to 12
// (beyond 10 the frame takes the plain route on both), reductions mostly 1;
// angles anywhere, with some runs starting from 0 or multiples of 45 degrees,
// where matrix entries come out exact or nearly so and sums land on or next
// to whole numbers.
bool loadRandomScene(Random& random, Tumble& t) {
    freeSidePixels();
    // The cube's edge is the smallest picture side: spread it over 1 to 64.
    const std::int32_t edge = 1 + random.below(64);
    for (int s = 0; s < 6; ++s) {
        sideTable[s] = Side{};
        const std::int32_t kind = random.below(20);
        if (kind < 9) {
            makePicture(sideTable[s], static_cast<int>(random.next() & 0xFF),
                        edge + random.below(65 - edge), edge + random.below(65 - edge));
            if (sideTable[s].pixels == nullptr) return false;
        } else {
            char text[8] = "$none";
            if (kind < 16)
                std::snprintf(text, sizeof text, "#%06x",
                              static_cast<unsigned>(random.next() & 0xFFFFFF));
            if (!loadSide(sideTable[s], text)) return false;
        }
    }
    t.width = 1 + random.below(320);
    t.height = 1 + random.below(240);
    saverSettings.faceSize = edgeLengthOfSides();
    saverSettings.pointStep = 1 + random.below(12);
    saverSettings.reduceFactor = random.below(3) == 0 ? 1 + random.below(4) : 1;
    const bool nearby = random.below(4) == 0;
    saverSettings.centerX = nearby ? random.below(2 * t.width) - t.width / 2 : t.width / 2;
    saverSettings.centerY = nearby ? random.below(2 * t.height) - t.height / 2 : t.height / 2;
    if (random.below(6) == 0) {
        const float quarter = 0.7853982f;
        t.a = quarter * static_cast<float>(random.below(9));
        t.b = quarter * static_cast<float>(random.below(9));
        t.c = quarter * static_cast<float>(random.below(9));
        t.stepA = t.stepB = t.stepC = 2 * quarter;
    } else {
        t.a = random.between(-7.0f, 7.0f);
        t.b = random.between(-7.0f, 7.0f);
        t.c = random.between(-7.0f, 7.0f);
        t.stepA = random.between(0.0f, 0.4f);
        t.stepB = random.between(0.0f, 0.4f);
        t.stepC = random.between(0.0f, 0.4f);
    }
    t.background = random.next() & 0xFFFFFF;
    return true;
}

constexpr int kRandomScenes = 200;
constexpr int kFramesPerRandomScene = 3;

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    std::FILE* out = std::fopen(argv[1], "w");
    if (out == nullptr) return 2;
    // As the saver does at its start.
    const RendererPath chosen = chooseRendererPath();
    std::fprintf(out, "renderer path: %s\n", rendererPathName(chosen));
    std::fflush(out);
    createDepthBuffer(kWidth, kHeight);
    if (depthBuffer.cells == nullptr) return 2;
    // The 64-bit build has only its baseline SSE2 path, a processor without
    // SSE2 only the plain one.
    const bool bothPaths = useRendererPath(RendererPath::Plain) && useRendererPath(RendererPath::Sse2);
    useRendererPath(chosen);

    int status = 0;
    struct Scene {
        bool heavy;
        int frames;
        const char* name;
    };
    for (const Scene scene : {Scene{true, 2, "heavy scene (six 1000x1000 pictures, stride 1)"},
                              Scene{false, 6, "default scene (six colours, stride 2)"}}) {
        if (!loadScene(scene.heavy)) return 2;
        if (!bothPaths) {
            const Run only = render(chosen, scene.frames);
            std::fprintf(out, "%s: only the %s path here, %.0f ms a frame\n", scene.name,
                         rendererPathName(chosen), only.msPerFrame);
            continue;
        }
        const Run plain = render(RendererPath::Plain, scene.frames);
        const Run sse2 = render(RendererPath::Sse2, scene.frames);
        const long differing = differingPixels(plain, sse2);
        std::fprintf(out,
                     "%s: %d frames %s (%ld differing pixels), plain %.0f ms, sse2 %.0f ms a "
                     "frame\n",
                     scene.name, scene.frames, differing == 0 ? "identical" : "DIFFER", differing,
                     plain.msPerFrame, sse2.msPerFrame);
        if (scene.heavy)
            std::fprintf(out, "renderer paths: plain %.0f ms, sse2 %.0f ms\n", plain.msPerFrame,
                         sse2.msPerFrame);
        std::fflush(out);
        if (differing != 0) status = 1;
    }

    if (bothPaths) {
        Random random{0x2545F491u};
        long differing = 0;
        int differingScenes = 0;
        const double start = nowMs();
        for (int i = 0; i < kRandomScenes; ++i) {
            Tumble t;
            if (!loadRandomScene(random, t)) return 2;
            destroyDepthBuffer();
            createDepthBuffer(t.width, t.height);
            if (depthBuffer.cells == nullptr) return 2;
            const Run plain = render(RendererPath::Plain, kFramesPerRandomScene, t);
            const Run sse2 = render(RendererPath::Sse2, kFramesPerRandomScene, t);
            const long d = differingPixels(plain, sse2);
            if (d != 0 && differingScenes++ < 5)
                std::fprintf(out, "random scene %d differs: %dx%d, face %d, stride %d, reduce %d, "
                                  "angles %.9g %.9g %.9g: %ld pixels\n",
                             i, t.width, t.height, saverSettings.faceSize, saverSettings.pointStep,
                             saverSettings.reduceFactor, t.a, t.b, t.c, d);
            differing += d;
        }
        std::fprintf(out, "random scenes: %d scenes of %d frames %s (%ld differing pixels) in %.0f ms\n",
                     kRandomScenes, kFramesPerRandomScene, differing == 0 ? "identical" : "DIFFER",
                     differing, nowMs() - start);
        if (differing != 0) status = 1;
    }
    useRendererPath(chosen);
    destroyDepthBuffer();
    freeSidePixels();
    std::fclose(out);
    return status;
}
