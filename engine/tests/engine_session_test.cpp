// The SMTP session and the job lifecycle against a scripted server: exact
// client bytes and every error value.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <string>

#include "engine.h"
#include "fake_smtp.h"
#include "testsupport.h"

namespace zeph {
namespace {

using test::FakeSmtp;
using test::Script;
using test::Step;
using Clock = std::chrono::steady_clock;

// What the engine calls itself in EHLO/HELO, and in the ABNORMAL text.
std::string localName(const char* fallback) {
    char buffer[128] = {};
    if (::gethostname(buffer, sizeof buffer - 1) != 0) {
        return fallback;
    }
    std::string name(buffer);
    bool usable = !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-';
    });
    return usable ? name : fallback;
}

Step greet() {
    return {"", {"220 fake ESMTP\r\n"}};
}
Step on(std::string expect, std::string reply) {
    return {std::move(expect), {std::move(reply)}};
}
Step ehlo() {
    return on("EHLO ", "250 hello\r\n");
}

// RSET .. terminator for one message whose recipients all pass.
Script transaction(int recipients) {
    Script s = {on("RSET\r\n", "250 reset\r\n"), on("MAIL FROM:", "250 sender ok\r\n")};
    for (int i = 0; i < recipients; ++i) {
        s.push_back(on("RCPT TO:", "250 rcpt ok\r\n"));
    }
    s.push_back(on("DATA\r\n", "354 go ahead\r\n"));
    s.push_back(on("\r\n.\r\n", "250 queued\r\n"));
    return s;
}

