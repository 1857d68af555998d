#include "jpeg_fixtures.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

std::vector<std::uint8_t> encodeJpeg(const JpegRecipe& recipe, const PixelFunction& pixel) {
    jpeg_compress_struct encoder{};
    jpeg_error_mgr errors{};
    encoder.err = jpeg_std_error(&errors);
    jpeg_create_compress(&encoder);

    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&encoder, &buffer, &size);

    const int components = recipe.space == JCS_GRAYSCALE ? 1 : recipe.space == JCS_CMYK ? 4 : 3;
    encoder.image_width = static_cast<JDIMENSION>(recipe.width);
    encoder.image_height = static_cast<JDIMENSION>(recipe.height);
    encoder.input_components = components;
    encoder.in_color_space = recipe.space;
    jpeg_set_defaults(&encoder);
    jpeg_set_quality(&encoder, recipe.quality, TRUE);
    encoder.arith_code = recipe.arithmetic ? TRUE : FALSE;
    if (recipe.progressive) jpeg_simple_progression(&encoder);
    if (recipe.space == JCS_CMYK) encoder.write_Adobe_marker = recipe.adobeMarker ? TRUE : FALSE;

    jpeg_start_compress(&encoder, TRUE);
    std::vector<std::uint8_t> row(static_cast<std::size_t>(recipe.width) * components);
    while (encoder.next_scanline < encoder.image_height) {
        const int y = static_cast<int>(encoder.next_scanline);
        for (int x = 0; x < recipe.width; ++x) pixel(x, y, &row[static_cast<std::size_t>(x) * components]);
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&encoder, rows, 1);
    }
    jpeg_finish_compress(&encoder);
    jpeg_destroy_compress(&encoder);

    std::vector<std::uint8_t> bytes(buffer, buffer + size);
    std::free(buffer);
    return bytes;
}

std::vector<std::uint8_t> solidJpeg(int width, int height, std::uint8_t r, std::uint8_t g,
                                    std::uint8_t b) {
    JpegRecipe recipe;
    recipe.width = width;
    recipe.height = height;
    return encodeJpeg(recipe, [=](int, int, std::uint8_t* out) {
        out[0] = r;
        out[1] = g;
        out[2] = b;
    });
}

namespace {

long findMarker(const std::vector<std::uint8_t>& jpeg, bool (*wanted)(std::uint8_t)) {
    std::size_t pos = 2;  // after SOI
    while (pos + 4 <= jpeg.size() && jpeg[pos] == 0xFF) {
        const std::uint8_t marker = jpeg[pos + 1];
        if (wanted(marker)) return static_cast<long>(pos);
        const std::size_t length = static_cast<std::size_t>(jpeg[pos + 2]) << 8 | jpeg[pos + 3];
        pos += 2 + length;
    }
    return -1;
}

// Offset of the frame header's marker (FF Cx), or -1.
long frameHeaderOffset(const std::vector<std::uint8_t>& jpeg) {
    return findMarker(jpeg, [](std::uint8_t m) {
        return m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC;
    });
}

}  // namespace

long scanOffset(const std::vector<std::uint8_t>& jpeg) {
    return findMarker(jpeg, [](std::uint8_t m) { return m == 0xDA; });
}

void setPrecision(std::vector<std::uint8_t>& jpeg, std::uint8_t bits) {
    const long sof = frameHeaderOffset(jpeg);
    if (sof >= 0) jpeg[static_cast<std::size_t>(sof) + 4] = bits;
}

void setDimensions(std::vector<std::uint8_t>& jpeg, std::uint16_t width, std::uint16_t height) {
    const long sof = frameHeaderOffset(jpeg);
    if (sof < 0) return;
    const auto at = static_cast<std::size_t>(sof);
    jpeg[at + 5] = static_cast<std::uint8_t>(height >> 8);
    jpeg[at + 6] = static_cast<std::uint8_t>(height);
    jpeg[at + 7] = static_cast<std::uint8_t>(width >> 8);
    jpeg[at + 8] = static_cast<std::uint8_t>(width);
}

void writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "rovanta-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    path = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::permissions(path, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path, ignored);
}
