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

bool writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    return static_cast<bool>(out);
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

namespace {

void putMarker(std::vector<std::uint8_t>& out, std::uint8_t marker,
               const std::vector<std::uint8_t>& body) {
    const std::size_t length = body.size() + 2;
    out.insert(out.end(), {0xFF, marker, static_cast<std::uint8_t>(length >> 8),
                           static_cast<std::uint8_t>(length)});
    out.insert(out.end(), body.begin(), body.end());
}

// Tables and frame header of an even grey picture: quantisation all ones; a DC
// table whose one code "0" says "no difference"; an AC table whose sixteen
// four-bit codes are the end-of-band runs EOB0 .. EOB14 (code n is EOBn).
void putHead(std::vector<std::uint8_t>& out, int width, int height, int components,
             bool progressive) {
    out.insert(out.end(), {0xFF, 0xD8});
    std::vector<std::uint8_t> quant(65, 1);
    quant[0] = 0;
    putMarker(out, 0xDB, quant);
    std::vector<std::uint8_t> frame = {8, static_cast<std::uint8_t>(height >> 8),
                                       static_cast<std::uint8_t>(height),
                                       static_cast<std::uint8_t>(width >> 8),
                                       static_cast<std::uint8_t>(width),
                                       static_cast<std::uint8_t>(components)};
    for (int c = 1; c <= components; ++c) frame.insert(frame.end(), {static_cast<std::uint8_t>(c), 0x11, 0});
    putMarker(out, progressive ? 0xC2 : 0xC0, frame);
    std::vector<std::uint8_t> dc = {0x00, 1};
    dc.resize(1 + 16 + 1, 0);
    putMarker(out, 0xC4, dc);
    std::vector<std::uint8_t> ac = {0x10, 0, 0, 0, 15};
    ac.resize(1 + 16, 0);
    for (std::uint8_t run = 0; run < 15; ++run) ac.push_back(static_cast<std::uint8_t>(run << 4));
    putMarker(out, 0xC4, ac);
}

void putScanHeader(std::vector<std::uint8_t>& out, int component, int first, int last, int high,
                   int low) {
    putMarker(out, 0xDA, {1, static_cast<std::uint8_t>(component), 0x00,
                          static_cast<std::uint8_t>(first), static_cast<std::uint8_t>(last),
                          static_cast<std::uint8_t>(high << 4 | low)});
}

// Entropy-coded bits, most significant first, with the 0xFF stuffing and the
// one-bits padding the format wants.
struct BitWriter {
    std::vector<std::uint8_t>& out;
    std::uint32_t pending = 0;
    int count = 0;
    void put(std::uint32_t bits, int n) {
        for (int i = n - 1; i >= 0; --i) {
            pending = pending << 1 | (bits >> i & 1u);
            if (++count == 8) flushByte();
        }
    }
    void flushByte() {
        out.push_back(static_cast<std::uint8_t>(pending));
        if (pending == 0xFF) out.push_back(0);
        pending = 0;
        count = 0;
    }
    void finish() {
        while (count != 0) put(1, 1);
    }
};

}  // namespace

std::vector<std::uint8_t> progressiveGreyJpeg(int width, int height, int components, int scans) {
    std::vector<std::uint8_t> out;
    putHead(out, width, height, components, true);
    // One component per scan, so each covers every block of the picture.
    const std::uint32_t blocks =
        static_cast<std::uint32_t>((width + 7) / 8) * static_cast<std::uint32_t>((height + 7) / 8);
    int written = 0;
    for (int c = 1; c <= components && written < scans; ++c, ++written) {
        putScanHeader(out, c, 0, 0, 0, 0);
        BitWriter bits{out};
        for (std::uint32_t b = 0; b < blocks; ++b) bits.put(0, 1);
        bits.finish();
    }
    for (int k = 1; k <= 63 && written < scans; ++k)
        for (int c = 1; c <= components && written < scans; ++c)
            for (int low = 13; low >= 0 && written < scans; --low, ++written) {
                putScanHeader(out, c, k, k, low == 13 ? 0 : low + 1, low);
                BitWriter bits{out};
                for (std::uint32_t left = blocks; left > 0;) {
                    const std::uint32_t run = left < 32767 ? left : 32767;
                    int n = 0;
                    while ((run >> (n + 1)) != 0) ++n;
                    bits.put(static_cast<std::uint32_t>(n), 4);
                    bits.put(run - (1u << n), n);
                    left -= run;
                }
                bits.finish();
            }
    out.insert(out.end(), {0xFF, 0xD9});
    return out;
}

std::vector<std::uint8_t> headerOnlyJpeg(int width, int height, int components, bool progressive) {
    std::vector<std::uint8_t> out;
    putHead(out, width, height, components, progressive);
    if (progressive) {
        putScanHeader(out, 1, 0, 0, 0, 0);
    } else {
        std::vector<std::uint8_t> scan = {static_cast<std::uint8_t>(components)};
        for (int c = 1; c <= components; ++c) scan.insert(scan.end(), {static_cast<std::uint8_t>(c), 0x00});
        scan.insert(scan.end(), {0, 63, 0});
        putMarker(out, 0xDA, scan);
    }
    return out;
}
