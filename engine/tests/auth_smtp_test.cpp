// SMTP AUTH and TLS through the exported interface, against the aiosmtpd
// recorder (real AUTH, STARTTLS and SMTPS with certificates made here by the
// openssl command) and against scripted servers for what real ones will not do.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "auth_script.h"
#include "codec.h"
#include "common/cp932.h"
#include "sasl.h"
#include "smtp_recorder.h"
#include "testsupport.h"
#include "zeph.h"

namespace {

using namespace std::chrono_literals;
using tarn::test::Certificates;
using zeph::test::answerLines;
using zeph::test::FakeSmtp;
using zeph::test::sentLines;

constexpr const char* kUser = "tim";

// The engine's own texts are Shift_JIS.
std::string sj(const char* utf8) {
    return tarn::cp932::fromUtf8(utf8).value();
}
constexpr const char* kPassword = "tanstaaf pw";

// The recorder with the one account of these tests.
class Recorder : public tarn::test::SmtpRecorder {
public:
    explicit Recorder(std::vector<std::string> extra)
        : SmtpRecorder(withAccount(std::move(extra))) {}

private:
    static std::vector<std::string> withAccount(std::vector<std::string> extra) {
        extra.insert(extra.begin(), {"--auth", std::string(kUser) + ":" + kPassword});
        return extra;
    }
};

struct Errors {
    int sock;
    int code;
    int pos;
    std::string text;
};

Errors errors() {
    return {ZEPH_GetSockLastError(), ZEPH_GetSmtpLastError(), ZEPH_GetLastErrorPos(),
            ZEPH_GetSMTPResult()};
}

std::string describe(const Errors& e) {
    return "[" + std::to_string(e.sock) + ", " + std::to_string(e.code) + ", " +
           std::to_string(e.pos) + "] " + e.text;
}

// Every test leaves the engine as the next one expects it: plain, no auth, closed.
class AuthSmtp : public ::testing::Test {
protected:
    void SetUp() override {
        ZEPH_SetRecvTimeOutSec(10);
        ZEPH_SetSecurity(0);
        ZEPH_SetCAFile(nullptr);
        ZEPH_SetSmtpAuth(0, nullptr, nullptr, 0);
    }
    void TearDown() override {
        ZEPH_Abort();
        ZEPH_SetSecurity(0);
        ZEPH_SetCAFile(nullptr);
        ZEPH_SetSmtpAuth(0, nullptr, nullptr, 0);
    }

    static bool connectAndStart(const char* host, int port) {
        ZEPH_SetPort(port);
        return ZEPH_Connect(host, 1) == 1 && ZEPH_SendStart(1) == 1;
    }

