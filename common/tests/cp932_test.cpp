#include "common/cp932.h"

#include <gtest/gtest.h>

using namespace tarn;

TEST(Cp932, RoundTripIncludingExtensions) {
    // 日本語, ①, ㈱, Ⅰ, ⅰ (IBM extension FA40), half-width ｶ, backslash and tilde.
    const std::string utf8 = "日本語①㈱Ⅰⅰｶ\\~";
    auto sjis = cp932::fromUtf8(utf8);
    ASSERT_TRUE(sjis.ok()) << sjis.error().message;
    EXPECT_EQ(sjis->substr(0, 6), "\x93\xFA\x96\x7B\x8C\xEA");
    EXPECT_EQ(sjis->substr(6, 2), "\x87\x40");  // ①
    auto back = cp932::toUtf8(*sjis);
    ASSERT_TRUE(back.ok());
    EXPECT_EQ(*back, utf8);
}

TEST(Cp932, UnrepresentableCharacterIsNamed) {
    auto r = cp932::fromUtf8("abc🍣def");
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().offset, 3);
    EXPECT_NE(r.error().message.find("U+1F363"), std::string::npos);
    EXPECT_NE(r.error().message.find("🍣"), std::string::npos);
    EXPECT_EQ(cp932::firstUnrepresentable("a😀"), "U+1F600");
    EXPECT_EQ(cp932::firstUnrepresentable("日本"), "");
    // A byte that is not UTF-8 at all is named as a byte, never copied into the text.
    auto bad = cp932::fromUtf8("ab\xE3\x41");
    ASSERT_FALSE(bad.ok());
    EXPECT_EQ(bad.error().offset, 2);
    EXPECT_EQ(bad.error().message, "UTF-8 として読めないバイト 0xE3 があります (位置 2)。");
}

TEST(Cp932, BrokenShiftJisIsReportedOrReplaced) {
    EXPECT_FALSE(cp932::toUtf8("ab\x82").ok());  // lead byte cut off
    EXPECT_EQ(cp932::toUtf8Lossy("a\x82"), "a\xEF\xBF\xBD");
    EXPECT_EQ(cp932::toUtf8Lossy("\xA0z"), "\xEF\xBF\xBDz");
}
