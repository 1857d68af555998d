// The desktop layer's rules that need no display: the dialog's geometry and
// tab order, pixel layouts of other visuals, and where the settings live when
// the environment names the file.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "host/dialog_template.h"
#include "platform/desktop/dialog_layout.h"
#include "platform/desktop/pixel_format.h"
#include "platform/core/linux_platform.h"
#include "settings/settings.h"

namespace {

using namespace desktop;

TEST(DialogLayout, TabWalksTheTemplatesTabStopsFromOk) {
    const std::vector<std::size_t> order = tabOrder(configDialogTemplate);
    ASSERT_EQ(order.size(), 18u) << "2 buttons, 9 edit boxes, 6 Browse, About";
    const auto idAt = [&](std::size_t i) { return configDialogTemplate.controls[order[i]].id; };
    EXPECT_EQ(idAt(0), 1);
    EXPECT_EQ(idAt(1), 2);
    EXPECT_EQ(idAt(2), 1000);
    EXPECT_EQ(idAt(7), 1010);
    EXPECT_EQ(idAt(8), 1001);
    EXPECT_EQ(idAt(13), 1011);
    EXPECT_EQ(idAt(14), 1013) << "the scale box is fourteen Tabs from OK";
    EXPECT_EQ(idAt(17), 1017);
    for (std::size_t i : order) {
        const ControlKind kind = configDialogTemplate.controls[i].kind;
        EXPECT_NE(kind, ControlKind::Label);
        EXPECT_NE(kind, ControlKind::GroupBox);
    }
}

TEST(DialogLayout, DialogUnitsFollowTheFontAndEveryControlFitsTheDialog) {
    EXPECT_EQ(averageCharWidthFromAlphabet(52 * 6), 6);
    EXPECT_EQ(averageCharWidthFromAlphabet(52 * 7 - 10), 7);
    EXPECT_EQ(averageCharWidthFromAlphabet(0), 0);

    // The metrics of the classic dialog font: 460 x 292 units are 690 x 474.
    const PixelBox whole = dialogUnitsToPixels({6, 13}, 0, 0, 460, 292);
    EXPECT_EQ(whole.width, 690);
    EXPECT_EQ(whole.height, 474);
    const PixelBox ok = dialogUnitsToPixels({6, 13}, 333, 244, 50, 14);
    EXPECT_EQ(ok.x, 499);
    EXPECT_EQ(ok.y, 396);
    EXPECT_EQ(ok.width, 75);
    EXPECT_EQ(ok.height, 22);

    for (DialogFontMetrics font : {DialogFontMetrics{6, 13}, {7, 15}, {5, 11}}) {
        const PixelBox dialog = dialogUnitsToPixels(font, 0, 0, configDialogTemplate.width,
                                                    configDialogTemplate.height);
        for (const DialogControl& c : configDialogTemplate.controls) {
            const PixelBox b = dialogUnitsToPixels(font, c.x, c.y, c.width, c.height);
            EXPECT_GE(b.x, 0);
            EXPECT_GE(b.y, 0);
            EXPECT_LE(b.x + b.width, dialog.width) << c.caption;
            EXPECT_LE(b.y + b.height, dialog.height) << c.caption;
        }
    }
    EXPECT_STREQ(desktopFontFamily("MS Sans Serif"), "Sans");
    EXPECT_STREQ(desktopFontFamily("Serif"), "Serif");
}

std::uint32_t convert32(std::uint32_t frame, const PixelFormat& f) {
    std::uint32_t out = 0;
    convertRow(&frame, 1, f, reinterpret_cast<std::uint8_t*>(&out));
    return out;
}

std::uint16_t convert16(std::uint32_t frame, const PixelFormat& f) {
    std::uint16_t out = 0;
    convertRow(&frame, 1, f, reinterpret_cast<std::uint8_t*>(&out));
    return out;
}

TEST(PixelFormat, OtherVisualsGetTheSameColours) {
    const PixelFormat native{0xFF0000, 0xFF00, 0xFF, 32, 24};
    EXPECT_TRUE(isFrameLayout(native));
    EXPECT_FALSE(isFrameLayout({0xFF0000, 0xFF00, 0xFF, 32, 32})) << "alpha must be set";

    const PixelFormat bgr{0xFF, 0xFF00, 0xFF0000, 32, 24};
    ASSERT_TRUE(canConvert(bgr));
    EXPECT_EQ(convert32(0x123456, bgr), 0x563412u);

    const PixelFormat argb{0xFF0000, 0xFF00, 0xFF, 32, 32};
    ASSERT_TRUE(canConvert(argb));
    EXPECT_EQ(convert32(0x123456, argb), 0xFF123456u);

    const PixelFormat rgb565{0xF800, 0x07E0, 0x001F, 16, 16};
    ASSERT_TRUE(canConvert(rgb565));
    EXPECT_EQ(convert16(0xFF0000, rgb565), 0xF800);
    EXPECT_EQ(convert16(0x00FF00, rgb565), 0x07E0);
    EXPECT_EQ(convert16(0x0000FF, rgb565), 0x001F);
    EXPECT_EQ(convert16(0xFFFFFF, rgb565), 0xFFFF);
    EXPECT_EQ(convert16(0x000000, rgb565), 0x0000);

    // A whole row lands pixel by pixel, not only the first.
    const std::uint32_t row[3] = {0xFF0000, 0x00FF00, 0x0000FF};
    std::uint16_t out[3] = {};
    convertRow(row, 3, rgb565, reinterpret_cast<std::uint8_t*>(out));
    EXPECT_EQ(out[2], 0x001F);

    EXPECT_FALSE(canConvert({0xFF0000, 0xFF00, 0xFF, 24, 24})) << "packed 24-bit pixels";
    EXPECT_FALSE(canConvert({0xFF0000, 0xFF0000, 0xFF, 32, 24})) << "overlapping masks";
    EXPECT_FALSE(canConvert({0xF0F000, 0xFF00, 0xFF, 32, 24})) << "a mask with a gap";
    EXPECT_FALSE(canConvert({0xFF0000, 0xFF00, 0xFF, 16, 24})) << "masks beyond 16 bits";
    EXPECT_FALSE(canConvert({0, 0, 0, 8, 8})) << "a palette";
}

class ConfigEnvironment : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : kNames) {
            const char* old = std::getenv(name);
            saved.emplace_back(old != nullptr, old ? old : "");
        }
        linuxplat::setCommandLine("/opt/savers/bin/rovanta /s");
    }
    void TearDown() override {
        for (std::size_t i = 0; i < std::size(kNames); ++i) {
            if (saved[i].first)
                setenv(kNames[i], saved[i].second.c_str(), 1);
            else
                unsetenv(kNames[i]);
        }
    }
    static constexpr const char* kNames[] = {"ROVANTA_CONFIG", "XDG_CONFIG_HOME", "HOME"};
    std::vector<std::pair<bool, std::string>> saved;
};