Script concat(Script a, const Script& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class Session : public ::testing::Test {
protected:
    void SetUp() override { engine.setRecvTimeOutSec(5); }

    void message(const char* to, const char* from = "Sender <s@x.jp>", const char* cc = nullptr,
                 const char* bcc = nullptr) {
        engine.withMessage([&](Message& m) {
            m.setDefaultHeader();
            m.setHeader("To", to);
            m.setHeader("From", from);
            m.setHeader("Cc", cc);
            m.setHeader("Bcc", bcc);
            m.setHeader("Subject", "test");
            m.setBody("Hello\r\n");
        });
    }

    int connect(const FakeSmtp& server) {
        engine.setPort(server.port());
        return engine.connect("127.0.0.1", 1);
    }

    void expectErrors(SocketError sockError, int code, ErrorPos pos) {
        EXPECT_EQ(engine.sockError(), sockError);
        EXPECT_EQ(engine.replyCode(), code);
        EXPECT_EQ(engine.errorPos(), pos);
    }

    // Waits (bounded) for a job handed over with wait 0.
    bool finished(std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        auto end = Clock::now() + limit;
        while (engine.isExecute() != 0) {
            if (Clock::now() > end) {
                return false;
            }
        }
        return true;
    }

    MailEngine engine;
};

TEST_F(Session, SendsTheEnvelopeAndGoesOnPastRefusedRecipients) {
    Script s = {greet(),
                ehlo(),
                on("RSET\r\n", "250 reset\r\n"),
                on("MAIL FROM:", "250 ok\r\n"),
                on("RCPT TO:", "250 ok\r\n"),
                on("RCPT TO:", "550 no such user\r\n"),
                on("RCPT TO:", "501 odd but let through\r\n"),
                on("RCPT TO:", "250 ok\r\n"),
                on("DATA\r\n", "354 go ahead\r\n"),
                on("\r\n.\r\n", "250 queued\r\n")};
    s = concat(s, transaction(1));
    s.push_back(on("QUIT\r\n", "221 bye\r\n"));
    FakeSmtp server({s});
    ASSERT_EQ(connect(server), 1);
    ASSERT_EQ(engine.sendStart(1), 1);
    EXPECT_STREQ(engine.smtpResult(), "250 hello");

    // "山田 <a@x.jp>, b@y.jp"
    message("\x8e\x52\x93\x63 <a@x.jp>, b@y.jp", "Sender <s@x.jp>", "c@z.jp", "d@w.jp");
    std::size_t before = server.received().size();
    int size = engine.getSendSize();
    EXPECT_EQ(server.received().size(), before) << "measuring must not send";
    ASSERT_EQ(engine.send(1), 1);
    EXPECT_EQ(engine.nowSendSize(), size);

    std::string sent = server.received();
    std::string transcript = sent.substr(before);
    EXPECT_EQ(sent.substr(0, before), "EHLO " + localName("ZEPHM") + "\r\n");
    const std::string envelope =
        "RSET\r\nMAIL FROM:<s@x.jp>\r\nRCPT TO:<a@x.jp>\r\nRCPT TO:<b@y.jp>\r\n"
        "RCPT TO:<c@z.jp>\r\nRCPT TO:<d@w.jp>\r\nDATA\r\n";
    EXPECT_EQ(transcript.substr(0, envelope.size()), envelope);
    EXPECT_EQ(transcript.size(), static_cast<std::size_t>(size));
    EXPECT_TRUE(transcript.ends_with("Hello\r\n\r\n\r\n.\r\n"));
    // The refused recipient's position stays; the last command's values are clear.
    expectErrors(SocketError::None, 250, ErrorPos::ServerRefused);

    // The session carries on with the next message.
    message("e@v.jp");
    ASSERT_EQ(engine.send(1), 1);
    EXPECT_TRUE(server.waitReceived("RCPT TO:<e@v.jp>\r\n"));
    ASSERT_EQ(engine.disconnect(1), 1);
    EXPECT_TRUE(server.received().ends_with("QUIT\r\n"));
    EXPECT_EQ(engine.errorPos(), ErrorPos::ServerRefused);
}

TEST_F(Session, ReadsMultiLineGreetingsToTheirLastLine) {
    const std::vector<std::vector<std::string>> greetings = {
        {"220-first\r\n220 second\r\n"},
        {"220-InterScan VirusWall\r\n", "220-more\r\n", "220 ready\r\n"},
        {"220-a\r\n", "220 b\r\n"},
        {"22", "0 split code\r\n"},
    };
    for (const auto& chunks : greetings) {
        SCOPED_TRACE(chunks.front());
        FakeSmtp server({{Step{"", chunks}, ehlo()}});
        ASSERT_EQ(connect(server), 1);
        // Had a greeting line been left unread, it would answer EHLO.
        ASSERT_EQ(engine.sendStart(1), 1);
        EXPECT_STREQ(engine.smtpResult(), "250 hello");
        EXPECT_EQ(engine.abort(), 1);
    }
}

TEST_F(Session, GreetsWithEhloFallsBackToHeloAndJudgesTheReply) {
    const std::string name = localName("NONAME");
    struct Row {
        std::string ehlo;
        std::string helo;  // the reply to HELO; empty: no HELO may be sent
        int result;
        std::string text;
        SocketError sockError;
        ErrorPos pos;
    };
    const std::string abnormal = " ABNORMAL CMD::[HELO " + name + "]";
    const std::vector<Row> rows = {
        {"250-split\r\n", "", 1, "250-split", SocketError::None, ErrorPos::None},
        {"501 who are you\r\n", "", 1, "501" + abnormal, SocketError::None, ErrorPos::None},
        {"220 what\r\n", "", 0, "220" + abnormal, SocketError::None, ErrorPos::None},
        {"421 go away\r\n", "", 0, "421 go away", SocketError::ServerRefused,
         ErrorPos::ServerRefused},
        {"550 not you\r\n", "", 0, "550 not you", SocketError::ServerRefused,
         ErrorPos::ServerRefused},
        // A server that does not know EHLO: HELO, judged by the same rule,
        // and the refusal of EHLO leaves no error position behind.
        {"500 unknown\r\n", "250 hello\r\n", 1, "250 hello", SocketError::None, ErrorPos::None},
        {"502 not here\r\n", "501 odd\r\n", 1, "501" + abnormal, SocketError::None, ErrorPos::None},
        {"500 unknown\r\n", "220 what\r\n", 0, "220" + abnormal, SocketError::None, ErrorPos::None},
        {"502 not here\r\n", "421 bye\r\n", 0, "421 bye", SocketError::ServerRefused,
         ErrorPos::ServerRefused},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.ehlo + row.helo);
        Script s = {greet(), on("EHLO ", row.ehlo)};
        if (row.ehlo.starts_with("250-")) {
            s.back().chunks.emplace_back("250 done\r\n");
        }
        if (!row.helo.empty()) {
            s.push_back(on("HELO ", row.helo));
        }
        FakeSmtp server({s});
        MailEngine fresh;
        fresh.setPort(server.port());
        ASSERT_EQ(fresh.connect("127.0.0.1", 1), 1);
        EXPECT_EQ(fresh.sendStart(1), row.result);
        EXPECT_STREQ(fresh.smtpResult(), row.text.c_str());
        EXPECT_EQ(fresh.sockError(), row.sockError);
        EXPECT_EQ(fresh.errorPos(), row.pos);
        std::string expected = "EHLO " + localName("ZEPHM") + "\r\n";
        if (!row.helo.empty()) {
            expected += "HELO " + localName("ZEPHM") + "\r\n";
            // The rewritten text leaves the server's own words within reach.
            EXPECT_EQ(fresh.serverReply(), row.helo);
        }
        fresh.abort();
        EXPECT_EQ(server.received(), expected);
    }
}

