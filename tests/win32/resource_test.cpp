// The dialog resource that windres compiled from rovanta.rc must be the same
// dialog that every other platform builds from configDialogTemplate: one
// table, so a change made in one place and not the other fails here.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "host/dialog_template.h"

namespace {

struct Reader {
    const std::vector<std::uint8_t>& bytes;
    std::size_t at = 0;
    bool ok = true;

    std::uint16_t word() {
        if (at + 2 > bytes.size()) {
            ok = false;
            return 0;
        }
        const auto v = static_cast<std::uint16_t>(bytes[at] | bytes[at + 1] << 8);
        at += 2;
        return v;
    }
    std::uint32_t dword() {
        const std::uint32_t lo = word();
        const std::uint32_t hi = word();
        return lo | hi << 16;
    }
    void alignTo4() { at = (at + 3) & ~std::size_t{3}; }
    // A UTF-16 text that must be plain ASCII here.
    std::string text() {
        std::string out;
        for (std::uint16_t c = word(); ok && c != 0; c = word()) {
            if (c > 0x7F) ok = false;
            out.push_back(static_cast<char>(c));
        }
        return out;
    }
    // A name or an ordinal (0xFFFF followed by the number).
    struct NameOrOrdinal {
        bool isOrdinal;
        std::uint16_t ordinal;
        std::string name;
    };
    NameOrOrdinal nameOrOrdinal() {
        if (at + 2 <= bytes.size() && bytes[at] == 0xFF && bytes[at + 1] == 0xFF) {
            word();
            return {true, word(), {}};
        }
        return {false, 0, text()};
    }
};

struct Control {
    std::uint32_t style;
    std::uint32_t exStyle;
    std::int16_t x, y, width, height;
    std::uint16_t id;
    Reader::NameOrOrdinal windowClass;
    std::string caption;
};

struct Dialog {
    std::uint32_t style;
    std::uint32_t exStyle;
    std::int16_t x, y, width, height;
    std::string menu, windowClass, caption, font;
    std::uint16_t points;
    std::vector<Control> controls;
};

std::vector<std::uint8_t> readFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Finds the RT_DIALOG resource with the given number in a .res file.
std::optional<std::vector<std::uint8_t>> findDialog(const std::vector<std::uint8_t>& res,
                                                    std::uint16_t number) {
    Reader r{res};
    while (r.ok && r.at + 8 <= res.size()) {
        const std::size_t start = r.at;
        const std::uint32_t dataSize = r.dword();
        const std::uint32_t headerSize = r.dword();
        const auto type = r.nameOrOrdinal();
        const auto name = r.nameOrOrdinal();
        if (!r.ok || headerSize < 8 || start + headerSize + dataSize > res.size()) break;
        const std::size_t data = start + headerSize;
        if (type.isOrdinal && type.ordinal == 5 && name.isOrdinal && name.ordinal == number)
            return std::vector<std::uint8_t>(res.begin() + static_cast<std::ptrdiff_t>(data),
                                             res.begin() + static_cast<std::ptrdiff_t>(data + dataSize));
        r.at = (data + dataSize + 3) & ~std::size_t{3};
    }
    return std::nullopt;
}

std::optional<Dialog> parseDialog(const std::vector<std::uint8_t>& bytes) {
    Reader r{bytes};
    Dialog d{};
    d.style = r.dword();
    d.exStyle = r.dword();
    const std::uint16_t count = r.word();
    d.x = static_cast<std::int16_t>(r.word());
    d.y = static_cast<std::int16_t>(r.word());
    d.width = static_cast<std::int16_t>(r.word());
    d.height = static_cast<std::int16_t>(r.word());
    d.menu = r.nameOrOrdinal().name;
    d.windowClass = r.nameOrOrdinal().name;
    d.caption = r.text();
    if (d.style & kDialogSetFont) {
        d.points = r.word();
        d.font = r.text();
    }
    for (std::uint16_t i = 0; i < count && r.ok; ++i) {
        r.alignTo4();
        Control c{};
        c.style = r.dword();
        c.exStyle = r.dword();
        c.x = static_cast<std::int16_t>(r.word());
        c.y = static_cast<std::int16_t>(r.word());
        c.width = static_cast<std::int16_t>(r.word());
        c.height = static_cast<std::int16_t>(r.word());
        c.id = r.word();
        c.windowClass = r.nameOrOrdinal();
        const auto caption = r.nameOrOrdinal();
        c.caption = caption.name;
        const std::uint16_t extra = r.word();
        r.at += extra;
        d.controls.push_back(c);
    }
    if (!r.ok) return std::nullopt;
    return d;
}

// The predefined classes are stored as ordinals: BUTTON 0x80, EDIT 0x81, STATIC 0x82.
std::string className(const Reader::NameOrOrdinal& windowClass) {
    if (!windowClass.isOrdinal) return windowClass.name;
    switch (windowClass.ordinal) {
    case 0x80: return "BUTTON";
    case 0x81: return "EDIT";
    case 0x82: return "STATIC";
    default: return "ordinal " + std::to_string(windowClass.ordinal);
    }
}

class CompiledDialog : public ::testing::Test {
protected:
    void SetUp() override {
        const auto res = readFile(ROVANTA_RES_FILE);
        ASSERT_FALSE(res.empty()) << "no compiled resources at " << ROVANTA_RES_FILE;
        const auto bytes = findDialog(res, 2003);
        ASSERT_TRUE(bytes.has_value()) << "no dialog 2003 in the resources";
        auto parsed = parseDialog(*bytes);
        ASSERT_TRUE(parsed.has_value()) << "dialog 2003 is cut short";
        dialog = *parsed;
    }
    Dialog dialog{};
};

TEST_F(CompiledDialog, FrameCaptionFontAndStyleEqualTheTable) {
    const DialogTemplate& t = configDialogTemplate;
    EXPECT_EQ(dialog.caption, t.caption);
    EXPECT_EQ(dialog.x, t.x);
    EXPECT_EQ(dialog.y, t.y);
    EXPECT_EQ(dialog.width, t.width);
    EXPECT_EQ(dialog.height, t.height);
    EXPECT_EQ(dialog.font, t.fontName);
    EXPECT_EQ(dialog.points, static_cast<std::uint16_t>(t.fontPoints));
    EXPECT_EQ(dialog.style, t.style) << std::hex << dialog.style << " vs " << t.style;
    EXPECT_EQ(dialog.exStyle, t.exStyle);
    EXPECT_EQ(dialog.menu, "");
    EXPECT_EQ(dialog.windowClass, "");
}

TEST_F(CompiledDialog, EveryControlEqualsItsRowInTabOrder) {
    const DialogTemplate& t = configDialogTemplate;
    ASSERT_EQ(dialog.controls.size(), t.controls.size());
    for (std::size_t i = 0; i < t.controls.size(); ++i) {
        const DialogControl& want = t.controls[i];
        const Control& got = dialog.controls[i];
        SCOPED_TRACE("control #" + std::to_string(i + 1) + " \"" + want.caption + "\"");
        EXPECT_EQ(got.id, static_cast<std::uint16_t>(want.id));
        EXPECT_EQ(className(got.windowClass), controlClassName(want.kind));
        EXPECT_EQ(got.caption, want.caption);
        EXPECT_EQ(got.x, want.x);
        EXPECT_EQ(got.y, want.y);
        EXPECT_EQ(got.width, want.width);
        EXPECT_EQ(got.height, want.height);
        EXPECT_EQ(got.style, want.style) << std::hex << got.style << " vs " << want.style;
        EXPECT_EQ(got.exStyle, 0u);
    }
}

}  // namespace
