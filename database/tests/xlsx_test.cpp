// .xlsx workbooks: files written by an independent writer (libxlsxwriter) read
// through the layer, and hand-made archives for what a writer will not produce.
#include <gtest/gtest.h>
#include <xlsxwriter.h>
#include <zip.h>

#include <cstring>
#include <map>

#include "database/xlsx_reader.h"
#include "db_helpers.h"
#include "testsupport.h"

namespace tarn::db {
namespace {

using dbtest::readTable;
using dbtest::tableNames;
using tarn::test::TempDir;

// A workbook as a person would make it: a Japanese sheet with text, whole and
// fractional numbers, dates, an empty cell; an empty second sheet.
void writeRecipients(const std::filesystem::path& path) {
    lxw_workbook* wb = workbook_new(path.c_str());
    ASSERT_NE(wb, nullptr);
    lxw_format* date = workbook_add_format(wb);
    format_set_num_format(date, "yyyy/mm/dd");
    lxw_format* time = workbook_add_format(wb);
    format_set_num_format(time, "hh:mm");
    lxw_worksheet* ws = workbook_add_worksheet(wb, "顧客");
    const char* header[] = {"会社名", "氏名", "E-Mail", "会員番号", "金額", "登録日", "時刻"};
    for (lxw_col_t c = 0; c < 7; ++c) {
        worksheet_write_string(ws, 0, c, header[c], nullptr);
    }
    worksheet_write_string(ws, 1, 0, "株式会社山﨑精機", nullptr);
    worksheet_write_string(ws, 1, 1, "髙橋 健太", nullptr);
    worksheet_write_string(ws, 1, 2, "kenta@example.jp", nullptr);
    worksheet_write_number(ws, 1, 3, 1001, nullptr);
    worksheet_write_number(ws, 1, 4, 12.5, nullptr);
    lxw_datetime d1 = {2024, 2, 29, 0, 0, 0};
    worksheet_write_datetime(ws, 1, 5, &d1, date);
    lxw_datetime t1 = {0, 0, 0, 13, 30, 0};
    worksheet_write_datetime(ws, 1, 6, &t1, time);
    // Row 3: no company, a negative amount, a string repeated from row 2.
    worksheet_write_string(ws, 2, 1, "ﾔﾏﾀﾞ ﾀﾛｳ", nullptr);
    worksheet_write_string(ws, 2, 2, "kenta@example.jp", nullptr);
    worksheet_write_number(ws, 2, 3, 1002, nullptr);
    worksheet_write_number(ws, 2, 4, -300.75, nullptr);
    lxw_datetime d2 = {1900, 1, 1, 0, 0, 0};
    worksheet_write_datetime(ws, 2, 5, &d2, date);
    workbook_add_worksheet(wb, "Sheet2");
    ASSERT_EQ(workbook_close(wb), LXW_NO_ERROR);
}

TEST(XlsxSource, WorkbookFromAnIndependentWriter) {
    TempDir dir;
    const auto path = dir / "recipients.xlsx";
    writeRecipients(path);
    DbConnection c;
    // Chosen as "Excel 97 - 2003" or "Excel 95": the file says what it is.
    ASSERT_TRUE(c.Open(kExcel97, dbtest::sjis(path.string()))) << c.LastError().message;
    EXPECT_EQ(tableNames(c), (std::vector<std::string>{"顧客$", "Sheet2$"}));
    auto t = readTable(c, "SELECT * FROM `顧客$`");
    EXPECT_EQ(t.names, (std::vector<std::string>{"会社名", "氏名", "E-Mail", "会員番号", "金額",
                                                 "登録日", "時刻"}));
    ASSERT_EQ(t.rows.size(), 2u);
    EXPECT_EQ(t.rows[0],
              (std::vector<std::string>{"株式会社山﨑精機", "髙橋 健太", "kenta@example.jp", "1001",
                                        "12.5", "2024/02/29", "13:30:00"}));
    EXPECT_EQ(t.rows[1], (std::vector<std::string>{"", "ﾔﾏﾀﾞ ﾀﾛｳ", "kenta@example.jp", "1002",
                                                   "-300.75", "1900/01/01", ""}));
    EXPECT_TRUE(t.errors.empty());
    // The empty sheet has no fields and no rows.
    auto empty = readTable(c, "SELECT * FROM `Sheet2$`");
    EXPECT_TRUE(empty.names.empty());
    EXPECT_TRUE(empty.rows.empty());
    // Columns by name, as the import asks for them.
    auto some = readTable(c, "SELECT `E-Mail`,`会社名` FROM `顧客$`");
    ASSERT_EQ(some.rows.size(), 2u);
    EXPECT_EQ(some.rows[0], (std::vector<std::string>{"kenta@example.jp", "株式会社山﨑精機"}));
}

// An archive made of the given parts (stored or deflated as libzip chooses).
std::string makeZip(const std::map<std::string, std::string>& parts) {
    TempDir dir;
    const auto path = dir / "a.zip";
    int error = 0;
    zip_t* z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    EXPECT_NE(z, nullptr);
    for (const auto& [name, bytes] : parts) {
        zip_source_t* s = zip_source_buffer(z, bytes.data(), bytes.size(), 0);
        EXPECT_GE(zip_file_add(z, name.c_str(), s, ZIP_FL_ENC_UTF_8), 0);
    }
    EXPECT_EQ(zip_close(z), 0);
    return tarn::test::readFile(path);
}

const char* const kWorkbook =
    R"(<workbook xmlns:r="r"><sheets><sheet name="S" sheetId="1" r:id="rId1"/></sheets></workbook>)";
const char* const kRels =
    R"(<Relationships><Relationship Id="rId1" Target="worksheets/sheet1.xml" )"
    R"(Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet"/>)"
    R"(</Relationships>)";

std::map<std::string, std::string> book(const std::string& sheet, const std::string& shared = {}) {
    std::map<std::string, std::string> parts{{"xl/workbook.xml", kWorkbook},
                                             {"xl/_rels/workbook.xml.rels", kRels},
                                             {"xl/worksheets/sheet1.xml", sheet}};
    if (!shared.empty()) {
        parts["xl/sharedStrings.xml"] = shared;
    }
    return parts;
}

TEST(XlsxReader, PhoneticRunsInlineStringsAndSparseCells) {
    // Furigana (rPh) is not part of the text; rich runs are joined; cells may
    // skip columns and rows, and may come without references.
    const std::string shared =
        "<sst><si><t>山田</t><rPh sb=\"0\" eb=\"2\"><t>ヤマダ</t></rPh></si>"
        "<si><r><t>太</t></r><r><t>郎</t></r></si></sst>";
    const std::string sheet =
        "<worksheet><sheetData><row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c>"
        "<c t=\"inlineStr\"><is><t>名</t></is></c></row>"
        "<row r=\"3\"><c r=\"C3\" t=\"s\"><v>1</v></c><c t=\"b\"><v>1</v></c></row>"
        "</sheetData></worksheet>";
    auto wb = XlsxWorkbook::openMemory(makeZip(book(sheet, shared)));
    ASSERT_TRUE(wb) << wb.error().message;
    auto grid = wb->readSheet(0);
    ASSERT_TRUE(grid) << grid.error().message;
    ASSERT_EQ(grid->size(), 3u);
    ASSERT_EQ((*grid)[0].size(), 4u);
    EXPECT_EQ(std::get<DbWideString>((*grid)[0][0]).utf8, "山田");
    EXPECT_EQ(std::get<DbWideString>((*grid)[0][1]).utf8, "名");
    EXPECT_TRUE(isNull((*grid)[1][0]));
    EXPECT_EQ(std::get<DbWideString>((*grid)[2][2]).utf8, "太郎");
    EXPECT_TRUE(std::get<DbBool>((*grid)[2][3]).value);
}

TEST(XlsxReader, HostileArchivesAreRefusedWithAReason) {
    auto refused = [](const std::string& zip, const std::string& expected,
                      const XlsxLimits& limits = {}) {
        auto wb = XlsxWorkbook::openMemory(zip, limits);
        std::string why;
        if (!wb) {
            why = wb.error().message;
        } else if (auto grid = wb->readSheet(0); !grid) {
            why = grid.error().message;
        }
        EXPECT_NE(why.find(expected), std::string::npos)
            << "expected \"" << expected << "\", got \"" << why << "\"";
    };
    refused("not a zip at all", "not a readable .xlsx workbook");
    refused(makeZip({{"xl/workbook.xml", kWorkbook}}), "no part \"xl/_rels/workbook.xml.rels\"");

    // A zip bomb: 16 MiB of blanks, a few KiB packed.
    std::string bomb = "<worksheet><sheetData>";
    const std::string filler(16u << 20, ' ');
    bomb += filler + "</sheetData></worksheet>";
    XlsxLimits small;
    small.maxPartBytes = 1u << 20;
    const std::string bombZip = makeZip(book(bomb));
    EXPECT_LT(bombZip.size(), 1u << 20);
    refused(bombZip, "more than the 1048576 read", small);
    // The same part whose headers claim it is small: reading still stops at the limit.
    std::string lying = bombZip;
    const std::string name = "xl/worksheets/sheet1.xml";
    for (std::size_t at = 0; (at = lying.find(name, at)) != std::string::npos; at += name.size()) {
        // The uncompressed size: 22 bytes into a local header, 24 into a
        // central-directory entry; the name follows at 30 and 46.
        if (at >= 46 && lying.compare(at - 46, 4, "PK\x01\x02") == 0) {
            std::memset(lying.data() + at - 46 + 24, 0, 4);
            lying[at - 46 + 24] = 100;
        } else if (at >= 30 && lying.compare(at - 30, 4, "PK\x03\x04") == 0) {
            std::memset(lying.data() + at - 30 + 22, 0, 4);
            lying[at - 30 + 22] = 100;
        }
    }
    refused(lying, "sheet1.xml", small);

    // Entity expansion is not possible: a document type declaration is refused.
    refused(makeZip(book("<!DOCTYPE w [<!ENTITY a \"aaaa\">]><worksheet>&a;</worksheet>")),
            "document type declaration");
    // A cell far out: the rectangle it spans passes the cell limit.
    refused(makeZip(book("<worksheet><sheetData><row><c r=\"XFD1048576\"><v>1</v></c>"
                         "<c r=\"A1\"><v>1</v></c></row></sheetData></worksheet>")),
            "1048576 rows of 16384 cells");
    refused(makeZip(book("<worksheet><sheetData><row><c r=\"XFE1\"><v>1</v></c></row>"
                         "</sheetData></worksheet>")),
            "cell reference \"XFE1\"");
    refused(makeZip(book("<worksheet><sheetData><row><c t=\"s\"><v>7</v></c></row>"
                         "</sheetData></worksheet>")),
            "shared string \"7\"");
    refused(makeZip(book("<worksheet><sheetData><row>")), "line 1");
}

TEST(XlsxReader, DateFormatsByNumberAndByCode) {
    EXPECT_TRUE(isDateFormat(14, ""));
    EXPECT_TRUE(isDateFormat(57, ""));  // an East Asian era date
    EXPECT_FALSE(isDateFormat(0, "General"));
    EXPECT_FALSE(isDateFormat(164, "#,##0.00\"円\""));
    EXPECT_FALSE(isDateFormat(164, "[Red]0.00"));
    EXPECT_TRUE(isDateFormat(164, "[$-411]ggge\"年\"m\"月\"d\"日\""));
    EXPECT_TRUE(isDateFormat(164, "yyyy/mm/dd"));
    EXPECT_FALSE(isDateFormat(164, "0\\d"));  // an escaped letter is literal
}

}  // namespace
}  // namespace tarn::db
