// Whole sends through `tarn send` against the recording SMTP server.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "send_fixture.h"
#include "sendcore/send_log.h"

using namespace tarn;
using namespace tarn::test;

namespace {

// Five recipients: one already marked 妥当性エラー (not eligible), one the
// server refuses, one 御中, one the script skips (empty output).
std::vector<BookRow> fiveRows() {
    return {
        {"株式会社みどり商事",
         "営業部",
         "部長",
         "佐藤 一郎",
         "佐藤 一郎 <ichiro@midori.example.co.jp>",
         "様",
         {"ゴールド会員"}},
        {"無効商会", "", "", "無効", "not-an-address", "様", {}, 2},
        {"青葉電機株式会社", "", "", "鈴木 花子", "refused@aoba.example.jp", "様", {}},
        {"株式会社つばさ物流",
         "総務部",
         "",
         "",
         "info@tsubasa.example.co.jp",
         "御中",
         {"法人窓口"}},
        {"ｻｸﾗﾄﾚｰﾃﾞｨﾝｸﾞ", "", "", "ﾔﾏﾀﾞ", "yamada@sakura.example.com", "様", {"", "skip"}},
    };
}

contents::SendContents scriptedMessage(const std::filesystem::path& attachment) {
    contents::SendContents c;
    c.subject = sj("&[会社名] &[名前]&[敬称]へのご案内");
    c.body =
        contents::normaliseBodyLineEnds(sj("#If &[Freefield2] = \"skip\" Then\n"
                                           "#Exit Sub\n"
                                           "#End If\n"
                                           "&[会社名] &[名前] &[敬称]\n"
                                           "#If &[敬称] = \"御中\" Then\n"
                                           "ご担当者様\n"
                                           "#Else\n"
                                           "いつもお世話になっております。\n"
                                           "#End If\n"
                                           ".で始まる行と半角ｶﾀｶﾅ (&[Freefield1])\n"));
    c.attachments = sj(attachment.string());
    return c;
}

}  // namespace

class SendRun : public ::testing::Test {
protected:
    void SetUp() override {
        fx.startRecorder({"--refuse", "refused@aoba.example.jp"});
        fx.writeBook(fiveRows());
        attachment = fx.path("案内 資料.txt");  // a space: the engine gets it in quotes
        writeFile(attachment, "attached\r\nbytes\x01\x02\xff");
        fx.writeContents(scriptedMessage(attachment));
        fx.settings().ScriptUse = 1;
    }

    RunFixture fx;
    std::filesystem::path attachment;
};