TEST_F(ConfigEnvironment, TheVariableElseTheUsersOwnFileElseThePasswordDatabasesHome) {
    setenv("HOME", "/home/ann", 1);
    unsetenv("XDG_CONFIG_HOME");
    unsetenv("ROVANTA_CONFIG");
    buildSettingsPath();
    EXPECT_STREQ(settingsPath, "/home/ann/.config/rovanta/rovanta.cfg");
    for (const char* notAbsolute : {"", "relative/dir"}) {
        setenv("XDG_CONFIG_HOME", notAbsolute, 1);
        buildSettingsPath();
        EXPECT_STREQ(settingsPath, "/home/ann/.config/rovanta/rovanta.cfg") << notAbsolute;
    }
    setenv("XDG_CONFIG_HOME", "/srv/ann-config", 1);
    buildSettingsPath();
    EXPECT_STREQ(settingsPath, "/srv/ann-config/rovanta/rovanta.cfg");

    setenv("ROVANTA_CONFIG", "", 1);
    buildSettingsPath();
    EXPECT_STREQ(settingsPath, "/srv/ann-config/rovanta/rovanta.cfg") << "empty: not set";
    setenv("ROVANTA_CONFIG", "/etc/rovanta/shared.cfg", 1);
    buildSettingsPath();
    EXPECT_STREQ(settingsPath, "/etc/rovanta/shared.cfg");

    // No home to speak of: the password database's, never the path rule's.
    unsetenv("ROVANTA_CONFIG");
    unsetenv("XDG_CONFIG_HOME");
    setenv("HOME", "nowhere", 1);
    buildSettingsPath();
    const passwd* user = getpwuid(getuid());
    ASSERT_NE(user, nullptr);
    EXPECT_EQ(std::string(settingsPath), std::string(user->pw_dir) + "/.config/rovanta/rovanta.cfg");
}

// Linux paths are used whole up to PATH_MAX, from the variable and from
// XDG_CONFIG_HOME alike; only a longer one is refused, said on stderr, and
// never cut into another file's name.
TEST_F(ConfigEnvironment, LongPathsAreUsedWholeAndOnlyTooLongOnesRefused) {
    char base[] = "/tmp/rovanta-long-XXXXXX";
    ASSERT_NE(mkdtemp(base), nullptr);
    const std::string folder = std::string(base) + "/" + std::string(200, 'd');
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    const std::string file = folder + "/" + std::string(291 - folder.size() - 1, 'f');
    ASSERT_EQ(file.size(), 291u);
    std::vector<char> record(kSettingsFileSize, 0);
    record[4] = 7;  // pointStep
    FILE* out = std::fopen(file.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    ASSERT_EQ(std::fwrite(record.data(), 1, record.size(), out), record.size());
    std::fclose(out);

    setenv("ROVANTA_CONFIG", file.c_str(), 1);
    buildSettingsPath();
    EXPECT_EQ(std::string(settingsPath), file);
    saverSettings.pointStep = 0;
    loadSettings();
    EXPECT_EQ(saverSettings.pointStep, 7) << "the named file is read";
    std::remove(file.c_str());
    rmdir(folder.c_str());
    rmdir(base);

    unsetenv("ROVANTA_CONFIG");
    const std::string configHome = "/" + std::string(300, 'x');
    setenv("XDG_CONFIG_HOME", configHome.c_str(), 1);
    buildSettingsPath();
    EXPECT_EQ(std::string(settingsPath), configHome + "/rovanta/rovanta.cfg");

    const std::string longest = "/" + std::string(PATH_MAX - 2, 'a');
    setenv("ROVANTA_CONFIG", longest.c_str(), 1);
    buildSettingsPath();
    EXPECT_EQ(std::string(settingsPath), longest);

    const std::string tooLong = longest + "a";
    setenv("ROVANTA_CONFIG", tooLong.c_str(), 1);
    ::testing::internal::CaptureStderr();
    buildSettingsPath();
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_STREQ(settingsPath, "") << "loads the defaults, and a save fails and says so";
    EXPECT_FALSE(saveSettings());
    EXPECT_NE(said.find("ROVANTA_CONFIG is longer than 4095 bytes"), std::string::npos) << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;

    char untouched[8] = "keep";
    EXPECT_FALSE(linuxplat::settingsPathFromEnvironment(nullptr, untouched, sizeof untouched));
    EXPECT_FALSE(linuxplat::settingsPathFromEnvironment("", untouched, sizeof untouched));
    EXPECT_STREQ(untouched, "keep");
}

}  // namespace
