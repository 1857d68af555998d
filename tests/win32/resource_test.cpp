// What Windows reads from rovanta.scr's resources: the configuration dialog,
// which the build writes from configDialogTemplate and must come out as that
// table byte for byte; string 1, the name the screen-saver list shows; the
// version Explorer shows; and no manifest asking for an execution level,
// which would turn off the file virtualisation the settings file relies on
// under a protected folder.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "host/dialog_template.h"
#include "host/host_entry.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Little-endian numbers that read as 0 past the end, so a cut file fails the
// checks instead of reading out of bounds.
std::uint32_t u16(const Bytes& b, std::size_t at) {
    return at + 2 <= b.size() ? static_cast<std::uint32_t>(b[at] | b[at + 1] << 8) : 0;
}
std::uint32_t u32(const Bytes& b, std::size_t at) { return u16(b, at) | u16(b, at + 2) << 16; }
std::size_t align4(std::size_t at) { return (at + 3) & ~std::size_t{3}; }

// A UTF-16 text that is plain ASCII here; at moves past its terminator.
std::string text(const Bytes& b, std::size_t& at) {
    std::string out;
    for (std::uint32_t c = u16(b, at); at + 2 <= b.size(); c = u16(b, at)) {
        at += 2;
        if (c == 0) break;
        out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    }
    return out;
}

struct Resource {
    std::uint32_t type, name;
    Bytes data;
};

// Every resource of a PE file (32- or 64-bit), each language apart; empty
// when the file is no PE or its resource tree leaves the file.
std::vector<Resource> peResources(const Bytes& pe) {
    const std::size_t header = u32(pe, 0x3C);
    if (u32(pe, header) != 0x4550) return {};  // "PE\0\0"
    const std::size_t sectionCount = u16(pe, header + 6);
    const std::size_t optional = header + 24;
    const std::size_t sections = optional + u16(pe, header + 20);
    const std::size_t directories = optional + (u16(pe, optional) == 0x20B ? 112 : 96);
    const auto fileOffset = [&](std::uint32_t rva) -> std::size_t {
        for (std::size_t i = 0; i < sectionCount; ++i) {
            const std::size_t s = sections + 40 * i;
            const std::uint32_t start = u32(pe, s + 12);
            if (rva >= start && rva - start < u32(pe, s + 16)) return u32(pe, s + 20) + rva - start;
        }
        return 0;
    };
    const std::size_t root = fileOffset(u32(pe, directories + 2 * 8));  // the resource directory
    if (root == 0) return {};
    // A directory's entries: (id, offset from root); the high bit of an
    // offset marks a subdirectory.
    const auto entries = [&](std::uint32_t dir) {
        std::vector<std::pair<std::uint32_t, std::uint32_t>> out;
        const std::size_t at = root + (dir & 0x7FFFFFFFu);
        const std::size_t count = u16(pe, at + 12) + u16(pe, at + 14);
        for (std::size_t i = 0; i < count && at + 24 + 8 * i <= pe.size(); ++i)
            out.emplace_back(u32(pe, at + 16 + 8 * i), u32(pe, at + 20 + 8 * i));
        return out;
    };
    std::vector<Resource> out;
    for (const auto& [type, names] : entries(0))
        for (const auto& [name, languages] : entries(names))
            for (const auto& [language, leaf] : entries(languages)) {
                const std::size_t data = fileOffset(u32(pe, root + leaf));
                const std::size_t size = u32(pe, root + leaf + 4);
                if (data == 0 || data + size > pe.size()) return {};
                const auto first = pe.begin() + static_cast<std::ptrdiff_t>(data);
                out.push_back({type, name, Bytes(first, first + static_cast<std::ptrdiff_t>(size))});
            }
    return out;
}

