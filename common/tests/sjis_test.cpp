#include "common/sjis.h"

#include <gtest/gtest.h>

using namespace tarn;

// "表" is 0x95 0x5C: its trail byte is '\\'. "ソ" is 0x83 0x5C. "@" inside
// "＠" (0x81 0x97) is not ASCII. These are the bytes that break naive scanners.
TEST(Sjis, FindStepsOverTrailBytes) {
    const std::string s = "\x95\x5C\x83\x5C\\x";  // 表ソ\x
    EXPECT_EQ(sjis::find(s, '\\'), 4u);
    EXPECT_EQ(sjis::rfind(s, '\\'), 4u);
    EXPECT_EQ(sjis::findFirstOf(s, "\\x"), 4u);
    EXPECT_EQ(sjis::find("\x83\x41", 'A'), std::string::npos);  // ア: trail byte 'A'
    EXPECT_EQ(sjis::find("abc", 'c', 1), 2u);
}

TEST(Sjis, LoneLeadByteAndTruncation) {
    EXPECT_TRUE(sjis::endsWithLoneLeadByte("ab\x82"));
    EXPECT_FALSE(sjis::endsWithLoneLeadByte("ab\x82\xA0"));
    EXPECT_FALSE(sjis::endsWithLoneLeadByte("\xB1"));  // half-width kana is one byte
    EXPECT_EQ(sjis::truncate("a\x82\xA0\x82\xA2", 4), "a\x82\xA0");
    EXPECT_EQ(sjis::truncate("a\x82\xA0\x82\xA2", 5), "a\x82\xA0\x82\xA2");
    EXPECT_EQ(sjis::truncate("abc", 0), "");
}

TEST(Sjis, CaseFoldingLeavesKanjiAlone) {
    EXPECT_TRUE(sjis::equalsIgnoreCase("Message-ID", "message-id"));
    // ア (83 41) and ヂ (83 61) differ only by a trail byte that looks like A/a.
    EXPECT_FALSE(sjis::equalsIgnoreCase("\x83\x41", "\x83\x61"));
    EXPECT_EQ(sjis::asciiLower("AB\x83\x41"), "ab\x83\x41");
}
