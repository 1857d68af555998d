#include "test_pictures.h"

#include <jpeglib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

bool writeTestJpeg(const std::string& path, int width, int height, std::uint32_t seed) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    jpeg_compress_struct encoder{};
    jpeg_error_mgr errors{};
    encoder.err = jpeg_std_error(&errors);
    jpeg_create_compress(&encoder);
    jpeg_stdio_dest(&encoder, f);
    encoder.image_width = static_cast<JDIMENSION>(width);
    encoder.image_height = static_cast<JDIMENSION>(height);
    encoder.input_components = 3;
    encoder.in_color_space = JCS_RGB;
    jpeg_set_defaults(&encoder);
    jpeg_set_quality(&encoder, 90, TRUE);
    jpeg_start_compress(&encoder, TRUE);
    std::vector<std::uint8_t> row(static_cast<std::size_t>(width) * 3);
    while (encoder.next_scanline < encoder.image_height) {
        const auto y = static_cast<std::uint32_t>(encoder.next_scanline);
        for (int x = 0; x < width; ++x) {
            const auto ux = static_cast<std::uint32_t>(x);
            row[3 * ux] = static_cast<std::uint8_t>(ux * 7 + y * 3 + seed * 50);
            row[3 * ux + 1] = static_cast<std::uint8_t>((ux ^ y) * 5 + seed * 31);
            row[3 * ux + 2] = static_cast<std::uint8_t>(y * 11 - ux * 2 + seed * 17);
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&encoder, rows, 1);
    }
    jpeg_finish_compress(&encoder);
    jpeg_destroy_compress(&encoder);
    return std::fclose(f) == 0;
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

ScratchDir::ScratchDir() {
    char pattern[] = "/tmp/rovanta-render-XXXXXX";
    const char* made = mkdtemp(pattern);
    path = made != nullptr ? made : "/tmp";
}

ScratchDir::~ScratchDir() {
    if (path != "/tmp") {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
}

bool writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    const bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}
