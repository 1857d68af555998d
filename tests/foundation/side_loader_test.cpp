// Side texts into side records: colours, empty sides, JPEG pictures of every
// kind the library hands us, damaged files, and the cube's edge length.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

#include "jpeg_fixtures.h"
#include "loader/side_loader.h"
#include "platform/headless/headless.h"
#include "render/side_table.h"

namespace {

class SideLoaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        headless::reset();
        freeSidePixels();
        std::memset(sideTable, 0, sizeof sideTable);
    }
    void TearDown() override { freeSidePixels(); }

    std::string picture(const std::string& name, const std::vector<std::uint8_t>& bytes) {
        const std::string path = dir.file(name);
        writeFile(path, bytes);
        return path;
    }

    TempDir dir;
};

void expectNear(const Texel& t, int r, int g, int b, int tolerance = 6) {
    EXPECT_NEAR(t.red, r, tolerance);
    EXPECT_NEAR(t.green, g, tolerance);
    EXPECT_NEAR(t.blue, b, tolerance);
}

// ---- Texts ----------------------------------------------------------------------

TEST(ParseHexPair, ConvertsTwoDigitsAndGivesZeroForNonHex) {
    EXPECT_EQ(parseHexPair("ff"), 255);
    EXPECT_EQ(parseHexPair("0a"), 10);
    EXPECT_EQ(parseHexPair("A0"), 160);
    EXPECT_EQ(parseHexPair("a0ff"), 160);  // only two characters count
    EXPECT_EQ(parseHexPair("f"), 15);
    EXPECT_EQ(parseHexPair("fz"), 15);
    EXPECT_EQ(parseHexPair("zz"), 0);
    EXPECT_EQ(parseHexPair(""), 0);
}

TEST_F(SideLoaderTest, ColourTextsInAnyCase) {
    Side& side = sideTable[0];
    side.isEmpty = 1;
    ASSERT_TRUE(loadSide(side, "#00ff00"));
    EXPECT_EQ(side.width, -1);
    EXPECT_EQ(side.height, -1);
    EXPECT_EQ(side.isEmpty, 0);
    EXPECT_EQ(side.red, 0);
    EXPECT_EQ(side.green, 255);
    EXPECT_EQ(side.blue, 0);

    ASSERT_TRUE(loadSide(sideTable[1], "#00FF00"));
    EXPECT_EQ(sideTable[1].green, 255);

    // Unconvertible pairs are 0, not whatever the record held.
    side.red = side.green = side.blue = 77;
    ASSERT_TRUE(loadSide(side, "#zzzzzz"));
    EXPECT_EQ(side.red, 0);
    EXPECT_EQ(side.green, 0);
    EXPECT_EQ(side.blue, 0);
}

TEST_F(SideLoaderTest, OnlySevenCharacterHashTextsAreColours) {
    EXPECT_FALSE(loadSide(sideTable[0], "#00ff0"));
    EXPECT_FALSE(loadSide(sideTable[0], "#00ff000"));

    // With a file of that name the six-character text is a picture.
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(dir.path.c_str()), 0);
    writeFile("#00ff0", solidJpeg(8, 8, 255, 0, 0));
    const bool loaded = loadSide(sideTable[0], "#00ff0");
    ASSERT_EQ(chdir(previous), 0);
    EXPECT_TRUE(loaded);
    EXPECT_EQ(sideTable[0].width, 8);
    expectNear(sideTexel(sideTable[0], 4, 4), 255, 0, 0);
}

TEST_F(SideLoaderTest, NoneInAnyCaseEmptiesTheSideAndKeepsTheRest) {
    for (const char* none : {"$none", "$NONE", "$None"}) {
        Side& side = sideTable[2];
        side.width = 644;
        side.height = 480;
        side.isEmpty = 0;
        ASSERT_TRUE(loadSide(side, none)) << none;
        EXPECT_EQ(side.isEmpty, 1);
        EXPECT_EQ(side.width, 644);
        EXPECT_EQ(side.height, 480);
    }
    EXPECT_FALSE(loadSide(sideTable[2], "$non"));
    EXPECT_FALSE(loadSide(sideTable[2], "$nonee"));
}

