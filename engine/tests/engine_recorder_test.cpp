// The engine through its exports against a real SMTP server (aiosmtpd),
// recording what arrives.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "testsupport.h"
#include "zeph.h"

namespace {

using tarn::test::ChildProcess;
using tarn::test::TempDir;

class Recorder {
public:
    explicit Recorder(const std::vector<std::string>& extra = {}) {
        std::vector<std::string> argv = {TARN_TEST_PYTHON,
                                         TARN_SOURCE_DIR "/common/testsupport/smtp_recorder.py",
                                         "--dir", (m_dir / "mail").string()};
        argv.insert(argv.end(), extra.begin(), extra.end());
        m_child = std::make_unique<ChildProcess>(argv, m_dir.path());
        bool ready = tarn::test::waitUntil(
            [&] { return m_child->output().find("READY ") != std::string::npos; });
        std::string out = m_child->output();
        if (!ready) {
            throw std::runtime_error("smtp_recorder.py did not start: " + out);
        }
        m_port = std::stoi(out.substr(out.find("READY ") + 6));
    }
    int port() const { return m_port; }
    std::filesystem::path message(int n, const char* ext) const {
        return m_dir / ("mail/" + std::to_string(n) + ext);
    }
    std::string envelope(int n) const {
        auto path = message(n, ".json");
        if (!tarn::test::waitUntil([&] { return std::filesystem::exists(path); })) {
            return {};
        }
        return tarn::test::readFile(path);
    }
    std::string output() const { return m_child->output(); }

private:
    TempDir m_dir;
    std::unique_ptr<ChildProcess> m_child;
    int m_port = 0;
};

void setMessage(const char* to, const char* body) {
    ZEPH_SetDefaultHeader();
    ZEPH_SetTo(to);
    ZEPH_SetCc("");
    ZEPH_SetBcc("hidden@example.jp");
    ZEPH_SetFrom("Sender <sender@example.jp>");
    ZEPH_SetSubject("Report");
    ZEPH_SetBody(body);
}

bool waitJob() {
    return tarn::test::waitUntil([] { return ZEPH_IsExecute() == 0; });
}

TEST(Recorder, SendsSeveralMessagesOnOneSession) {
    Recorder server;
    ZEPH_SetSmtpAuth(0, nullptr, nullptr, 0);
    ZEPH_SetRecvTimeOutSec(10);
    ZEPH_SetWaitMillSec(0, 0);
    ZEPH_SetPort(server.port());
    // Polling as a client does.
    ASSERT_EQ(ZEPH_Connect("localhost", 0), 1);
    ASSERT_TRUE(waitJob());
    ASSERT_EQ(ZEPH_GetResult(), 1) << server.output();
    ASSERT_EQ(ZEPH_SendStart(1), 1) << ZEPH_GetSMTPResult();
    EXPECT_EQ(ZEPH_GetSmtpLastError(), 250);

    for (int i = 1; i <= 3; ++i) {
        std::string to = "user" + std::to_string(i) + "@example.jp";
        // A body line that starts with a dot must arrive unchanged.
        std::string body = "Line one\r\n.dotted line " + std::to_string(i) + "\r\n";
        setMessage(to.c_str(), body.c_str());
        int size = ZEPH_GetSendSize();
        ASSERT_GT(size, 0);
        ASSERT_EQ(ZEPH_Send(0), 1);
        int last = 0;
        while (ZEPH_IsExecute() != 0) {
            int now = ZEPH_GetNowSendSize();
            EXPECT_GE(now, last) << "progress never goes back";
            last = now;
        }
        ASSERT_EQ(ZEPH_GetResult(), 1) << ZEPH_GetSMTPResult();
        EXPECT_EQ(ZEPH_GetNowSendSize(), size);

        std::string envelope = server.envelope(i);
        EXPECT_NE(envelope.find("\"mail_from\": \"sender@example.jp\""), std::string::npos)
            << envelope;
        EXPECT_NE(envelope.find("\"rcpt_tos\": [\"" + to + "\", \"hidden@example.jp\"]"),
                  std::string::npos)
            << envelope;
        std::string data = tarn::test::readFile(server.message(i, ".eml"));
        EXPECT_NE(data.find("\r\n\r\nLine one\r\n.dotted line " + std::to_string(i) + "\r\n"),
                  std::string::npos)
            << data;
        EXPECT_EQ(data.find("hidden@example.jp"), std::string::npos) << "Bcc is never written";
    }
    EXPECT_EQ(ZEPH_Disconnect(1), 1);
    EXPECT_EQ(ZEPH_Abort(), 0) << "the socket is already closed";
}

TEST(Recorder, AuthenticatesWithPlainAndLoginAndReportsAWrongPassword) {
    Recorder server({"--auth", "operator:s3cret", "--auth-required"});
    ZEPH_SetRecvTimeOutSec(10);
    ZEPH_SetPort(server.port());
    for (int method : {1, 2}) {
        SCOPED_TRACE(method);
        ASSERT_EQ(ZEPH_SetSmtpAuth(1, "operator", "s3cret", method), 1);
        ASSERT_EQ(ZEPH_Connect("127.0.0.1", 1), 1);
        ASSERT_EQ(ZEPH_SendStart(1), 1) << ZEPH_GetSMTPResult();
        EXPECT_EQ(ZEPH_GetSmtpLastError(), 235);
        setMessage("to@example.jp", "Hi\r\n");
        ASSERT_EQ(ZEPH_Send(1), 1) << ZEPH_GetSMTPResult();
        EXPECT_NE(server.envelope(method).find("\"login\": \"operator\""), std::string::npos);
        EXPECT_EQ(ZEPH_Disconnect(1), 1);
        ZEPH_Abort();
    }

    ASSERT_EQ(ZEPH_SetSmtpAuth(1, "operator", "wrong", 1), 1);
    ASSERT_EQ(ZEPH_Connect("127.0.0.1", 1), 1);
    EXPECT_EQ(ZEPH_SendStart(1), 0);
    EXPECT_EQ(ZEPH_GetSmtpLastError(), 535);
    EXPECT_STREQ(ZEPH_GetSMTPResult(), "535 5.7.8 Authentication credentials invalid");
    EXPECT_EQ(ZEPH_GetSockLastError(), -2);
    EXPECT_EQ(ZEPH_GetLastErrorPos(), 9000);
    EXPECT_EQ(ZEPH_Abort(), 1);
    ZEPH_SetSmtpAuth(0, nullptr, nullptr, 0);
}

}  // namespace