// The table as windres writes a DIALOG: the frame, then each control on a
// 4-byte boundary with its class by name and no extra data.
Bytes dialogBytes(const DialogTemplate& t) {
    Bytes b;
    const auto word = [&](auto v) {
        b.insert(b.end(), {std::uint8_t(v & 0xFF), std::uint8_t(v >> 8 & 0xFF)});
    };
    const auto dword = [&](std::uint32_t v) { word(v & 0xFFFF), word(v >> 16); };
    const auto string = [&](const char* s) {
        for (; *s != '\0'; ++s) word(static_cast<unsigned char>(*s));
        word(0);
    };
    dword(t.style);
    dword(t.exStyle);
    word(t.controls.size());
    for (const std::int16_t v : {t.x, t.y, t.width, t.height}) word(v);
    word(0), word(0);  // no menu, the default class
    string(t.caption);
    word(t.fontPoints);
    string(t.fontName);
    for (const DialogControl& c : t.controls) {
        while (b.size() % 4 != 0) b.push_back(0);
        dword(c.style);
        dword(0);
        for (const std::int16_t v : {c.x, c.y, c.width, c.height}) word(v);
        word(c.id);
        string(controlClassName(c.kind));
        string(c.caption);
        word(0);
    }
    return b;
}

// A text value of a VERSIONINFO by its key: each sits in a node of its own,
// the UTF-16 key, padding to 4 bytes, then the UTF-16 text.
std::string versionText(const Bytes& info, const std::string& key) {
    for (std::size_t at = 6; at + 2 * key.size() <= info.size(); at += 2) {
        std::size_t p = at;
        if (text(info, p) == key) return text(info, p = align4(p));
    }
    return {};
}

class RovantaScr : public ::testing::Test {
protected:
    void SetUp() override {
        std::ifstream in(ROVANTA_SCR, std::ios::binary);
        const Bytes pe{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        resources = peResources(pe);
        ASSERT_FALSE(resources.empty()) << "no resources read from " << ROVANTA_SCR;
    }
    const Bytes* find(std::uint32_t type, std::uint32_t name) const {
        for (const Resource& r : resources)
            if (r.type == type && r.name == name) return &r.data;
        return nullptr;
    }
    std::vector<Resource> resources;
};

TEST_F(RovantaScr, DialogIsTheTableByteForByte) {
    const Bytes* dialog = find(5, kConfigDialogTemplateId);  // RT_DIALOG
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(*dialog, dialogBytes(configDialogTemplate));
}

TEST_F(RovantaScr, ScreenSaverListNameIsString1) {
    const Bytes* block = find(6, 1);  // RT_STRING, the block of strings 0 to 15
    ASSERT_NE(block, nullptr);
    // Each string is its length and its characters; strings 2 to 15 are
    // empty, so string 1 ends at the next length, 0.
    std::size_t at = 2 + 2 * u16(*block, 0);
    EXPECT_EQ(u16(*block, at), 7u);
    at += 2;
    EXPECT_EQ(text(*block, at), "Rovanta");
}

TEST_F(RovantaScr, VersionIsTheProjectsWithNameAndLicence) {
    const Bytes* info = find(16, 1);  // RT_VERSION
    ASSERT_NE(info, nullptr);
    // The fixed part follows the key "VS_VERSION_INFO" at offset 40.
    ASSERT_EQ(u32(*info, 40), 0xFEEF04BDu);
    const std::uint32_t high = ROVANTA_VERSION_MAJOR << 16 | ROVANTA_VERSION_MINOR;
    const std::uint32_t low = ROVANTA_VERSION_PATCH << 16;
    const std::vector<std::uint32_t> fileThenProduct = {u32(*info, 48), u32(*info, 52),
                                                        u32(*info, 56), u32(*info, 60)};
    EXPECT_EQ(fileThenProduct, (std::vector{high, low, high, low}));
    EXPECT_EQ(versionText(*info, "FileVersion"), ROVANTA_VERSION);
    EXPECT_EQ(versionText(*info, "ProductVersion"), ROVANTA_VERSION);
    EXPECT_EQ(versionText(*info, "ProductName"), "Rovanta");
    EXPECT_EQ(versionText(*info, "OriginalFilename"), "rovanta.scr");
    EXPECT_NE(versionText(*info, "FileDescription"), "");
    const std::string copyright = versionText(*info, "LegalCopyright");
    for (const char* part : {"Copyright (c)", "The Rovanta developers", "MIT"})
        EXPECT_NE(copyright.find(part), std::string::npos) << copyright;
}

TEST_F(RovantaScr, NoManifestAsksForAnExecutionLevel) {
    for (const Resource& r : resources) {
        if (r.type != 24) continue;  // RT_MANIFEST
        const std::string manifest(r.data.begin(), r.data.end());
        EXPECT_EQ(manifest.find("requestedExecutionLevel"), std::string::npos) << manifest;
    }
}

}  // namespace
