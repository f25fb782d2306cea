// Sends that must not happen as configured: settings and files that cannot be
// used stop `tarn send` before the server sees a command, with a reason.
#include <gtest/gtest.h>

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
