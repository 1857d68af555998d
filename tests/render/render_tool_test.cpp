#include <gtest/gtest.h>
#include <png.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/headless/headless.h"
#include "reference_renderer.h"
#include "render/side_table.h"
#include "settings/settings.h"
#include "loader/side_loader.h"
#include "test_pictures.h"

namespace {

struct ToolRun {
    int status = -1;  // exit code; -1 when killed by a signal, 124 when timed out
    std::string out;
    std::string err;
};

std::string readText(const std::string& path) {
    const std::vector<std::uint8_t> bytes = readFile(path);
    return {bytes.begin(), bytes.end()};
}

std::string quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// The tool is stopped after `seconds`; it then reports as killed (status 124).
ToolRun runTool(const TempDir& dir, const std::vector<std::string>& args, int seconds = 300) {
    std::string cmd = "timeout -k 5 " + std::to_string(seconds) + " " + quote(ROVANTA_RENDER_TOOL);
    for (const auto& a : args) cmd += " " + quote(a);
    cmd += " >" + quote(dir.file("stdout")) + " 2>" + quote(dir.file("stderr"));
    const int raw = std::system(cmd.c_str());
    ToolRun r;
    if (raw != -1 && WIFEXITED(raw)) r.status = WEXITSTATUS(raw);
    r.out = readText(dir.file("stdout"));
    r.err = readText(dir.file("stderr"));
    return r;
}

struct Image {
    int width = 0, height = 0;
    std::vector<std::uint8_t> rgb;
};

bool readPpm(const std::string& path, Image* img) {
    const std::string data = readText(path);
    int w = 0, h = 0, maxv = 0, used = 0;
    if (std::sscanf(data.c_str(), "P6 %d %d %d%n", &w, &h, &maxv, &used) != 3 || maxv != 255) return false;
    const std::size_t start = static_cast<std::size_t>(used) + 1;
    if (data.size() != start + static_cast<std::size_t>(w) * h * 3) return false;
    img->width = w;
    img->height = h;
    img->rgb.assign(data.begin() + static_cast<long>(start), data.end());
    return true;
}

bool readPng(const std::string& path, Image* img) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
    image.format = PNG_FORMAT_RGB;
    img->width = static_cast<int>(image.width);
    img->height = static_cast<int>(image.height);
    img->rgb.resize(PNG_IMAGE_SIZE(image));
    return png_image_finish_read(&image, nullptr, img->rgb.data(), 0, nullptr) != 0;
}

// What the tool should have drawn, computed here with the reference renderer
// from the same file: settings, sides, centre, angles.
Image expectedFrame(const std::string& config, int w, int h, float a, float b, float c) {
    const SaverSettings saved = saverSettings;
    headless::reset();
    std::vector<std::uint8_t> bytes;
    if (std::FILE* f = std::fopen(config.c_str(), "rb")) {
        bytes.resize(kSettingsFileSize);
        bytes.resize(std::fread(bytes.data(), 1, bytes.size(), f));
        std::fclose(f);
        saverSettings = SaverSettings{};
        loadSettingsFromBytes(bytes.data(), bytes.size());
    } else {
        setDefaultSettings();
    }
    Image img;
    for (std::size_t s = 0; s < kSideCount; ++s)
        if (!loadSide(sideTable[s], sideText(s))) return img;
    saverSettings.faceSize = edgeLengthOfSides();
    saverSettings.centerX = w / 2;
    saverSettings.centerY = h / 2;
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(w) * h, 0);
    PixelSurface surface{pixels.data(), w, h, w};
    ReferenceDepth depth;
    referenceCreateDepth(depth, w, h);
    referenceRenderCube(surface, depth, a, b, c);
    freeSidePixels();
    for (auto& s : sideTable) s = Side{};
    saverSettings = saved;
    img.width = w;
    img.height = h;
    for (const std::uint32_t p : pixels) {
        img.rgb.push_back(static_cast<std::uint8_t>(p >> 16));
        img.rgb.push_back(static_cast<std::uint8_t>(p >> 8));
        img.rgb.push_back(static_cast<std::uint8_t>(p));
    }
    return img;
}

// A settings file that is missing or cannot be read (a FIFO, which must not
// block the tool) gives the default cube.
TEST(RenderTool, DefaultsWithoutAReadableSettingsFileGiveTheDefaultCube) {
    TempDir dir;
    ASSERT_EQ(mkfifo(dir.file("settings.fifo").c_str(), 0600), 0);
    const Image want = expectedFrame(dir.file("missing.cfg"), 1024, 768, 0.7853982f, 0.7853982f,
                                     0.7853982f);
    for (const char* config : {"missing.cfg", "settings.fifo"}) {
        const ToolRun r = runTool(dir, {"--config", dir.file(config), "--out", dir.file("a.ppm")}, 20);
        ASSERT_EQ(r.status, 0) << config << r.err;
        EXPECT_EQ(r.out, "faceSize 200\n");
        Image img;
        ASSERT_TRUE(readPpm(dir.file("a.ppm"), &img));
        EXPECT_EQ(img.width, 1024);
        EXPECT_EQ(img.height, 768);
        EXPECT_TRUE(img.rgb == want.rgb) << config;
    }
}

