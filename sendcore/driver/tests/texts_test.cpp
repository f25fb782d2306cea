#include "texts.h"

#include <gtest/gtest.h>

#include "common/cp932.h"

namespace tarn::driver {
namespace {

std::string cp(std::string_view utf8) {
    return cp932::fromUtf8(utf8).value();
}

TEST(DriverTexts, FormatsInShiftJisAndKeepsBraceBytesOfTwoByteCharacters) {
    // The second byte of "ボ" is '{' and of "マ" '}': they must come out as
    // text, not be taken for the edges of a field.
    EXPECT_EQ(sjisFormat("ボタン{}マ{:02d}件", 7, 5), cp("ボタン7マ05件"));
    EXPECT_EQ(sjisFormat("{:4d} 年 {{}} {}", 2026, "x"), cp("2026 年 {} x"));
    EXPECT_EQ(sjisFormat("{:4d}|{:02d}", 7, -3), "   7|-3");
}

TEST(DriverTexts, ShiftJisArgumentsAreCopiedByteForByte) {
    // A Shift_JIS argument with a brace byte, a lone lead byte and a NUL
    // (a stored record's bytes) is filled in unchanged and uncut.
    const std::string stored("\x83\x7b{}\x81\0z", 7);
    EXPECT_EQ(sjisFormat("送信アドレス : {}", stored), cp("送信アドレス : ") + stored);
}

TEST(DriverTexts, ElapsedTextHasHoursMinutesAndSeconds) {
    EXPECT_EQ(elapsedText(0), "00:00:00");
    EXPECT_EQ(elapsedText(3725), "01:02:05");
    EXPECT_EQ(elapsedText(100 * 3600 + 59), "100:00:59");
}

}  // namespace
}  // namespace tarn::driver
