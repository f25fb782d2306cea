// `tarn book import` end to end: a book built from each kind of source and read
// back with `tarn book show --json`.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "common/file_lock.h"
#include "testsupport.h"

namespace {

namespace fs = std::filesystem;
using tarn::test::run;
using tarn::test::RunResult;
using tarn::test::tarnPath;
using tarn::test::TempDir;

const std::string kData = TARN_TESTDATA;

// The sample table's columns, as a person would type them.
std::vector<std::string> sampleMapping() {
    return {"--map",          "company=会社名", "--map", "部署=部署名",      "--map",
            "title=役職",     "--surname",      "姓",    "--given",          "名",
            "--map",          "email=E-Mail",   "--map", "free1=Freefield1", "--map",
            "free2=会員番号", "--honorific",    "様"};
}

RunResult import(const fs::path& book, std::vector<std::string> source,
                 const std::vector<std::string>& more = {},
                 const std::map<std::string, std::string>& env = {}) {
    std::vector<std::string> argv = {tarnPath(), "book", "import", book.string()};
    argv.insert(argv.end(), source.begin(), source.end());
    argv.insert(argv.end(), more.begin(), more.end());
    return run(argv, env);
}

std::string showJson(const fs::path& book) {
    auto r = run({tarnPath(), "book", "show", book.string(), "--json"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return r.out;
}

std::size_t count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += what.size()) {
        ++n;
    }
    return n;
}

std::vector<std::string> with(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(BookImport, EachSampleSourceIntoANewBook) {
    TempDir dir;
    const auto withMapping = [](std::vector<std::string> more) {
        return with(sampleMapping(), more);
    };
    struct Case {
        std::string name;
        std::vector<std::string> source;
        std::size_t records;
    };
    const std::vector<Case> cases = {
        {"csv-sjis", {"--type", "4", "--source", kData + "/csv/recipients_sjis.csv"}, 11},
        {"csv-folder",
         {"--type", "4", "--source", kData + "/csv", "--table", "recipients_utf8bom.csv"},
         11},
        {"xls95",
         {"--type", "2", "--source", kData + "/xls/recipients95.xls", "--table", "顧客"},
         11},
        {"xls97",
         {"--type", "3", "--source", kData + "/xls/recipients97.xls", "--table", "顧客$"},
         11},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto book = dir / (c.name + ".tn2");
        auto r = import(book, c.source, withMapping({"--where", "email", "--folder", "フォルダ2"}));
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_NE(r.out.find("11 件をインポートしました (読んだ行 12、除外 1、"), std::string::npos)
            << r.out;
        EXPECT_NE(r.err.find("除外 8行目: E-Mailが入っていないため除外しました。"),
                  std::string::npos)
            << r.err;
        const std::string json = showJson(book);
        EXPECT_EQ(count(json, "\"folder\":2,"), c.records);
        EXPECT_NE(
            json.find(R"J({"folder":2,"company":"株式会社山﨑精機","department":"品質保証部",)J"
                      R"J("title":"係長","name":"髙橋健太",)J"
                      R"J("email":"kenta.takahashi@yamasaki-seiki.example.co.jp",)J"
                      R"J("honorific":"様","free":["静岡県浜松市中区元城町103-2","1003",)J"),
            std::string::npos)
            << json;
        // A new book has the new-document folders and groups.
        EXPECT_NE(json.find(R"J("groups":[{"name":"グループ1","icon":7,"members":[]})J"),
                  std::string::npos);
    }
}

TEST(BookImport, AccessVcardOdbcAndXlsx) {
    TempDir dir;
    // Access: a Western file (CP1252 text); rows with letters Shift_JIS lacks are
    // listed, and the command says some rows could not be imported.
    auto r = import(dir / "nw.tn2",
                    {"--type", "1", "--source", kData + "/mdb/nwind.mdb", "--table", "Customers",
                     "--map", "company=CompanyName", "--map", "name=ContactName", "--map",
                     "email=CustomerID", "--map", "free1=Address", "--map", "free2=City"},
                    {}, {{"MDB_JET3_CHARSET", "CP1252"}});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(
        r.out.find("51 件をインポートしました (読んだ行 91、除外 0、インポートできなかった行 40)"),
        std::string::npos)
        << r.out;
    EXPECT_NE(r.err.find("インポートできません 5行目: 会社名: "), std::string::npos) << r.err;
    EXPECT_EQ(count(r.err, "インポートできません "), 40u);
    EXPECT_EQ(count(showJson(dir / "nw.tn2"), "\"status\":0"), 51u);

    // vCard: the whole book, then one group appended to the same book.
    const auto vbook = dir / "v.tn2";
    const std::vector<std::string> vmap = {"--map", "company=会社名", "--map",   "name=表示名",
                                           "--map", "email=E-Mail",   "--where", "email"};
    r = import(vbook, {"--type", "vcard", "--source", kData + "/vcf/contacts.vcf"}, vmap);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("10 件をインポートしました"), std::string::npos) << r.out;
    r = import(vbook,
               {"--type", "vcard", "--source", kData + "/vcf/folders", "--table", "folder:staff"},
               vmap);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::string json = showJson(vbook);
    EXPECT_EQ(count(json, "\"status\":0"), 12u);
    EXPECT_NE(json.find(R"J("name":"松本 亮","email":"ryo.matsumoto@aozora-kikaku.example.jp")J"),
              std::string::npos);

    // ODBC: an SQLite database through unixODBC's SQLite driver.
    const auto db = dir / "people.db";
    auto made = run({TARN_TEST_PYTHON, "-c",
                     "import sqlite3,sys\n"
                     "c=sqlite3.connect(sys.argv[1])\n"
                     "c.execute('CREATE TABLE people (社名 TEXT, 氏名 TEXT, mail TEXT)')\n"
                     "c.executemany('INSERT INTO people VALUES (?,?,?)',"
                     "[('株式会社みどり商事','佐藤','sato@example.jp'),(None,'鈴木',None)])\n"
                     "c.commit()\n",
                     db.string()});
    ASSERT_EQ(made.exitCode, 0) << made.err;
    const std::string driver = "/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so";
    ASSERT_TRUE(fs::exists(driver)) << "the SQLite ODBC driver (libsqliteodbc) is not installed";
    r = import(
        dir / "o.tn2",
        {"--type", "0", "--source", "DRIVER=" + driver + ";Database=" + db.string() + ";",
         "--table", "people"},
        {"--map", "company=社名", "--map", "name=氏名", "--map", "email=mail", "--where", "email"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    json = showJson(dir / "o.tn2");
    EXPECT_NE(
        json.find(R"J("company":"株式会社みどり商事","department":"","title":"","name":"佐藤")J"),
        std::string::npos)
        << json;
    EXPECT_EQ(count(json, "\"status\":0"), 1u);

    // .xlsx from another independent writer, with dates and numbers.
    const auto xlsx = dir / "list.xlsx";
    made =
        run({TARN_TEST_PYTHON, "-c",
             "import openpyxl,datetime,sys\n"
             "wb=openpyxl.Workbook(); ws=wb.active; ws.title='名簿'\n"
             "ws.append(['会社名','E-Mail','番号','登録日'])\n"
             "ws.append(['青葉電機株式会社','hanako@example.jp',1002,datetime.date(2024,2,29)])\n"
             "ws.append(['ｻｸﾗﾄﾚｰﾃﾞｨﾝｸﾞ(ｶ)','taro@example.jp',12.5,None])\n"
             "ws['D2'].number_format='yyyy/mm/dd'\n"
             "wb.save(sys.argv[1])\n",
             xlsx.string()});
    ASSERT_EQ(made.exitCode, 0) << made.err;
    r = import(dir / "x.tn2", {"--type", "3", "--source", xlsx.string(), "--table", "名簿"},
               {"--map", "company=会社名", "--map", "email=E-Mail", "--map", "free1=番号", "--map",
                "free2=登録日"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    json = showJson(dir / "x.tn2");
    EXPECT_NE(
        json.find(R"J("email":"hanako@example.jp","honorific":"","free":["1002","2024/02/29",)J"),
        std::string::npos)
        << json;
    EXPECT_NE(json.find(R"J("company":"ｻｸﾗﾄﾚｰﾃﾞｨﾝｸﾞ(ｶ)")J"), std::string::npos);
    EXPECT_NE(json.find(R"J("free":["12.5","",)J"), std::string::npos);
}

TEST(BookImport, DeleteFirstFailuresAndUsage) {
    TempDir dir;
    const auto book = dir / "b.tn2";
    const std::vector<std::string> csv = {"--type", "4", "--source",
                                          kData + "/csv/recipients_sjis.csv"};
    ASSERT_EQ(import(book, csv, sampleMapping()).exitCode, 0);
    ASSERT_EQ(import(book, csv, sampleMapping()).exitCode, 0);
    EXPECT_EQ(count(showJson(book), "\"status\":0"), 24u);  // conditions off: every row, twice
    auto r = import(book, csv, with(sampleMapping(), {"--delete-first", "--where", "email"}));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("先に削除したレコード 24"), std::string::npos) << r.out;
    EXPECT_EQ(count(showJson(book), "\"status\":0"), 11u);

    // A source that cannot be opened changes nothing and makes no book.
    r = import(dir / "none.tn2",
               {"--type", "1", "--source", dir.path().string() + "/x.mdb", "--table", "t"},
               sampleMapping());
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("インポートに失敗しました。"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir / "none.tn2"));

    // While a send or a check holds the book, an import refuses and leaves it as it is.
    {
        const tarn::FileLock sending = tarn::FileLock::tryLock(book);
        ASSERT_TRUE(sending.held()) << sending.message();
        r = import(book, csv, sampleMapping());
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_NE(r.err.find("は別の送信、チェックまたはインポートが使用中です"), std::string::npos)
            << r.err;
    }
    EXPECT_EQ(count(showJson(book), "\"status\":0"), 11u);

    EXPECT_EQ(import(book, csv, {"--map", "colour=x"}).exitCode, 2);
    EXPECT_EQ(import(book, {"--type", "9", "--source", "x"}).exitCode, 2);
    EXPECT_EQ(import(book, csv, {"--map", "email=E-Mail", "--folder", "どこにもない"}).exitCode, 1);
}

// The 100,000-row sample: the book holds 99,999 records, so the last row is
// listed as not imported. The time is printed for the record of this run.
TEST(BookImport, HundredThousandRows) {
    TempDir dir;
    const auto book = dir / "big.tn2";
    const auto start = std::chrono::steady_clock::now();
    auto r = import(book, {"--type", "4", "--source", kData + "/big/recipients_100k.csv"},
                    with(sampleMapping(), {"--where", "email", "--where", "name"}));
    const auto seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("tarn book import of 100,000 rows: %.2f s\n", seconds);
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.out.find("99999 件をインポートしました (読んだ行 100000、除外 0、"
                         "インポートできなかった行 1)"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.err.find("100000行目から100000行目までの1件"), std::string::npos) << r.err;
    const std::string json = showJson(book);
    EXPECT_EQ(count(json, "\"status\":0"), 99999u);
    EXPECT_NE(json.find("naoki.kobayashi.01@d00001.example.test"), std::string::npos);
    EXPECT_EQ(json.find("daisuke.saito.50@d02000.example.test"), std::string::npos);
}

}  // namespace
