// JPEG pictures made on the spot with libjpeg's own encoder, and the few
// byte-level edits the loader tests need (precision, dimensions).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <jpeglib.h>

struct JpegRecipe {
    int width = 16;
    int height = 16;
    J_COLOR_SPACE space = JCS_RGB;  // JCS_RGB, JCS_GRAYSCALE or JCS_CMYK
    bool arithmetic = false;
    bool progressive = false;
    bool adobeMarker = true;  // only meaningful for CMYK
    int quality = 95;
};

// pixel(x, y, out) fills one pixel's components (1, 3 or 4 of them).
using PixelFunction = std::function<void(int x, int y, std::uint8_t* out)>;

std::vector<std::uint8_t> encodeJpeg(const JpegRecipe& recipe, const PixelFunction& pixel);
// A picture of one solid colour.
std::vector<std::uint8_t> solidJpeg(int width, int height, std::uint8_t r, std::uint8_t g,
                                    std::uint8_t b);

// Offset of the first start-of-scan marker (FF DA), or -1.
long scanOffset(const std::vector<std::uint8_t>& jpeg);
void setPrecision(std::vector<std::uint8_t>& jpeg, std::uint8_t bits);
void setDimensions(std::vector<std::uint8_t>& jpeg, std::uint16_t width, std::uint16_t height);

// Hostile but well-formed files, written byte by byte (an encoder would need
// the whole picture in memory): an even grey picture, its every coefficient
// zero, so each scan costs a few bytes whatever the picture's size.
//
// progressiveGreyJpeg: `components` (1 or 3, no subsampling) and `scans`
// scans, a valid progression (DC first, then single-coefficient AC scans and
// their refinements) cut after that many, at most 1 + 63 * 14 per component.
std::vector<std::uint8_t> progressiveGreyJpeg(int width, int height, int components, int scans);
// Everything up to the first scan's header and no image data at all.
std::vector<std::uint8_t> headerOnlyJpeg(int width, int height, int components, bool progressive);

// False when the file cannot be written whole.
bool writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes);
std::vector<std::uint8_t> readFile(const std::string& path);

// A fresh directory under the system's temporary directory, removed again by
// the destructor.
struct TempDir {
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string file(const std::string& name) const { return path + "/" + name; }
    std::string path;
};
