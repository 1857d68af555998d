// Any bytes as a settings file, and as a command line for the path rule.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "settings/settings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::memset(&saverSettings, 0, sizeof saverSettings);
    loadSettingsFromBytes(data, size);
    std::size_t total = 0;
    for (std::size_t side = 0; side < kSideCount; ++side) total += std::strlen(sideText(side));
    if (total > kSideCount * (kSideTextSize - 1) || renderPointStep() < 1 || renderReduceFactor() < 1)
        __builtin_trap();

    const std::string commandLine(reinterpret_cast<const char*>(data), size);
    char path[plat::kMaxPath];
    for (const char separator : {'\\', '/'}) {
        const bool fits = settingsPathFromCommandLine(commandLine.c_str(), separator, path, sizeof path);
        if (std::strlen(path) >= sizeof path || fits != (path[0] != '\0')) __builtin_trap();
    }
    return 0;
}