TEST_F(Session, ReportsSilenceAClosedConnectionAndAnOversizedReply) {
    engine.setRecvTimeOutSec(1);
    {
        FakeSmtp server({{greet(), Step{"EHLO ", {}}}});
        ASSERT_EQ(connect(server), 1);
        auto start = Clock::now();
        EXPECT_EQ(engine.sendStart(1), 0);
        EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(900));
        expectErrors(SocketError::NoReply, 0, ErrorPos::NoReply);
        engine.abort();
    }
    {
        FakeSmtp server({{greet(), ehlo(), Step{"RSET\r\n", {}, true}}});
        ASSERT_EQ(connect(server), 1);
        ASSERT_EQ(engine.sendStart(1), 1);
        message("a@x.jp");
        EXPECT_EQ(engine.send(1), 0);
        expectErrors(SocketError::ClosedByPeer, 0, ErrorPos::Recv);
        engine.abort();
    }
    {
        FakeSmtp server({{greet(), Step{"EHLO ", test::endlessMultiline(3000)}}});
        ASSERT_EQ(connect(server), 1);
        EXPECT_EQ(engine.sendStart(1), 0);
        EXPECT_EQ(engine.errorPos(), ErrorPos::ReplyTooLong);
        EXPECT_EQ(std::string(engine.smtpResult()).substr(0, 4), "250-");
        engine.abort();
    }
    {
        // A refusal whose last line never comes is still a refusal.
        FakeSmtp server({{greet(), on("EHLO ", "554-no\r\n")}});
        ASSERT_EQ(connect(server), 1);
        EXPECT_EQ(engine.sendStart(1), 0);
        expectErrors(SocketError::ServerRefused, 554, ErrorPos::ServerRefused);
    }
}

TEST_F(Session, StopEndsAnyWaitWithinMilliseconds) {
    engine.setRecvTimeOutSec(60);
    // The first line of a reply whose rest never comes: the engine is surely
    // waiting for more when it is stopped.
    FakeSmtp server(
        {{greet(), on("EHLO ", "250-partial\r\n")}, concat({greet(), ehlo()}, transaction(1))});
    ASSERT_EQ(connect(server), 1);
    ASSERT_EQ(engine.sendStart(0), 1);
    ASSERT_TRUE(tarn::test::waitUntil([&] { return engine.replyCode() == 250; }));
    auto start = Clock::now();
    engine.stop();
    ASSERT_TRUE(finished());
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(engine.result(), 0);
    expectErrors(SocketError::Stopped, 250, ErrorPos::NoReply);
    EXPECT_EQ(engine.abort(), 1);

    // The wait after a message.
    engine.setWaitMillSec(60000, 0);
    ASSERT_EQ(connect(server), 1);
    ASSERT_EQ(engine.sendStart(1), 1);
    message("a@x.jp");
    ASSERT_EQ(engine.send(0), 1);
    ASSERT_TRUE(server.waitReceived("\r\n.\r\n", 1));
    // The terminator's reply has been read once the code is 250 again.
    ASSERT_TRUE(tarn::test::waitUntil([&] { return engine.replyCode() == 250; }));
    start = Clock::now();
    engine.stop();
    ASSERT_TRUE(finished());
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(engine.result(), 0);
    expectErrors(SocketError::Stopped, 250, ErrorPos::StoppedAfterMessage);
}

TEST_F(Session, RefusesASecondJobWhileOneRuns) {
    FakeSmtp server({{greet(), Step{"EHLO ", {}}}});
    ASSERT_EQ(connect(server), 1);
    ASSERT_EQ(engine.sendStart(0), 1);
    message("a@x.jp");
    EXPECT_EQ(engine.send(1), 0);
    EXPECT_EQ(engine.lastError(), kLastBusy);
    EXPECT_EQ(engine.getSendSize(), 0);
    EXPECT_EQ(engine.isExecute(), 1) << "the running job is unaffected";
    engine.stop();
    ASSERT_TRUE(finished());
    // Abort while idle closes the socket; a second one finds none.
    EXPECT_EQ(engine.abort(), 1);
    EXPECT_EQ(engine.abort(), 0);
    expectErrors(SocketError::None, 0, ErrorPos::AbortClose);
}