// ---- Pictures -------------------------------------------------------------------

TEST_F(SideLoaderTest, PictureIsStoredWithPaddedWidth) {
    JpegRecipe recipe;
    recipe.width = 641;
    recipe.height = 480;
    const std::string path = picture("wide.jpg", encodeJpeg(recipe, [](int x, int, std::uint8_t* p) {
        p[0] = x < 320 ? 255 : 0;
        p[1] = 0;
        p[2] = x < 320 ? 0 : 255;
    }));
    Side& side = sideTable[0];
    ASSERT_TRUE(loadSide(side, path.c_str()));
    EXPECT_EQ(side.width, 644);
    EXPECT_EQ(side.height, 480);
    EXPECT_EQ(side.rowsFilled, 480);
    EXPECT_EQ(side.isEmpty, 0);
    expectNear(sideTexel(side, 100, 200), 255, 0, 0);
    expectNear(sideTexel(side, 600, 479), 0, 0, 255);
    for (int x = 641; x < 644; ++x) expectNear(sideTexel(side, x, 10), 0, 0, 0, 0);

    EXPECT_EQ(loadAllSides(path.c_str(), "#ff0000", "#00ff00", "$none", "#0000ff", "#ffffff"), 480);
    EXPECT_TRUE(headless::messageBoxes().empty());
}

TEST_F(SideLoaderTest, EdgeLengthFollowsTheSmallestPicture) {
    const std::string small = picture("a.jpg", solidJpeg(300, 200, 1, 2, 3));
    const std::string square = picture("b.jpg", solidJpeg(500, 500, 1, 2, 3));
    const std::string big = picture("c.jpg", solidJpeg(1000, 1000, 1, 2, 3));
    EXPECT_EQ(loadAllSides(small.c_str(), square.c_str(), "#000000", "#000000", "#000000", "#000000"),
              200);
    freeSidePixels();
    EXPECT_EQ(loadAllSides("#000000", "#000000", big.c_str(), "#000000", "$none", "#000000"), 1000);
    freeSidePixels();
    EXPECT_EQ(loadAllSides("#000000", "#111111", "#222222", "#333333", "#444444", "#555555"), 200);
    // An empty side keeps its old picture size, which no longer counts.
    EXPECT_EQ(loadAllSides("#000000", "#111111", big.c_str(), "$none", "#444444", "#555555"), 1000);
    ASSERT_TRUE(loadSide(sideTable[2], "$NONE"));
    EXPECT_EQ(edgeLengthOfSides(), 200);

    // The search starts at 10000: pictures at least that large do not count.
    freeSidePixels();
    std::memset(sideTable, 0, sizeof sideTable);
    for (Side& side : sideTable) side.width = side.height = -1;
    sideTable[1].width = 10000;
    sideTable[1].height = 12000;
    EXPECT_EQ(edgeLengthOfSides(), 200);
    sideTable[4].width = 9999;
    sideTable[4].height = 20000;
    EXPECT_EQ(edgeLengthOfSides(), 9999);
}

TEST_F(SideLoaderTest, FailingFourthSideStopsTheLoadWithOneMessage) {
    const char* old[6] = {"#0a0a0a", "#0b0b0b", "#0c0c0c", "#0d0d0d", "#0e0e0e", "#0f0f0f"};
    for (int i = 0; i < 6; ++i) ASSERT_TRUE(loadSide(sideTable[i], old[i]));

    // The longest text a side can hold, carried whole into the message.
    std::string missing = dir.file("missing");
    missing.resize(259, 'q');
    EXPECT_EQ(loadAllSides("#010101", "#020202", "#030303", missing.c_str(), "#050505", "#060606"), 0);
    EXPECT_EQ(sideTable[0].red, 1);
    EXPECT_EQ(sideTable[1].red, 2);
    EXPECT_EQ(sideTable[2].red, 3);
    EXPECT_EQ(sideTable[3].isEmpty, 0);
    EXPECT_EQ(sideTable[4].red, 0x0e);
    EXPECT_EQ(sideTable[5].red, 0x0f);

    ASSERT_EQ(headless::messageBoxes().size(), 1u);
    const auto& box = headless::messageBoxes()[0];
    EXPECT_EQ(box.text, "Image " + missing + " not found.");
    EXPECT_EQ(box.caption, "Error");
    EXPECT_EQ(box.type, plat::MB_ICONERROR);
    EXPECT_EQ(box.owner, 0u);
}

