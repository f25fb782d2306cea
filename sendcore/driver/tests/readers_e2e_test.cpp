// Whole sends as recipients' servers and readers meet them: the messages of
// a real send read back by independent readers, SpamAssassin's score of the
// demonstration messages, the greeting name a receiving server records,
// Message-Ids of separate processes, and the pre-flight through `tarn send`.
#include <gtest/gtest.h>

#include <regex>
#include <thread>

#include "common/host_name.h"
#include "mail_readers.h"
#include "send_fixture.h"

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

// What a recipient should read, and the Shift_JIS that produces it.
struct Person {
    BookRow row;
    std::string company, department, title, name, honorific, free1;  // as read, UTF-8
    bool extension;  // holds characters only readers with the Microsoft extensions show
};

std::string kanjiLine(int characters) {
    std::string line;
    for (int i = 0; i < characters; ++i) {
        line += i % 10 == 9 ? "。" : "漢";
    }
    return line;
}

// A send over SMTP to the recording server, in each character set setting:
// every message as the server stored it, read back by Perl (standard
// ISO-2022-JP or UTF-8, cp50221 only where the message holds the extension
// rows), ripmime and munpack, every character compared.
class RealSendReadBack : public ::testing::TestWithParam<int> {};

TEST_P(RealSendReadBack, EveryRecipientReadsEveryCharacter) {
    const int charset = GetParam();
    RunFixture fx;
    fx.startRecorder();
    // IBM codes as Windows files hold them: 髙 0xFBFC, 﨑 0xFAB1, 德 0xFABA,
    // and Ⅱ 0xFA4B, № 0xFA59, which have no code of their own in mail.
    const std::string ibmRow = "\xFB\xFC" + sj("橋 ") + "\xFA\xB1" + sj("子");
    const std::vector<Person> people = {
        // The third message of the demonstration send.
        {{"㈱ひかり通信",
          "第Ⅱ営業部",
          "主任",
          "中村 優子",
          "yuko@hikari.example.jp",
          "様",
          {"①資料送付済み"}},
         "㈱ひかり通信",
         "第Ⅱ営業部",
         "主任",
         "中村 優子",
         "様",
         "①資料送付済み",
         true},
        {{"\xFA\xBA" + sj("永商事"),
          sj("第") + "\xFA\x4B" + sj("営業部"),
          "",
          ibmRow,
          "takahashi@tokunaga.example.jp",
          sj("様"),
          {"\xFA\x59" + sj("1024")},
          0,
          1,
          true},
         "德永商事",
         "第Ⅱ営業部",
         "",
         "髙橋 﨑子",
         "様",
         "№1024",
         true},
        {{"ｶﾞｷﾞ商会", "", "", "佐藤 一郎", "ichiro@example.com", "様", {"ｺﾞｰﾙﾄﾞ会員"}},
         "ガギ商会",
         "",
         "",
         "佐藤 一郎",
         "様",
         "ゴールド会員",
         false},
        {{"青葉電機株式会社", "総務部", "部長", "鈴木 誠", "suzuki@aoba.example.jp", "御中", {}},
         "青葉電機株式会社",
         "総務部",
         "部長",
         "鈴木 誠",
         "御中",
         "",
         false},
    };
    std::vector<BookRow> rows;
    for (const auto& p : people) {
        rows.push_back(p.row);
    }
    fx.writeBook(rows);

    // Attachments with Japanese names with spaces (one in half-width katakana).
    const fs::path files = fx.path("files");
    fs::create_directories(files);
    const std::vector<mail_readers::SavedFile> attached = {
        {"見積 書.pdf", "%PDF-1.4 binary \x01\x02\xFF", false},
        {"ガイド 資料.txt", sj("ご案内\r\n会場: オンライン\r\n"), true},
        {"report 2024.csv", "a,b\r\n1,2\r\n", true}};
    const std::vector<std::string> onDisk = {"見積 書.pdf", "ｶﾞｲﾄﾞ 資料.txt", "report 2024.csv"};
    std::string list;
    for (std::size_t i = 0; i < onDisk.size(); ++i) {
        writeFile(files / onDisk[i], attached[i].bytes);
        list += (list.empty() ? "" : "\t") + sj((files / onDisk[i]).string());
    }
    const std::string longLine = kanjiLine(931);
    contents::SendContents c;
    c.subject = sj("【ご案内】&[会社名] &[名前]&[敬称]へ 新製品説明会のお知らせ");
    c.body = sj("&[会社名]\r\n&[部署名] &[役職]\r\n&[名前] &[敬称]\r\n\r\n"
                "平素は格別のお引き立てを賜り、厚く御礼申し上げます。\r\n\r\n"
                "（会員区分：&[Freefield1]）\r\n\r\n") +
             sj(longLine) + sj("\r\n.\r\n..二つ\r\n.から始まる行も正しく届きます。\r\n") +
             sj("半角ｶﾀｶﾅも全角で届きます。\r\n");
    c.cc = sj("経理部 <cc@example.jp>");
    c.attachments = list;
    fx.writeContents(c);
    setFieldText(fx.settings().defaultAccount.FromName, sj("ターノス ｶﾞｷﾞ事務局"));
    fx.settings().MailCharset = charset;
    fx.saveSettings();
    RunResult sent = fx.tarn({"send", fx.path("book.tn2").string(), "--yes"});
    ASSERT_EQ(sent.exitCode, 0) << sent.out << sent.err;
    ASSERT_EQ(fx.recordedCount(), static_cast<int>(people.size()));

    for (std::size_t i = 0; i < people.size(); ++i) {
        const Person& p = people[i];
        SCOPED_TRACE(p.row.email);
        const fs::path eml = fx.path("mail") / (std::to_string(i + 1) + ".eml");
        const std::string stored = readFile(eml);
        mail_readers::expectWireSafe(stored);
        const bool utf8 =
            charset == kMailCharsetUtf8 || (charset == kMailCharsetAutomatic && p.extension);
        const auto read =
            mail_readers::perlRead(eml, p.extension && !utf8 ? "cp50221" : "iso-2022-jp");
        const std::string subject =
            "【ご案内】" + p.company + " " + p.name + p.honorific + "へ 新製品説明会のお知らせ";
        EXPECT_EQ(read.field("charset"), utf8 ? "UTF-8" : "iso-2022-jp");
        EXPECT_EQ(read.field("subject"), subject);
        if (utf8 || !p.extension) {
            EXPECT_EQ(read.field("subject-mime"), subject);
        }
        EXPECT_EQ(read.field("to"), p.row.email);
        EXPECT_EQ(read.field("from"), "ターノス ガギ事務局 <sender@example.com>");
        EXPECT_EQ(read.field("cc"), "経理部 <cc@example.jp>");
        // In ISO-2022-JP, ESC $ B, 496 characters and ESC ( B fill a line of
        // 998 octets; the rest of the paragraph goes on the next line.
        const std::string wireLine =
            utf8 ? longLine : longLine.substr(0, 496 * 3) + "\r\n" + longLine.substr(496 * 3);
        std::string body = read.field("body");
        while (body.ends_with("\r\n")) {
            body.resize(body.size() - 2);
        }
        EXPECT_EQ(body, p.company + "\r\n" + p.department + " " + p.title + "\r\n" + p.name + " " +
                            p.honorific + "\r\n\r\n" +
                            "平素は格別のお引き立てを賜り、厚く御礼申し上げます。\r\n\r\n" +
                            "（会員区分：" + p.free1 + "）\r\n\r\n" + wireLine +
                            "\r\n.\r\n..二つ\r\n.から始まる行も正しく届きます。\r\n" +
                            "半角カタカナも全角で届きます。");
        ASSERT_EQ(read.files.size(), attached.size());
        for (std::size_t f = 0; f < attached.size(); ++f) {
            EXPECT_EQ(mail_readers::cp932Spelling(read.files[f].at("name")), attached[f].expected);
            EXPECT_EQ(mail_readers::cp932Spelling(read.files[f].at("name-words")),
                      attached[f].expected);
            EXPECT_EQ(read.files[f].at("data"), attached[f].bytes);
        }
        mail_readers::expectSavedByRipmimeAndMunpack(
            eml, fx.path("readers" + std::to_string(i + 1)), attached);
    }
}

INSTANTIATE_TEST_SUITE_P(Iso2022JpAutomaticUtf8, RealSendReadBack,
                         ::testing::Values(kMailCharsetIso2022Jp, kMailCharsetAutomatic,
                                           kMailCharsetUtf8));

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
    // Each run has a book of its own and writes no log: two runs on one book or
    // one log refuse each other.
    fx.writeBook(
        {{"株式会社みどり商事", "", "", "佐藤 一郎", "ichiro@midori.example.co.jp", "様", {}}},
        "book-b.tn2");
    fx.settings().LogFileMode = 0;
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
        rb = fx.tarn({"send", fx.path("book-b.tn2").string(), "--dry-run", b.string(), "--yes"});
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