TEST_F(Session, AbortDuringAJobStopsItBeforeClosingTheSocket) {
    engine.setRecvTimeOutSec(60);
    FakeSmtp server({{greet(), Step{"EHLO ", {}}}});
    ASSERT_EQ(connect(server), 1);
    ASSERT_EQ(engine.sendStart(0), 1);
    ASSERT_TRUE(server.waitReceived("EHLO "));
    auto start = Clock::now();
    EXPECT_EQ(engine.abort(), 1);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(engine.isExecute(), 0);
    EXPECT_EQ(engine.result(), 0);
    EXPECT_EQ(engine.sockError(), SocketError::Stopped);
}

TEST_F(Session, EndedWorkerRefusesJobsUntilStartedAgain) {
    EXPECT_EQ(engine.threadControl(0), 1);
    engine.setPort(0);
    EXPECT_EQ(engine.connect("host", 1), 0);
    EXPECT_EQ(engine.lastError(), kLastBusy);
    EXPECT_EQ(engine.threadControl(1), 1);
    EXPECT_EQ(engine.threadControl(1), static_cast<int>(JobKind::Idle)) << "already running";
    EXPECT_EQ(engine.connect("host", 1), 1);
}

TEST_F(Session, MeasureOnlyCountsWithoutANetwork) {
    engine.setPort(0);
    ASSERT_EQ(engine.connect("nowhere.invalid", 1), 1);
    EXPECT_EQ(engine.sendStart(1), 0) << "no reply is read, so EHLO never gets 250";
    EXPECT_EQ(engine.replyCode(), 0);
    message("a@x.jp, b@y.jp");
    int size = engine.getSendSize();
    EXPECT_GT(size, 0);
    ASSERT_EQ(engine.send(1), 1);
    EXPECT_EQ(engine.nowSendSize(), size);
}

TEST_F(Session, ConnectGuards) {
    FakeSmtp server({{greet(), on("QUIT\r\n", "221 bye\r\n")}});
    ASSERT_EQ(connect(server), 1);
    EXPECT_EQ(engine.connect("127.0.0.1", 1), 0) << "already connected";
    expectErrors(SocketError::None, 0, ErrorPos::None);
    EXPECT_EQ(engine.abort(), 1);
    ASSERT_EQ(connect(server), 1) << "after ZEPH_Abort a connect works again";
    EXPECT_EQ(server.connections(), 2U);

    EXPECT_EQ(engine.disconnect(1), 1);
    EXPECT_EQ(engine.disconnect(1), 0) << "no longer connected";
    EXPECT_EQ(engine.connect(std::string(128, 'a').c_str(), 1), 0);
    EXPECT_EQ(engine.sockError(), SocketError::NoHost);
    EXPECT_EQ(engine.connect(nullptr, 1), 0);
    EXPECT_EQ(engine.sockError(), SocketError::NoHost);

    // Nothing listens on a port that was just released.
    int port = 0;
    {
        FakeSmtp gone(std::vector<Script>{{greet()}});
        port = gone.port();
    }
    engine.setPort(port);
    EXPECT_EQ(engine.connect("127.0.0.1", 1), 0);
    EXPECT_EQ(engine.errorPos(), ErrorPos::Connect);
    EXPECT_EQ(engine.sockError(), errnoError(ECONNREFUSED));
}

TEST_F(Session, SendNeedsToFromAndAnAcceptedRecipient) {
    FakeSmtp server({{greet(), ehlo(), on("RSET\r\n", "250 ok\r\n"), on("MAIL FROM:", "250 ok\r\n"),
                      on("RCPT TO:", "550 no\r\n"), on("RCPT TO:", "550 no\r\n")}});
    ASSERT_EQ(connect(server), 1);
    ASSERT_EQ(engine.sendStart(1), 1);
    engine.withMessage([](Message& m) {
        m.clearCustomHeader();
        m.setHeader("To", "a@x.jp");
    });
    EXPECT_EQ(engine.send(1), 0);
    expectErrors(SocketError::None, 250, ErrorPos::None);  // still those of EHLO
    EXPECT_FALSE(server.received().ends_with("RSET\r\n"));

    // "山田" alone: no usable sender.
    message("a@x.jp, b@y.jp", "\x8e\x52\x93\x63");
    EXPECT_EQ(engine.send(1), 0);
    EXPECT_TRUE(
        server.waitReceived("MAIL FROM:<Unknown>\r\nRCPT TO:<a@x.jp>\r\nRCPT TO:<b@y.jp>\r\n"));
    expectErrors(SocketError::ServerRefused, 550, ErrorPos::ServerRefused);
    EXPECT_EQ(server.received().find("DATA"), std::string::npos);
}

