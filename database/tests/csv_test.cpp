#include <gtest/gtest.h>

#include "database/csv_reader.h"

namespace tarn::db {
namespace {

CsvTable parsed(std::string bytes, CsvEncoding e = CsvEncoding::ShiftJis, CsvLimits limits = {}) {
    auto t = parseCsv(std::move(bytes), e, limits);
    EXPECT_TRUE(t.ok()) << t.error().message;
    return t ? std::move(t.value()) : CsvTable();
}

TEST(CsvReader, QuotingFollowsRfc4180) {
    auto t = parsed(
        "a,b,c\r\n"
        "\"ABC Holdings, Inc.\",\"\"\"x\"\",y\",\"line1\nline2\"\r\n"
        "plain,\"\",\r\n"
        "say \"hi\",\"q\"tail,3");
    ASSERT_EQ(t.columnCount(), 3u);
    ASSERT_EQ(t.rowCount(), 3u);
    EXPECT_EQ(t.field(0, 0), "ABC Holdings, Inc.");
    EXPECT_EQ(t.field(0, 1), "\"x\",y");
    EXPECT_EQ(t.field(0, 2), "line1\nline2");
    // A quoted empty field is an empty text; an unquoted one is null.
    EXPECT_FALSE(t.isNull(1, 1));
    EXPECT_EQ(t.field(1, 1), "");
    EXPECT_TRUE(t.isNull(1, 2));
    // Quotes inside an unquoted field, and bytes after a closing quote, are kept.
    EXPECT_EQ(t.field(2, 0), "say \"hi\"");
    EXPECT_EQ(t.field(2, 1), "qtail");
    EXPECT_EQ(t.field(2, 2), "3");
}

TEST(CsvReader, RecordsEndInCrLfLfOrCrAndBlankLinesAreSkipped) {
    auto t = parsed("x,y\n1,2\r3,4\r\n\r\n\n5\n6,7,8");
    ASSERT_EQ(t.rowCount(), 4u);
    EXPECT_EQ(t.field(1, 0), "3");
    EXPECT_EQ(t.field(2, 0), "5");
    EXPECT_TRUE(t.isNull(2, 1));  // a short record has nulls
    EXPECT_EQ(t.field(3, 1), "7");
    EXPECT_TRUE(t.isNull(3, 2));  // beyond the header: not a column
    EXPECT_EQ(t.name(1), "y");
}

TEST(CsvReader, HeadingsMayBeMissing) {
    auto t = parsed("a,,c\r\n1,2,3\r\n");
    EXPECT_EQ(t.name(1), "F2");
    EXPECT_EQ(parsed("").columnCount(), 0u);
    EXPECT_EQ(parsed("a,b\r\n").rowCount(), 0u);
}

TEST(CsvReader, ShiftJisTrailBytesAreNotDelimiters) {
    // 表 is 95 5C and ポ is 83 7C: neither trail byte may end a field, and
    // no trail byte can be a comma, quote or line end.
    auto t = parsed("\x95\x5C,\x83\x7C\r\n\"\x95\x5C\",\x83\x7C\r\n");
    EXPECT_EQ(t.name(0), "\x95\x5C");
    EXPECT_EQ(t.field(0, 0), "\x95\x5C");
    EXPECT_EQ(t.field(0, 1), "\x83\x7C");
}

TEST(CsvReader, EncodingIsFoundFromTheBomOrValidUtf8) {
    auto bom = parsed("\xEF\xBB\xBF\xE5\x90\x8D,b\r\n1,2\r\n", CsvEncoding::Auto);
    EXPECT_EQ(bom.encoding(), CsvEncoding::Utf8);
    EXPECT_EQ(bom.name(0), "\xE5\x90\x8D");  // the BOM is not part of the name
    auto utf8 = parsed("\xE5\x90\x8D,b\r\n", CsvEncoding::Auto);
    EXPECT_EQ(utf8.encoding(), CsvEncoding::Utf8);
    auto sjis = parsed("\x96\xBC,b\r\n", CsvEncoding::Auto);
    EXPECT_EQ(sjis.encoding(), CsvEncoding::ShiftJis);
    auto ascii = parsed("a,b\r\n", CsvEncoding::Auto);
    EXPECT_EQ(ascii.encoding(), CsvEncoding::ShiftJis);
    // An explicit choice wins, and a BOM read as Shift_JIS stays in the name.
    auto forced = parsed("\xE5\x90\x8D,b\r\n", CsvEncoding::ShiftJis);
    EXPECT_EQ(forced.encoding(), CsvEncoding::ShiftJis);
}

TEST(CsvReader, HostileInputFailsWithAnOffset) {
    auto unterminated = parseCsv("a,b\r\n1,\"never closed\r\n2,3\r\n", CsvEncoding::ShiftJis);
    ASSERT_FALSE(unterminated.ok());
    EXPECT_EQ(unterminated.error().offset, 7);
    EXPECT_NE(unterminated.error().message.find("line 2"), std::string::npos)
        << unterminated.error().message;

    CsvLimits small;
    small.maxFieldBytes = 8;
    small.maxRecordBytes = 20;
    small.maxFields = 3;
    auto longField = parseCsv("a\r\n123456789\r\n", CsvEncoding::ShiftJis, small);
    ASSERT_FALSE(longField.ok());
    EXPECT_EQ(longField.error().offset, 3);
    auto longQuoted = parseCsv("a\r\n\"12345\"\"6789\"\r\n", CsvEncoding::ShiftJis, small);
    EXPECT_FALSE(longQuoted.ok());
    auto wide = parseCsv("a,b,c,d\r\n", CsvEncoding::ShiftJis, small);
    EXPECT_FALSE(wide.ok());
    auto longRecord =
        parseCsv("a,b,c\r\n1234567,1234567,1234567\r\n", CsvEncoding::ShiftJis, small);
    EXPECT_FALSE(longRecord.ok());
    small.maxFileBytes = 4;
    EXPECT_FALSE(parseCsv("a,b\r\n", CsvEncoding::ShiftJis, small).ok());
}

TEST(CsvReader, UnderTheDefaultLimitsA10MegabyteFieldIsRefused) {
    std::string bytes = "a\r\n\"" + std::string(10u << 20, 'x') + "\"\r\n";
    auto t = parseCsv(std::move(bytes));
    ASSERT_FALSE(t.ok());
    EXPECT_NE(t.error().message.find("longer than 1048576"), std::string::npos)
        << t.error().message;
}

}  // namespace
}  // namespace tarn::db
