// Whole sends as recipients' servers and readers meet them: SpamAssassin's
// score of the demonstration messages, the greeting name a receiving server
// records, Message-Ids of separate processes, and the pre-flight through
// `tarn send`.
#include <gtest/gtest.h>

#include <regex>
#include <thread>

#include "common/host_name.h"
#include "fixture.h"

using namespace tarn;
using namespace tarn::test;
namespace fs = std::filesystem;

namespace {

std::vector<fs::path> messagesIn(const fs::path& dir) {
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(dir)) {
        if (e.path().extension() == ".eml") {
            files.push_back(e.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

struct Verdict {
    double score = 0;
    std::string tests;  // the rule names, comma-separated
};

// SpamAssassin's local rules only (-L: no network), without Bayes (which
// would learn from earlier runs), in a home folder of the test's own. One run
// over all messages as a mailbox; it reports them in an order of its own, so
// each message carries its number in a header.
std::vector<Verdict> spamAssassin(const std::vector<std::string>& messages, const fs::path& home) {
    std::string mbox;
    for (std::size_t i = 0; i < messages.size(); ++i) {
        mbox += "From tarn-test@example.jp Thu Jan  7 09:00:00 2027\n";
        mbox += "X-Tarn-Case: " + std::to_string(i) + "\n";
        const std::string& m = messages[i];
        std::size_t pos = 0;
        while (pos < m.size()) {
            std::size_t end = m.find('\n', pos);
            end = end == std::string::npos ? m.size() : end + 1;
            const std::string line = m.substr(pos, end - pos);
            mbox += (line.starts_with("From ") ? ">" : "") + line;
            pos = end;
        }
        mbox += "\n";
    }
    writeFile(home / "messages.mbox", mbox);
    RunResult r = run({"spamassassin", "-L", "-t", "--mbox", "--cf=use_bayes 0",
                       "--cf=bayes_auto_learn 0", (home / "messages.mbox").string()},
                      {{"HOME", home.string()}}, {}, std::chrono::seconds(600));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::vector<Verdict> verdicts(messages.size(), Verdict{99, "<not reported>"});
    static const std::regex status(
        R"(X-Spam-Status: (?:Yes|No), score=(-?[0-9.]+) required=[0-9.]+\s+tests=([^\n]*(?:\n\t[^\n]*)*))");
    static const std::regex number(R"(\nX-Tarn-Case: (\d+))");
    std::size_t pos = 0;
    while (pos < r.out.size()) {
        std::size_t next = r.out.find("\nFrom ", pos + 1);
        next = next == std::string::npos ? r.out.size() : next + 1;
        const std::string chunk = r.out.substr(pos, next - pos);
        pos = next;
        std::smatch s;
        std::smatch c;
        if (!std::regex_search(chunk, s, status) || !std::regex_search(chunk, c, number)) {
            continue;
        }
        const std::size_t i = std::stoul(c[1]);
        if (i < verdicts.size()) {
            const std::string tests = std::regex_replace(s[2].str(), std::regex(R"(\s+)"), "");
            verdicts[i] = {std::stod(s[1]), tests.substr(0, tests.find("autolearn"))};
        }
    }
    return verdicts;
}

TEST(DemoMessages, SpamAssassinScoresEachBelowOneInBothCharacterSets) {
    TempDir dir;
    const fs::path demo = dir / "demo";
    RunResult made = run({tarnPath(), "demo", "--keep-dir", demo.string()});
    ASSERT_EQ(made.exitCode, 0) << made.out << made.err;
    // The same book and message again, as UTF-8.
    const std::map<std::string, std::string> env = {{"TARN_REGISTRY", (demo / "registry").string()},
                                                    {"TARN_HOME", demo.string()}};
    ASSERT_EQ(
        run({tarnPath(), "config", "set", "Option\\MailCharset", "2", "--dword"}, env).exitCode, 0);
    RunResult utf8 = run({tarnPath(), "send", (demo / "sample.tn2").string(), "--dry-run",
                          (dir / "utf8").string(), "--yes"},
                         env);
    ASSERT_EQ(utf8.exitCode, 0) << utf8.err;

    std::vector<std::string> messages;
    for (const fs::path& folder : {demo / "messages", dir / "utf8"}) {
        for (const auto& eml : messagesIn(folder)) {
            messages.push_back(readFile(eml));
        }
    }
    ASSERT_EQ(messages.size(), 12U);
    EXPECT_NE(messages[0].find("charset=iso-2022-jp"), std::string::npos);
    EXPECT_NE(messages[6].find("charset=UTF-8"), std::string::npos);
    const auto verdicts = spamAssassin(messages, dir.path());
    ASSERT_EQ(verdicts.size(), messages.size());
    for (std::size_t i = 0; i < verdicts.size(); ++i) {
        EXPECT_LT(verdicts[i].score, 1.0) << "message " << i << ": " << verdicts[i].tests;
    }
}

class Greeting : public ::testing::Test {
protected:
    void SetUp() override {
        fx.startRecorder();
        fx.writeBook(
            {{"株式会社みどり商事", "", "", "佐藤 一郎", "ichiro@midori.example.co.jp", "様", {}}});
        contents::SendContents c;
        c.subject = sj("ご案内");
        c.body = sj("&[名前]&[敬称]\r\n本文です。\r\n");
        fx.writeContents(c);
    }
    std::string heloOf(int n) const {
        std::smatch m;
        const std::string e = fx.envelope(n);
        return std::regex_search(e, m, std::regex(R"re("helo": "([^"]*)")re")) ? m[1].str() : "";
    }
    RunFixture fx;
};

TEST_F(Greeting, IsTheMachinesFullNameOrTheSendersDomainOrTheSetting) {
    fx.saveSettings();
    ASSERT_EQ(fx.tarn({"send", fx.path("book.tn2").string(), "--yes"}).exitCode, 0);
    const std::string machine = fullyQualifiedHostName();
    const std::string automatic = heloOf(1);
    EXPECT_EQ(automatic, machine.empty() ? "example.com" : machine);

    setFieldText(fx.settings().HeloName, "relay.example.jp");
    fx.saveSettings();
    ASSERT_EQ(fx.tarn({"send", fx.path("book.tn2").string(), "--yes"}).exitCode, 0);
    EXPECT_EQ(heloOf(2), "relay.example.jp");

    // The recipient's server records the greeting; SpamAssassin's greeting
    // rules score a bare host name and leave ours alone.
    const std::string message = readFile(fx.path("mail") / "1.eml");
    auto relayed = [&](const std::string& helo) {
        return "Received: from " + helo + " (mail.example.com [203.0.113.25])\r\n" +
               "\tby mx.example.jp (Postfix) with ESMTP id 4A1B2C3D4E\r\n" +
               "\tfor <ichiro@midori.example.co.jp>; Thu, 07 Jan 2027 09:00:00 +0900\r\n" + message;
    };
    const auto verdicts = spamAssassin({relayed(automatic), relayed("vm")}, fx.path(""));
    ASSERT_EQ(verdicts.size(), 2U);
    for (const char* rule : {"HELO_NO_DOMAIN", "FSL_HELO_NON_FQDN_1"}) {
        EXPECT_EQ(verdicts[0].tests.find(rule), std::string::npos) << verdicts[0].tests;
        EXPECT_NE(verdicts[1].tests.find(rule), std::string::npos) << verdicts[1].tests;
    }
}

TEST_F(Greeting, TwoDryRunsStartedInTheSameSecondMakeDistinctMessageIds) {
    fx.saveSettings();
    auto messageId = [](const fs::path& dir) {
        std::smatch m;
        const std::string eml = readFile(dir / "000001.eml");
        return std::regex_search(eml, m, std::regex(R"(Message-Id: (<[^>\r\n]*>))")) ? m[1].str()
                                                                                     : "";
    };
    // Two processes, started together; tried again if a second boundary fell
    // between their messages, as the clock part of the ids would then differ anyway.
    for (int attempt = 0; attempt < 10; ++attempt) {
        const fs::path a = fx.path("dry-a" + std::to_string(attempt));
        const fs::path b = fx.path("dry-b" + std::to_string(attempt));
        RunResult ra, rb;
        std::thread first([&] {
            ra = fx.tarn({"send", fx.path("book.tn2").string(), "--dry-run", a.string(), "--yes"});
        });
        rb = fx.tarn({"send", fx.path("book.tn2").string(), "--dry-run", b.string(), "--yes"});
        first.join();
        ASSERT_EQ(ra.exitCode, 0) << ra.err;
        ASSERT_EQ(rb.exitCode, 0) << rb.err;
        const std::string ida = messageId(a);
        const std::string idb = messageId(b);
        ASSERT_FALSE(ida.empty());
        if (ida.substr(0, ida.find('.')) != idb.substr(0, idb.find('.'))) {
            continue;
        }
        EXPECT_NE(ida, idb);
        // Same shape as before, counter included; the sender's domain on the right.
        EXPECT_TRUE(
            std::regex_match(ida, std::regex(R"(<\d{12,13}\.\d+\.[0-9a-f]{16}@example\.com>)")))
            << ida;
        return;
    }
    FAIL() << "no two runs fell into the same second";
}

TEST_F(Greeting, PreflightListsWhatTheConfirmationSummarises) {
    fx.writeBook({{"㈱ひかり通信", "", "", "髙橋", "a@example.jp", "様", {}},
                  {"株式会社みどり商事", "", "", "", "b@example.jp", "様", {}},
                  {"株式会社みどり商事", "", "", "佐藤", "A@Example.jp", "様", {}}});
    contents::SendContents c;
    c.subject = sj("&[会社名] &[名前]&[敬称]へ");
    c.body = sj("&[名前]&[敬称]\r\n");
    c.attachments = sj(fx.path("missing.pdf").string());
    fx.writeContents(c);
    fx.saveSettings();
    RunResult r = fx.tarn({"send", fx.path("book.tn2").string(), "--contents",
                           fx.path("message.tnm").string(), "--preflight"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out,
              "3 件の宛先を確認しました。\n"
              "  1 件の宛先に一部のメールソフトで表示できない文字があります: ㈱髙\n"
              "  1 件の宛先で差し込み項目が空になります。\n"
              "  1 件の宛先が前の宛先と重複しています。\n"
              "  添付ファイルが見つかりません: " +
                  fx.path("missing.pdf").string() +
                  "\n"
                  "1 件目 a@example.jp: 表示できない文字: ㈱(→(株)) 髙(→高)\n"
                  "2 件目 b@example.jp: 空の差し込み項目: &[名前]\n"
                  "3 件目 A@Example.jp: 1 件目と同じ宛先\n"
                  "添付ファイルが見つかりません: " +
                  fx.path("missing.pdf").string() + "\n");
    EXPECT_EQ(fx.recordedCount(), 0);  // nothing was sent

    // The confirmation shows the summary lines.
    RunResult confirm = fx.tarn(
        {"send", fx.path("book.tn2").string(), "--contents", fx.path("message.tnm").string()},
        "n\n");
    EXPECT_NE(confirm.out.find(
                  "  確認: 1 件の宛先に一部のメールソフトで表示できない文字があります: ㈱髙\n"),
              std::string::npos)
        << confirm.out;
}

}  // namespace
