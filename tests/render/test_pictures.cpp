#include "test_pictures.h"

#include <cstdio>
#include <cstring>

bool writeTestJpeg(const std::string& path, int width, int height, std::uint32_t seed) {
    JpegRecipe recipe;
    recipe.width = width;
    recipe.height = height;
    recipe.quality = 90;
    const auto pattern = [seed](int x, int y, std::uint8_t* out) {
        const auto ux = static_cast<std::uint32_t>(x), uy = static_cast<std::uint32_t>(y);
        out[0] = static_cast<std::uint8_t>(ux * 7 + uy * 3 + seed * 50);
        out[1] = static_cast<std::uint8_t>((ux ^ uy) * 5 + seed * 31);
        out[2] = static_cast<std::uint8_t>(uy * 11 - ux * 2 + seed * 17);
    };
    return writeFile(path, encodeJpeg(recipe, pattern));
}

std::vector<std::uint8_t> settingsFileBytes(const SaverSettings& settings) {
    std::vector<std::uint8_t> bytes(kSettingsFileSize);
    static_assert(sizeof(SaverSettings) == kSettingsFileSize);
    std::memcpy(bytes.data(), &settings, kSettingsFileSize);
    return bytes;
}

SaverSettings settingsWith(std::int32_t pointStep, std::int32_t reduceFactor,
                           const std::vector<std::string>& sides) {
    SaverSettings s{};
    s.pointStep = pointStep;
    s.reduceFactor = reduceFactor;
    s.maxRotationDegrees = 5;
    for (std::size_t i = 0; i < kSideCount && i < sides.size(); ++i)
        std::snprintf(s.sidePaths[i], kSideTextSize, "%s", sides[i].c_str());
    return s;
}