TEST_F(SideLoaderTest, EveryCodingTheLibraryDecodesLoads) {
    const auto colour = [](int x, int y, std::uint8_t* p) {
        p[0] = static_cast<std::uint8_t>(x * 8);
        p[1] = static_cast<std::uint8_t>(y * 8);
        p[2] = 128;
    };
    struct Kind {
        const char* name;
        bool arithmetic;
        bool progressive;
    };
    for (const Kind kind : {Kind{"baseline", false, false}, Kind{"arithmetic", true, false},
                            Kind{"progressive", false, true}, Kind{"both", true, true}}) {
        SCOPED_TRACE(kind.name);
        JpegRecipe recipe;
        recipe.width = 30;
        recipe.height = 20;
        recipe.arithmetic = kind.arithmetic;
        recipe.progressive = kind.progressive;
        const std::string path = picture(std::string(kind.name) + ".jpg", encodeJpeg(recipe, colour));
        Side& side = sideTable[0];
        ASSERT_TRUE(loadSide(side, path.c_str()));
        EXPECT_EQ(side.width, 32);
        EXPECT_EQ(side.height, 20);
        EXPECT_EQ(side.rowsFilled, 20);
        expectNear(sideTexel(side, 10, 15), 80, 120, 128, 12);
    }
}

TEST_F(SideLoaderTest, GreyscaleLoadsAsGrey) {
    JpegRecipe recipe;
    recipe.space = JCS_GRAYSCALE;
    recipe.width = 9;
    recipe.height = 5;
    const std::string path = picture("grey.jpg", encodeJpeg(recipe, [](int x, int, std::uint8_t* p) {
        p[0] = x < 4 ? 40 : 220;
    }));
    Side& side = sideTable[0];
    ASSERT_TRUE(loadSide(side, path.c_str()));
    EXPECT_EQ(side.width, 12);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 9; ++x) {
            const Texel t = sideTexel(side, x, y);
            EXPECT_EQ(t.red, t.green);
            EXPECT_EQ(t.green, t.blue);
        }
    EXPECT_NEAR(sideTexel(side, 1, 2).red, 40, 10);
    EXPECT_NEAR(sideTexel(side, 8, 2).red, 220, 10);
}

TEST_F(SideLoaderTest, CmykIsConvertedToRgb) {
    // Red, as ink: full magenta and yellow, no cyan, no black. Files with an
    // Adobe marker store ink inverted.
    for (const bool adobe : {true, false}) {
        SCOPED_TRACE(adobe ? "Adobe marker" : "plain");
        JpegRecipe recipe;
        recipe.space = JCS_CMYK;
        recipe.adobeMarker = adobe;
        const std::string path = picture("cmyk.jpg", encodeJpeg(recipe, [adobe](int, int, std::uint8_t* p) {
            const std::uint8_t ink[4] = {0, 255, 255, 0};
            for (int i = 0; i < 4; ++i) p[i] = adobe ? static_cast<std::uint8_t>(255 - ink[i]) : ink[i];
        }));
        Side& side = sideTable[0];
        ASSERT_TRUE(loadSide(side, path.c_str()));
        expectNear(sideTexel(side, 8, 8), 255, 0, 0, 8);
    }
}

// ---- Damaged and hostile files ----------------------------------------------------

