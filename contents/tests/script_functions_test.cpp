// The built-in functions, through the script (argument checks) and directly
// (the text algorithms).
#include <gtest/gtest.h>

#include "contents/script.h"
#include "script_internal.h"
#include "testsupport.h"

using namespace tarn::contents;

namespace {

// Runs "#Print <expr>" and returns the printed text, or "error N".
std::string eval(const std::string& expr) {
    ScriptEngine engine;
    if (engine.LoadScript("#Print " + expr) != 1) {
        return "load error " + std::to_string(engine.lastError()->number);
    }
    std::string out;
    if (engine.RunScript(out, {}) != 1) {
        return "error " + std::to_string(engine.lastError()->number);
    }
    return out.substr(0, out.size() - 2);
}

}  // namespace

TEST(ScriptFunctions, NumbersAndCharacters) {
    EXPECT_EQ(eval("Str(0 - 42) + \"!\""), "-42!");
    EXPECT_EQ(eval("Space(3) + \"|\""), "   |");
    EXPECT_EQ(eval("Tab(2)"), "\t\t");
    EXPECT_EQ(eval("Chr(65) + Chr(0) + Chr(255)"), "A\xFF");
    EXPECT_EQ(eval("Space(0)"), "error 16");
    EXPECT_EQ(eval("Space(256)"), "error 16");
    EXPECT_EQ(eval("Chr(256)"), "error 16");
    EXPECT_EQ(eval("Str(\"1\")"), "error 16");
    EXPECT_EQ(eval("Str()"), "error 16");
    EXPECT_EQ(eval("Str(1, 2)"), "error 16");
    EXPECT_EQ(eval("Str(,1)"), "error 16");
    EXPECT_EQ(eval("Str(1,)"), "error 16");
    EXPECT_EQ(eval("Nope(1)"), "error 10");
    EXPECT_EQ(eval("sTr(7)"), "7");
    // Eleven arguments are refused before anything is evaluated.
    EXPECT_EQ(eval("StrInputDialog(1,2,3,4,5,6,7,8,9,1/0)"), "error 15");
    EXPECT_EQ(eval("StrInputDialog(1,2,3,4,5,6,7,8,9,10,1/0)"), "error 16");
}

TEST(ScriptFunctions, ValReadsJapaneseNumerals) {
    // 千二百三十四, 二〇〇一, "　１２", 三百, 十五, 壱萬 (萬 is not a multiplier)
    EXPECT_EQ(eval("Val(\"\x90\xe7\x93\xf1\x95\x53\x8e\x4f\x8f\x5c\x8e\x6c\")"), "1234");
    EXPECT_EQ(eval("Val(\"\x93\xf1\x81\x5a\x81\x5a\x88\xea\")"), "2001");
    EXPECT_EQ(eval("Val(\"1234\")"), "1234");
    EXPECT_EQ(eval("Val(\" \x81\x40\x82\x50\x82\x51\")"), "12");
    EXPECT_EQ(eval("Val(\"\x8e\x4f\x95\x53\")"), "300");
    EXPECT_EQ(eval("Val(\"\x8f\x5c\x8c\xdc\")"), "15");
    EXPECT_EQ(eval("Val(\"12abc\")"), "12");
    EXPECT_EQ(eval("Val(\"abc\")"), "0");
    EXPECT_EQ(eval("Val(\"-5\")"), "0");
    EXPECT_EQ(eval("Val(\"\")"), "0");
    EXPECT_EQ(japaneseNumeralValue("99999999999999999999"), 1661992959);
    EXPECT_EQ(japaneseNumeralValue("\x90"), 0);  // half a character
}

TEST(ScriptFunctions, TrimAndGetWord) {
    EXPECT_EQ(eval("\"[\" + Trim(\" \x81\x40 a b\t\x81\x40\") + \"]\""), "[a b]");
    EXPECT_EQ(trimBlanks("\x82\x40"), "\x82\x40");  // a kanji whose trail byte is "@"
    EXPECT_EQ(eval("GetWord(\"one  two,three\", 1)"), "two");
    EXPECT_EQ(eval("GetWord(\"one  two,three\", 2)"), "three");
    EXPECT_EQ(eval("GetWord(\"one two\", 5) + \"|\""), "|");
    EXPECT_EQ(eval("\"[\" + GetWord(\",a,b\", 0) + \"]\""), "[]");
    EXPECT_EQ(eval("GetWord(\",a,b\", 1)"), "a");
    EXPECT_EQ(eval("GetWord(\"a,,b\", 2)"), "b");
    EXPECT_EQ(eval("GetWord(\"a\x81\x40\x81\x40q\", 1)"), "q");
    EXPECT_EQ(eval("GetWord(\"k=v;x=y\", 2, \"=;\")"), "x");
    EXPECT_EQ(eval("GetWord(\"abc\", 0, \"\")"), "error 16");
    // A delimiter byte inside a double-byte character does not split it.
    EXPECT_EQ(getWord("\x83\x5c|z", 0, "\\|"), "\x83\x5c");
}

