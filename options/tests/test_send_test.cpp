// The test send against the aiosmtpd recorder: plain, SMTP AUTH, STARTTLS and
// SMTPS, and what the person is told when it fails.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <string>
#include <tuple>

#include "common/cp932.h"
#include "common/host_name.h"
#include "options/test_send.h"
#include "options/texts.h"
#include "smtp_recorder.h"
#include "testsupport.h"
#include "zeph.h"

using namespace tarn;
using namespace tarn::options;
using namespace std::chrono_literals;
using tarn::test::Certificates;
using tarn::test::SmtpRecorder;
using tarn::test::TempDir;
using Kind = TestSendOutcome::Kind;

namespace {

std::string sj(const std::string& utf8) {
    return *cp932::fromUtf8(utf8);
}

class TestSendTest : public ::testing::Test {
protected:
    // The account under test, on the loopback address.
    TestSendRequest request(int port, std::int32_t security = kSecurityNone,
                            const std::string& caFile = {}) const {
        TestSendRequest r;
        AccountSettings& a = r.account.settings;
        setFieldText(a.FromName, "\"Tarn Test\"");
        setFieldText(a.FromEMail, "sender@example.jp");
        setFieldText(a.SMTPName, security == kSecurityNone ? "127.0.0.1" : "localhost");
        a.PortNo = port;
        a.dialUp.LANConnect = 1;
        r.account.security = security;
        r.account.caFile = caFile;
        r.to = "rcpt@example.jp";
        r.smtpAuthFile = m_dir / "SMTPAuth.txt";  // absent unless a test writes it
        r.receiveTimeoutSec = 10;
        return r;
    }

    void writeSmtpAuth(const std::string& user, const std::string& password) const {
        tarn::test::writeFile(m_dir / "SMTPAuth.txt",
                              "userid : " + user + "\npassword : " + password + "\n");
    }

