#include "common/cp932.h"

#include <gtest/gtest.h>

#include <functional>
#include <thread>

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

TEST(Cp932, EachConversionStartsAfreshInEveryThread) {
    // A conversion that stops on a cut-off character leaves nothing behind for the next.
    EXPECT_FALSE(cp932::toUtf8("\x93\xFA\x82").ok());
    EXPECT_EQ(cp932::toUtf8("\x96\x7B").value(), "本");
    EXPECT_FALSE(cp932::fromUtf8("日\xE6\x9C").ok());
    EXPECT_EQ(cp932::fromUtf8("本").value(), "\x96\x7B");
    EXPECT_EQ(cp932::toUtf8("a\\b~").value(), "a\\b~");  // ASCII as it is
    // Threads converting at once each get their own converter.
    auto convertMany = [](bool& same) {
        for (int i = 0; i < 2000 && same; ++i) {
            same = cp932::toUtf8("\x93\xFA\x96\x7B").value() == "日本" &&
                   cp932::fromUtf8("日本").value() == "\x93\xFA\x96\x7B";
        }
    };
    bool sameThere = true;
    bool sameHere = true;
    std::thread other(convertMany, std::ref(sameThere));
    convertMany(sameHere);
    other.join();
    EXPECT_TRUE(sameThere);
    EXPECT_TRUE(sameHere);
}

TEST(Cp932, ShiftJisPathsOpenUnderTheirUtf8Names) {
    // "/tmp/送信/a.tnm" as the settings keep it, and a path of raw bytes that is
    // not CP932 at all (kept, so that it still names the same file).
    auto sjis = cp932::fromUtf8("/tmp/送信/a.tnm");
    ASSERT_TRUE(sjis.ok());
    EXPECT_EQ(cp932::pathFromSjis(*sjis).string(), "/tmp/送信/a.tnm");
    EXPECT_EQ(cp932::pathFromSjis("/tmp/x\x82").string(), "/tmp/x\x82");
}

TEST(Cp932, TextForDisplayNamesWhatShiftJisCannotHold) {
    auto named = cp932::fromUtf8Named("パス/寿司🍣/\xFF.tn2");
    auto expected = cp932::fromUtf8("パス/寿司<U+1F363>/<FF>.tn2");
    ASSERT_TRUE(expected.ok());
    EXPECT_EQ(named, *expected);
}
