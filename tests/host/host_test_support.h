// Shared set-up for the host tests: a fresh platform, fresh process-wide
// records, and a private directory for the settings file.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "jpeg_fixtures.h"
#include "host/dialog_template.h"
#include "host/host_entry.h"
#include "host/host_state.h"
#include "host/host_window.h"
#include "host/saver_window.h"
#include "loader/side_loader.h"
#include "platform/headless/headless.h"
#include "platform/core/linux_platform.h"
#include "platform/platform.h"
#include "render/depth_buffer.h"
#include "render/side_table.h"
#include "settings/settings.h"

namespace hosttest {

inline constexpr plat::Module kInstance = 0x400000;

// The settings file is "saver/rovanta.cfg" of the current directory, which
// each test makes its own; the program is "saver/rovanta" there.
class HostTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Named outright, so that no test reads or writes the user's own file.
        useSettingsFile("saver/rovanta.cfg");
        headless::reset();
        // The program's dialog, as main registers it.
        plat::linuxRegisterDialog(kConfigDialogTemplateId, configDialogTemplate);
        hostState = HostState{};
        freeSidePixels();
        for (Side& side : sideTable) side = Side{};
        saverSettings = SaverSettings{};
        settingsPath[0] = '\0';
        rotationState = RotationState{};
        saverDrawing = SaverDrawing{};
        loaderMessageOwner = 0;

        char pattern[] = "/tmp/rovanta-host-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        previousDir_ = std::filesystem::current_path();
        std::filesystem::current_path(dir_);
        std::filesystem::create_directory(dir_ / "saver");
        headless::setCommandLine("\"saver/rovanta\" /s");
    }

    void TearDown() override {
        freeSidePixels();
        std::filesystem::current_path(previousDir_);
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }

    // A further run within one test: the platform and the host record afresh.
    static void restart() {
        headless::reset();
        hostState = HostState{};
        headless::setCommandLine("\"saver/rovanta\" /s");
        useSettingsFile("saver/rovanta.cfg");
        headless::setScreenSize(64, 48);
    }

    // A desktop that asks for the password, and a verifier giving `answer`.
    static void requirePassword(std::int32_t answer) {
        headless::setWin95Family(true);
        headless::setRegistryValue("Control Panel\\Desktop", "ScreenSaveUsePassword", {1, 0, 0, 0});
        headless::installPasswordVerifier();
        headless::setPasswordAnswer(answer);
    }

    static std::filesystem::path settingsFile() { return "saver/rovanta.cfg"; }
    static void useSettingsFile(const std::string& path) {
        setenv("ROVANTA_CONFIG", path.c_str(), 1);
    }
    // A settings file in a folder that cannot be made: a plain file holds its name.
    static void useUnwritableSettingsFile(const std::string& folder) {
        std::FILE* blocker = std::fopen(folder.c_str(), "wb");
        if (blocker != nullptr) std::fclose(blocker);
        useSettingsFile(folder + "/rovanta.cfg");
    }

    static std::vector<std::uint8_t> readSettingsFile() { return readFile(settingsFile()); }

    static std::vector<std::uint8_t> fileImage(const SaverSettings& s) {
        const auto* p = reinterpret_cast<const std::uint8_t*>(&s);
        return {p, p + sizeof s};
    }

    static SaverSettings settingsFromFile() {
        SaverSettings s{};
        const std::vector<std::uint8_t> bytes = readSettingsFile();
        std::memcpy(&s, bytes.data(), std::min(bytes.size(), sizeof s));
        return s;
    }

    static void writeSettingsFile(const SaverSettings& s) { writeFile(settingsFile(), fileImage(s)); }

    static SaverSettings defaultRecord() {
        SaverSettings s{};
        s.pointStep = 2;
        s.reduceFactor = 1;
        s.maxRotationDegrees = 5;
        const char* sides[kSideCount] = {"#ff0000", "#00ff00", "#0000ff",
                                         "#ffffff", "#000000", "#f0f0ff"};
        for (std::size_t i = 0; i < kSideCount; ++i) std::strcpy(s.sidePaths[i], sides[i]);
        return s;
    }

    static int countPosted(plat::Window window, std::uint32_t message) {
        const auto& posted = headless::postedMessages();
        return static_cast<int>(std::count_if(posted.begin(), posted.end(), [&](const plat::Msg& m) {
            return m.window == window && m.message == message;
        }));
    }

    std::filesystem::path dir_;
    std::filesystem::path previousDir_;
};

}  // namespace hosttest
