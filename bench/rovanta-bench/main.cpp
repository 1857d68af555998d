// rovanta-bench: the reference and the saver's renderer on the same scenes in
// the same run, their ratio, whether their frames agree, and the side loader
// beside a plain libjpeg-turbo decode of the same 1000 x 1000 picture.
//
// A frame is what a tick costs the renderer: blacken the surface, then
// renderCube (which clears the depth buffer). The angles walk through a fixed
// tumbling sequence so every frame shows the cube from somewhere else.

#include <benchmark/benchmark.h>
#include <jpeglib.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "loader/side_loader.h"
#include "reference_renderer.h"
#include "render/cube_renderer.h"
#include "render/depth_buffer.h"
#include "render/side_table.h"
#include "settings/settings.h"
#include "test_pictures.h"

namespace {

constexpr std::int32_t kWidth = 1920;
constexpr std::int32_t kHeight = 1080;
constexpr int kAngleCount = 32;

// Six pictures at stride 2 is what a user with photos keeps (the default
// stride); at stride 1 it is the heaviest scene.
enum Scene { kDefaultColours = 0, kMixed = 1, kSixPictures = 2, kSixPicturesStride2 = 3 };
constexpr int kSceneCount = 4;
const char* const kSceneNames[] = {"default colours k2 f1", "pictures+colours+empty k2 f1",
                                   "six 1000x1000 pictures k1 f1",
                                   "six 1000x1000 pictures k2 f1"};

struct Bench {
    TempDir dir;
    std::vector<std::string> pictures;
    int loadedScene = -1;
    std::vector<std::uint32_t> pixels;
    PixelSurface surface{};
    ReferenceDepth referenceDepth;
    float angles[kAngleCount][3];
};

Bench* bench = nullptr;

void loadScene(int scene) {
    if (bench->loadedScene == scene) return;
    freeSidePixels();
    for (auto& s : sideTable) s = Side{};
    const auto& p = bench->pictures;
    std::vector<std::string> sides;
    std::int32_t step = 2;
    if (scene == kDefaultColours) {
        sides = {"#ff0000", "#00ff00", "#0000ff", "#ffffff", "#000000", "#f0f0ff"};
    } else if (scene == kMixed) {
        sides = {p[0], "#ff8000", p[1], "$none", p[2], "#2040ff"};
    } else {
        sides = {p[0], p[1], p[2], p[3], p[4], p[5]};
        step = scene == kSixPictures ? 1 : 2;
    }
    saverSettings = settingsWith(step, 1, sides);
    for (std::size_t s = 0; s < kSideCount; ++s)
        if (!loadSide(sideTable[s], sideText(s))) std::fprintf(stderr, "cannot load %s\n", sideText(s));
    saverSettings.faceSize = edgeLengthOfSides();
    saverSettings.centerX = kWidth / 2;
    saverSettings.centerY = kHeight / 2;
    bench->loadedScene = scene;
}

void blacken() { std::memset(bench->pixels.data(), 0, bench->pixels.size() * 4); }

void productionFrame(int i) {
    blacken();
    const float* a = bench->angles[i % kAngleCount];
    renderCube(bench->surface, a[0], a[1], a[2]);
}

void referenceFrame(int i) {
    blacken();
    const float* a = bench->angles[i % kAngleCount];
    referenceRenderCube(bench->surface, bench->referenceDepth, a[0], a[1], a[2]);
}

void runFrames(benchmark::State& state, void (*frame)(int)) {
    loadScene(static_cast<int>(state.range(0)));
    int i = 0;
    for (auto _ : state) {
        frame(i++);
        benchmark::DoNotOptimize(bench->pixels.data());
    }
    state.SetLabel(kSceneNames[state.range(0)]);
}

void BM_Reference(benchmark::State& state) { runFrames(state, referenceFrame); }
void BM_Production(benchmark::State& state) { runFrames(state, productionFrame); }

void BM_BlackenSurface(benchmark::State& state) {
    for (auto _ : state) {
        blacken();
        benchmark::DoNotOptimize(bench->pixels.data());
    }
}

void BM_LoaderPicture(benchmark::State& state) {
    bench->loadedScene = -1;
    Side side{};
    for (auto _ : state) {
        if (!loadSide(side, bench->pictures[0].c_str())) state.SkipWithError("load failed");
        benchmark::DoNotOptimize(side.pixels);
        std::free(side.pixels);
        side.pixels = nullptr;
    }
}

void BM_LibjpegDecode(benchmark::State& state) {
    std::vector<std::uint8_t> image;
    for (auto _ : state) {
        std::FILE* f = std::fopen(bench->pictures[0].c_str(), "rb");
        jpeg_decompress_struct d{};
        jpeg_error_mgr errors{};
        d.err = jpeg_std_error(&errors);
        jpeg_create_decompress(&d);
        jpeg_stdio_src(&d, f);
        jpeg_read_header(&d, TRUE);
        jpeg_start_decompress(&d);
        const std::size_t rowBytes = static_cast<std::size_t>(d.output_width) * d.output_components;
        image.resize(rowBytes * d.output_height);
        while (d.output_scanline < d.output_height) {
            JSAMPROW rows[8];
            for (int r = 0; r < 8; ++r)
                rows[r] = image.data() + rowBytes * std::min<JDIMENSION>(d.output_scanline + r, d.output_height - 1);
            jpeg_read_scanlines(&d, rows, 8);
        }
        jpeg_finish_decompress(&d);
        jpeg_destroy_decompress(&d);
        std::fclose(f);
        benchmark::DoNotOptimize(image.data());
    }
}

BENCHMARK(BM_Reference)->DenseRange(0, kSceneCount - 1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Production)->DenseRange(0, kSceneCount - 1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BlackenSurface)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoaderPicture)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LibjpegDecode)->Unit(benchmark::kMillisecond);

