// The settings record, its file "rovanta.cfg" and where that file lies.
//
//   SaverSettings        the record, byte for byte the 1584-byte file image
//   saverSettings        the one process-wide instance (zero at start)
//   settingsPath         full path of the file, empty until buildSettingsPath
//   buildSettingsPath    derive settingsPath: on Windows from the process command
//                        line; elsewhere ROVANTA_CONFIG, else the user's own file
//   loadSettings         read the file, or the defaults when it will not open
//   setDefaultSettings   store the defaults
//   saveSettings         write the whole record; false when it did not land
//   renderPointStep/renderReduceFactor   the two numbers as the renderer may use them
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

inline constexpr std::size_t kSideCount = 6;
inline constexpr std::size_t kSideTextSize = 260;  // 259 characters and a terminator
inline constexpr std::size_t kSettingsFileSize = 1584;
inline constexpr std::size_t kPathSize = 260;

struct SaverSettings {
    std::int32_t faceSize;
    std::int32_t pointStep;
    std::int32_t reduceFactor;
    std::int32_t centerX;
    std::int32_t centerY;
    std::int32_t maxRotationDegrees;
    char sidePaths[kSideCount][kSideTextSize];
};

extern SaverSettings saverSettings;
extern char settingsPath[kPathSize];

void buildSettingsPath();
void loadSettings();
void setDefaultSettings();
bool saveSettings();

// The path rule on its own: commandLine in, the settings file's full path out
// (always terminated, cut to outSize - 1 characters). separator is '\\' on
// Windows and '/' elsewhere.
void settingsPathFromCommandLine(const char* commandLine, char separator, char* out,
                                 std::size_t outSize);

// ROVANTA_CONFIG's rule (not on Windows): a value that is set and not empty
// names the file instead of the path rule; true then. A value that does not
// fit leaves out empty, so loading falls back to the defaults and saving
// fails visibly, rather than a cut path naming some other file.
bool settingsPathFromEnvironment(const char* value, char* out, std::size_t outSize);

// The per-user rule (not on Windows), after ROVANTA_CONFIG's:
// configHome/rovanta/rovanta.cfg, or home/.config/rovanta/rovanta.cfg when
// configHome (XDG_CONFIG_HOME) is unset or not absolute. False when neither
// is an absolute directory; a path that does not fit leaves out empty, as in
// ROVANTA_CONFIG's rule.
bool settingsPathForUser(const char* configHome, const char* home, char* out,
                         std::size_t outSize);

// What loadSettings does with the bytes of an opened file; fuzzers drive it.
void loadSettingsFromBytes(const std::uint8_t* data, std::size_t size);

// A side text as a C string that never runs past its 260-byte field even when
// the file gave it no terminator.
const char* sideText(std::size_t side);

// The file may hold any number; the renderer steps by one and divides by the
// other, so values below 1 are used as 1.
std::int32_t renderPointStep();
std::int32_t renderReduceFactor();

inline constexpr std::int32_t kMinReduceFactor = 1;
inline constexpr std::int32_t kMaxReduceFactor = 10;
inline constexpr std::int32_t kMinPointStep = 1;
inline constexpr std::int32_t kMaxPointStep = 10;
inline constexpr std::int32_t kMinRotationDegrees = 1;
inline constexpr std::int32_t kMaxRotationDegrees = 90;
