// The command tail and the handle reader: pure text rules, so every row of
// the table is checked directly on the text.
#include <gtest/gtest.h>

#include <string>

#include "host/host_entry.h"

namespace {

const char* byteStep(const char* p) { return *p != '\0' ? p + 1 : p; }

std::string tailOf(const std::string& commandLine) {
    return commandTail(commandLine.c_str(), byteStep);
}

TEST(CommandTail, SkipsTheProgramNameAndTheSpaceAfterIt) {
    EXPECT_EQ(tailOf("C:\\WINDOWS\\ROVANTA.SCR /s"), "/s");
    EXPECT_EQ(tailOf("ROVANTA.SCR"), "");
    EXPECT_EQ(tailOf(""), "");
    // Tabs and other control bytes between the name and the tail go too.
    EXPECT_EQ(tailOf("ROVANTA.SCR \t\x01\x1f /p 12"), "/p 12");
    // ...but not inside the tail.
    EXPECT_EQ(tailOf("ROVANTA.SCR /\ts"), "/\ts");
}

TEST(CommandTail, QuotedNamesAreSkippedWholeEvenWithSpaces) {
    EXPECT_EQ(tailOf("\"D:\\Program Files\\Savers\\ROVANTA.SCR\" /c:1234"), "/c:1234");
    EXPECT_EQ(tailOf("\"D:\\Program Files\\ROVANTA.SCR\"/s"), "/s");
    // No closing quote: the whole line is the name and the tail is empty.
    EXPECT_EQ(tailOf("\"D:\\Program Files\\ROVANTA.SCR /s"), "");
}

TEST(CommandTail, BytesAboveSevenBitAsciiBelongToTheName) {
    EXPECT_EQ(tailOf("C:\\S\xe4ver\xff.SCR /s"), "/s");
    EXPECT_EQ(tailOf("\xe9\xe9 \xe9/p"), "\xe9/p");
}

TEST(CommandTail, DoubleByteCharactersAreSteppedWhole) {
    // A stepping function that treats 0x81 as a lead byte: the quote byte
    // inside such a character must not end the quoted name.
    auto dbcsStep = [](const char* p) -> const char* {
        if (*p == '\0') return p;
        if (static_cast<unsigned char>(*p) == 0x81 && p[1] != '\0') return p + 2;
        return p + 1;
    };
    EXPECT_STREQ(commandTail("\"A\x81\"B.SCR\" /s", dbcsStep), "/s");
}

TEST(ParseWindowHandle, ReadsLeadingDigitsOnlyAndWraps) {
    EXPECT_EQ(parseWindowHandle("1234"), 1234u);
    EXPECT_EQ(parseWindowHandle("1234abc"), 1234u);
    EXPECT_EQ(parseWindowHandle(":1234"), 0u);
    EXPECT_EQ(parseWindowHandle(" 1234"), 0u);
    EXPECT_EQ(parseWindowHandle("-5"), 0u);
    EXPECT_EQ(parseWindowHandle(""), 0u);
    EXPECT_EQ(parseWindowHandle("4294967295"), 4294967295u);
    EXPECT_EQ(parseWindowHandle("4294967297"), 1u);
    EXPECT_EQ(parseWindowHandle("42949672960012"), 12u);  // 2^32 * 10000 + 12
}

}  // namespace
