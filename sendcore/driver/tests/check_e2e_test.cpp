// Whole address checks through `tarn check`: level 1 alone, and level 2
// against dnsmasq.
#include <gtest/gtest.h>

#include <cstdlib>

#include "dnsmasq_server.h"
#include "send_fixture.h"

using namespace tarn;
using namespace tarn::test;

namespace {

std::vector<BookRow> checkRows() {
    return {
        {"一", "", "", "", "info@mxok.example.jp", "様", {}},
        {"二", "", "", "", "taro@aonly.example.jp", "様", {}},
        {"三", "", "", "", "info@mxok.example.jp", "様", {}, 4},  // duplicate of the first
        {"四", "", "", "", "INFO@mxok.example.jp", "様", {}},     // case differs: not a duplicate
        {"五", "", "", "", "no space@mxok.example.jp", "様", {}},
        {"六", "", "", "", "hanako@nowhere.example.jp", "様", {}},
        {"七", "", "", "", "info@mxok.example.jp", "様", {}, 0, 2},  // not shown in folder 1
        {"八", "", "", "", "info@mxok.example.jp", "様", {}},        // a second duplicate
    };
}

}  // namespace

TEST(Check, LevelOneMarksDuplicatesAndRuleFailuresAndLogsOkLines) {
    RunFixture fx;
    fx.writeBook(checkRows());
    fx.saveSettings();
    auto doc = fx.readBook();
    const std::string folderName = utf8(doc.folders().at(0).name);
    RunResult r = fx.tarn(
        {"check", fx.path("book.tn2").string(), "--folder", folderName, "--level", "1", "--yes"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;

    auto book = fx.readBook();
    const int expected[] = {0, 0, 1, 0, 2, 0, 0, 1};
    for (std::size_t i = 0; i < 8; ++i) {
        EXPECT_EQ(book.record(i).status(), expected[i]) << "record " << i + 1;
    }
    std::string log = maskedLog(fx.path("check.log"));
    EXPECT_EQ(log,
              "TARN01 LogText TS\n"
              "チェックデータ:[book.tn2]\n"
              "--- 検証レベル 1 開始 [TS] ---\n"
              "\"00001\",\"OK\",\"info@mxok.example.jp\"\n"
              "\"00002\",\"OK\",\"taro@aonly.example.jp\"\n"
              "\"00003\",\"NG\",\" 7:二重登録エラーです。\",\"info@mxok.example.jp\"\n"
              "\"00004\",\"OK\",\"INFO@mxok.example.jp\"\n"
              // The extractor stops at the blank: what is left has no domain.
              "\"00005\",\"NG\",\" 2:ドメイン名の長さが不正です。\",\"no space@mxok.example.jp\"\n"
              "\"00006\",\"OK\",\"hanako@nowhere.example.jp\"\n"
              "\"00008\",\"NG\",\" 7:二重登録エラーです。\",\"info@mxok.example.jp\"\n"
              "--- 検証レベル 1 完了 [OK:4件 NG:3件] [TS] ---\n\n");
}

TEST(Check, LevelTwoAsksDnsForWhatPassedLevelOne) {
    tarn::mx::test::Dnsmasq dns({"local=/jp/", "mx-host=mxok.example.jp,mail.mxok.example.jp,10",
                                 "host-record=mail.mxok.example.jp,10.0.0.1",
                                 "host-record=aonly.example.jp,10.0.0.2"});
    RunFixture fx;
    fx.writeBook(checkRows());
    fx.settings().check.CheckLogOutMode = 0;
    fx.saveSettings();
    auto env = fx.env();
    env["TARN_DNS_PORT"] = std::to_string(dns.port());
    std::vector<std::string> argv = {tarnPath(),    "check", fx.path("book.tn2").string(),
                                     "--level",     "2",     "--dns",
                                     dns.address(), "--yes"};
    RunResult r = run(argv, env);
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err << dns.output();

    auto book = fx.readBook();
    // Every record is shown (no folder chosen): the seventh is a duplicate now.
    const int expected[] = {0, 0, 1, 0, 2, 3, 1, 1};
    for (std::size_t i = 0; i < 8; ++i) {
        EXPECT_EQ(book.record(i).status(), expected[i]) << "record " << i + 1;
    }
    std::string log = maskedLog(fx.path("check.log"));
    const std::string level2 =
        "--- 検証レベル 1 完了 [OK:4件 NG:4件] [TS] ---\n\n"
        "--- 検証レベル 2 開始 [TS] ---\n"
        "\"00001\",\"OK\",\"info@mxok.example.jp\"\n"
        "\"00002\",\"OK\",\"taro@aonly.example.jp\"\n"
        "\"00004\",\"OK\",\"INFO@mxok.example.jp\"\n"
        "\"00006\",\"NG\",\"-3:ホストに関する情報が見つかりません。\",\"hanako@nowhere.example."
        "jp\"\n"
        "--- 検証レベル 2 完了 [OK:3件 NG:5件] [TS] ---\n\n";
    ASSERT_GE(log.size(), level2.size()) << log;
    EXPECT_EQ(log.substr(log.size() - level2.size()), level2) << log;
    // With level 2 to come, level 1 writes no OK lines.
    EXPECT_EQ(
        log.find("\"00001\",\"OK\""),
        log.find("--- 検証レベル 2 開始") + std::string("--- 検証レベル 2 開始 [TS] ---\n").size());

    // Level 2 without a DNS server address is refused before anything is touched.
    fx.settings().check.DNSAddress = 0;
    fx.settings().check.CheckMode = 1;
    fx.saveSettings();
    RunResult noDns = fx.tarn({"check", fx.path("book.tn2").string(), "--yes"});
    EXPECT_EQ(noDns.exitCode, 1);
    EXPECT_NE(noDns.err.find("(№505)\nDNSアドレスエラー。"), std::string::npos) << noDns.err;
}
