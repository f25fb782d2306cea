#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <memory>
#include <string>

#include "auth_script.h"
#include "pop.h"
#include "testsupport.h"

namespace {

using namespace std::chrono_literals;
using tarn::test::ChildProcess;
using tarn::test::TempDir;
using zeph::test::answerLines;
using zeph::test::FakeSmtp;
using zeph::test::sentLines;

// A private Dovecot POP3 server on a free loopback port, with one user whose
// password is stored in plain text so that APOP works.
class Dovecot {
public:
    static constexpr const char* kUser = "alice";
    static constexpr const char* kPassword = "s3cret pass";

    Dovecot() : m_port(tarn::test::freePort()) {
        const auto dir = m_dir.path().string();
        // Dovecot's login and mail processes run as other users and must reach these.
        ::chmod(dir.c_str(), 0755);
        std::filesystem::create_directories(m_dir / "home");
        ::chmod((m_dir / "home").c_str(), 0777);
        tarn::test::writeFile(m_dir / "passwd", std::string(kUser) + ":{PLAIN}" + kPassword + "\n");
        tarn::test::writeFile(
            m_dir / "dovecot.conf",
            "base_dir = " + dir + "/run\n" + "state_dir = " + dir + "/state\n" +
                "log_path = " + dir + "/dovecot.log\n" + "instance_name = tarn-pop-" +
                std::to_string(m_port) + "\n" +
                "protocols = pop3\nlisten = 127.0.0.1\nssl = no\n"
                "disable_plaintext_auth = no\nauth_mechanisms = plain apop\n"
                "auth_failure_delay = 0\n"
                "mail_location = maildir:" +
                dir + "/home/%u\n" + "passdb {\n  driver = passwd-file\n  args = scheme=PLAIN " +
                dir + "/passwd\n}\n" +
                "userdb {\n  driver = static\n  args = uid=65534 gid=65534 home=" + dir +
                "/home/%u\n}\n" + "service pop3-login {\n  inet_listener pop3 {\n    port = " +
                std::to_string(m_port) +
                "\n  }\n}\n"
                "service imap-urlauth-login {\n  inet_listener imap-urlauth {\n    port = 0\n  "
                "}\n}\n");
        m_process = std::make_unique<ChildProcess>(
            std::vector<std::string>{"/usr/sbin/dovecot", "-F", "-c", dir + "/dovecot.conf"},
            m_dir.path());
        m_ready = tarn::test::waitForTcpPort("127.0.0.1", m_port, 20s);
    }

    int port() const { return m_port; }
    bool ready() const { return m_ready; }
    std::string log() const {
        std::error_code ec;
        const auto file = m_dir / "dovecot.log";
        return m_process->output() +
               (std::filesystem::exists(file, ec) ? tarn::test::readFile(file) : std::string());
    }

private:
    TempDir m_dir;
    int m_port;
    std::unique_ptr<ChildProcess> m_process;
    bool m_ready = false;
};

// A fresh server per test: Dovecot slows down repeated failures from one address.
class PopDovecot : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_server.ready()) << m_server.log(); }
    int pop(const char* user, const char* password, bool apop) {
        return zeph::popBeforeSmtp("127.0.0.1", m_server.port(), user, password, apop, 10s);
    }
    Dovecot m_server;
};

TEST_F(PopDovecot, ApopAndUserPassLogIn) {
    EXPECT_EQ(pop(Dovecot::kUser, Dovecot::kPassword, true), zeph::kPopOk) << m_server.log();
    EXPECT_EQ(pop(Dovecot::kUser, Dovecot::kPassword, false), zeph::kPopOk) << m_server.log();
}

TEST_F(PopDovecot, WrongApopDigestIsResultFour) {
    EXPECT_EQ(pop(Dovecot::kUser, "wrong", true), zeph::kPopPassRefused);
}

TEST_F(PopDovecot, WrongPassIsResultFour) {
    // Dovecot takes any USER and refuses at PASS.
    EXPECT_EQ(pop("nobody", "wrong", false), zeph::kPopPassRefused);
}

TEST_F(PopDovecot, LineBreakInPasswordIsNeverSent) {
    EXPECT_EQ(pop(Dovecot::kUser, "x\r\nQUIT", false), zeph::kPopPassRefused);
    EXPECT_EQ(pop("alice\r\nNOOP", Dovecot::kPassword, false), zeph::kPopUserRefused);
}

