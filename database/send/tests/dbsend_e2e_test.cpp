// Whole runs of `tarn dbsend` and `tarn dbcheck` over the repository's tables,
// against the recording SMTP server.
#include <gtest/gtest.h>

#include <filesystem>

#include "send_fixture.h"
#include "testsupport.h"

using namespace tarn;
using namespace tarn::test;

namespace {

const std::string kCsv = std::string(TARN_TESTDATA) + "/csv/recipients_sjis.csv";
const std::string kXls = std::string(TARN_TESTDATA) + "/xls/recipients97.xls";

contents::SendContents mergeMessage() {
    contents::SendContents c;
    c.subject = sj("&[会社名] &[名前]&[敬称]");
    c.body = contents::normaliseBodyLineEnds(sj("&[名前]&[敬称]\n&[Freefield1]\n"));
    return c;
}

std::vector<std::string> args(std::vector<std::string> a, const std::vector<std::string>& more) {
    a.insert(a.end(), more.begin(), more.end());
    return a;
}

class DbSend : public ::testing::Test {
protected:
    void SetUp() override {
        fx.startRecorder();
        fx.writeContents(mergeMessage());
        fx.saveSettings();
    }
    std::vector<std::string> csvSend(const std::vector<std::string>& more) const {
        return args({"dbsend", "--type", "4", "--source", kCsv, "--map", "会社名=会社名", "--map",
                     "姓=姓", "--map", "E-Mail=E-Mail", "--map", "Freefield1=Freefield1",
                     "--honorific", "様", "--contents", fx.path("message.tnm").string(), "--yes"},
                    more);
    }

