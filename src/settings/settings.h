// The settings record, its file "rovanta.cfg" and where that file lies.
//
//   kSideCount .. kSettingsFileSize   the record's sizes
//   SaverSettings        the record, byte for byte the 1584-byte file image
//   saverSettings        the one process-wide instance (zero at start)
//   settingsPath         full path of the file, empty until buildSettingsPath
//                        and when the file has no place (nothing is saved then)
//   buildSettingsPath    derive settingsPath: the platform's per-user file
//                        where it keeps one, else the path rule
//   loadSettings         read the file, or the defaults when it will not open
//   setDefaultSettings   store the defaults
//   saveSettings         write the whole record; true when it landed (the
//                        callers show their box on false)
//   settingsPathFromCommandLine   the path rule on its own
//   loadSettingsFromBytes         a load from bytes in memory
//   sideText             a side text, never past its field
//   renderPointStep/renderReduceFactor   the two numbers as the renderer may use them
//   kMin.../kMax...      the ranges the dialog and the hack's options accept
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

inline constexpr std::size_t kSideCount = 6;
inline constexpr std::size_t kSideTextSize = 260;  // 259 characters and a terminator
inline constexpr std::size_t kSettingsFileSize = 1584;

// What a user may set, in the dialog or in the hack's options. The file may
// hold other values, which loading keeps as they are.
inline constexpr std::int32_t kMinReduceFactor = 1;
inline constexpr std::int32_t kMaxReduceFactor = 10;
inline constexpr std::int32_t kMinPointStep = 1;
inline constexpr std::int32_t kMaxPointStep = 10;
inline constexpr std::int32_t kMinRotationDegrees = 1;
inline constexpr std::int32_t kMaxRotationDegrees = 90;

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
// As long as the platform's file calls allow, so a path is used whole.
extern char settingsPath[plat::kMaxPath];

void buildSettingsPath();
void loadSettings();
void setDefaultSettings();
bool saveSettings();

// The path rule on its own: commandLine in, the settings file's full path out.
// A path longer than outSize - 1 characters is not cut (a cut name is another
// file): out is left empty and the result is false. separator is '\\' on
// Windows and '/' elsewhere.
bool settingsPathFromCommandLine(const char* commandLine, char separator, char* out,
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