    TempDir m_dir;
};

TEST_F(TestSendTest, PlainTestMessageArrivesWithoutLeftoversOfASendRun) {
    SmtpRecorder server({});
    ASSERT_GT(server.port(), 0) << server.output();
    // A send run left an attachment and custom headers in the engine.
    tarn::test::writeFile(m_dir / "attachment.txt", "left over\n");
    tarn::test::writeFile(m_dir / "custom.hdr", "X-Left-Over : yes\nTo :\nFrom :\nSubject :\n");
    ASSERT_EQ(ZEPH_SetAttach((m_dir / "attachment.txt").c_str()), 1);
    ASSERT_EQ(ZEPH_LoadCustomHeader((m_dir / "custom.hdr").c_str()), 1);

    std::vector<TestSendStage> stages;
    TestSend test;
    const TestSendOutcome result =
        test.run(request(server.port()), [&](TestSendStage s) { stages.push_back(s); });
    ASSERT_EQ(result.kind, Kind::Sent) << result.message;
    EXPECT_EQ(result.message, text::kTestSent);
    const std::vector<TestSendStage> expected = {TestSendStage::Connect, TestSendStage::Start,
                                                 TestSendStage::Send, TestSendStage::Disconnect};
    EXPECT_EQ(stages, expected);

    const auto envelope = server.envelope(1);
    ASSERT_TRUE(envelope);
    EXPECT_NE(envelope->find("\"mail_from\": \"sender@example.jp\""), std::string::npos)
        << *envelope;
    EXPECT_NE(envelope->find("\"rcpt_tos\": [\"rcpt@example.jp\"]"), std::string::npos)
        << *envelope;
    // The greeting of a send with this account: the machine's full name, else
    // the sender's domain; never the bare host name.
    const std::string machine = fullyQualifiedHostName();
    EXPECT_NE(envelope->find("\"helo\": \"" + (machine.empty() ? "example.jp" : machine) + "\""),
              std::string::npos)
        << *envelope;
    const std::string message = server.message(1);
    EXPECT_NE(message.find("From: \"Tarn Test\" <sender@example.jp>"), std::string::npos)
        << message;
    // "ターノス テスト送信" in ISO-2022-JP, subject and body.
    EXPECT_NE(message.find("Subject: =?ISO-2022-JP?B?"), std::string::npos) << message;
    EXPECT_NE(message.find("\x1b$B%?!<%N%9\x1b(B \x1b$B%F%9%HAw?.\x1b(B"), std::string::npos)
        << message;
    EXPECT_EQ(message.find("X-Left-Over"), std::string::npos) << message;
    EXPECT_EQ(message.find("multipart"), std::string::npos) << message;
}

TEST_F(TestSendTest, SmtpAuthFromTheFileAndItsRefusal) {
    SmtpRecorder server({"--auth", "tim:tanstaaf pw", "--auth-required"});
    ASSERT_GT(server.port(), 0) << server.output();

    writeSmtpAuth("tim", "tanstaaf pw");
    TestSendOutcome sent = TestSend().run(request(server.port()));
    ASSERT_EQ(sent.kind, Kind::Sent) << sent.message;
    const auto envelope = server.envelope(1);
    ASSERT_TRUE(envelope);
    EXPECT_NE(envelope->find("\"login\": \"tim\""), std::string::npos) << *envelope;

    writeSmtpAuth("tim", "wrong");
    TestSendOutcome refused = TestSend().run(request(server.port()));
    ASSERT_EQ(refused.kind, Kind::Failed);
    EXPECT_EQ(
        refused.message.rfind("SMTPサーバへの接続に失敗しました。\n[0]\n[-2]\n[535]\n[9000]", 0),
        0u)
        << refused.message;
    EXPECT_NE(refused.message.find("SMTP 認証に失敗しました。"), std::string::npos)
        << refused.message;
    EXPECT_NE(refused.message.find("サーバーの応答: 535"), std::string::npos) << refused.message;

    // Without the file the server's demand for authentication is named.
    std::filesystem::remove(m_dir / "SMTPAuth.txt");
    TestSendOutcome unauthenticated = TestSend().run(request(server.port()));
    ASSERT_EQ(unauthenticated.kind, Kind::Failed);
    EXPECT_EQ(unauthenticated.message.rfind("送信に失敗しました。 [0, -2, 530, 9000]", 0), 0u)
        << unauthenticated.message;
    EXPECT_NE(unauthenticated.message.find("SMTPAuth.txt にユーザーIDとパスワードを書いて"),
              std::string::npos)
        << unauthenticated.message;
}

TEST_F(TestSendTest, StartTlsAndSmtpsWithThePrivateCaOfTheAccount) {
    Certificates certs;
    ASSERT_TRUE(certs.ok()) << certs.log();
    SmtpRecorder starttls({"--cert", certs.cert("server"), "--key", certs.key("server")});
    SmtpRecorder smtps(
        {"--cert", certs.cert("server"), "--key", certs.key("server"), "--implicit-tls"});
    ASSERT_GT(starttls.port(), 0) << starttls.output();
    ASSERT_GT(smtps.port(), 0) << smtps.output();

    // The account keeps its path in Shift_JIS, like every path it stores.
    const auto japanesePath = m_dir / "社内認証局.pem";
    std::filesystem::copy_file(certs.ca(), japanesePath);
    const std::string caSjis = sj(japanesePath.string());
    for (auto [server, security, ca] : {std::tuple{&starttls, kSecurityStartTls, certs.ca()},
                                        std::tuple{&smtps, kSecurityTls, caSjis}}) {
        TestSendOutcome result = TestSend().run(request(server->port(), security, ca));
        ASSERT_EQ(result.kind, Kind::Sent) << security << ": " << result.message;
        const auto envelope = server->envelope(1);
        ASSERT_TRUE(envelope);
        EXPECT_NE(envelope->find("\"tls\": true"), std::string::npos) << *envelope;
    }
}

// Each failure names its likely cause in words an operator can act on.
TEST_F(TestSendTest, FailuresSayWhatIsWrong) {
    Certificates certs;
    ASSERT_TRUE(certs.ok()) << certs.log();
    SmtpRecorder plain({});
    SmtpRecorder other(
        {"--cert", certs.cert("other"), "--key", certs.key("other"), "--implicit-tls"});
    SmtpRecorder good(
        {"--cert", certs.cert("server"), "--key", certs.key("server"), "--implicit-tls"});
    ASSERT_GT(plain.port(), 0) << plain.output();
    ASSERT_GT(other.port(), 0) << other.output();
    ASSERT_GT(good.port(), 0) << good.output();
    const int closed = tarn::test::freePort();

    struct Row {
        const char* what;
        TestSendRequest request;
        std::string cause;
    };
    const Row rows[] = {
        {"certificate for another host", request(other.port(), kSecurityTls, certs.ca()),
         "サーバーの証明書は別のホスト名のものです。"},
        {"untrusted private CA", request(good.port(), kSecurityTls),
         "サーバーの証明書を発行した認証局が信頼されていません。"},
        {"CA file missing", request(good.port(), kSecurityTls, certs.ca() + ".missing"),
         "CA ファイル「" + certs.ca() + ".missing」を読み込めません。"},
        {"SSL/TLS against a plain port", request(plain.port(), kSecurityTls),
         "ポート " + std::to_string(plain.port()) + " は SSL/TLS を使わないポートのようです。"},
        {"STARTTLS not offered", request(plain.port(), kSecurityStartTls),
         "サーバーが STARTTLS に応じません。"},
        {"nothing listening", request(closed),
         "SMTPサーバー「127.0.0.1」のポート " + std::to_string(closed) +
             " は接続を受け付けていません。"},
        {"port 0", request(0), "ポート番号が 0 です。"},
    };
    for (const Row& row : rows) {
        const TestSendOutcome result = TestSend().run(row.request);
        EXPECT_EQ(result.kind, Kind::Failed) << row.what;
        EXPECT_EQ(result.message.rfind("SMTPサーバへの接続に失敗しました。\n[", 0), 0u)
            << row.what << ": " << result.message;
        EXPECT_NE(result.message.find(row.cause), std::string::npos)
            << row.what << ": " << result.message;
    }
    EXPECT_EQ(plain.count(), 0);
}

TEST_F(TestSendTest, EmptyAddressAndFailedDialUpStopBeforeTheServer) {
    TestSendRequest r = request(tarn::test::freePort());
    r.to.clear();
    EXPECT_EQ(TestSend().run(r).kind, Kind::NoAddress);
    EXPECT_EQ(TestSend().run(r).message, text::kNoTestAddress);

    r = request(tarn::test::freePort());
    r.account.settings.dialUp.LANConnect = 0;
    r.loadDialUp = [] {
        return Result<std::shared_ptr<const DialUpLibrary>>(makeError("no pppd"));
    };
    const TestSendOutcome result = TestSend().run(r);
    EXPECT_EQ(result.kind, Kind::Failed);
    EXPECT_EQ(result.message, text::kDialUpFailed);
}

// A security value the engine refuses and an SMTPAuth.txt that cannot be used
// stop the test before dial-up and before the server sees a command: never a
// plain session that sends the password readable, never a quiet one without it.
TEST_F(TestSendTest, UnsafeSettingsStopBeforeDialUpAndServer) {
    Certificates certs;
    ASSERT_TRUE(certs.ok()) << certs.log();
    const std::string transcript = (m_dir / "transcript").string();
    SmtpRecorder server({"--cert", certs.cert("server"), "--key", certs.key("server"), "--auth",
                         "tim:pw", "--transcript", transcript});
    ASSERT_GT(server.port(), 0) << server.output();
    int dialled = 0;
    auto unsafe = [&](std::int32_t security) {
        TestSendRequest r = request(server.port(), security);
        r.account.settings.dialUp.LANConnect = 0;
        r.loadDialUp = [&dialled] {
            ++dialled;
            return Result<std::shared_ptr<const DialUpLibrary>>(makeError("no pppd"));
        };
        return TestSend().run(r);
    };

    writeSmtpAuth("tim", "pw");
    const TestSendOutcome security = unsafe(3);
    EXPECT_EQ(security.kind, Kind::Failed);
    EXPECT_NE(security.message.find("接続の保護の値 3 は使えません"), std::string::npos)
        << security.message;

    writeSmtpAuth("tim", std::string(600, 'p'));
    const TestSendOutcome longPassword = unsafe(kSecurityNone);
    EXPECT_EQ(longPassword.kind, Kind::Failed);
    EXPECT_NE(longPassword.message.find("600 バイト"), std::string::npos) << longPassword.message;
    EXPECT_EQ(longPassword.message.find("ppppp"), std::string::npos) << "a password is shown";

    EXPECT_EQ(dialled, 0);
    EXPECT_EQ(tarn::test::readFile(transcript), "");
    EXPECT_EQ(server.count(), 0);
}

// A server that takes the connection and never greets: the test waits for the
// greeting until the person cancels.
class SilentServer {
public:
    SilentServer() : m_fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof a;
        if (::bind(m_fd, reinterpret_cast<sockaddr*>(&a), size) == 0 && ::listen(m_fd, 4) == 0 &&
            ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &size) == 0) {
            m_port = ntohs(a.sin_port);
        }
    }
    ~SilentServer() { ::close(m_fd); }
    SilentServer(const SilentServer&) = delete;
    SilentServer& operator=(const SilentServer&) = delete;
    int port() const { return m_port; }