TEST(ScriptFunctions, FormatPicture) {
    EXPECT_EQ(eval("Format(1234, \"#,##0\")"), "1,234");
    EXPECT_EQ(eval("Format(12, \"#,##0\")"), "   12");
    EXPECT_EQ(eval("Format(0, \"#,##0\")"), "    0");
    EXPECT_EQ(eval("Format(0 - 5, \"#,##0\")"), "   -5");
    EXPECT_EQ(eval("Format(1234567, \"#,##0\")"), "4,567");          // extra digits dropped
    EXPECT_EQ(eval("Format(7, \"\x89\x7e 000\")"), "\x89\x7e 007");  // 円 untouched
    EXPECT_EQ(eval("Format(\"7\", \"#\")"), "error 16");
    // "\x83\x23" is one character whose second byte is "#": not a digit place.
    EXPECT_EQ(formatPicture(5, "\x83\x23,#"), "\x83\x23,5");
    EXPECT_EQ(formatPicture(0, "\x83\x23,#"), "\x83\x23, ");
}

TEST(ScriptFunctions, ResTitle) {
    EXPECT_EQ(replyTitle("Hello"), "RE:Hello");
    EXPECT_EQ(replyTitle("  Re: Hello"), "RE^2:Hello");
    EXPECT_EQ(replyTitle("re:Hello"), "RE^2:Hello");
    EXPECT_EQ(replyTitle("RE^3: Hello"), "RE^4:Hello");
    EXPECT_EQ(replyTitle("Re: RE: x"), "RE^3:x");
    EXPECT_EQ(replyTitle("Report"), "RE:Report");
    EXPECT_EQ(replyTitle("RE^99999999999999: x"), "RE^1000000001:x");
    EXPECT_EQ(eval("ResTitle(\"Re>Hi\")"), "RE^2:Hi");
}

TEST(ScriptFunctions, NamesOfMonthsAndDays) {
    EXPECT_EQ(eval("MonthName(12)"), "Dec");
    EXPECT_EQ(eval("MonthName(1)"), "Jan");
    EXPECT_EQ(eval("WeekName(0)"), "Sun");
    EXPECT_EQ(eval("JweekName(6)"), "\x93\x79");
    EXPECT_EQ(eval("MonthName(0)"), "error 16");
    EXPECT_EQ(eval("WeekName(7)"), "error 16");
    EXPECT_EQ(eval("JweekName(0 - 1)"), "error 16");
}

TEST(ScriptFunctions, PathParts) {
    const std::string p = "\"C:\\\\dir\\\\sub\\\\file.tar.gz\"";
    EXPECT_EQ(eval("GetDriveName(\"C:\\dir\\file.txt\")"), "C:");
    EXPECT_EQ(eval("GetFolderName(\"C:\\dir\\sub\\file.txt\")"), "\\dir\\sub\\");
    EXPECT_EQ(eval("GetBaseName(\"/home/u/file.tar.gz\")"), "file.tar");
    EXPECT_EQ(eval("GetExtentName(\"/home/u/file.tar.gz\")"), ".gz");
    EXPECT_EQ(eval("\"[\" + GetDriveName(\"/x\") + GetExtentName(\"/a.b/c\") + \"]\""), "[]");
    // 表 ends in the byte of "\": it is not a folder separator.
    const PathParts kanji = splitPath("C:\\\x95\x5c\\a\x95\x5c.txt");
    EXPECT_EQ(kanji.folder, "\\\x95\x5c\\");
    EXPECT_EQ(kanji.base, "a\x95\x5c");
    // Over-long parts are cut without splitting a character.
    const PathParts longer = splitPath("/" + std::string(300, 'd') + "/" + std::string(253, 'b') +
                                       "\x82\xa0\x82\xa0.ext");
    EXPECT_EQ(longer.folder.size(), 255u);
    EXPECT_EQ(longer.base, std::string(253, 'b') + "\x82\xa0");
    EXPECT_EQ(longer.extension, ".ext");
    EXPECT_EQ(eval("GetBaseName(1)"), "error 16");
}

TEST(ScriptFunctions, IsExist) {
    tarn::test::TempDir dir;
    tarn::test::writeFile(dir / "here.txt", "x");
    EXPECT_EQ(eval("IsExist(\"" + (dir / "here.txt").string() + "\")"), "-1");
    EXPECT_EQ(eval("IsExist(\"" + dir.path().string() + "\")"), "-1");
    EXPECT_EQ(eval("IsExist(\"" + (dir / "gone.txt").string() + "\")"), "0");
    EXPECT_EQ(eval("IsExist(\"\")"), "0");
}