TEST_F(SideLoaderTest, TruncatedImageDataStillLoads) {
    JpegRecipe recipe;
    recipe.width = 64;
    recipe.height = 64;
    auto bytes = encodeJpeg(recipe, [](int x, int y, std::uint8_t* p) {
        p[0] = static_cast<std::uint8_t>(x * y);
        p[1] = static_cast<std::uint8_t>(x + y);
        p[2] = static_cast<std::uint8_t>(x ^ y);
    });
    const long scan = scanOffset(bytes);
    ASSERT_GT(scan, 0);
    bytes.resize(static_cast<std::size_t>(scan) + (bytes.size() - static_cast<std::size_t>(scan)) / 3);
    const std::string path = picture("cut.jpg", bytes);
    ASSERT_TRUE(loadSide(sideTable[0], path.c_str()));
    EXPECT_EQ(sideTable[0].rowsFilled, 64);
}

TEST_F(SideLoaderTest, FilesWithoutUsableImageDataFail) {
    const auto good = solidJpeg(16, 16, 9, 9, 9);
    const long scan = scanOffset(good);
    ASSERT_GT(scan, 0);
    const std::vector<std::uint8_t> headerOnly(good.begin(), good.begin() + scan);
    auto twelveBit = good;
    setPrecision(twelveBit, 12);
    const std::string text = "this is not a picture\n";
    const std::vector<std::pair<const char*, std::vector<std::uint8_t>>> cases = {
        {"empty", {}},
        {"text", std::vector<std::uint8_t>(text.begin(), text.end())},
        {"soi only", {0xFF, 0xD8}},
        {"header only", headerOnly},
        {"twelve-bit samples", twelveBit},
    };
    for (const auto& [name, bytes] : cases) {
        SCOPED_TRACE(name);
        const std::string path = picture("bad.jpg", bytes);
        Side& side = sideTable[1];
        side.isEmpty = 1;
        EXPECT_FALSE(loadSide(side, path.c_str()));
        EXPECT_EQ(side.isEmpty, 0);
    }
    EXPECT_FALSE(loadSide(sideTable[1], dir.path.c_str()));  // a directory
}

TEST_F(SideLoaderTest, AbsurdSizesFailThroughTheTooLargePath) {
    auto bytes = solidJpeg(16, 16, 1, 1, 1);
    setDimensions(bytes, 65500, 65500);
    const std::string path = picture("huge.jpg", bytes);
    Side& side = sideTable[0];
    ::testing::internal::CaptureStdout();
    const bool loaded = loadSide(side, path.c_str());
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Image of size 65500 by 65500 is too large.\n");
    EXPECT_FALSE(loaded);
    EXPECT_EQ(side.pixels, nullptr);
    EXPECT_EQ(side.width, 65500);  // what the header said stays, as the load had set it
    EXPECT_EQ(side.height, 65500);

    // Beyond the format's own limit the library refuses before we allocate.
    setDimensions(bytes, 65535, 65535);
    const std::string beyond = picture("beyond.jpg", bytes);
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(loadSide(side, beyond.c_str()));
    ::testing::internal::GetCapturedStdout();

    EXPECT_EQ(loadAllSides(path.c_str(), "#000000", "#000000", "#000000", "#000000", "#000000"), 0);
    EXPECT_EQ(headless::messageBoxes().size(), 1u);
}

TEST_F(SideLoaderTest, CorruptBytesNeverCrashTheLoader) {
    // Deterministic damage over a small picture: each run flips a few bytes.
    const auto good = solidJpeg(40, 24, 10, 200, 30);
    std::uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return seed >> 8;
    };
    int loaded = 0;
    for (int run = 0; run < 300; ++run) {
        auto bytes = good;
        for (int flips = 0; flips < 4; ++flips) bytes[next() % bytes.size()] = static_cast<std::uint8_t>(next());
        const std::string path = picture("damaged.jpg", bytes);
        ::testing::internal::CaptureStdout();
        const bool result = loadSide(sideTable[run % 6], path.c_str());
        ::testing::internal::GetCapturedStdout();
        if (result) {
            ++loaded;
            const Side& side = sideTable[run % 6];
            EXPECT_LE(side.rowsFilled, side.height);
        }
    }
    // Most single-byte damage lands in the image data, which still decodes.
    EXPECT_GT(loaded, 0);
}

}  // namespace
