// `tarn db` end to end.
#include <gtest/gtest.h>

#include <map>

#include "testsupport.h"

namespace {

const std::string kData = TARN_TESTDATA;

tarn::test::RunResult tarn(const std::vector<std::string>& args,
                           const std::map<std::string, std::string>& env = {}) {
    std::vector<std::string> argv{tarn::test::tarnPath()};
    argv.insert(argv.end(), args.begin(), args.end());
    return tarn::test::run(argv, env);
}

TEST(DbCommand, ListsTables) {
    auto r = tarn({"db", "tables", "--type", "3", "--source", kData + "/xls/recipients97.xls"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "TABLE\t顧客$\nTABLE\tSheet2$\n");
}

TEST(DbCommand, PrintsRowsAsTextAndJson) {
    auto r = tarn({"db", "rows", "--type", "4", "--source", kData + "/csv", "--query",
                   "SELECT `姓`,`金額`,`Freefield1` FROM `recipients_sjis.csv`"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, r.out.find('\n', r.out.find('\n') + 1) + 1),
              "姓\t金額\tFreefield1\n佐藤\t125000.5\t東京都港区芝公園4-2-8\n");

    r = tarn({"db", "rows", "--type", "2", "--source", kData + "/xls/recipients95.xls", "--query",
              "SELECT `会員番号`,`登録日`,`Freefield1` FROM `顧客$`", "--json"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("{\"会員番号\":\"1009\",\"登録日\":\"2023/11/30\",\"Freefield1\":"
                         "\"大阪府大阪市北区梅田1-2-3\\n梅田スカイタワー12F\"}"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.front(), '[');
}

TEST(DbCommand, FailsWithReasons) {
    // Read as the Western file it is, its accented names are reported row by row.
    auto r = tarn({"db", "rows", "--type", "1", "--source", kData + "/mdb/nwind.mdb", "--query",
                   "SELECT `CompanyName` FROM `Customers`"},
                  {{"MDB_JET3_CHARSET", "CP1252"}});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("U+00E9"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("Alfreds Futterkiste\n"), std::string::npos);

    r = tarn({"db", "tables", "--type", "5", "--source", "x"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("Exchange"), std::string::npos);
    r = tarn({"db", "rows", "--type", "4", "--source", kData + "/csv"});
    EXPECT_EQ(r.exitCode, 2);
    r = tarn({"db", "tables", "--type", "x", "--source", kData});
    EXPECT_EQ(r.exitCode, 2);
    r = tarn({"db", "tables", "--type", "2", "--source", kData + "/xls/none.xls"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("none.xls"), std::string::npos) << r.err;
}

}  // namespace