TEST(RenderTool, PicturesSizeAnglesAndPngOutputFollowTheOptions) {
    TempDir dir;
    ASSERT_TRUE(writeTestJpeg(dir.file("one.jpg"), 90, 70, 1));
    ASSERT_TRUE(writeTestJpeg(dir.file("two.jpg"), 130, 120, 2));
    const SaverSettings s = settingsWith(1, 2, {dir.file("one.jpg"), "#ff0080", "$NONE",
                                                dir.file("two.jpg"), "#00ff00", "#102030"});
    ASSERT_TRUE(writeFile(dir.file("r.cfg"), settingsFileBytes(s)));
    const ToolRun r = runTool(dir, {"--config", dir.file("r.cfg"), "--size", "150x110", "--angles",
                                "0.5,-1.25,3e1", "--out", dir.file("b.PNG"), "--repeat", "3"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "faceSize 70\n");  // the 90-wide picture is stored 92 wide; its height rules
    double ms = -1;
    EXPECT_EQ(std::sscanf(r.err.c_str(), "ms/frame %lf", &ms), 1) << r.err;
    EXPECT_GE(ms, 0.0);
    Image img;
    ASSERT_TRUE(readPng(dir.file("b.PNG"), &img));
    ASSERT_EQ(img.width, 150);
    ASSERT_EQ(img.height, 110);
    const Image want = expectedFrame(dir.file("r.cfg"), 150, 110, 0.5f, -1.25f, 30.0f);
    EXPECT_TRUE(img.rgb == want.rgb);
}

TEST(RenderTool, CreditLineChangesOnlyTheBottomRightCorner) {
    TempDir dir;
    const std::vector<std::string> common = {"--config", dir.file("none.cfg"), "--size", "320x200",
                                             "--angles", "0.2,0.4,0.6"};
    std::vector<std::string> plain = common, credit = common;
    plain.insert(plain.end(), {"--out", dir.file("plain.ppm")});
    credit.insert(credit.end(), {"--credit", "--out", dir.file("credit.ppm")});
    ASSERT_EQ(runTool(dir, plain).status, 0);
    const ToolRun r = runTool(dir, credit);
    ASSERT_EQ(r.status, 0) << r.err;
    Image a, b;
    ASSERT_TRUE(readPpm(dir.file("plain.ppm"), &a));
    ASSERT_TRUE(readPpm(dir.file("credit.ppm"), &b));
    int changed = 0, grey = 0;
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 320; ++x) {
            const std::size_t i = 3 * (static_cast<std::size_t>(y) * 320 + x);
            if (a.rgb[i] == b.rgb[i] && a.rgb[i + 1] == b.rgb[i + 1] && a.rgb[i + 2] == b.rgb[i + 2]) continue;
            ++changed;
            EXPECT_GE(y, 200 - 40) << "changed at " << x << "," << y;
            grey += b.rgb[i] == 0x3C && b.rgb[i + 1] == 0x3C && b.rgb[i + 2] == 0x3C;
        }
    EXPECT_GT(changed, 50);
    EXPECT_GT(grey, 0);
}