// Keeps every benchmark's CPU time (the median when repeated) so the ratios
// can be printed in the same run. CPU time, because on a shared machine the
// wall clock also counts other people's work.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs) {
            const std::string name = r.run_name.str();
            if (r.run_type == Run::RT_Aggregate && r.aggregate_name == "median")
                medians[name] = r.GetAdjustedCPUTime();
            else if (r.run_type == Run::RT_Iteration && r.iterations > 0 && !r.error_occurred)
                times[name] = r.GetAdjustedCPUTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }
    const double* find(const std::string& name) const {
        const auto m = medians.find(name);
        if (m != medians.end()) return &m->second;
        const auto t = times.find(name);
        return t != times.end() ? &t->second : nullptr;
    }
    std::map<std::string, double> times;
    std::map<std::string, double> medians;
};

// Pixels that differ between the two renderers over the angle sequence.
long differingPixels(int scene) {
    loadScene(scene);
    long differing = 0;
    std::vector<std::uint32_t> production(bench->pixels.size());
    for (int i = 0; i < kAngleCount; i += 4) {
        productionFrame(i);
        production = bench->pixels;
        referenceFrame(i);
        for (std::size_t p = 0; p < production.size(); ++p) differing += production[p] != bench->pixels[p];
    }
    return differing;
}

}  // namespace

int main(int argc, char** argv) {
    // --no_check leaves out the frame comparison (for profiling one benchmark).
    bool check = true;
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--no_check") == 0) {
            check = false;
            for (int j = i; j + 1 < argc; ++j) argv[j] = argv[j + 1];
            --argc;
            break;
        }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

    Bench b;
    bench = &b;
    for (int i = 0; i < 6; ++i) {
        b.pictures.push_back(b.dir.file("picture" + std::to_string(i) + ".jpg"));
        if (!writeTestJpeg(b.pictures.back(), 1000, 1000, static_cast<std::uint32_t>(i) + 1)) {
            std::fprintf(stderr, "cannot write test pictures in %s\n", b.dir.path.c_str());
            return 1;
        }
    }
    b.pixels.assign(static_cast<std::size_t>(kWidth) * kHeight, 0);
    b.surface = {b.pixels.data(), kWidth, kHeight, kWidth};
    createDepthBuffer(kWidth, kHeight);
    referenceCreateDepth(b.referenceDepth, kWidth, kHeight);
    // The saver's first angles, then steps of up to its default 5 degrees.
    float a = 0.7853982f, bb = 0.7853982f, c = 0.7853982f;
    for (int i = 0; i < kAngleCount; ++i) {
        b.angles[i][0] = a;
        b.angles[i][1] = bb;
        b.angles[i][2] = c;
        a += 0.0628f + 0.011f * static_cast<float>(i % 7);
        bb += 0.0871f - 0.009f * static_cast<float>(i % 5);
        c += 0.0412f + 0.013f * static_cast<float>(i % 3);
    }

    for (int scene = 0; check && scene < kSceneCount; ++scene) {
        const long differing = differingPixels(scene);
        std::printf("frames identical (%s): %s (%ld differing pixels over 8 frames)\n",
                    kSceneNames[scene], differing == 0 ? "yes" : "NO", differing);
    }

    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    for (int scene = 0; scene < kSceneCount; ++scene) {
        const std::string arg = "/" + std::to_string(scene);
        const double* ref = reporter.find("BM_Reference" + arg);
        const double* pro = reporter.find("BM_Production" + arg);
        if (ref == nullptr || pro == nullptr) continue;
        std::printf("ratio reference/production (%s): %.2fx  (%.3f ms vs %.3f ms a frame, CPU)\n",
                    kSceneNames[scene], *ref / *pro, *ref, *pro);
    }
    const double* loader = reporter.find("BM_LoaderPicture");
    const double* decode = reporter.find("BM_LibjpegDecode");
    if (loader != nullptr && decode != nullptr)
        std::printf("loader/libjpeg decode: %.2fx  (%.3f ms vs %.3f ms, CPU)\n", *loader / *decode,
                    *loader, *decode);

    destroyDepthBuffer();
    freeSidePixels();
    benchmark::Shutdown();
    return 0;
}