TEST(PopScripted, ApopFallsBackToUserPassWithoutTimestamp) {
    FakeSmtp server({answerLines({"+OK ready\r\n", "+OK\r\n", "+OK in\r\n", "+OK bye\r\n"})});
    EXPECT_EQ(zeph::popBeforeSmtp("127.0.0.1", server.port(), "u", "p", true, 5s), zeph::kPopOk);
    EXPECT_EQ(sentLines(server.received()), (std::vector<std::string>{"USER u", "PASS p", "QUIT"}));
}

TEST(PopScripted, ApopSendsDigestOfTimestamp) {
    // RFC 1939's example.
    FakeSmtp server({answerLines(
        {"+OK POP3 server ready <1896.697170952@dbc.mtview.ca.us>\r\n", "+OK\r\n", "+OK\r\n"})});
    EXPECT_EQ(zeph::popBeforeSmtp("127.0.0.1", server.port(), "mrose", "tanstaaf", true, 5s),
              zeph::kPopOk);
    EXPECT_EQ(sentLines(server.received()),
              (std::vector<std::string>{"APOP mrose c4c9334bac560ecc979e58001b3e22fb", "QUIT"}));
}

TEST(PopScripted, TimestampRules) {
    EXPECT_EQ(zeph::apopTimestamp("+OK <a@b> x").value(), "<a@b>");
    EXPECT_EQ(zeph::apopTimestamp("+OK > <a@b>").value(), "<a@b>");
    EXPECT_FALSE(zeph::apopTimestamp("+OK <a@b"));
    EXPECT_FALSE(zeph::apopTimestamp("+OK a@b>"));
    EXPECT_EQ(zeph::apopTimestamp("+OK <" + std::string(255, 'x') + ">").value().size(), 257U);
    EXPECT_FALSE(zeph::apopTimestamp("+OK <" + std::string(256, 'x') + ">"));
}

TEST(PopScripted, FailuresMapToTheirResults) {
    {
        // Nothing listening.
        const int port = tarn::test::freePort();
        EXPECT_EQ(zeph::popBeforeSmtp("127.0.0.1", port, "u", "p", false, 5s),
                  zeph::kPopConnectFailed);
        EXPECT_EQ(zeph::popBeforeSmtp("name.invalid", 110, "u", "p", false, 5s),
                  zeph::kPopConnectFailed);
    }
    {
        FakeSmtp server({answerLines({"-ERR go away\r\n"})});
        EXPECT_EQ(zeph::popBeforeSmtp("127.0.0.1", server.port(), "u", "p", false, 5s),
                  zeph::kPopNoGreeting);
    }
    {
        FakeSmtp server({answerLines({""})});
        EXPECT_EQ(zeph::popBeforeSmtp("127.0.0.1", server.port(), "u", "p", false, 5s),
                  zeph::kPopNoGreeting);
    }
    {
        FakeSmtp server({answerLines({"+OK\r\n", "-ERR no such user\r\n"})});
        EXPECT_EQ(zeph::popBeforeSmtp("127.0.0.1", server.port(), "u", "p", false, 5s),
                  zeph::kPopUserRefused);
    }
    {
        // Silence after USER ends with the time-out, not a hang.
        FakeSmtp server({answerLines({"+OK\r\n"})});
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(zeph::popBeforeSmtp("127.0.0.1", server.port(), "u", "p", false, 300ms),
                  zeph::kPopUserRefused);
        EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    }
    {
        // QUIT without a reply.
        FakeSmtp server({answerLines({"+OK\r\n", "+OK\r\n", "+OK\r\n", ""})});
        EXPECT_EQ(zeph::popBeforeSmtp("127.0.0.1", server.port(), "u", "p", false, 5s),
                  zeph::kPopNoGreeting);
    }
}

TEST(PopScripted, RepliesSplitAndJoinedAreReadAsLines) {
    // Greeting and first reply in one chunk: the second line must not be lost.
    FakeSmtp server({answerLines({"+OK hi\r\n+OK", " user\r\n", "+OK pass\r\n", "+OK bye\r\n"})});
    EXPECT_EQ(zeph::popBeforeSmtp("127.0.0.1", server.port(), "u", "p", false, 2s), zeph::kPopOk);
}

TEST(PopLineReader, BoundsAndLeftovers) {
    zeph::PopLineReader reader;
    EXPECT_EQ(reader.feed("+OK a\r\n+OK b"), 7U);
    EXPECT_TRUE(reader.complete());
    EXPECT_EQ(reader.line(), "+OK a\r\n");
    EXPECT_EQ(reader.feed("more"), 0U);
    reader.reset();
    const std::string endless(5000, 'x');
    EXPECT_EQ(reader.feed(endless), zeph::PopLineReader::kMaxLine);
    EXPECT_TRUE(reader.complete());
}

}  // namespace
