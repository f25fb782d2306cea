// Sends that must not happen as configured: settings and files that cannot be
// used stop `tarn send` before the server sees a command, with a reason.
#include <gtest/gtest.h>

#include <thread>

#include "send_fixture.h"
#include "smtp_recorder.h"

using namespace tarn;
using namespace tarn::test;

namespace {

class SafeSend : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(certs.ok()) << certs.log();
        // A server that offers STARTTLS and AUTH: a plain session would carry
        // the password readable.
        fx.startRecorder(
            {"--cert", certs.cert("server"), "--key", certs.key("server"), "--auth", "tim:pw"});
        fx.writeBook({{"", "", "", "一郎", "ichiro@example.jp", "様", {}}});
        contents::SendContents c;
        c.subject = sj("ご案内");
        c.body = sj("本文\r\n");
        fx.writeContents(c);
        writeFile(fx.home() / "SMTPAuth.txt", "userid: tim\r\npassword: pw\r\n");
    }

    RunResult send() { return fx.tarn({"send", fx.path("book.tn2").string(), "--yes"}); }

    // Nothing reached the server: no message, and not one command line.
    void expectNothingSent(const RunResult& r) {
        EXPECT_EQ(r.exitCode, 1) << r.err;
        EXPECT_EQ(fx.recordedCount(), 0);
        EXPECT_EQ(fx.transcript(), "") << "the server saw commands";
        EXPECT_EQ(fx.readBook().record(0).status(), 0) << "no recipient was marked";
    }

    Certificates certs;
    RunFixture fx;
};

TEST_F(SafeSend, UnknownSecurityValueIsNeverAPlainConnection) {
    for (std::uint32_t value : {3u, 4294967295u}) {
        SCOPED_TRACE(value);
        fx.settings().defaultSecurity = static_cast<std::int32_t>(value);
        fx.saveSettings();
        RunResult r = send();
        expectNothingSent(r);
        EXPECT_NE(r.err.find("DefSecurity) の値 " + std::to_string(value) + " は使えません"),
                  std::string::npos)
            << r.err;
        EXPECT_NE(r.err.find("(№506)"), std::string::npos) << r.err;
    }
}

TEST_F(SafeSend, SmtpAuthFileThatCannotBeUsedStopsTheSend) {
    struct Case {
        const char* name;
        std::string text;
        const char* says;
    };
    const Case cases[] = {
        {"password over 512 bytes", "userid: tim\r\npassword: " + std::string(600, 'p') + "\r\n",
         "(password) の値が 600 バイト"},
        {"NUL in the password", std::string("userid: tim\r\npassword: p\0w\r\n", 28), "NUL"},
        {"larger than a credentials file",
         "userid: tim\r\npassword: pw\r\n" + std::string(std::size_t{2} << 20, '#'),
         "SMTPAuth.txt を読めません"},
    };
    fx.saveSettings();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(fx.home() / "SMTPAuth.txt", c.text);
        RunResult r = send();
        expectNothingSent(r);
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("ppppp"), std::string::npos) << "a password is never shown";
    }
    // Unreadable (a folder in its place) says so too.
    std::filesystem::remove(fx.home() / "SMTPAuth.txt");
    std::filesystem::create_directory(fx.home() / "SMTPAuth.txt");
    RunResult r = send();
    expectNothingSent(r);
    EXPECT_NE(r.err.find("SMTPAuth.txt を読めません"), std::string::npos) << r.err;
}

}  // namespace

namespace {

bool onlyCrLfLineEnds(const std::string& bytes) {
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r' && (i + 1 == bytes.size() || bytes[i + 1] != '\n')) {
            return false;
        }
        if (bytes[i] == '\n' && (i == 0 || bytes[i - 1] != '\r')) {
            return false;
        }
    }
    return true;
}

}  // namespace