private:
    int m_fd;
    int m_port = 0;
};

TEST_F(TestSendTest, CancelEndsAWaitingTestAtOnce) {
    SilentServer server;
    ASSERT_GT(server.port(), 0);
    TestSendRequest r = request(server.port());
    r.receiveTimeoutSec = 90;  // the real wait: only the cancel may end it

    std::mutex mutex;
    std::condition_variable changed;
    bool connecting = false;
    std::promise<TestSendOutcome> done;
    BackgroundTestSend test;
    ASSERT_TRUE(test.start(
        r,
        [&](TestSendStage stage) {
            std::lock_guard lock(mutex);
            connecting = connecting || stage == TestSendStage::Connect;
            changed.notify_all();
        },
        [&](const TestSendOutcome& outcome) { done.set_value(outcome); }));
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, 10s, [&] { return connecting; }));
    }
    EXPECT_TRUE(test.running());
    EXPECT_FALSE(test.start(r, {}, {}));  // one test at a time

    const auto cancelledAt = std::chrono::steady_clock::now();
    test.cancel();
    auto outcome = done.get_future();
    ASSERT_EQ(outcome.wait_for(10s), std::future_status::ready);
    EXPECT_LT(std::chrono::steady_clock::now() - cancelledAt, 5s);
    const TestSendOutcome result = outcome.get();
    EXPECT_EQ(result.kind, Kind::Cancelled) << result.message;
    EXPECT_EQ(result.message, text::kTestCancelled);
    test.wait();
    EXPECT_FALSE(test.running());
}

}  // namespace