TEST(RenderTool, FailingSideIsNamedOnStderrAndExitsOne) {
    TempDir dir;
    ASSERT_TRUE(writeFile(dir.file("junk.jpg"), {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F'}));
    ASSERT_EQ(mkfifo(dir.file("side.fifo").c_str(), 0600), 0);  // refused without blocking
    for (const std::string& bad : {dir.file("nowhere.jpg"), dir.file("junk.jpg"), std::string("#12345"),
                                   dir.file("side.fifo")}) {
        const SaverSettings s = settingsWith(2, 1, {"#ff0000", "#00ff00", bad, "#ffffff",
                                                    "#000000", "#f0f0ff"});
        ASSERT_TRUE(writeFile(dir.file("f.cfg"), settingsFileBytes(s)));
        const ToolRun r = runTool(dir, {"--config", dir.file("f.cfg"), "--out", dir.file("f.ppm")}, 20);
        EXPECT_EQ(r.status, 1) << bad;
        EXPECT_NE(r.err.find("Image " + bad + " not found."), std::string::npos) << r.err;
        EXPECT_EQ(r.out.find("faceSize"), std::string::npos);
    }
}

TEST(RenderTool, BadCommandLinesPrintUsageAndExitTwoHelpPrintsItAndExitsZero) {
    TempDir dir;
    const std::string cfg = dir.file("none.cfg"), out = dir.file("o.ppm");
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"--out", out},
        {"--config", cfg},
        {"--config"},
        {"--config", cfg, "--out"},
        {"--config", cfg, "--out", dir.file("o.bmp")},
        {"--config", cfg, "--out", dir.file("ppm")},
        {"--config", cfg, "--out", out, "--size", "0x10"},
        {"--config", cfg, "--out", out, "--size", "10x"},
        {"--config", cfg, "--out", out, "--size", "x10"},
        {"--config", cfg, "--out", out, "--size", "-5x10"},
        {"--config", cfg, "--out", out, "--size", "99999999999999999999x2"},
        {"--config", cfg, "--out", out, "--size", "16384x16384"},
        {"--config", cfg, "--out", out, "--size", "12x12x"},
        {"--config", cfg, "--out", out, "--angles", "1,2"},
        {"--config", cfg, "--out", out, "--angles", "1,2,3,4"},
        {"--config", cfg, "--out", out, "--angles", "a,b,c"},
        {"--config", cfg, "--out", out, "--angles", "1,,3"},
        {"--config", cfg, "--out", out, "--angles", "nan,0,0"},
        {"--config", cfg, "--out", out, "--angles", "1e99,0,0"},
        {"--config", cfg, "--out", out, "--repeat", "0"},
        {"--config", cfg, "--out", out, "--repeat", "-3"},
        {"--config", cfg, "--out", out, "--repeat", "2x"},
        {"--config", cfg, "--out", out, "--frobnicate"},
        {"--config", cfg, "--out", out, "extra"},
    };
    for (const auto& args : bad) {
        const ToolRun r = runTool(dir, args);
        std::string joined;
        for (const auto& a : args) joined += a + " ";
        EXPECT_EQ(r.status, 2) << joined;
        EXPECT_NE(r.err.find("usage: rovanta-render"), std::string::npos) << joined;
        EXPECT_TRUE(r.out.empty()) << joined;
    }
    // Asked for, the usage is an answer, not a complaint.
    const ToolRun help = runTool(dir, {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("usage: rovanta-render", 0), 0u) << help.out;
    EXPECT_TRUE(help.err.empty()) << help.err;
}

TEST(RenderTool, MalformedSettingsFilesNeverCrash) {
    TempDir dir;
    std::vector<std::vector<std::uint8_t>> files;
    files.push_back({});                                   // empty: all zero, no sides
    files.push_back(std::vector<std::uint8_t>(10, 0x7F));  // short
    std::vector<std::uint8_t> noTerminators(kSettingsFileSize, 'A');
    files.push_back(noTerminators);
    SaverSettings extreme = settingsWith(2147483647, -2147483647 - 1, {"#ff0000", "#00ff00",
                                         "#0000ff", "#ffffff", "#000000", "#f0f0ff"});
    extreme.centerX = -2147483647;
    extreme.faceSize = 2147483647;
    files.push_back(settingsFileBytes(extreme));
    SaverSettings zeroes = settingsWith(0, 0, {"#zzzzzz", "$none", "$NoNe", "#", "#00ff00", "#ab"});
    files.push_back(settingsFileBytes(zeroes));
    std::vector<std::uint8_t> longer = settingsFileBytes(zeroes);
    longer.resize(5000, 0xEE);
    files.push_back(longer);
    for (std::size_t i = 0; i < files.size(); ++i) {
        const std::string cfg = dir.file("m" + std::to_string(i) + ".cfg");
        ASSERT_TRUE(writeFile(cfg, files[i]));
        const ToolRun r = runTool(dir, {"--config", cfg, "--size", "64x48", "--out", dir.file("m.ppm")});
        EXPECT_TRUE(r.status == 0 || r.status == 1) << "file " << i << " status " << r.status << r.err;
        if (r.status == 0) {
            Image img;
            EXPECT_TRUE(readPpm(dir.file("m.ppm"), &img)) << i;
        }
    }
    // A directory as the settings file opens but reads nothing.
    const ToolRun r = runTool(dir, {"--config", dir.path, "--size", "8x8", "--out", dir.file("d.ppm")});
    EXPECT_TRUE(r.status == 0 || r.status == 1) << r.err;
    // An output that cannot be written is a failure, not a success.
    const ToolRun w = runTool(dir, {"--config", dir.file("none"), "--size", "8x8", "--out",
                                dir.file("no/such/dir.png")});
    EXPECT_EQ(w.status, 1);
}

}  // namespace
