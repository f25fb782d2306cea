// The rows of a table as a send or check reads them, from every kind of
// source the suite reads (the repository's workbooks, CSV files and Access
// databases; SQLite and PostgreSQL through ODBC), and the mapping file.
#include <gtest/gtest.h>

#include "common/cp932.h"
#include "dbsend/db_send.h"
#include "dbsend/db_sources.h"
#include "dbsend/mapping_file.h"
#include "odbc_fixture.h"
#include "testsupport.h"

namespace tarn::dbsend {
namespace {

const std::string kData = TARN_TESTDATA;

std::string sj(const std::string& utf8) {
    auto r = cp932::fromUtf8(utf8);
    EXPECT_TRUE(r.ok()) << utf8;
    return r ? *r : std::string();
}
std::string u8(const std::string& sjis) {
    return cp932::toUtf8Lossy(sjis);
}

// The recipient table of testdata/ mapped as a person would map it.
RowSourceOptions recipientTable(int type, const std::string& source, const std::string& table) {
    RowSourceOptions o;
    o.spec.type = type;
    o.spec.source = sj(source);
    o.spec.table = sj(table);
    o.spec.fields[kCompany] = sj("会社名");
    o.spec.fields[kTitle] = sj("役職");
    o.spec.fields[kSurname] = sj("姓");
    o.spec.fields[kGivenName] = sj("名");
    o.spec.fields[kEmail] = "E-Mail";
    o.spec.fields[kFreeField1] = "Freefield1";
    o.spec.fields[kFreeField1 + 2] = "Freefield3";
    o.spec.fields[kFreeField1 + 9] = sj("金額");
    o.spec.honorific = sj("殿");
    return o;
}

struct SourceCase {
    const char* name;
    int type;
    std::string source, table;
    bool excel;
};

class RecipientTable : public ::testing::TestWithParam<SourceCase> {};

TEST_P(RecipientTable, EveryRowWithItsMappedValues) {
    const SourceCase& c = GetParam();
    RowRead read = readRows(recipientTable(c.type, c.source, c.table));
    ASSERT_EQ(read.code, 0) << read.detail;
    ASSERT_EQ(read.rows.size(), 12u);
    const driver::Recipient& first = read.rows[0];
    EXPECT_EQ(first.position, 1);
    EXPECT_TRUE(first.eligible);
    EXPECT_EQ(first.address, "ichiro.sato@midori-shoji.example.co.jp");
    EXPECT_EQ(u8(first.values[0]), "株式会社みどり商事");
    EXPECT_EQ(first.values[1], "");  // 部署名 not mapped
    EXPECT_EQ(u8(first.values[2]), "部長");
    EXPECT_EQ(u8(first.values[3]), "佐藤一郎");  // no separator between the parts
    EXPECT_EQ(u8(first.values[4]), "殿");        // the page's honorific, not the column
    EXPECT_EQ(u8(first.values[5]), "東京都港区芝公園4-2-8");
    EXPECT_EQ(first.values[14], "125000.5");  // a number through the conversion table
    // Row 6 has no name parts, row 8 no address, row 7 an empty amount.
    EXPECT_EQ(read.rows[5].values[3], "");
    EXPECT_EQ(read.rows[7].address, "");
    EXPECT_EQ(read.rows[7].position, 8);
    EXPECT_EQ(read.rows[6].values[14], "");
    // Row 9's LF: CR LF from a workbook, left alone from CSV (a CSV file has its own).
    EXPECT_EQ(u8(read.rows[8].values[5]), c.excel
                                              ? "大阪府大阪市北区梅田1-2-3\r\n梅田スカイタワー12F"
                                              : "大阪府大阪市北区梅田1-2-3\n梅田スカイタワー12F");
    // Row 11's 300-byte value is whole; the script's cut is the send's business.
    EXPECT_EQ(read.rows[10].values[7].size(), 300u);
    // IBM extension kanji as Windows writes them.
    EXPECT_EQ(read.rows[2].values[3].substr(0, 2), "\xFB\xFC");
}

INSTANTIATE_TEST_SUITE_P(
    Sources, RecipientTable,
    ::testing::Values(SourceCase{"xls97", 3, kData + "/xls/recipients97.xls", "顧客", true},
                      SourceCase{"xls95", 2, kData + "/xls/recipients95.xls", "顧客", true},
                      SourceCase{"csv", 4, kData + "/csv", "recipients_sjis.csv", false},
                      SourceCase{"csvUtf8", 4, kData + "/csv", "recipients_utf8bom.csv", false}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(Rows, SurnameAloneWhenTheGivenNameIsUnmapped) {
    RowSourceOptions o = recipientTable(4, kData + "/csv", "recipients_sjis.csv");
    o.spec.fields[kGivenName].clear();
    RowRead read = readRows(o);
    ASSERT_EQ(read.code, 0) << read.detail;
    EXPECT_EQ(u8(read.rows[0].values[3]), "佐藤");
}

TEST(Rows, RangesCountRowsFromOneAndStopAtTheEnd) {
    RowSourceOptions o = recipientTable(3, kData + "/xls/recipients97.xls", "顧客");
    o.range = {11, 999999999};
    RowRead read = readRows(o);
    ASSERT_EQ(read.code, 0) << read.detail;
    ASSERT_EQ(read.rows.size(), 2u);
    EXPECT_EQ(read.rows[0].position, 11);
    EXPECT_EQ(read.rows[1].position, 12);

    o.range = {3, 4};
    read = readRows(o);
    ASSERT_EQ(read.rows.size(), 2u);
    EXPECT_EQ(read.rows[0].address, "kenta.takahashi@yamasaki-seiki.example.co.jp");

    // The last row is 12: a start at 13 or beyond is a failed move.
    for (long long start : {13LL, 14LL, 1000LL}) {
        o.range = {start, 999999999};
        read = readRows(o);
        EXPECT_EQ(read.code, errorNumber(DbSendError::Move)) << start;
        EXPECT_TRUE(read.rows.empty());
    }
}

TEST(Rows, FailuresOfTheSourceGiveThePagesCodes) {
    RowSourceOptions o = recipientTable(3, kData + "/xls/missing.xls", "顧客");
    EXPECT_EQ(readRows(o).code, errorNumber(DbSendError::DbOpen));
    o = recipientTable(3, kData + "/xls/recipients97.xls", "無い");
    EXPECT_EQ(readRows(o).code, errorNumber(DbSendError::ExcelSheetOpen));
    o = recipientTable(4, kData + "/csv", "missing.csv");
    EXPECT_EQ(readRows(o).code, errorNumber(DbSendError::CsvOpen));
    o = recipientTable(1, kData + "/mdb/nwind.mdb", "Nothing");
    EXPECT_EQ(readRows(o).code, errorNumber(DbSendError::DbTableOpen));
    // The empty sheet has neither fields nor rows.
    o = recipientTable(3, kData + "/xls/recipients97.xls", "Sheet2");
    EXPECT_NE(readRows(o).code, 0);
    // Nothing mapped: no query at all.
    o.spec.fields = {};
    EXPECT_EQ(readRows(o).code, errorNumber(DbSendError::NoEmailField));
}

TEST(Rows, AccessTables) {
    RowSourceOptions o;
    o.spec.type = 1;
    o.spec.source = kData + "/mdb/nwind.mdb";
    o.spec.table = "Customers";
    o.spec.fields[kCompany] = "CompanyName";
    o.spec.fields[kSurname] = "ContactName";
    o.spec.fields[kEmail] = "CustomerID";
    o.range = {1, 2};
    RowRead read = readRows(o);
    ASSERT_EQ(read.code, 0) << read.detail;
    ASSERT_EQ(read.rows.size(), 2u);
    EXPECT_EQ(read.rows[0].address, "ALFKI");
    EXPECT_EQ(read.rows[0].values[0], "Alfreds Futterkiste");
    EXPECT_EQ(read.rows[0].values[3], "Maria Anders");
}

TEST(Rows, DenyListMatchesTheDomainWithoutRegardToCase) {
    tarn::test::TempDir dir;
    tarn::test::writeFile(dir / "deny.txt", "# comment\r\nDeny.Example.JP\r\nother.example\r\n");
    DenyList deny = DenyList::load(dir / "deny.txt");
    EXPECT_EQ(deny.size(), 2u);
    EXPECT_TRUE(deny.denies("a@deny.example.jp"));
    EXPECT_TRUE(deny.denies("B@DENY.EXAMPLE.JP"));
    EXPECT_TRUE(deny.denies("c@deny.example.jp@relay.example"));  // up to a further "@"
    EXPECT_FALSE(deny.denies("d@sub.deny.example.jp"));
    EXPECT_FALSE(deny.denies("deny.example.jp"));  // no "@": never denied
    EXPECT_FALSE(deny.denies(""));
    // A missing list denies nothing.
    EXPECT_EQ(DenyList::load(dir / "none.txt").size(), 0u);
}

std::vector<int> runPositions(DbRecipients& source) {
    std::vector<int> positions;
    if (!source.beginRun()) {
        return {-1};
    }
    driver::Recipient r;
    while (source.next(r)) {
        positions.push_back(r.position);
    }
    return positions;
}

TEST(Rows, TheDenySwitchLeavesRowsOutOfTheCountThePreviewAndTheRun) {
    tarn::test::TempDir dir;
    tarn::test::writeFile(dir / "deny.txt", "aoba-denki.example.jp\nEXAMPLE.COM\n");
    RowSourceOptions o = recipientTable(4, kData + "/csv", "recipients_sjis.csv");
    o.deny = true;
    o.denyFile = dir / "deny.txt";
    DbRecipients source(o);
    ASSERT_EQ(source.load().code, 0);
    // Rows 2 (aoba-denki) and 7 (example.com) go, not 10 (abc-holdings.example.com);
    // 8 has no address and stays.
    EXPECT_EQ(source.eligibleCount(), 10);
    std::vector<int> previewed;
    source.visitEligible([&](const driver::Recipient& r) {
        previewed.push_back(r.position);
        return previewed.size() < 2;
    });
    EXPECT_EQ(previewed, (std::vector<int>{1, 3}));
    // Turned off in the confirmation: every row again, on the same rows.
    source.setDeny(false);
    EXPECT_EQ(source.eligibleCount(), 12);
    source.setDeny(true);
    EXPECT_EQ(runPositions(source), (std::vector<int>{1, 3, 4, 5, 6, 8, 9, 10, 11, 12}));
}

// The count, the preview and the run walk one read of the file: a file changed
// after the confirmation does not change what is sent (and a large file is
// parsed once).
TEST(Rows, TheRunSendsToTheRowsTheConfirmationCounted) {
    tarn::test::TempDir dir;
    std::filesystem::copy_file(kData + "/csv/recipients_sjis.csv", dir / "r.csv");
    RowSourceOptions o = recipientTable(4, dir.path().string(), "r.csv");
    o.range = {2, 3};
    DbRecipients source(o);
    ASSERT_EQ(source.load().code, 0);
    ASSERT_EQ(source.eligibleCount(), 2);
    tarn::test::writeFile(dir / "r.csv", sj("E-Mail\r\nchanged@example.jp\r\n"));
    EXPECT_EQ(runPositions(source), (std::vector<int>{2, 3}));
    // A source that could not be read refuses the run with the code's text.
    std::filesystem::remove(dir / "r.csv");
    DbRecipients missing(o);
    EXPECT_NE(missing.load().code, 0);
    EXPECT_FALSE(missing.beginRun());
}

class OdbcRows : public ::testing::Test {
protected:
    void check(const std::string& connection, bool wide) {
        const std::string err = db::dbtest::execute(
            connection,
            {"CREATE TABLE \"会員 名簿\" (\"会社\" VARCHAR(40), \"姓\" VARCHAR(20), "
             "\"名\" VARCHAR(20), mail VARCHAR(80), points INTEGER)",
             "INSERT INTO \"会員 名簿\" VALUES ('株式会社山﨑精機', '髙橋', '健太', "
             "'kenta@example.jp', 120)",
             "INSERT INTO \"会員 名簿\" VALUES (NULL, '田中', NULL, 'misaki@example.com', NULL)"},
            wide);
        ASSERT_TRUE(err.empty()) << err;
        RowSourceOptions o;
        o.spec.type = 0;
        o.spec.source = connection;
        o.spec.table = sj("会員 名簿");  // a space: only works enclosed
        o.spec.fields[kCompany] = sj("会社");
        o.spec.fields[kSurname] = sj("姓");
        o.spec.fields[kGivenName] = sj("名");
        o.spec.fields[kEmail] = "mail";
        o.spec.fields[kFreeField1] = "points";
        RowRead read = readRows(o);
        ASSERT_EQ(read.code, 0) << read.detail;
        ASSERT_EQ(read.rows.size(), 2u);
        EXPECT_EQ(u8(read.rows[0].values[0]), "株式会社山﨑精機");
        EXPECT_EQ(u8(read.rows[0].values[3]), "髙橋健太");
        EXPECT_EQ(read.rows[0].values[5], "120");
        EXPECT_EQ(u8(read.rows[1].values[3]), "田中");
        EXPECT_EQ(read.rows[1].values[0], "");
        EXPECT_EQ(read.rows[1].position, 2);
        // Without enclosing, the name with a space is not a table.
        o.spec.enclose = false;
        EXPECT_EQ(readRows(o).code, errorNumber(DbSendError::DbTableOpen));
    }
};

TEST_F(OdbcRows, SqliteThroughItsDriver) {
    tarn::test::TempDir dir;
    const std::string driver = db::dbtest::driverPath("libsqlite3odbc.so");
    ASSERT_FALSE(driver.empty()) << "the SQLite ODBC driver (libsqliteodbc) is not installed";
    check("DRIVER=" + driver + ";Database=" + (dir / "t.db").string() + ";", false);
}

TEST_F(OdbcRows, PostgresqlWithItsOwnIdentifierQuote) {
    db::dbtest::PostgresServer server;
    ASSERT_TRUE(server.ok()) << server.error();
    check(server.connectionString(), true);
}

TEST(Query, FieldsInSlotOrderEnclosedAsTheSourceWants) {
    SourceSpec s;
    s.type = 3;
    s.table = "Sheet";
    s.fields[kEmail] = "mail";
    s.fields[kCompany] = "co";
    EXPECT_EQ(selectText(s), "SELECT `co`,`mail` FROM `Sheet$`");
    EXPECT_EQ(allFieldsText(s), "SELECT * FROM `Sheet$`");
    s.type = 1;
    EXPECT_EQ(selectText(s), "SELECT `co`,`mail` FROM `Sheet`");
    s.type = 0;
    s.odbcQuote = "\"";
    s.fields[kCompany] = "a\"b";
    EXPECT_EQ(selectText(s), "SELECT \"a\"\"b\",\"mail\" FROM \"Sheet\"");
    s.enclose = false;
    EXPECT_EQ(selectText(s), "SELECT a\"b,mail FROM Sheet");
}

TEST(Page, ChecksInThePagesOrderWithThePagesCodes) {
    SourceSpec s;
    s.type = 4;
    const std::vector<std::string> fields{"a", "mail"};
    auto problem = validatePage(Page::kCsv, s, fields);
    ASSERT_TRUE(problem);
    EXPECT_EQ(problem->code, errorNumber(DbSendError::CsvNoFileName));
    s.source = "relative/dir";
    s.table = "x.csv";
    EXPECT_EQ(validatePage(Page::kCsv, s, fields)->code, errorNumber(DbSendError::CsvFullPath));
    s.source = "/data";
    problem = validatePage(Page::kCsv, s, fields);
    ASSERT_TRUE(problem);
    EXPECT_EQ(problem->code, errorNumber(DbSendError::NoEmailField));
    EXPECT_EQ(problem->slot, kEmail);
    s.fields[kEmail] = "mail";
    EXPECT_FALSE(validatePage(Page::kCsv, s, fields));
    s.fields[kTitle] = "gone";
    problem = validatePage(Page::kCsv, s, fields);
    EXPECT_EQ(problem->code, errorNumber(DbSendError::CsvUnknownField));
    EXPECT_EQ(problem->slot, kTitle);
    s.fields[kTitle] = "mail";
    problem = validatePage(Page::kAccess, s, fields);
    EXPECT_EQ(problem->code, errorNumber(DbSendError::DbSameField));
    EXPECT_EQ(problem->slot, kEmail);  // the second box that names it
    s.table.clear();
    EXPECT_EQ(validatePage(Page::kExcel, s, fields)->code, errorNumber(DbSendError::ExcelNoSheet));
    EXPECT_EQ(validatePage(Page::kOdbc, s, fields)->code, errorNumber(DbSendError::DbNoTable));
    s.source.clear();
    EXPECT_EQ(validatePage(Page::kOdbc, s, fields)->code, errorNumber(DbSendError::DbNoName));
}

TEST(Range, BoxesReadAsWholeRows) {
    RowRange r;
    EXPECT_EQ(parseRange("3", "7", r), 0);
    EXPECT_EQ(r.from, 3);
    EXPECT_EQ(r.to, 7);
    EXPECT_EQ(parseRange("2.9", "2.1", r), 0);  // cut to whole rows: 2 to 2
    EXPECT_EQ(r.from, 2);
    EXPECT_EQ(r.to, 2);
    EXPECT_EQ(parseRange("0", "5", r), errorNumber(DbSendError::BadStartRow));
    EXPECT_EQ(parseRange("abc", "5", r), errorNumber(DbSendError::BadStartRow));
    EXPECT_EQ(parseRange("0.5", "5", r), errorNumber(DbSendError::BadStartRow));
    EXPECT_EQ(parseRange("1", "-1", r), errorNumber(DbSendError::BadEndRow));
    EXPECT_EQ(parseRange("5", "4", r), errorNumber(DbSendError::BadRange));
    EXPECT_EQ(u8(errorTitle(8)), "ターノス - エラー  (№  8)");
    EXPECT_EQ(u8(errorTitle(802)), "ターノス - エラー  (№802)");
    EXPECT_EQ(u8(errorText(802)), "開始行・終了行の関係が不正です。");
    EXPECT_EQ(errorText(9), "");
}

TEST(MappingFileFormat, RoundTripAndTheStaleNameRule) {
    MappingFile f;
    f.sourceType = 3;
    f.dataPath = sj("/データ/顧客.xls");
    f.pageNumber = 97;
    f.table = {0, sj("顧客")};
    f.boxes[kCompany] = {1, sj("会社名")};
    f.boxes[kEmail] = {6, "E-Mail"};
    f.boxes[kFreeField1 + 9] = {12, std::string(300, 'x')};  // a long name: the 0xFF prefix
    f.honorific = sj("様");
    const std::string bytes = encodeMappingFile(f);
    // Item 1 and the start of item 2 as the archive writes them.
    EXPECT_EQ(bytes.substr(0, 5), std::string("\x03\x00\x00\x00\x10", 5));

    tarn::test::TempDir dir;
    auto path = mappingFilePath(dir.path(), f.dataPath);
    ASSERT_TRUE(path);
    EXPECT_EQ(path->filename().string(), "顧客.xls.ini");
    ASSERT_TRUE(saveMappingFile(*path, f));
    auto back = loadMappingFile(*path);
    ASSERT_TRUE(back) << back.error().message;
    EXPECT_EQ(encodeMappingFile(*back), bytes);
    EXPECT_EQ(back->boxes[kEmail].name, "E-Mail");
    EXPECT_EQ(back->boxes[kFreeField1 + 9].name.size(), 300u);

    // The boxes list "<<設定しない>>" and then the fields; a field removed
    // before "E-Mail" shifts it, and the saved index must not pick its neighbour.
    const std::vector<std::string> now{sj("<<設定しない>>"), sj("会社名"), "x", "y", "z", "E-Mail"};
    EXPECT_EQ(restoredIndex(now, back->boxes[kCompany]), 1);
    EXPECT_FALSE(restoredIndex(now, back->boxes[kEmail]));
    EXPECT_FALSE(restoredIndex(now, back->boxes[kTitle]));  // saved unselected (-1)
    EXPECT_FALSE(restoredIndex(now, {99, "E-Mail"}));

    // A damaged file is refused, never half read.
    for (std::size_t cut : {std::size_t{0}, std::size_t{3}, bytes.size() / 2, bytes.size() - 1}) {
        EXPECT_FALSE(decodeMappingFile(std::string_view(bytes).substr(0, cut))) << cut;
    }
    EXPECT_FALSE(decodeMappingFile(bytes + "x"));
    EXPECT_FALSE(mappingFilePath(dir.path(), ""));
    EXPECT_FALSE(mappingFilePath(dir.path(), "/data/.."));
}

}  // namespace
}  // namespace tarn::dbsend