    RunFixture fx;
};

TEST_F(DbSend, EveryRowMergedWithTheRowNumberInTheLog) {
    RunResult r = fx.tarn(args(csvSend({}), {"--map", "名=名"}));
    // Row 8 has no address: the engine refuses it and the run goes on; the
    // exit code and the last line say so.
    ASSERT_EQ(r.exitCode, 3) << r.out << r.err;
    EXPECT_NE(r.out.find("結果 [OK:11件 NG:1件]"), std::string::npos) << r.out;
    ASSERT_EQ(fx.recordedCount(), 11);
    Decoded first = fx.decode(1);
    EXPECT_EQ(first.subject, "株式会社みどり商事 佐藤一郎様");
    EXPECT_EQ(first.to, "ichiro.sato@midori-shoji.example.co.jp");
    EXPECT_EQ(first.body.substr(0, first.body.find("\n\n")), "佐藤一郎様\n東京都港区芝公園4-2-8");
    Decoded ninth = fx.decode(8);  // row 9: a value over two lines
    EXPECT_EQ(ninth.body.substr(0, ninth.body.find("\n\n")),
              "小林大輔様\n大阪府大阪市北区梅田1-2-3\n梅田スカイタワー12F");

    const std::string log = maskedLog(fx.path("send.log"));
    EXPECT_NE(log.find("送信データ:[" + std::string(TARN_TESTDATA) + "/csv/recipients_sjis.csv]"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("\"00007\",\"misaki.tanaka@example.com\",\"送信完了\"\n"
                       "\"00008\",\"\",\"送信失敗\""),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("\"00012\",\"hiroshi.yamamoto@sakura-gakuen.invalid\",\"送信完了\"\n"
                       "--- 送信完了 [TS] ---\n結果 [OK:11件 NG:1件]\n"),
              std::string::npos)
        << log;
}

TEST_F(DbSend, ThreeSessionsLogAndCountAsOne) {
    RunResult one = fx.tarn(args(csvSend({}), {"--map", "名=名"}));
    ASSERT_EQ(one.exitCode, 3) << one.out << one.err;
    const std::string oneLog = maskedLog(fx.path("send.log"));
    std::filesystem::remove(fx.path("send.log"));
    fx.settings().SmtpSessions = 3;
    fx.saveSettings();
    RunResult three = fx.tarn(args(csvSend({}), {"--map", "名=名"}));
    ASSERT_EQ(three.exitCode, 3) << three.out << three.err;
    EXPECT_NE(three.out.find("結果 [OK:11件 NG:1件]"), std::string::npos) << three.out;
    EXPECT_EQ(fx.recordedCount(), 22);
    EXPECT_EQ(maskedLog(fx.path("send.log")), oneLog);
}

TEST_F(DbSend, SurnameAloneAndARangeOfRows) {
    RunResult r = fx.tarn(csvSend({"--from-row", "2", "--to-row", "3"}));
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    ASSERT_EQ(fx.recordedCount(), 2);
    EXPECT_EQ(fx.decode(1).subject, "青葉電機株式会社 鈴木様");
    EXPECT_EQ(fx.decode(2).to, "kenta.takahashi@yamasaki-seiki.example.co.jp");
    const std::string log = maskedLog(fx.path("send.log"));
    EXPECT_NE(log.find("\"00002\",\"hanako.suzuki@aoba-denki.example.jp\",\"送信完了\"\n"
                       "\"00003\",\"kenta.takahashi@yamasaki-seiki.example.co.jp\",\"送信完了\"\n"
                       "--- 送信完了 [TS] ---\n"),
              std::string::npos)
        << log;
}

TEST_F(DbSend, RangeErrorsBeforeAnythingIsSent) {
    RunResult r = fx.tarn(csvSend({"--from-row", "13", "--to-row", "20"}));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("ターノス - エラー  (№  8)\nレコードの移動に失敗しました。"),
              std::string::npos)
        << r.err;
    r = fx.tarn(csvSend({"--from-row", "5", "--to-row", "4"}));
    EXPECT_NE(r.err.find("(№802)\n開始行・終了行の関係が不正です。"), std::string::npos) << r.err;
    r = fx.tarn(csvSend({"--from-row", "0", "--to-row", "4"}));
    EXPECT_NE(r.err.find("(№800)"), std::string::npos) << r.err;
    r = fx.tarn(args(csvSend({}), {"--map", "役職=無い列"}));
    EXPECT_NE(r.err.find("(№306)\n存在しないフィールド名です。 (役職: 無い列)"), std::string::npos)
        << r.err;
    r = fx.tarn(args(csvSend({}), {"--map", "役職=姓"}));
    EXPECT_NE(r.err.find("(№307)"), std::string::npos) << r.err;
    EXPECT_EQ(fx.recordedCount(), 0);
}

TEST_F(DbSend, DenyListDomainsInAnyCaseAreSkippedWithoutALogLine) {
    writeFile(fx.home() / "DenyEmailDomain.txt", "aoba-denki.example.jp\r\nexample.com\r\n");
    writeFile(fx.path("upper.csv"),
              "mail,name\r\nA@AOBA-DENKI.EXAMPLE.JP,a\r\nb@ok.example.jp,b\r\n"
              "c@Example.Com,c\r\nno-at-sign.example.com,d\r\n");
    RunResult r = fx.tarn({"dbsend", "--type", "4", "--source", fx.path("upper.csv").string(),
                           "--map", "E-Mail=mail", "--map", "姓=name", "--deny", "--contents",
                           fx.path("message.tnm").string(), "--yes"});
    // The row without an at-sign is no address: refused before the server.
    ASSERT_EQ(r.exitCode, 3) << r.out << r.err;
    EXPECT_NE(r.out.find("[x] DenyEmailDomain.txt のアドレスには送信しない。"), std::string::npos);
    ASSERT_EQ(fx.recordedCount(), 1);
    EXPECT_EQ(fx.decode(1).to, "b@ok.example.jp");
    const std::string log = maskedLog(fx.path("send.log"));
    EXPECT_EQ(log.find("AOBA"), std::string::npos);
    EXPECT_NE(log.find("\"00002\",\"b@ok.example.jp\",\"送信完了\"\n\"00004\","), std::string::npos)
        << log;
    EXPECT_NE(log.find("\"00004\",\"no-at-sign.example.com\",\"送信失敗\""), std::string::npos)
        << log;
    EXPECT_NE(log.find("結果 [OK:1件 NG:1件]"), std::string::npos) << log;
}

TEST_F(DbSend, WorkbookSheets) {
    RunResult r = fx.tarn({"dbsend",
                           "--type",
                           "3",
                           "--source",
                           kXls,
                           "--table",
                           "顧客",
                           "--map",
                           "E-Mail=E-Mail",
                           "--map",
                           "姓=姓",
                           "--honorific",
                           "御中",
                           "--from-row",
                           "2",
                           "--to-row",
                           "2",
                           "--contents",
                           fx.path("message.tnm").string(),
                           "--yes"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    ASSERT_EQ(fx.recordedCount(), 1);
    const Decoded d = fx.decode(1);
    EXPECT_EQ(d.to, "hanako.suzuki@aoba-denki.example.jp");
    EXPECT_EQ(d.body.substr(0, d.body.find('\n')), "鈴木御中");
}

TEST_F(DbSend, CheckWithRowNumbersAndNoDuplicateTest) {
    writeFile(
        fx.path("check.csv"),
        "mail\r\nsame@example.co.jp\r\nsame@example.co.jp\r\nbad@@example\r\nok@example.co.jp\r\n");
    RunResult r = fx.tarn({"dbcheck", "--type", "4", "--source", fx.path("check.csv").string(),
                           "--map", "E-Mail=mail", "--level", "1", "--yes"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    const std::string log = maskedLog(fx.path("check.log"));
    // The same address twice is no error here: a table is not an address book.
    EXPECT_NE(log.find("--- 検証レベル 1 開始 [TS] ---\n"
                       "\"00001\",\"OK\",\"same@example.co.jp\"\n"
                       "\"00002\",\"OK\",\"same@example.co.jp\"\n"
                       "\"00003\",\"NG\","),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("\"00004\",\"OK\",\"ok@example.co.jp\"\n"
                       "--- 検証レベル 1 完了[OK:3件 NG:1件] [TS] ---\n"),
              std::string::npos)
        << log;
}

}  // namespace

// The journal beside the source's mapping file: a run that did not finish is
// not started again unasked, and --resume sends to neither the rows the
// earlier run settled nor the uncertain one.
TEST_F(DbSend, AnInterruptedRunGoesOnWithoutSendingAnyoneTwice) {
    const auto journal = fx.home() / "recipients_sjis.csv.ini.journal";
    writeFile(journal,
              "TARNJOURNAL 1\n"
              "B 1 ichiro.sato@midori-shoji.example.co.jp\n"
              "A 1 ichiro.sato@midori-shoji.example.co.jp 250%20OK\n"
              "B 2 hanako.suzuki@aoba-denki.example.jp\n"
              "R 2 hanako.suzuki@aoba-denki.example.jp 550 550%20no%20such%20user\n"
              "B 3 kenta.takahashi@yamasaki-seiki.example.co.jp\n");
    RunResult r = fx.tarn(csvSend({"--from-row", "1", "--to-row", "5"}));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("前回の送信は中断されています。"), std::string::npos) << r.err;
    EXPECT_EQ(fx.recordedCount(), 0);
    ASSERT_TRUE(std::filesystem::exists(journal));

    r = fx.tarn(csvSend({"--from-row", "1", "--to-row", "5", "--resume"}));
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("送信結果不明のため送信しません: kenta.takahashi@"), std::string::npos)
        << r.out;
    ASSERT_EQ(fx.recordedCount(), 2);
    EXPECT_EQ(fx.decode(1).to, "yuko.nakamura@hikari-tsushin.example.jp");
    EXPECT_FALSE(std::filesystem::exists(journal));
}
