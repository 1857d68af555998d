// Renders the heavy scene (six 1000 x 1000 pictures at stride 1) and the
// default scene (six colours at stride 2) on a 1920 x 1080 surface through
// the plain and the SSE2 fast paths of this build, and compares the frames.
// Writes to OUT the path the saver chooses on this processor
// ("renderer path: sse2" or "plain"), then a line per scene.
//   renderer_paths OUT
// Exit status: 0 when the frames agree (or only one path can run here),
// 1 when a frame differs, 2 on a bad command line or missing memory.
#include <cstdint>
#include <cstdio>
#include <cstring>
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
void makePicture(Side& side, int seed) {
    allocSidePixels(side, 1000, 1000);
    std::vector<std::uint8_t> row(3 * 1000);
    for (int y = 0; y < 1000; ++y) {
        for (int x = 0; x < 1000; ++x) {
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

struct Run {
    std::vector<std::vector<std::uint32_t>> frames;
    double msPerFrame = 0;
};

// Frames from a clear depth buffer along a tumbling sequence of angles.
Run render(RendererPath path, int frameCount) {
    useRendererPath(path);
    clearDepthBuffer();
    Run run;
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(kWidth) * kHeight);
    PixelSurface surface{pixels.data(), kWidth, kHeight, kWidth};
    float a = 0.7853982f, b = 0.7853982f, c = 0.7853982f;
    DWORD ticks = 0;
    for (int i = 0; i < frameCount; ++i) {
        std::memset(pixels.data(), 0, pixels.size() * 4);
        const DWORD start = GetTickCount();
        renderCube(surface, a, b, c);
        ticks += GetTickCount() - start;
        run.frames.push_back(pixels);
        a += 0.31f;
        b += 0.23f;
        c += 0.17f;
    }
    run.msPerFrame = static_cast<double>(ticks) / frameCount;
    return run;
}

long differingPixels(const Run& x, const Run& y) {
    long differing = 0;
    for (std::size_t f = 0; f < x.frames.size(); ++f)
        for (std::size_t p = 0; p < x.frames[f].size(); ++p)
            differing += x.frames[f][p] != y.frames[f][p];
    return differing;
}

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

    int status = 0;
    struct Scene {
        bool heavy;
        int frames;
        const char* name;
    };
    for (const Scene scene : {Scene{true, 2, "heavy scene (six 1000x1000 pictures, stride 1)"},
                              Scene{false, 6, "default scene (six colours, stride 2)"}}) {
        if (!loadScene(scene.heavy)) return 2;
        // The 64-bit build has only its baseline SSE2 path, a processor
        // without SSE2 only the plain one.
        if (!useRendererPath(RendererPath::Plain) || !useRendererPath(RendererPath::Sse2)) {
            useRendererPath(chosen);
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
        std::fflush(out);
        if (differing != 0) status = 1;
    }
    useRendererPath(chosen);
    destroyDepthBuffer();
    freeSidePixels();
    std::fclose(out);
    return status;
}
