#include "editor/rewrap.h"

#include <gtest/gtest.h>

#include "common/cp932.h"

using tarn::editor::rewrapBody;

namespace {

std::string sj(std::string_view utf8) {
    return *tarn::cp932::fromUtf8(utf8);
}
std::string wrap(std::string_view utf8, int columns) {
    return *tarn::cp932::toUtf8(rewrapBody(sj(utf8), columns));
}

}  // namespace

TEST(Kinsoku, TablesHoldTheirCharactersAsShiftJis) {
    // The tables are written as bytes; a slip in one byte would silently
    // change which character is held.
    EXPECT_EQ(
        tarn::editor::kMayNotBeginLine,
        sj("!%),.:;?]}￠°’”‰′\\″℃、。々〉》」』】〕゛゜ゝゞ・ヽヾ！％），．：；？］｝｡｣､･ﾞﾟ￠"));
    EXPECT_EQ(tarn::editor::kMayNotEndLine, sj("$([\\{￡‘“〈《「『【〔＄（［｛｢￡￥"));
}

TEST(Kinsoku, DoubleByteCharactersMatchOnlyWholeEntries) {
    using tarn::editor::mayNotBeginLine;
    using tarn::editor::mayNotEndLine;
    EXPECT_TRUE(mayNotBeginLine(sj("。")));
    EXPECT_TRUE(mayNotBeginLine("\xdf"));  // half-width semi-voiced mark
    EXPECT_TRUE(mayNotEndLine(sj("「")));
    EXPECT_TRUE(mayNotBeginLine("\\"));
    EXPECT_TRUE(mayNotEndLine("\\"));
    // ソ is 0x83 0x5C: its trail byte is the backslash, but it is a kana.
    EXPECT_FALSE(mayNotBeginLine(sj("ソ")));
    EXPECT_FALSE(mayNotEndLine(sj("ソ")));
    // 0x81 0x42 is 。; neither byte alone is an entry.
    EXPECT_FALSE(mayNotBeginLine("\x42"));
    EXPECT_FALSE(mayNotBeginLine("\x81"));
}

TEST(Rewrap, PunctuationHangsAndOpeningBracketsMoveOn) {
    // 。 ending past the margin stays at the end of the line.
    EXPECT_EQ(wrap("あいうえお。かき", 10), "あいうえお。\r\nかき");
    // Any other character past the margin starts the next line.
    EXPECT_EQ(wrap("あいうえおか", 10), "あいうえお\r\nか");
    // 「 that would end on the margin goes to the next line with its text.
    EXPECT_EQ(wrap("あいうえ「かき」", 10), "あいうえ\r\n「かき」");
    // A hanging character may pass the margin by three columns (double-byte)
    // or one (single-byte), no more.
    EXPECT_EQ(wrap("あい」」", 4), "あい」\r\n」");
    EXPECT_EQ(wrap("abc))", 3), "abc)\r\n)");
}

TEST(Rewrap, ColumnsBelowOneChangeNothing) {
    const std::string body = sj("あいうえお。\r\n「かきくけこ」");
    EXPECT_EQ(rewrapBody(body, 0), body);
    EXPECT_EQ(rewrapBody(body, -5), body);
    EXPECT_EQ(rewrapBody("", 1), "");
}

TEST(Rewrap, OneColumnPutsEachCharacterOnItsOwnLineExceptHangers) {
    EXPECT_EQ(wrap("あい。う", 1), "あ\r\nい。\r\nう");
    EXPECT_EQ(wrap("ab.c", 1), "a\r\nb.\r\nc");
    // Never an empty line: a break at a line's first column would only add one.
    EXPECT_EQ(wrap("「あ」", 1), "「\r\nあ」");
    EXPECT_EQ(wrap("x\r\nyz", 1), "x\r\ny\r\nz");
}

TEST(Rewrap, ExistingLineEndsStayAndResetTheColumn) {
    EXPECT_EQ(wrap("あいう\r\nえおか\nきく", 6), "あいう\r\nえおか\nきく");
    EXPECT_EQ(wrap("あいうえ\r\nおかきく", 6), "あいう\r\nえ\r\nおかき\r\nく");
}

TEST(Rewrap, MergeTagsAreNeverSplit) {
    EXPECT_EQ(wrap("ああああ&[会社名]様", 12), "ああああ\r\n&[会社名]様");
    EXPECT_EQ(wrap("abc&[Freefield10] x", 8), "abc\r\n&[Freefield10]\r\n x");
    // A tag wider than the line still goes out whole on a line of its own.
    EXPECT_EQ(wrap("&[Freefield1]", 4), "&[Freefield1]");
    // Only exact tags are units: anything else wraps as text.
    EXPECT_EQ(wrap("&[Free]", 4), "&[Fr\r\nee]");
}

TEST(Rewrap, ScriptStatementsAreLeftWhole) {
    const std::string statement = "#If &[会社名] = \"株式会社ひかり\" Then";
    EXPECT_EQ(wrap(statement + "\r\nあいうえお\r\n#End If", 6),
              statement + "\r\nあいう\r\nえお\r\n#End If");
    // "##" starts a text line, which wraps like any other.
    EXPECT_EQ(wrap("##abcdef", 4), "##ab\r\ncdef");
    // A "#" is never moved to the start of a line, where it would begin a
    // statement; the next character takes the break.
    EXPECT_EQ(wrap("abc#de", 3), "abc#\r\nde");
}

TEST(Rewrap, CutDoubleByteCharacterAtTheEndIsCopied) {
    EXPECT_EQ(rewrapBody("ab\x82", 2), "ab\r\n\x82");
    EXPECT_EQ(rewrapBody("\x82", 1), "\x82");
}
