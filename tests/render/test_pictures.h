// Pictures and settings files made on the spot, for the renderer's tests, the
// render tool's tests and the benchmark.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jpeg_fixtures.h"
#include "settings/settings.h"

// A width x height JPEG at path with a busy, seed-dependent pattern (every
// texel differs from its neighbours, so a sample taken from the wrong place
// shows). False when the file cannot be written.
bool writeTestJpeg(const std::string& path, int width, int height, std::uint32_t seed);

// The 1584-byte image of a settings record.
std::vector<std::uint8_t> settingsFileBytes(const SaverSettings& settings);
SaverSettings settingsWith(std::int32_t pointStep, std::int32_t reduceFactor,
                           const std::vector<std::string>& sides);
