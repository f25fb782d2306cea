#include "common/utf8.h"

#include <gtest/gtest.h>

#include <string>

using namespace tarn;

TEST(Utf8, DecodesWellFormedAndRefusesIllFormedOneByteAtATime) {
    struct Row {
        std::string bytes;
        char32_t codePoint;
        std::size_t length;
        bool valid;
    };
    const Row rows[] = {
        {"A", U'A', 1, true},
        {"\xC2\x80", 0x80, 2, true},  // shortest two-byte form
        {"\xE3\x81\x82", U'あ', 3, true},
        {"\xEF\xBF\xBF", 0xFFFF, 3, true},
        {"\xF0\x9F\x8D\xA3", 0x1F363, 4, true},              // 🍣
        {"\xF4\x8F\xBF\xBF", 0x10FFFF, 4, true},             // the last code point
        {"\xC0\xAF", utf8::kReplacement, 1, false},          // overlong "/"
        {"\xE0\x80\xAF", utf8::kReplacement, 1, false},      // overlong in three bytes
        {"\xED\xA0\x80", utf8::kReplacement, 1, false},      // a surrogate half
        {"\xF4\x90\x80\x80", utf8::kReplacement, 1, false},  // past U+10FFFF
        {"\xE3\x81", utf8::kReplacement, 1, false},          // cut short by the end
        {"\xE3\x41\x82", utf8::kReplacement, 1, false},      // a trail byte missing
        {"\x82\xA0", utf8::kReplacement, 1, false},          // Shift_JIS あ
        {"\xFF", utf8::kReplacement, 1, false},
    };
    for (const Row& row : rows) {
        const utf8::Decoded d = utf8::decode(row.bytes, 0);
        EXPECT_EQ(d.codePoint, row.codePoint) << row.bytes;
        EXPECT_EQ(d.length, row.length) << row.bytes;
        EXPECT_EQ(d.valid, row.valid) << row.bytes;
        EXPECT_EQ(utf8::isValid(row.bytes), row.valid) << row.bytes;
    }
}

TEST(Utf8, ValidityTellsWhetherAnythingWasBeyondAscii) {
    bool multi = true;
    EXPECT_TRUE(utf8::isValid("plain", &multi));
    EXPECT_FALSE(multi);
    EXPECT_TRUE(utf8::isValid("a あ 🍣", &multi));
    EXPECT_TRUE(multi);
    EXPECT_TRUE(utf8::isValid(""));
    // A bad byte after good text spoils the whole text.
    EXPECT_FALSE(utf8::isValid("あいう\x82"));
}

TEST(Utf8, EncodesWhatItDecodesAndReplacesWhatHasNoForm) {
    for (char32_t cp : {char32_t{0}, char32_t{0x7F}, char32_t{0x80}, char32_t{0x7FF},
                        char32_t{0x800}, char32_t{0xD7FF}, char32_t{0xE000}, char32_t{0xFFFF},
                        char32_t{0x10000}, char32_t{0x10FFFF}}) {
        std::string bytes;
        utf8::append(bytes, cp);
        const utf8::Decoded d = utf8::decode(bytes, 0);
        EXPECT_TRUE(d.valid) << static_cast<unsigned>(cp);
        EXPECT_EQ(d.codePoint, cp);
        EXPECT_EQ(d.length, bytes.size());
    }
    std::string replaced;
    utf8::append(replaced, 0xD800);
    utf8::append(replaced, 0x110000);
    EXPECT_EQ(replaced, "\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(Utf8, Utf16PairsAstralCharactersAndReplacesBadBytes) {
    EXPECT_EQ(utf8::toUtf16("aあ🍣"), u"aあ🍣");
    EXPECT_EQ(utf8::toUtf16("a\xFF"
                            "b\xE3\x81"),
              u"a\uFFFDb\uFFFD\uFFFD");
    EXPECT_EQ(utf8::toUtf16(""), u"");
}
