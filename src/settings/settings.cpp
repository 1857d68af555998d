// The settings record and its file.
//
// The record is written and read as raw bytes, so its layout is pinned below:
// a compiler that pads it differently, or a big-endian target, must not build.
//
// Saving replaces the file's contents in one platform call, so a crash or a
// full disk in the middle of a save leaves the old file, and a reader in
// another process sees either the old record or the new one.
#include "settings/settings.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

static_assert(std::endian::native == std::endian::little,
              "the settings file is the little-endian image of the record");
static_assert(sizeof(SaverSettings) == kSettingsFileSize);
static_assert(offsetof(SaverSettings, faceSize) == 0);
static_assert(offsetof(SaverSettings, pointStep) == 4);
static_assert(offsetof(SaverSettings, reduceFactor) == 8);
static_assert(offsetof(SaverSettings, centerX) == 12);
static_assert(offsetof(SaverSettings, centerY) == 16);
static_assert(offsetof(SaverSettings, maxRotationDegrees) == 20);
static_assert(offsetof(SaverSettings, sidePaths) == 24);
static_assert(sizeof(SaverSettings::sidePaths) == kSideCount * kSideTextSize);

SaverSettings saverSettings{};
char settingsPath[plat::kMaxPath]{};

namespace {

constexpr char kSettingsFileName[] = "rovanta.cfg";

}  // namespace

bool settingsPathFromCommandLine(const char* commandLine, char separator, char* out,
                                 std::size_t outSize) {
    if (out == nullptr || outSize == 0) return false;
    out[0] = '\0';
    const char* text = commandLine != nullptr ? commandLine : "";

    // The rule works on a view of the command line rather than a fixed-size
    // copy, so no command line is too long for it; only the result is bounded.
    if (*text == '"') ++text;
    const char* closingQuote = std::strchr(text, '"');
    const std::size_t textLength =
        closingQuote != nullptr ? static_cast<std::size_t>(closingQuote - text) : std::strlen(text);

    const char* end = text + textLength;
    const char* first = std::find(text, end, separator);
    const char* dir = &separator;  // no directory at all: the root
    std::size_t dirLength = 1;
    if (first != end) {
        const char* second = std::find(first + 1, end, separator);
        // With only one separator the program lies in a root directory (or one
        // level down a relative path): its own directory is the one to use.
        const char* dirEnd = second != end ? second + 1 : first + 1;
        dir = text;
        dirLength = static_cast<std::size_t>(dirEnd - text);
    }
    const std::size_t nameLength = sizeof kSettingsFileName - 1;
    if (dirLength + nameLength >= outSize) return false;
    std::memcpy(out, dir, dirLength);
    std::memcpy(out + dirLength, kSettingsFileName, nameLength + 1);
    return true;
}

namespace {

// Set when settingsPath is the user's own file (or the one ROVANTA_CONFIG
// names) rather than the path rule's.
bool pathIsUsers = false;

// The user's file may be the first thing in its directory, or in ~/.config:
// what is missing is made, private to the user as such directories are. The
// path rule's directory is the program's and is never made.
void makeParentDirectories(const char* path) {
    if (pathIsUsers) plat::CreateParentDirectories(path);
}

}  // namespace

void buildSettingsPath() {
    pathIsUsers = plat::SettingsFileLocation(settingsPath, sizeof settingsPath);
    if (!pathIsUsers)
        settingsPathFromCommandLine(plat::GetCommandLineA(), plat::kPathSeparator, settingsPath,
                                    sizeof settingsPath);
}

void setDefaultSettings() {
    static constexpr const char* kDefaultSides[kSideCount] = {"#ff0000", "#00ff00", "#0000ff",
                                                              "#ffffff", "#000000", "#f0f0ff"};
    saverSettings.reduceFactor = 1;
    saverSettings.pointStep = 2;
    saverSettings.maxRotationDegrees = 5;
    // Only the text and its terminator are written; the rest of each field
    // keeps what it held, as in the file.
    for (std::size_t i = 0; i < kSideCount; ++i)
        std::memcpy(saverSettings.sidePaths[i], kDefaultSides[i], std::strlen(kDefaultSides[i]) + 1);
}

void loadSettingsFromBytes(const std::uint8_t* data, std::size_t size) {
    const std::size_t n = std::min(size, kSettingsFileSize);
    if (data != nullptr && n > 0) std::memcpy(&saverSettings, data, n);
    // A text that fills its whole field has no terminator; cut it to 259
    // characters so every reader of the record stays inside the field.
    for (auto& text : saverSettings.sidePaths)
        if (std::memchr(text, '\0', kSideTextSize) == nullptr) text[kSideTextSize - 1] = '\0';
}

void loadSettings() {
    std::FILE* file = settingsPath[0] != '\0' ? plat::OpenFileForReading(settingsPath) : nullptr;
    if (file == nullptr) {
        setDefaultSettings();
        return;
    }
    std::uint8_t bytes[kSettingsFileSize];
    std::size_t got = 0;
    while (got < sizeof bytes) {
        const std::size_t n = std::fread(bytes + got, 1, sizeof bytes - got, file);
        if (n == 0) break;
        got += n;
    }
    std::fclose(file);
    loadSettingsFromBytes(bytes, got);
}

const char* sideText(std::size_t side) {
    if (side >= kSideCount) return "";
    const char* text = saverSettings.sidePaths[side];
    if (std::memchr(text, '\0', kSideTextSize) != nullptr) return text;
    // Someone wrote the record without a terminator: hand out a cut copy.
    static char cut[kSideCount][kSideTextSize];
    std::memcpy(cut[side], text, kSideTextSize - 1);
    cut[side][kSideTextSize - 1] = '\0';
    return cut[side];
}

std::int32_t renderPointStep() { return std::max<std::int32_t>(saverSettings.pointStep, 1); }
std::int32_t renderReduceFactor() { return std::max<std::int32_t>(saverSettings.reduceFactor, 1); }

// ---- Saving ----------------------------------------------------------------

bool saveSettings() {
    // No place for the file: the settings stay in memory for this run.
    if (settingsPath[0] == '\0') return false;
    makeParentDirectories(settingsPath);
    return plat::ReplaceFileContents(settingsPath, &saverSettings, kSettingsFileSize);
}