    static bool sendOne() {
        ZEPH_SetDefaultHeader();
        ZEPH_SetTo("rcpt@example.test");
        ZEPH_SetFrom("sender@example.test");
        ZEPH_SetSubject("auth test");
        ZEPH_SetBody("hello\r\n");
        return ZEPH_Send(1) == 1;
    }
};

TEST_F(AuthSmtp, AuthenticatedSendWithEachMethod) {
    Recorder server({});
    ASSERT_GT(server.port(), 0) << server.output();
    int message = 0;
    for (int method : {1, 2, 3, 0}) {
        SCOPED_TRACE("method " + std::to_string(method));
        ASSERT_EQ(ZEPH_SetSmtpAuth(1, kUser, kPassword, method), 1);
        ASSERT_TRUE(connectAndStart("127.0.0.1", server.port()))
            << describe(errors()) << server.output();
        EXPECT_EQ(ZEPH_GetSmtpLastError(), 235);
        ASSERT_TRUE(sendOne()) << describe(errors());
        const auto envelope = server.envelope(++message);
        ASSERT_TRUE(envelope);
        EXPECT_NE(envelope->find("\"login\": \"tim\""), std::string::npos) << *envelope;
        EXPECT_EQ(ZEPH_Disconnect(1), 1);
        ZEPH_Abort();
    }
}

TEST_F(AuthSmtp, WrongPasswordFailsWithTheServersReply) {
    Recorder server({});
    ASSERT_GT(server.port(), 0) << server.output();
    for (int method : {1, 2, 3}) {
        SCOPED_TRACE("method " + std::to_string(method));
        ASSERT_EQ(ZEPH_SetSmtpAuth(1, kUser, "not the password", method), 1);
        ZEPH_SetPort(server.port());
        ASSERT_EQ(ZEPH_Connect("127.0.0.1", 1), 1);
        EXPECT_EQ(ZEPH_SendStart(1), 0);
        const Errors e = errors();
        EXPECT_EQ(e.code, 535) << describe(e);
        EXPECT_EQ(e.sock, -2);
        EXPECT_EQ(e.pos, 9000);
        EXPECT_EQ(e.text, "535 5.7.8 Authentication credentials invalid");
        ZEPH_Abort();
    }
}

// What the client sends after EHLO, for an EHLO reply and the auth settings.
std::vector<std::string> authExchange(const std::string& ehloReply, int mode, int method,
                                      std::vector<std::string> moreReplies = {"235 ok\r\n"}) {
    std::vector<std::string> replies = {"220 fake\r\n", ehloReply};
    replies.insert(replies.end(), moreReplies.begin(), moreReplies.end());
    FakeSmtp server({answerLines(replies)});
    ZEPH_SetPort(server.port());
    ZEPH_SetSmtpAuth(mode, kUser, kPassword, method);
    if (ZEPH_Connect("127.0.0.1", 1) == 1) {
        ZEPH_SendStart(1);
    }
    ZEPH_Abort();
    auto lines = sentLines(server.received());
    // Drop the greeting command, whose host name depends on the machine.
    if (!lines.empty()) {
        lines.front() = lines.front().substr(0, 4);
    }
    return lines;
}

TEST_F(AuthSmtp, MethodChoiceFollowsOfferAndSettings) {
    const std::string plain = "AUTH PLAIN " + zeph::authPlainPayload(kUser, kPassword);
    struct Row {
        std::string ehlo;
        int mode;
        int method;
        std::string expectedSecondLine;
    };
    const std::vector<Row> rows = {
        {"250-fake\r\n250 AUTH LOGIN PLAIN\r\n", 1, 0, "AUTH LOGIN"},
        {"250-fake\r\n250 AUTH CRAM-MD5 LOGIN\r\n", 1, 0, "AUTH CRAM-MD5"},
        {"250-fake\r\n250 AUTH PLAIN\r\n", 1, 0, plain},
        {"250-fake\r\n250 AUTH CRAM-MD5 LOGIN\r\n", 1, 1, plain},
        {"250-fake\r\n250 AUTH CRAM-MD5\r\n", -102, 3, "AUTH LOGIN"},
        {"250 fake\r\n", 1, 2, "AUTH LOGIN"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.ehlo + " mode " + std::to_string(row.mode) + " method " +
                     std::to_string(row.method));
        const auto lines = authExchange(row.ehlo, row.mode, row.method, {"535 no\r\n"});
        ASSERT_GE(lines.size(), 2U);
        EXPECT_EQ(lines[0], "EHLO");
        EXPECT_EQ(lines[1], row.expectedSecondLine);
    }
}

TEST_F(AuthSmtp, NoKnownMethodOrNoAuthSettingSkipsAuthentication) {
    // AUTH offered, but nothing we speak: the session starts unauthenticated.
    FakeSmtp server({answerLines({"220 fake\r\n", "250-fake\r\n250 AUTH GSSAPI NTLM\r\n"})});
    ZEPH_SetSmtpAuth(1, kUser, kPassword, 0);
    EXPECT_TRUE(connectAndStart("127.0.0.1", server.port())) << describe(errors());
    ZEPH_Abort();
    ASSERT_EQ(sentLines(server.received()).size(), 1U);

    // With authentication off nothing follows EHLO, whatever is offered.
    const auto lines = authExchange("250-fake\r\n250 AUTH PLAIN\r\n", 0, 0, {});
    ASSERT_EQ(lines.size(), 1U);
    EXPECT_EQ(lines[0], "EHLO");
}

TEST_F(AuthSmtp, GarbageChallengeStillGetsAWellFormedAnswer) {
    const auto lines =
        authExchange("250 AUTH CRAM-MD5\r\n", 1, 0, {"334 \x01!!\xff*** ~~ ===\r\n", "535 no\r\n"});
    ASSERT_EQ(lines.size(), 3U);
    EXPECT_EQ(lines[1], "AUTH CRAM-MD5");
    const auto decoded = zeph::base64Decode(lines[2]);
    ASSERT_TRUE(decoded);
    // "tim" and the HMAC of an empty challenge: nothing left of the garbage.
    EXPECT_EQ(*decoded, std::string(kUser) + " " + "759d24b5e208781a06eff33184103074");
    EXPECT_EQ(ZEPH_GetSmtpLastError(), 535);
}

TEST_F(AuthSmtp, StartTlsThenAuthentication) {
    Certificates certs;
    ASSERT_TRUE(certs.ok()) << certs.log();
    Recorder server({"--cert", certs.cert("server"), "--key", certs.key("server")});
    ASSERT_GT(server.port(), 0) << server.output();
    ASSERT_EQ(ZEPH_SetSecurity(1), 1);
    ZEPH_SetCAFile(certs.ca().c_str());
    ZEPH_SetSmtpAuth(1, kUser, kPassword, 0);
    // By name and by address: both must match the certificate.
    int message = 0;
    for (const char* host : {"localhost", "127.0.0.1"}) {
        SCOPED_TRACE(host);
        ASSERT_TRUE(connectAndStart(host, server.port())) << describe(errors()) << server.output();
        EXPECT_EQ(ZEPH_GetSmtpLastError(), 235);
        ASSERT_TRUE(sendOne()) << describe(errors());
        const auto envelope = server.envelope(++message);
        ASSERT_TRUE(envelope);
        EXPECT_NE(envelope->find("\"tls\": true"), std::string::npos) << *envelope;
        EXPECT_NE(envelope->find("\"login\": \"tim\""), std::string::npos) << *envelope;
        EXPECT_EQ(ZEPH_Disconnect(1), 1) << describe(errors());
        ZEPH_Abort();
    }
}

TEST_F(AuthSmtp, ImplicitTls) {
    Certificates certs;
    ASSERT_TRUE(certs.ok()) << certs.log();
    Recorder server(
        {"--cert", certs.cert("server"), "--key", certs.key("server"), "--implicit-tls"});
    ASSERT_GT(server.port(), 0) << server.output();
    ASSERT_EQ(ZEPH_SetSecurity(2), 1);
    ZEPH_SetCAFile(certs.ca().c_str());
    ZEPH_SetSmtpAuth(1, kUser, kPassword, 2);
    ASSERT_TRUE(connectAndStart("127.0.0.1", server.port())) << describe(errors());
    ASSERT_TRUE(sendOne()) << describe(errors());
    ASSERT_TRUE(sendOne()) << describe(errors());
    const auto envelope = server.envelope(2);
    ASSERT_TRUE(envelope);
    EXPECT_NE(envelope->find("\"tls\": true"), std::string::npos) << *envelope;
    EXPECT_EQ(ZEPH_Disconnect(1), 1) << describe(errors());
}

TEST_F(AuthSmtp, UntrustedOrMisnamedCertificateIsRefused) {
    Certificates certs;
    ASSERT_TRUE(certs.ok()) << certs.log();
    Recorder other({"--cert", certs.cert("other"), "--key", certs.key("other"), "--implicit-tls"});
    Recorder good({"--cert", certs.cert("server"), "--key", certs.key("server"), "--implicit-tls"});
    ASSERT_GT(other.port(), 0) << other.output();
    ASSERT_GT(good.port(), 0) << good.output();
    ASSERT_EQ(ZEPH_SetSecurity(2), 1);
    struct Row {
        const char* caFile;
        int port;
    };
    const std::string ca = certs.ca();
    // Signed by our CA but for another name; and a right name that nobody vouches for.
    for (const Row& row : {Row{ca.c_str(), other.port()}, Row{nullptr, good.port()}}) {
        ZEPH_SetCAFile(row.caFile);
        ZEPH_SetPort(row.port);
        EXPECT_EQ(ZEPH_Connect("127.0.0.1", 1), 0);
        const Errors e = errors();
        EXPECT_EQ(e.sock, -21) << describe(e);
        EXPECT_EQ(e.pos, 1041) << describe(e);
        EXPECT_NE(e.text.find(sj("サーバ証明書")), std::string::npos) << e.text;
        ZEPH_Abort();
    }
    // An extra CA file that cannot be read is an error, not a quiet fall back.
    ZEPH_SetCAFile((certs.ca() + ".missing").c_str());
    ZEPH_SetPort(good.port());
    EXPECT_EQ(ZEPH_Connect("127.0.0.1", 1), 0);
    EXPECT_EQ(ZEPH_GetSockLastError(), -21);
    EXPECT_NE(std::string(ZEPH_GetSMTPResult()).find(sj("CA ファイル")), std::string::npos);
    ZEPH_Abort();
    // Plain SMTP spoken to a TLS port is a handshake failure, not a hang.
    ZEPH_SetSecurity(0);
    ZEPH_SetRecvTimeOutSec(1);
    ZEPH_SetPort(good.port());
    EXPECT_EQ(ZEPH_Connect("127.0.0.1", 1), 0);
    ZEPH_Abort();
}

TEST_F(AuthSmtp, HandshakeWithAPlainOrSilentServerFails) {
    ASSERT_EQ(ZEPH_SetSecurity(2), 1);
    {
        // A plain greeting where the TLS server hello belongs.
        FakeSmtp server({answerLines({"220 plain text\r\n"})});
        ZEPH_SetPort(server.port());
        EXPECT_EQ(ZEPH_Connect("127.0.0.1", 1), 0);
        const Errors e = errors();
        EXPECT_EQ(e.sock, -20) << describe(e);
        EXPECT_EQ(e.pos, 1040) << describe(e);
        ZEPH_Abort();
    }
    {
        // Silence: the handshake ends with the receive time-out.
        FakeSmtp server({answerLines({})});
        ZEPH_SetRecvTimeOutSec(1);
        ZEPH_SetPort(server.port());
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(ZEPH_Connect("127.0.0.1", 1), 0);
        EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
        const Errors e = errors();
        EXPECT_EQ(e.sock, -11) << describe(e);
        EXPECT_EQ(e.pos, 1040) << describe(e);
        ZEPH_Abort();

        // ZEPH_Stop ends a handshake that waits, long before the time-out.
        ZEPH_SetRecvTimeOutSec(20);
        ASSERT_EQ(ZEPH_Connect("127.0.0.1", 0), 1);
        ASSERT_TRUE(server.waitReceived("\x16\x03", 1));  // the client hello is out
        ZEPH_Stop();
        EXPECT_TRUE(tarn::test::waitUntil([] { return ZEPH_IsExecute() == 0; }, 5s));
        EXPECT_EQ(ZEPH_GetResult(), 0);
        const Errors stopped = errors();
        EXPECT_EQ(stopped.sock, -1) << describe(stopped);
        EXPECT_EQ(stopped.pos, 1040) << describe(stopped);
        ZEPH_Abort();
    }
}

TEST_F(AuthSmtp, StartTlsNotOfferedIsNeverAPlainTextFallBack) {
    {
        // The recorder without a certificate offers AUTH but no STARTTLS.
        Recorder server({});
        ASSERT_GT(server.port(), 0) << server.output();
        ASSERT_EQ(ZEPH_SetSecurity(1), 1);
        ZEPH_SetSmtpAuth(1, kUser, kPassword, 0);
        ZEPH_SetPort(server.port());
        ASSERT_EQ(ZEPH_Connect("127.0.0.1", 1), 1);
        EXPECT_EQ(ZEPH_SendStart(1), 0);
        const Errors e = errors();
        EXPECT_EQ(e.sock, -22) << describe(e);
        EXPECT_EQ(e.pos, 1042) << describe(e);
        EXPECT_NE(e.text.find("STARTTLS"), std::string::npos) << e.text;
        ZEPH_Abort();
    }
    {
        // Nothing but the EHLO goes out: no AUTH, no password.
        FakeSmtp server({answerLines({"220 fake\r\n", "250-fake\r\n250 AUTH PLAIN LOGIN\r\n"})});
        ZEPH_SetPort(server.port());
        ASSERT_EQ(ZEPH_Connect("127.0.0.1", 1), 1);
        EXPECT_EQ(ZEPH_SendStart(1), 0);
        ZEPH_Abort();
        const auto lines = sentLines(server.received());
        ASSERT_EQ(lines.size(), 1U);
        EXPECT_EQ(lines[0].substr(0, 5), "EHLO ");
    }
    {
        // Offered, then refused.
        FakeSmtp server(
            {answerLines({"220 fake\r\n", "250-fake\r\n250 STARTTLS\r\n", "502 not now\r\n"})});
        ZEPH_SetPort(server.port());
        ASSERT_EQ(ZEPH_Connect("127.0.0.1", 1), 1);
        EXPECT_EQ(ZEPH_SendStart(1), 0);
        EXPECT_EQ(ZEPH_GetSmtpLastError(), 502);
        ZEPH_Abort();
        const auto lines = sentLines(server.received());
        ASSERT_EQ(lines.size(), 2U);
        EXPECT_EQ(lines[1], "STARTTLS");
    }
}

TEST(AuthPopExport, ForwardsToPopBeforeSmtp) {
    FakeSmtp server(
        {answerLines({"+OK ready <1896.697170952@dbc.mtview.ca.us>\r\n", "+OK\r\n", "+OK\r\n"})});
    EXPECT_EQ(ZEPH_PopBeforeSmtp("127.0.0.1", server.port(), "mrose", "tanstaaf", 1), 0);
    EXPECT_EQ(sentLines(server.received()),
              (std::vector<std::string>{"APOP mrose c4c9334bac560ecc979e58001b3e22fb", "QUIT"}));
    EXPECT_EQ(ZEPH_PopBeforeSmtp("127.0.0.1", server.port(), nullptr, "x", 0), 1);
}

}  // namespace