TEST_F(SendRun, MergesRunsTheScriptMarksRefusedAndLogsEveryLine) {
    fx.saveSettings();
    RunResult r = fx.tarn({"send", fx.path("book.tn2").string(), "--yes"});
    ASSERT_EQ(r.exitCode, 3) << r.out << r.err;  // one recipient refused

    // Delivered: the first and the 御中 recipient; the refused one is marked 送信エラー.
    ASSERT_EQ(fx.recordedCount(), 2);
    Decoded first = fx.decode(1);
    EXPECT_EQ(first.subject, "株式会社みどり商事 佐藤 一郎様へのご案内");
    EXPECT_EQ(first.to, "佐藤 一郎 <ichiro@midori.example.co.jp>");
    EXPECT_EQ(first.from, "ターノス 試験 <sender@example.com>");
    EXPECT_EQ(first.body,
              "株式会社みどり商事 佐藤 一郎 様\nいつもお世話になっております。\n"
              ".で始まる行と半角カタカナ (ゴールド会員)\n");
    ASSERT_EQ(first.attachments.size(), 1u);
    EXPECT_EQ(first.attachments[0].substr(0, first.attachments[0].find(':')), "案内 資料.txt");
    Decoded second = fx.decode(2);
    EXPECT_EQ(second.to, "info@tsubasa.example.co.jp");
    EXPECT_EQ(second.body,
              "株式会社つばさ物流  御中\nご担当者様\n.で始まる行と半角カタカナ (法人窓口)\n");
    EXPECT_NE(fx.envelope(2).find("\"rcpt_tos\": [\"info@tsubasa.example.co.jp\"]"),
              std::string::npos);

    auto book = fx.readBook();
    EXPECT_EQ(book.record(0).status(), 0);
    EXPECT_EQ(book.record(1).status(), 2);
    EXPECT_EQ(book.record(2).status(), 4);
    EXPECT_EQ(book.record(3).status(), 0);
    EXPECT_EQ(book.record(4).status(), 0);  // skipped by the script: no status change

    std::string log = maskedLog(fx.path("send.log"));
    std::string expectedHead =
        "TARN01 LogText TS\n"
        "送信データ:[" +
        fx.path("book.tn2").string() +
        "]\n"
        "送信文:[" +
        fx.path("message.tnm").string() +
        "]\n"
        "送信者:[ターノス 試験 <sender@example.com>]\n"
        "表題:[&[会社名] &[名前]&[敬称]へのご案内]\n"
        "Version:" +
        logVersionText() +
        "\n"
        "SMTPName:127.0.0.1, PortNo:" +
        std::to_string(fx.settings().defaultAccount.PortNo) +
        "\n"
        // The first line of the EHLO reply, which lists extensions below it.
        "SMTPサーバに接続しました。\n\t:250-";
    ASSERT_EQ(log.substr(0, expectedHead.size()), expectedHead);
    std::string expectedTail =
        "--- 送信開始 [TS] ---\n"
        "\"00001\",\"佐藤 一郎 <ichiro@midori.example.co.jp>\",\"送信完了\"\n"
        "\"00003\",\"refused@aoba.example.jp\",\"送信失敗\",0,-2,550,9000\n"
        "\t\"550 5.1.1 Mailbox unavailable\"\n"
        "\"00004\",\"info@tsubasa.example.co.jp\",\"送信完了\"\n"
        "--- 送信完了 [TS] ---\n"
        "結果 [OK:2件 NG:1件]\n\n";
    ASSERT_GE(log.size(), expectedTail.size());
    EXPECT_EQ(log.substr(log.size() - expectedTail.size()), expectedTail);

    // The next send no longer counts the refused recipient.
    RunResult again = fx.tarn(
        {"send", fx.path("book.tn2").string(), "--dry-run", fx.path("dry").string(), "--yes"});
    ASSERT_EQ(again.exitCode, 0) << again.err;
    EXPECT_NE(again.out.find("送信先:   3 件"), std::string::npos) << again.out;
}

TEST_F(SendRun, ErrorsOnlyLogAppendsAndKeepsEarlierRuns) {
    fx.settings().LogFileMode = 1;
    fx.settings().LogCreateMode = 1;
    fx.saveSettings();
    ASSERT_EQ(fx.tarn({"send", fx.path("book.tn2").string(), "--yes"}).exitCode, 3);
    fx.writeBook(fiveRows());  // statuses back to the start
    ASSERT_EQ(fx.tarn({"send", fx.path("book.tn2").string(), "--yes"}).exitCode, 3);
    std::string log = maskedLog(fx.path("send.log"));
    EXPECT_EQ(log.find("送信完了\""), std::string::npos) << "mode 1 writes no success lines";
    const std::string failure =
        "\"00003\",\"refused@aoba.example.jp\",\"送信失敗\",0,-2,550,9000\n";
    std::size_t firstFailure = log.find(failure);
    ASSERT_NE(firstFailure, std::string::npos) << log;
    EXPECT_NE(log.find(failure, firstFailure + 1), std::string::npos)
        << "both runs are in the file";
    std::size_t firstResult = log.find("結果 [OK:2件 NG:1件]\n\nTARN01 LogText TS\n");
    EXPECT_NE(firstResult, std::string::npos) << log;
}

