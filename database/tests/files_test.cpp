// The file sources against the shared sample files: Access through mdbtools,
// Excel through FreeXL, CSV through our reader.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>

#include "db_helpers.h"
#include "testsupport.h"

namespace tarn::db {
namespace {

using dbtest::readTable;
using dbtest::sjis;
using dbtest::tableNames;
using tarn::test::TempDir;

const std::string kData = TARN_TESTDATA;

const std::vector<std::string> kHeader = {
    "会社名",     "部署名",     "役職",       "姓",       "名",   "E-Mail", "敬称",
    "Freefield1", "Freefield2", "Freefield3", "会員番号", "金額", "登録日"};

std::string longJa() {
    return "【ご案内】平素より格別のご高配を賜り厚く御礼申し上げます。この度弊社では新製品発表会を"
           "開催す"
           "る運びとなりました。ご多忙中とは存じますが万障お繰り合わせの上ご来場くださいますようお"
           "願い申"
           "し上げます。会場：東京国際展示場　日時：六月十五日午後一時。駐車場には限りがありますの"
           "で公共交"
           "通機関をご利用下さい。";
}

std::string longAscii() {
    std::string s =
        "https://www.example.jp/campaign/2024/summer?utm_source=mail&utm_medium=bulk&id=";
    while (s.size() < 300) {
        s += "0123456789";
    }
    s.resize(300);
    return s;
}

// The twelve rows as text, identical for every CSV and Excel file.
std::vector<std::vector<std::string>> expectedRows() {
    return {
        {"株式会社みどり商事", "営業部", "部長", "佐藤", "一郎",
         "ichiro.sato@midori-shoji.example.co.jp", "様", "東京都港区芝公園4-2-8", "ゴールド会員",
         "", "1001", "125000.5", "2023/04/01"},
        {"青葉電機株式会社", "技術開発部", "課長", "鈴木", "花子",
         "hanako.suzuki@aoba-denki.example.jp", "様", "宮城県仙台市青葉区本町2-1-1", "シルバー会員",
         "展示会で名刺交換", "1002", "12.5", "2023/05/15"},
        {"株式会社山﨑精機", "品質保証部", "係長", "髙橋", "健太",
         "kenta.takahashi@yamasaki-seiki.example.co.jp", "様", "静岡県浜松市中区元城町103-2", "",
         "", "1003", "12", "2023/06/30"},
        {"㈱ひかり通信", "第Ⅱ営業部", "主任", "中村", "優子",
         "yuko.nakamura@hikari-tsushin.example.jp", "様", "①資料送付済み", "②訪問予定", "", "1004",
         "0.25", "2023/07/07"},
        {"ｻｸﾗﾄﾚｰﾃﾞｨﾝｸﾞ(ｶ)", "ｿｳﾑﾌﾞ", "", "ﾔﾏﾀﾞ", "ﾀﾛｳ", "taro.yamada@sakura-trading.example.com",
         "様", "ｶﾅｶﾞﾜｹﾝ ﾖｺﾊﾏｼ", "", "", "1005", "3980", "2023/08/21"},
        {"株式会社つばさ物流", "総務部", "", "", "", "info@tsubasa-butsuryu.example.co.jp", "御中",
         "", "法人窓口", "", "1006", "1234567.89", "2023/09/01"},
        {"", "", "", "田中", "美咲", "misaki.tanaka@example.com", "様", "個人会員", "", "", "1007",
         "", ""},
        {"株式会社はるかぜ企画", "企画部", "主任", "伊藤", "誠", "", "様", "メールアドレス未登録",
         "", "", "1008", "-300.75", "2023/10/10"},
        {"株式会社なにわ食品", "営業本部", "本部長", "小林", "大輔",
         "daisuke.kobayashi@naniwa-foods.example.co.jp", "様",
         "大阪府大阪市北区梅田1-2-3\n梅田スカイタワー12F", "", "", "1009", "98000", "2023/11/30"},
        {"ABC Holdings, Inc.", "Japan Office", "Manager", "加藤", "ジョン",
         "john.kato@abc-holdings.example.com", "様", "", "\"至急\",折り返し連絡", "", "1010",
         "5500.5", "2024/01/09"},
        {"北斗システム株式会社", "マーケティング部", "課長代理", "渡辺", "由美",
         "yumi.watanabe@hokuto-system.example.jp", "様", "", "", longJa(), "1011", "20000",
         "2024/02/29"},
        {"学校法人さくら学園", "事務局", "教授", "山本", "浩",
         "hiroshi.yamamoto@sakura-gakuen.invalid", "先生", "", "", longAscii(), "1012", "7777.77",
         "2024/03/31"},
    };
}

void expectRecipientTable(const dbtest::Table& t) {
    EXPECT_EQ(t.names, kHeader);
    auto expected = expectedRows();
    ASSERT_EQ(t.rows.size(), expected.size());
    for (std::size_t r = 0; r < expected.size(); ++r) {
        EXPECT_EQ(t.rows[r], expected[r]) << "row " << r + 1;
    }
    EXPECT_TRUE(t.errors.empty());
}

// ---------------------------------------------------------------------------
// CSV

TEST(TextSource, ReadsEachEncodingOfTheRecipientTable) {
    DbConnection c;
    ASSERT_TRUE(c.Open(kText, sjis(kData + "/csv"))) << c.LastError().message;
    auto names = tableNames(c);
    EXPECT_EQ(names, (std::vector<std::string>{"recipients_sjis.csv", "recipients_utf8.csv",
                                               "recipients_utf8bom.csv"}));
    for (int i = 0; i < c.TableCount(); ++i) {
        EXPECT_EQ(c.TableType(i).value_or(""), "TABLE");
    }
    for (const auto& file : names) {
        SCOPED_TRACE(file);
        expectRecipientTable(readTable(c, "SELECT * FROM `" + file + "`"));
    }
}

TEST(TextSource, KeepsTheBytesOfExtensionCharactersAndCountsBytes) {
    DbConnection c;
    ASSERT_TRUE(c.Open(kText, sjis(kData + "/csv")));
    for (const char* file : {"recipients_sjis.csv", "recipients_utf8bom.csv"}) {
        DbRecordset rs;
        ASSERT_TRUE(
            rs.Open(c, sjis(std::string("SELECT `姓`,`会社名`,`Freefield3` FROM `") + file + "`")))
            << rs.LastError().message;
        ASSERT_TRUE(rs.Move(2));
        rs.SelectField(0);
        EXPECT_EQ(rs.FieldText().value_or(""), "\xFB\xFC\x8B\xB4");  // 髙橋 as Windows writes it
        rs.SelectField(1);
        EXPECT_NE(rs.FieldText().value_or("").find("\xFA\xB1"), std::string::npos);  // 﨑
        ASSERT_TRUE(rs.Move(8));
        rs.SelectField(2);
        auto text = rs.FieldText();
        ASSERT_TRUE(text);
        EXPECT_EQ(text->size(), 300u);
        EXPECT_EQ(static_cast<unsigned char>((*text)[254]), 0x8C);  // 限 starts at byte 255
    }
}

TEST(TextSource, SelectsColumnsInQueryOrderIgnoringCase) {
    DbConnection c;
    ASSERT_TRUE(c.Open(kText, sjis(kData + "/csv")));
    auto t = readTable(c, "SELECT `e-mail`,`会員番号`,`E-Mail` FROM `RECIPIENTS_SJIS.CSV`");
    ASSERT_EQ(t.rows.size(), 12u);
    EXPECT_EQ(t.names, (std::vector<std::string>{"E-Mail", "会員番号", "E-Mail"}));
    EXPECT_EQ(t.rows[1], (std::vector<std::string>{"hanako.suzuki@aoba-denki.example.jp", "1002",
                                                   "hanako.suzuki@aoba-denki.example.jp"}));
}

TEST(TextSource, FieldTextAnswersOnlyForStringsAndNullsAreEmpty) {
    DbConnection c;
    ASSERT_TRUE(c.Open(kText, sjis(kData + "/csv")));
    DbRecordset rs;
    ASSERT_TRUE(rs.Open(c, sjis("SELECT `会社名`,`金額` FROM `recipients_sjis.csv`")));
    ASSERT_TRUE(rs.Move(6));  // row 7: no company, no amount
    ASSERT_TRUE(rs.SelectField(0));
    EXPECT_TRUE(isNull(rs.FieldValue()));
    EXPECT_FALSE(rs.FieldText());
    EXPECT_EQ(rs.FieldAsText().value(), "");
}

TEST(TextSource, RefusesBadTablesAndFilesWithReasons) {
    TempDir dir;
    tarn::test::writeFile(dir / "open.csv", "a,b\r\n1,\"never closed\r\n");
    tarn::test::writeFile(dir / "big.csv", "a\r\n\"" + std::string(10u << 20, 'x') + "\"\r\n");
    tarn::test::writeFile(dir / "fine.csv", "a,b\r\n1,2\r\n");
    DbConnection c;
    ASSERT_TRUE(c.Open(kText, dir.path().string()));
    DbRecordset rs;
    EXPECT_FALSE(rs.Open(c, "SELECT * FROM `open.csv`"));
    EXPECT_NE(rs.LastError().message.find("never closed"), std::string::npos)
        << rs.LastError().message;
    EXPECT_FALSE(rs.Open(c, "SELECT * FROM `big.csv`"));
    EXPECT_NE(rs.LastError().message.find("longer than"), std::string::npos);
    EXPECT_FALSE(rs.Open(c, "SELECT * FROM `missing.csv`"));
    EXPECT_FALSE(rs.Open(c, "SELECT * FROM `../" + dir.path().filename().string() + "/fine.csv`"));
    EXPECT_NE(rs.LastError().message.find("not a file name"), std::string::npos);
    EXPECT_FALSE(rs.Open(c, "SELECT `c` FROM `fine.csv`"));
    EXPECT_NE(rs.LastError().message.find("no field named \"c\""), std::string::npos);
    EXPECT_FALSE(rs.Open(c, "SELECT * FROM `fine.csv` WHERE a=1"));
    EXPECT_TRUE(rs.Open(c, "fine.csv"));
    EXPECT_FALSE(rs.IsOpen() && rs.Open(c, "fine.csv"));  // already open

    DbConnection missing;
    EXPECT_FALSE(missing.Open(kText, (dir / "nowhere").string()));
    EXPECT_FALSE(missing.IsOpen());
}

TEST(TextSource, ReportsCharactersShiftJisCannotHold) {
    TempDir dir;
    tarn::test::writeFile(dir / "u.csv", "\xEF\xBB\xBFname\r\nM\xC3\xBCller\r\n");
    DbConnection c;
    ASSERT_TRUE(c.Open(kText, dir.path().string()));
    auto t = readTable(c, "SELECT * FROM `u.csv`");
    ASSERT_EQ(t.errors.size(), 1u);
    EXPECT_NE(t.errors[0].find("U+00FC"), std::string::npos) << t.errors[0];
    EXPECT_NE(t.errors[0].find("row 1, field \"name\""), std::string::npos) << t.errors[0];
}

TEST(TextSource, AnExplicitEncodingOverridesDetection) {
    TempDir dir;
    // "名" in UTF-8 without a BOM is valid UTF-8; read as Shift_JIS it is not "名".
    tarn::test::writeFile(dir / "n.csv", "\xE5\x90\x8D\r\nx\r\n");
    DbConnection automatic;
    ASSERT_TRUE(automatic.Open(kText, dir.path().string()));
    EXPECT_EQ(readTable(automatic, "n.csv").names, (std::vector<std::string>{"名"}));
    DbConnection forced;
    forced.SetCsvEncoding(CsvEncoding::ShiftJis);
    ASSERT_TRUE(forced.Open(kText, dir.path().string()));
    DbRecordset rs;
    ASSERT_TRUE(rs.Open(forced, "n.csv"));
    rs.SelectField(0);
    EXPECT_EQ(rs.FieldName().value_or(""), "\xE5\x90\x8D");
}

// ---------------------------------------------------------------------------
// Navigation (the same for every source; a CSV table is the quickest)

TEST(Recordset, MovesAndReportsBothEnds) {
    TempDir dir;
    tarn::test::writeFile(dir / "t.csv", "n\r\n1\r\n2\r\n3\r\n");
    tarn::test::writeFile(dir / "empty.csv", "n\r\n");
    DbConnection c;
    ASSERT_TRUE(c.Open(kText, dir.path().string()));
    DbRecordset rs;
    ASSERT_TRUE(rs.Open(c, "t.csv"));
    ASSERT_TRUE(rs.SelectField(0));
    auto current = [&] { return rs.FieldAsText().value(); };
    EXPECT_FALSE(rs.AtStart());
    EXPECT_EQ(current(), "1");
    EXPECT_TRUE(rs.MoveLast());
    EXPECT_EQ(current(), "3");
    EXPECT_TRUE(rs.MoveNext());
    EXPECT_TRUE(rs.AtEnd());
    EXPECT_EQ(current(), "");
    EXPECT_FALSE(rs.MoveNext());
    EXPECT_TRUE(rs.MovePrevious());
    EXPECT_EQ(current(), "3");
    EXPECT_TRUE(rs.MoveFirst());
    EXPECT_TRUE(rs.MovePrevious());
    EXPECT_TRUE(rs.AtStart());
    EXPECT_FALSE(rs.MovePrevious());
    EXPECT_TRUE(rs.MoveFirst());
    EXPECT_TRUE(rs.Move(2));
    EXPECT_EQ(current(), "3");
    // A start row beyond the end is a failed move, as a partial send reports it.
    EXPECT_TRUE(rs.MoveFirst());
    EXPECT_FALSE(rs.Move(3));
    EXPECT_TRUE(rs.AtEnd());
    EXPECT_FALSE(rs.SelectField(1));
    EXPECT_TRUE(rs.Supports(CursorOption::MovePrevious));
    EXPECT_FALSE(rs.Supports(CursorOption::AddNew));
    EXPECT_FALSE(rs.AddNew());
    EXPECT_FALSE(rs.Update(0, DbAnsiString{"x"}));
    EXPECT_FALSE(rs.Delete());
    EXPECT_TRUE(rs.Close());
    EXPECT_FALSE(rs.MoveFirst());

    ASSERT_TRUE(rs.Open(c, "empty.csv"));
    EXPECT_EQ(rs.FieldCount(), 1);
    EXPECT_TRUE(rs.AtStart());
    EXPECT_TRUE(rs.AtEnd());
    EXPECT_FALSE(rs.MoveLast());
}

TEST(Connection, OpenTwiceFailsAndKeepsTheFirst) {
    DbConnection c;
    ASSERT_TRUE(c.Open(kText, sjis(kData + "/csv")));
    EXPECT_FALSE(c.Open(kAccess, sjis(kData + "/mdb/nwind.mdb")));
    EXPECT_TRUE(c.IsOpen());
    EXPECT_EQ(c.Type(), kText);
    EXPECT_EQ(c.TableCount(), 3);
    EXPECT_FALSE(c.TableName(3));
    EXPECT_FALSE(c.TableName(-1));
    // A record set keeps what it read after its connection is closed.
    DbRecordset rs;
    ASSERT_TRUE(rs.Open(c, "recipients_sjis.csv"));
    EXPECT_TRUE(c.Close());
    EXPECT_EQ(c.TableCount(), 0);
    EXPECT_TRUE(rs.MoveLast());
    EXPECT_FALSE(c.Close());
}

TEST(Connection, RefusesExchangeAndUnknownTypes) {
    DbConnection c;
    EXPECT_FALSE(c.Open(kExchange, "x"));
    EXPECT_NE(c.LastError().message.find("Exchange"), std::string::npos);
    EXPECT_FALSE(c.Open(6, "x"));
    EXPECT_FALSE(c.Open(-1, "x"));
    EXPECT_FALSE(c.IsOpen());
}

// ---------------------------------------------------------------------------
// Excel

class ExcelSource : public ::testing::TestWithParam<std::pair<int, const char*>> {};

TEST_P(ExcelSource, ReadsTheRecipientSheetAndTheEmptySheet) {
    DbConnection c;
    ASSERT_TRUE(c.Open(GetParam().first, sjis(kData + "/xls/" + GetParam().second)))
        << c.LastError().message;
    EXPECT_EQ(tableNames(c), (std::vector<std::string>{"顧客$", "Sheet2$"}));
    expectRecipientTable(readTable(c, "SELECT * FROM `顧客$`"));

    DbRecordset rs;
    ASSERT_TRUE(rs.Open(c, sjis("SELECT `会員番号`,`金額`,`登録日` FROM `顧客$`")));
    ASSERT_TRUE(rs.Move(1));
    rs.SelectField(0);
    EXPECT_TRUE(std::holds_alternative<std::int32_t>(rs.FieldValue()));
    EXPECT_FALSE(rs.FieldText());  // a number, not a string
    rs.SelectField(2);
    EXPECT_TRUE(std::holds_alternative<DbDate>(rs.FieldValue()));
    rs.Close();

    ASSERT_TRUE(rs.Open(c, "SELECT * FROM `Sheet2$`"));
    EXPECT_EQ(rs.FieldCount(), 0);
    EXPECT_TRUE(rs.AtEnd());
    rs.Close();
    EXPECT_FALSE(rs.Open(c, "SELECT * FROM `Sheet9$`"));
    EXPECT_NE(rs.LastError().message.find("no sheet named \"Sheet9\""), std::string::npos);
    EXPECT_FALSE(rs.Open(c, "SELECT * FROM `Sheet2`"));  // sheets end in "$"
}

INSTANTIATE_TEST_SUITE_P(BothGenerations, ExcelSource,
                         ::testing::Values(std::make_pair(int{kExcel97}, "recipients97.xls"),
                                           std::make_pair(int{kExcel95}, "recipients95.xls")));

// ---------------------------------------------------------------------------
// Access

TEST(AccessSource, ListsUserAndSystemTablesOfNorthwind) {
    DbConnection c;
    ASSERT_TRUE(c.Open(kAccess, sjis(kData + "/mdb/nwind.mdb"))) << c.LastError().message;
    std::vector<std::string> user;
    int system = 0;
    for (int i = 0; i < c.TableCount(); ++i) {
        if (c.TableType(i) == "TABLE") {
            user.push_back(*c.TableNameUtf8(i));
        } else if (c.TableType(i) == "SYSTEM TABLE") {
            ++system;
        }
    }
    std::sort(user.begin(), user.end());
    // A Jet 3 file is read as CP932: ASCII is unchanged, but this German file's
    // "ä" (E4) and the "t" after it are one CP932 character.
    EXPECT_EQ(user,
              (std::vector<std::string>{"Categories", "Customers", "Employees", "Order Details",
                                        "Orders", "Products", "Shippers", "Suppliers", "Ums舩ze"}));
    EXPECT_GE(system, 5);
}

TEST(AccessSource, Jet3TextIsCp932UnlessTheEnvironmentSaysOtherwise) {
    // nwind.mdb with one company name overwritten by Shift_JIS bytes of the same
    // length: Jet 3 keeps text as the writer's code page bytes.
    TempDir dir;
    std::string bytes = tarn::test::readFile(kData + "/mdb/nwind.mdb");
    const std::string latin = "Alfreds Futterkiste";
    const std::string japanese = sjis("株式会社山﨑精機ABC");
    ASSERT_EQ(latin.size(), japanese.size());
    int replaced = 0;
    for (auto at = bytes.find(latin); at != std::string::npos; at = bytes.find(latin, at)) {
        bytes.replace(at, latin.size(), japanese);
        ++replaced;
    }
    ASSERT_GT(replaced, 0);
    tarn::test::writeFile(dir / "jp.mdb", bytes);

    auto firstCustomer = [&] {
        DbConnection c;
        EXPECT_TRUE(c.Open(kAccess, (dir / "jp.mdb").string())) << c.LastError().message;
        auto t = readTable(c, "SELECT `CustomerID`,`CompanyName` FROM `Customers`");
        return t.rows.empty() ? std::vector<std::string>{} : t.rows[0];
    };
    EXPECT_EQ(firstCustomer(), (std::vector<std::string>{"ALFKI", "株式会社山﨑精機ABC"}));

    // An explicit choice is kept, for a Western file.
    setenv("MDB_JET3_CHARSET", "CP1252", 1);
    auto western = firstCustomer();
    DbConnection c;
    EXPECT_TRUE(c.Open(kAccess, sjis(kData + "/mdb/nwind.mdb")));
    const auto names = tableNames(c);
    unsetenv("MDB_JET3_CHARSET");
    EXPECT_NE(western.at(1), "株式会社山﨑精機ABC");
    EXPECT_NE(std::find(names.begin(), names.end(), "Umsätze"), names.end());
}

TEST(AccessSource, ReadsTextNullsCurrencyAndBooleans) {
    DbConnection c;
    ASSERT_TRUE(c.Open(kAccess, sjis(kData + "/mdb/nwind.mdb")));
    auto customers = readTable(c, "SELECT * FROM `Customers`");
    ASSERT_EQ(customers.rows.size(), 91u);
    EXPECT_EQ(customers.names.at(1), "CompanyName");
    EXPECT_EQ(customers.rows[0],
              (std::vector<std::string>{"ALFKI", "Alfreds Futterkiste", "Maria Anders",
                                        "Sales Representative", "Obere Str. 57", "Berlin", "",
                                        "12209", "Germany", "030-0074321", "030-0076545"}));

    DbRecordset rs;
    ASSERT_TRUE(rs.Open(c, "SELECT `ProductID`,`UnitPrice`,`Discontinued` FROM `Products`"));
    std::map<std::string, std::pair<std::string, std::string>> byId;
    while (!rs.AtEnd()) {
        rs.SelectField(0);
        std::string id = rs.FieldAsText().value();
        rs.SelectField(1);
        EXPECT_TRUE(std::holds_alternative<DbCurrency>(rs.FieldValue()));
        std::string price = rs.FieldAsText().value();
        rs.SelectField(2);
        byId[id] = {price, rs.FieldAsText().value()};
        ASSERT_TRUE(rs.MoveNext());
    }
    ASSERT_EQ(byId.size(), 77u);
    EXPECT_EQ(byId["31"].first, "12.5");
    EXPECT_EQ(byId["1"].first, "18");
    EXPECT_EQ(byId["1"].second, "0");
    EXPECT_EQ(byId["5"].second, "-1");  // Chef Anton's Gumbo Mix is discontinued

    auto orders = readTable(c, "SELECT `ShippedDate` FROM `Orders`");
    ASSERT_EQ(orders.rows.size(), 830u);
    EXPECT_EQ(std::count(orders.rows.begin(), orders.rows.end(), std::vector<std::string>{""}), 21);
    EXPECT_EQ(readTable(c, "SELECT * FROM `Order Details`").rows.size(), 2155u);
}

TEST(AccessSource, ConvertsDatesLibmdbCannotFormat) {
    DbConnection c;
    ASSERT_TRUE(c.Open(kAccess, sjis(kData + "/mdb/DateTestDatabase.mdb")))
        << c.LastError().message;
    auto t = readTable(
        c, "SELECT `IDCol`,`DateTimeCol`,`DateCol`,`TimeCol`,`ShortTextCol` FROM `DateTest`");
    ASSERT_EQ(t.rows.size(), 6u);
    EXPECT_EQ(t.rows[0],
              (std::vector<std::string>{"1", "2021/12/02", "2021/12/02", "2021/12/02", "Hello"}));
    EXPECT_EQ(t.rows[1], (std::vector<std::string>{"2", "9999/01/01", "9999/01/01", "9999/01/01",
                                                   "Year 1999"}));
    EXPECT_EQ(t.rows[2], (std::vector<std::string>{"3", "1898/01/01", "1899/01/01", "1900/01/01",
                                                   "Pre-1900 years"}));
    EXPECT_EQ(t.rows[3], (std::vector<std::string>{"4", "0632/01/01", "0633/01/01", "0634/01/01",
                                                   "Pre-1000 years"}));
    auto memo = readTable(c, "SELECT `LongTextCol` FROM `DateTest`");
    EXPECT_EQ(memo.rows.at(5).at(0), "New line\r\nin field");
}

// ---------------------------------------------------------------------------
// Damaged and missing files

TEST(FileSources, DamagedOrMissingFilesFailCleanly) {
    TempDir dir;
    std::string xls = tarn::test::readFile(kData + "/xls/recipients97.xls");
    std::string mdb = tarn::test::readFile(kData + "/mdb/DateTestDatabase.mdb");
    tarn::test::writeFile(dir / "half.xls", xls.substr(0, xls.size() / 2));
    tarn::test::writeFile(dir / "text.xls", "not a workbook at all\r\n");
    tarn::test::writeFile(dir / "half.mdb", mdb.substr(0, 4096));
    tarn::test::writeFile(dir / "text.mdb", std::string(8192, 'x'));
    tarn::test::writeFile(dir / "empty.mdb", "");
    for (const auto& [type, name] :
         std::vector<std::pair<int, std::string>>{{kExcel97, "half.xls"},
                                                  {kExcel97, "text.xls"},
                                                  {kExcel95, "missing.xls"},
                                                  {kAccess, "half.mdb"},
                                                  {kAccess, "text.mdb"},
                                                  {kAccess, "empty.mdb"},
                                                  {kAccess, "missing.mdb"}}) {
        DbConnection c;
        bool opened = c.Open(type, (dir / name).string());
        if (opened) {
            // A file that opens must still not crash a read; its tables may fail.
            for (int i = 0; i < c.TableCount(); ++i) {
                DbRecordset rs;
                if (auto n = c.TableName(i)) {
                    (void)rs.Open(c, "SELECT * FROM `" + *n + "`");
                }
            }
        } else {
            EXPECT_FALSE(c.LastError().message.empty()) << name;
        }
        EXPECT_FALSE(opened && name.rfind("missing", 0) == 0) << name;
    }
}

TEST(FileSources, FifosAndDevicesAreRefusedAtOnce) {
    TempDir dir;
    const auto fifo = dir / "pipe.xls";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const int type : {kExcel95, kExcel97, kAccess}) {
        for (const std::string& path : {fifo.string(), std::string("/dev/urandom")}) {
            SCOPED_TRACE(path);
            const auto start = std::chrono::steady_clock::now();
            DbConnection c;
            EXPECT_FALSE(c.Open(type, path));
            EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
            EXPECT_NE(c.LastError().message.find("not a regular file"), std::string::npos)
                << c.LastError().message;
        }
    }
}

}  // namespace
}  // namespace tarn::db