struct AuthRow {
    const char* name;
    int mode;
    int method;
    std::string ehlo;
    Script exchange;  // after the EHLO reply
    int result;
};

TEST_F(Session, AuthenticatesWithTheChosenMethod) {
    // RFC 2195's worked example.
    const std::string kChallenge =
        "334 PDE4OTYuNjk3MTcwOTUyQHBvc3RvZmZpY2UucmVzdG9uLm1jaS5uZXQ+\r\n";
    const std::string kCram = "dGltIGI5MTNhNjAyYzdlZGE3YTQ5NWI0ZTZlNzMzNGQzODkw\r\n";
    const std::string kPlain = "AUTH PLAIN dGltAHRpbQB0YW5zdGFhZnRhbnN0YWFm\r\n";
    const std::vector<AuthRow> rows = {
        {"LOGIN over PLAIN",
         1,
         0,
         "250-fake\r\n250-AUTH LOGIN PLAIN\r\n250 HELP\r\n",
         {on("AUTH LOGIN\r\n", "334 VXNlcm5hbWU6\r\n"), on("dGlt\r\n", "334 UGFzc3dvcmQ6\r\n"),
          on("dGFuc3RhYWZ0YW5zdGFhZg==\r\n", "235 ok\r\n")},
         1},
        {"CRAM-MD5 over LOGIN",
         1,
         0,
         "250-fake\r\n250 AUTH CRAM-MD5 LOGIN\r\n",
         {on("AUTH CRAM-MD5\r\n", kChallenge), on(kCram, "235 ok\r\n")},
         1},
        {"method 1 is PLAIN whatever is offered",
         1,
         1,
         "250-fake\r\n250 AUTH CRAM-MD5 LOGIN\r\n",
         {on(kPlain, "235 ok\r\n")},
         1},
        {"mode -104 forces CRAM-MD5",
         -104,
         1,
         "250 fake\r\n",
         {on("AUTH CRAM-MD5\r\n", kChallenge), on(kCram, "235 ok\r\n")},
         1},
        {"nothing offered, nothing sent", 1, 0, "250-fake\r\n250 SIZE 1000\r\n", {}, 1},
        {"refused with 535",
         1,
         1,
         "250 AUTH PLAIN\r\n",
         {on(kPlain, "535 5.7.8 bad credentials\r\n")},
         0},
        {"wrong code below 400",
         1,
         2,
         "250 AUTH LOGIN\r\n",
         {on("AUTH LOGIN\r\n", "250 what\r\n")},
         0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Script s = {greet(), on("EHLO ", row.ehlo)};
        s = concat(s, row.exchange);
        FakeSmtp server({s});
        MailEngine fresh;
        fresh.setRecvTimeOutSec(5);
        fresh.setPort(server.port());
        ASSERT_EQ(fresh.setSmtpAuth(row.mode, "tim", "tanstaaftanstaaf", row.method), 1);
        ASSERT_EQ(fresh.connect("127.0.0.1", 1), 1);
        EXPECT_EQ(fresh.sendStart(1), row.result);
        std::string expected = "EHLO " + localName("ZEPHM") + "\r\n";
        for (const auto& step : row.exchange) {
            expected += step.expect;
        }
        EXPECT_EQ(server.received(), expected);
        if (row.result == 0 && std::string(row.name) == "refused with 535") {
            EXPECT_STREQ(fresh.smtpResult(), "535 5.7.8 bad credentials");
            EXPECT_EQ(fresh.sockError(), SocketError::ServerRefused);
        } else if (row.result == 0) {
            EXPECT_EQ(fresh.sockError(), SocketError::None);
            EXPECT_EQ(fresh.replyCode(), 250);
        }
    }
}

TEST_F(Session, AuthWithoutAPasswordStaysOff) {
    FakeSmtp server({{greet(), on("EHLO ", "250-fake\r\n250 AUTH PLAIN\r\n")}});
    EXPECT_EQ(engine.setSmtpAuth(1, "tim", nullptr, 1), 0);
    ASSERT_EQ(connect(server), 1);
    ASSERT_EQ(engine.sendStart(1), 1);
    engine.abort();
    EXPECT_EQ(server.received(), "EHLO " + localName("ZEPHM") + "\r\n");
}

}  // namespace
}  // namespace zeph