TEST(SendFailures, AuthRefusedPopUnreachableAndNoRecipients) {
    RunFixture fx;
    fx.startRecorder({"--auth", "operator:right-password", "--mechanisms", "PLAIN,LOGIN"});
    fx.writeBook({{"会社", "", "", "名前", "a@example.com", "様", {}}});
    contents::SendContents c;
    c.subject = "s";
    c.body = "body\r\n";
    fx.writeContents(c);
    fx.saveSettings();

    // SMTP AUTH from SMTPAuth.txt with a wrong password: 506, and the log shows why.
    writeFile(fx.home() / "SMTPAuth.txt", "userid: operator\npassword: wrong-password\nkind: 2\n");
    RunResult auth = fx.tarn({"send", fx.path("book.tn2").string(), "--yes"});
    EXPECT_EQ(auth.exitCode, 1);
    EXPECT_NE(auth.err.find("ターノス - エラー  (№506)\nコネクトできません。"), std::string::npos)
        << auth.err;
    EXPECT_NE(auth.err.find("SMTPサーバの接続に失敗しました。"), std::string::npos);
    EXPECT_EQ(auth.err.find("wrong-password"), std::string::npos)
        << "a password never reaches the terminal";
    std::string log = maskedLog(fx.path("send.log"));
    EXPECT_NE(
        log.find(
            "Use "
            "SMTP-AUTH\nUserID:operator\n[0][-2][535][9000]SMTPサーバへの接続に失敗しました。\n\n"),
        std::string::npos)
        << log;
    EXPECT_EQ(log.find("wrong-password"), std::string::npos);
    EXPECT_EQ(fx.recordedCount(), 0);

    // The right password gets through.
    writeFile(fx.home() / "SMTPAuth.txt", "userid: operator\npassword: right-password\n");
    ASSERT_EQ(fx.tarn({"send", fx.path("book.tn2").string(), "--yes"}).exitCode, 0);
    ASSERT_EQ(fx.recordedCount(), 1);
    EXPECT_NE(fx.envelope(1).find("\"login\": \"operator\""), std::string::npos);

    // POP before SMTP to a host where nothing answers on port 110: 511.
    int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(110);
    a.sin_addr.s_addr = htonl(0x7F0000FE);  // 127.0.0.254
    bool listening = ::connect(probe, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(probe);
    if (!listening) {
        fx.settings().defaultAccount.PBSUse = 1;
        std::string pop = "127.0.0.254";
        pop.copy(fx.settings().defaultAccount.Pop3Name, pop.size());
        fx.saveSettings();
        RunResult popRun = fx.tarn({"send", fx.path("book.tn2").string(), "--yes"});
        EXPECT_EQ(popRun.exitCode, 1);
        EXPECT_NE(popRun.err.find("(№511)\nPOP3へのコネクトに失敗しました。"), std::string::npos)
            << popRun.err;
        EXPECT_NE(maskedLog(fx.path("send.log"))
                      .find("Use pop before SMTP\nPOP3Name:127.0.0.254, UserID:\n"),
                  std::string::npos);
        fx.settings().defaultAccount.PBSUse = 0;
    }

    // Nobody left to send to: 510 before anything is opened.
    fx.writeBook({{"会社", "", "", "名前", "a@example.com", "様", {}, 4}});
    RunResult none = fx.tarn({"send", fx.path("book.tn2").string(), "--yes"});
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_NE(none.err.find("(№510)\n送信レコードがありません。"), std::string::npos) << none.err;

    // A message that names a missing attachment: 509.
    fx.writeBook({{"会社", "", "", "名前", "a@example.com", "様", {}}});
    c.attachments = fx.path("missing.pdf").string();
    fx.writeContents(c);
    RunResult missing = fx.tarn({"send", fx.path("book.tn2").string(), "--yes"});
    EXPECT_NE(missing.err.find("(№509)\n添付ファイルが見つかりません。"), std::string::npos)
        << missing.err;
}

TEST(SendCommand, RefusesWithoutConfirmationOrSenderAndOnAPastTime) {
    RunFixture fx;
    fx.writeBook({{"会社", "", "", "名前", "a@example.com", "様", {}}});
    contents::SendContents c;
    c.subject = "s";
    c.body = "body\r\n";
    fx.writeContents(c);
    fx.saveSettings();
    // No terminal to confirm on, and no --yes.
    EXPECT_EQ(fx.tarn({"send", fx.path("book.tn2").string()}).exitCode, 2);
    RunResult past =
        fx.tarn({"send", fx.path("book.tn2").string(), "--yes", "--at", "2001-01-01 00:00:00"});
    EXPECT_EQ(past.exitCode, 1);
    EXPECT_NE(past.err.find("現在時刻よりも後の時刻を指定して下さい。"), std::string::npos)
        << past.err;
    fx.settings().defaultAccount.FromName[0] = '\0';
    fx.saveSettings();
    RunResult noSender = fx.tarn({"send", fx.path("book.tn2").string(), "--yes"});
    EXPECT_NE(noSender.err.find("送信者アカウントが設定されていません。"), std::string::npos);
}

TEST(Demo, SendsTheSamplesToTheCaptureServer) {
    TempDir dir;
    RunResult r = run({tarnPath(), "demo", "--keep-dir", dir.path().string()});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    int messages = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path() / "messages")) {
        messages += e.path().extension() == ".eml" ? 1 : 0;
    }
    EXPECT_EQ(messages, 6);
    EXPECT_NE(maskedLog(dir.path() / "send.log").find("結果 [OK:6件 NG:0件]"), std::string::npos);
}