// A bare CR or LF in a merge value (a record typed or imported elsewhere)
// reaches the server only as CR LF, as SMTP requires.
TEST(MergeLineEnds, BareCrOrLfBecomesCrLfInsideData) {
    RunFixture fx;
    fx.startRecorder();
    fx.writeBook({{"本社\n営業部", "", "", "一郎", "ichiro@example.jp", "様", {"一行目\r二行目"}}});
    contents::SendContents c;
    c.subject = sj("&[会社名]のご案内");
    c.body = sj("&[会社名]\r\n&[Freefield1]\nおわり\r\n");
    fx.writeContents(c);
    fx.saveSettings();
    RunResult r = fx.tarn({"send", fx.path("book.tn2").string(), "--yes"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    ASSERT_EQ(fx.recordedCount(), 1);
    const std::string data = readFile(fx.path("mail") / "1.eml");
    EXPECT_TRUE(onlyCrLfLineEnds(data)) << data;
    const Decoded d = fx.decode(1);
    EXPECT_EQ(d.body.substr(0, d.body.find("おわり")), "本社\n営業部\n一行目\n二行目\n");
    EXPECT_EQ(d.subject, "本社 営業部のご案内");
}

namespace {

// Address fields as an import or a hostile file may hold them. Row 5 has two
// real addresses and is sent to both; every other one of rows 1-6 is refused.
std::vector<BookRow> hostileRows() {
    return {
        {"1", "", "", "", "r01@example.com\r\nBcc: victim01@evil.test", "様", {}},
        {"2", "", "", "", "r02@example.com Bcc: victim02@evil.test", "様", {}},
        {"3", "", "", "", "ok03@example.co.jp", "様", {}},
        {"4", "", "", "", "r04@example.com>\r\nRCPT TO:<victim04@evil.test", "様", {}},
        {"5", "", "", "", "r05@example.co.jp, second05@example.co.jp", "様", {}},
        {"6", "", "", "", "ｱｲｳ@example.com", "様", {}},
    };
}

}  // namespace

// The check refuses what the envelope refuses, and an unchecked book still
// never puts a field's words into RCPT TO.
TEST(HostileAddresses, RefusedByTheCheckAndNeverInTheEnvelope) {
    RunFixture fx;
    fx.startRecorder();
    fx.writeBook(hostileRows());
    fx.writeBook(hostileRows(), "unchecked.tn2");
    contents::SendContents c;
    c.subject = sj("ご案内");
    c.body = sj("本文\r\n");
    fx.writeContents(c);
    fx.saveSettings();

    RunResult checked = fx.tarn({"check", fx.path("book.tn2").string(), "--level", "1", "--yes"});
    ASSERT_EQ(checked.exitCode, 0) << checked.err;
    auto book = fx.readBook();
    const int expected[] = {2, 2, 0, 2, 0, 2};
    for (std::size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(book.record(i).status(), expected[i]) << "record " << i + 1;
    }
    const std::string checkLog = maskedLog(fx.path("check.log"));
    EXPECT_NE(checkLog.find("\"00001\",\"NG\",\" 1:無効な文字が含まれています。\","
                            "\"r01@example.com\\r\\nBcc: victim01@evil.test\"\n"),
              std::string::npos)
        << checkLog;
    EXPECT_NE(checkLog.find("\"00005\",\"OK\",\"r05@example.co.jp,second05@example.co.jp\"\n"),
              std::string::npos)
        << checkLog;

    RunResult sent = fx.tarn({"send", fx.path("unchecked.tn2").string(), "--yes"});
    ASSERT_EQ(sent.exitCode, 3) << sent.err;  // recipients were refused
    EXPECT_NE(sent.out.find("結果 [OK:2件 NG:4件]"), std::string::npos) << sent.out;
    const std::string transcript = fx.transcript();
    for (const char* never : {"victim01", "victim02", "victim04", "Bcc", "RCPT TO:<TO", "\xB1"}) {
        EXPECT_EQ(transcript.find(never), std::string::npos) << never << "\n" << transcript;
    }
    std::vector<std::string> rcpts;
    for (std::size_t at = 0; (at = transcript.find("RCPT TO:<", at)) != std::string::npos;) {
        const std::size_t end = transcript.find('\n', at);
        rcpts.push_back(transcript.substr(at, end - at));
        at = end;
    }
    EXPECT_EQ(rcpts, (std::vector<std::string>{"RCPT TO:<ok03@example.co.jp>",
                                               "RCPT TO:<r05@example.co.jp>",
                                               "RCPT TO:<second05@example.co.jp>"}));
    EXPECT_EQ(fx.recordedCount(), 2);

    auto after = fx.readBook("unchecked.tn2");
    const int sendStatus[] = {4, 4, 0, 4, 0, 4};
    for (std::size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(after.record(i).status(), sendStatus[i]) << "record " << i + 1;
    }
    // Each refused recipient: one failure line and its reason, nothing forged.
    const std::string log = maskedLog(fx.path("send.log"));
    EXPECT_NE(log.find("\"00001\",\"r01@example.com\\r\\nBcc: victim01@evil.test\",\"送信失敗\","
                       "0,0,0,0\n\t\"E-Mail に制御文字 (CR 0x0D) があるため、"
                       "このアドレスには送りません。\"\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("\"00002\",\"r02@example.com Bcc: victim02@evil.test\",\"送信失敗\","
                       "0,0,0,0\n\t\"E-Mail の「Bcc:」にメールアドレスに使えない文字 (':' 0x3A)"),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("\n\"00002\",\"victim"), std::string::npos) << log;
    EXPECT_NE(log.find("結果 [OK:2件 NG:4件]"), std::string::npos) << log;
}

namespace {

std::vector<BookRow> fiveRecipients() {
    std::vector<BookRow> rows;
    for (int i = 1; i <= 5; ++i) {
        rows.push_back({"社" + std::to_string(i),
                        "",
                        "",
                        "",
                        "r" + std::to_string(i) + "@example.co.jp",
                        "様",
                        {}});
    }
    return rows;
}

// A short message and 400 ms between messages, so that a second run can be
// started while the first is still sending.
void writeSlowSend(RunFixture& fx) {
    contents::SendContents c;
    c.subject = sj("ご案内");
    c.body = sj("本文\r\n");
    fx.writeContents(c);
    fx.settings().WaitMSec = 400;
    fx.saveSettings();
}

// A slow send running in a thread of its own: WaitMSec spaces its messages.
class RunningSend {
public:
    RunningSend(const RunFixture& fx, const std::string& book)
        : m_thread([&fx, book, this] {
              m_result = fx.tarn({"send", fx.path(book).string(), "--yes"});
          }) {}
    ~RunningSend() { join(); }
    RunResult& join() {
        if (m_thread.joinable()) {
            m_thread.join();
        }
        return m_result;
    }

private:
    RunResult m_result;
    std::thread m_thread;
};

}  // namespace

// Two runs on one book at once: the second refuses at once, and every
// recipient gets exactly one message.
TEST(RunLocks, SecondRunOnABookRefusesAndEveryRecipientGetsOneMessage) {
    RunFixture fx;
    fx.startRecorder();
    fx.writeBook(fiveRecipients());
    writeSlowSend(fx);

    RunningSend first(fx, "book.tn2");
    ASSERT_TRUE(waitUntil([&] { return fx.transcript().find("RCPT TO:") != std::string::npos; }));
    RunResult second = fx.tarn({"send", fx.path("book.tn2").string(), "--yes"});
    RunResult check = fx.tarn({"check", fx.path("book.tn2").string(), "--level", "1", "--yes"});
    RunResult& done = first.join();
    ASSERT_EQ(done.exitCode, 0) << done.err;

    for (const RunResult* refused : {&second, &check}) {
        EXPECT_EQ(refused->exitCode, 1);
        EXPECT_NE(refused->err.find("は別の送信、チェックまたはインポートが使用中です"),
                  std::string::npos)
            << refused->err;
    }
    const std::string transcript = fx.transcript();
    for (int i = 1; i <= 5; ++i) {
        const std::string rcpt = "RCPT TO:<r" + std::to_string(i) + "@example.co.jp>";
        const std::size_t at = transcript.find(rcpt);
        EXPECT_NE(at, std::string::npos) << rcpt;
        EXPECT_EQ(transcript.find(rcpt, at + 1), std::string::npos) << rcpt << " twice";
    }
    EXPECT_EQ(fx.recordedCount(), 5);
    EXPECT_NE(maskedLog(fx.path("send.log")).find("結果 [OK:5件 NG:0件]"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(fx.path(".book.tn2.lock")));
    EXPECT_EQ(fx.tarn({"check", fx.path("book.tn2").string(), "--level", "1", "--yes"}).exitCode,
              0);
}

// Two books, one send log: the second run neither empties the log under the
// first nor mixes its lines into it; it stops before connecting.
TEST(RunLocks, ALogAnotherRunWritesIsNeitherCutNorMixed) {
    RunFixture fx;
    fx.startRecorder();
    fx.writeBook(fiveRecipients());
    fx.writeBook({{"別", "", "", "", "other@example.co.jp", "様", {}}}, "other.tn2");
    writeSlowSend(fx);

    RunningSend first(fx, "book.tn2");
    ASSERT_TRUE(waitUntil([&] { return fx.transcript().find("RCPT TO:") != std::string::npos; }));
    RunResult second = fx.tarn({"send", fx.path("other.tn2").string(), "--yes"});
    ASSERT_EQ(first.join().exitCode, 0);

    EXPECT_EQ(second.exitCode, 1);
    EXPECT_NE(second.err.find("書き込み中です"), std::string::npos) << second.err;
    EXPECT_NE(second.err.find("(№503)"), std::string::npos) << second.err;
    EXPECT_EQ(fx.transcript().find("other@"), std::string::npos);
    const std::string log = maskedLog(fx.path("send.log"));
    EXPECT_TRUE(log.starts_with("TARN01 LogText TS\n送信データ:[")) << log;
    EXPECT_NE(log.find("book.tn2]"), std::string::npos) << log;
    EXPECT_EQ(log.find("other.tn2"), std::string::npos) << log;
    EXPECT_TRUE(log.ends_with("結果 [OK:5件 NG:0件]\n\n")) << log;
}

// Each TLS failure says which it is, with OpenSSL's reason and the names
// involved: in the box on the terminal and in the log. The codes stay.
TEST(TlsFailures, EachSaysWhichWithTheReasonAndTheNames) {
    Certificates certs;
    ASSERT_TRUE(certs.ok()) << certs.log();
    TempDir dir;
    const std::string garbage = (dir / "garbage.pem").string();
    writeFile(garbage, "-----BEGIN CERTIFICATE-----\nnot base64 at all\n");
    const std::vector<std::string> tlsServer = {"--cert", certs.cert("server"), "--key",
                                                certs.key("server"), "--implicit-tls"};
    struct Case {
        const char* name;
        std::vector<std::string> server;
        int security;
        std::string caFile;
        std::vector<std::string> says;
    };
    const Case cases[] = {
        {"untrusted",
         tlsServer,
         kSecurityTls,
         "",
         {"サーバ証明書を信頼できません (OpenSSL: unable to get local issuer certificate)",
          "接続先: 127.0.0.1", "証明書: CN=localhost (名前: localhost, 127.0.0.1)",
          "発行者: CN=Tarn Test CA"}},
        {"another name",
         {"--cert", certs.cert("other"), "--key", certs.key("other"), "--implicit-tls"},
         kSecurityTls,
         certs.ca(),
         {"サーバ証明書の名前が接続先 127.0.0.1 と一致しません",
          "(OpenSSL: ", "名前: mail.example.com"}},
        {"no STARTTLS",
         {},
         kSecurityStartTls,
         "",
         {"は STARTTLS を提供していません", "暗号化しない接続にはしません"}},
        {"missing CA file",
         tlsServer,
         kSecurityTls,
         (dir / "missing.pem").string(),
         {"CA ファイル " + (dir / "missing.pem").string() + " を読めません (No such file"}},
        {"garbage CA file",
         tlsServer,
         kSecurityTls,
         garbage,
         {"CA ファイル " + garbage + " を読めません ("}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RunFixture fx;
        fx.startRecorder(c.server);
        fx.writeBook({{"", "", "", "一郎", "ichiro@example.co.jp", "様", {}}});
        contents::SendContents m;
        m.subject = sj("ご案内");
        m.body = sj("本文\r\n");
        fx.writeContents(m);
        fx.settings().defaultSecurity = c.security;
        fx.saveSettings();
        std::vector<std::string> args = {"send", fx.path("book.tn2").string(), "--yes"};
        if (!c.caFile.empty()) {
            args.insert(args.end(), {"--ca-file", c.caFile});
        }
        RunResult r = fx.tarn(args);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_NE(r.err.find("SMTPサーバの接続に失敗しました。 (0)\n"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("(№506)"), std::string::npos) << r.err;
        const std::string log = maskedLog(fx.path("send.log"));
        for (const std::string& text : c.says) {
            EXPECT_NE(r.err.find(text), std::string::npos) << text << "\n" << r.err;
            EXPECT_NE(log.find(text), std::string::npos) << text << "\n" << log;
        }
        EXPECT_EQ(r.err.find("を読めません ()"), std::string::npos) << r.err;
        EXPECT_EQ(fx.recordedCount(), 0);
    }
}

// A dry run keeps every message, but waits for the disk once, at its end,
// instead of twice for every message.
TEST(DryRun, FlushesTheMessagesOnceAtTheEnd) {
    RunFixture fx;
    std::vector<BookRow> rows;
    for (int i = 1; i <= 60; ++i) {
        rows.push_back({"", "", "", "", "user" + std::to_string(i) + "@example.co.jp", "様", {}});
    }
    fx.writeBook(rows);
    contents::SendContents c;
    c.subject = sj("ご案内");
    c.body = sj("本文\r\n");
    fx.writeContents(c);
    fx.saveSettings();
    auto env = fx.env();
    env["LD_PRELOAD"] = TARN_SYNC_COUNTER;
    env["TARN_SYNC_COUNT_FILE"] = fx.path("syncs").string();
    RunResult r = run({tarnPath(), "send", fx.path("book.tn2").string(), "--yes", "--dry-run",
                       fx.path("dry").string()},
                      env);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    int stored = 0;
    for (const auto& e : std::filesystem::directory_iterator(fx.path("dry"))) {
        stored += e.path().extension() == ".eml" ? 1 : 0;
    }
    EXPECT_EQ(stored, 60);
    const std::string syncs = readFile(fx.path("syncs"));
    ASSERT_FALSE(syncs.empty()) << "the counter was not preloaded";
    // One flush of the stored messages, and the book's save (file and folder).
    EXPECT_LE(std::stol(syncs), 4) << syncs;
}
