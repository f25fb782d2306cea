// PIPELINING against scripted servers: each case runs once lock-step (a
// server that does not offer it) and once pipelined, and both must end with
// the same result, error values and reply text; the session must stay usable
// for the next message. A pipelined script answers only once the whole batch
// has arrived, so a client that waited for each reply would time out.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine.h"
#include "fake_smtp.h"
#include "smtp_recorder.h"

namespace zeph {
namespace {

using test::FakeSmtp;
using test::Script;
using test::Step;

const std::string kBatch =
    "RSET\r\nMAIL FROM:<s@x.jp>\r\nRCPT TO:<a@x.jp>\r\nRCPT TO:<b@y.jp>\r\nDATA\r\n";

Step on(std::string expect, std::string reply, bool close = false) {
    return {std::move(expect), {std::move(reply)}, close};
}

Message message(const char* to, const char* from = "Sender <s@x.jp>") {
    Message m;
    m.setDefaultHeader();
    m.setHeader("To", to);
    m.setHeader("From", from);
    m.setHeader("Subject", "test");
    m.setBody("Hello\r\n");
    return m;
}

struct Outcome {
    int result = -1;
    SocketError sockError = SocketError::None;
    int replyCode = 0;
    ErrorPos errorPos = ErrorPos::None;
    std::string text;
    bool operator==(const Outcome&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Outcome& o) {
    return out << "{" << o.result << ", [" << static_cast<int>(o.sockError) << ", " << o.replyCode
               << ", " << static_cast<int>(o.errorPos) << "] \"" << o.text << "\"}";
}

// One message to a@x.jp and b@y.jp; the replies a server gives to each command.
struct Case {
    const char* name;
    std::string rset, mail, rcptA, rcptB, data, end;
    bool closes = false;  // the server hangs up after its last reply
    // Pipelined: how the replies to the batch arrive (empty: one chunk).
    std::vector<std::string> chunks;
    bool oneByOne = false;  // pipelined: each reply only once its command is seen
    std::string dot;        // the reply to the lone "." after DATA accepted for nobody
    Outcome expected;
};

bool accepted(const std::string& reply) {
    if (reply.size() < 3) {
        return false;
    }
    const int code = std::stoi(reply.substr(0, 3));
    return code < 400 || code == 501;
}

class Pipelining : public ::testing::TestWithParam<Case> {
protected:
    // The session start, then the case's message, then (unless the server
    // hung up) one more message that must go through.
    Script script(const Case& c, bool pipelined) {
        Script s = {{"", {"220 fake\r\n"}},
                    on("EHLO ", pipelined ? "250-fake\r\n250-PIPELINING\r\n250 HELP\r\n"
                                          : "250-fake\r\n250 HELP\r\n")};
        const bool anyRecipient = accepted(c.rcptA) || accepted(c.rcptB);
        const bool dataOpen = accepted(c.mail) && anyRecipient && accepted(c.rset);
        if (!pipelined) {
            s.push_back(on("RSET\r\n", c.rset));
            if (accepted(c.rset)) {
                s.push_back(on("MAIL FROM:", c.mail, c.closes && !accepted(c.mail)));
            }
            if (accepted(c.rset) && accepted(c.mail)) {
                s.push_back(on("RCPT TO:<a", c.rcptA));
                s.push_back(on("RCPT TO:<b", c.rcptB));
            }
            if (dataOpen) {
                s.push_back(on("DATA\r\n", c.data));
                if (accepted(c.data)) {
                    s.push_back(on("\r\n.\r\n", c.end));
                }
            }
        } else if (c.oneByOne) {
            for (const auto& [expect, reply] :
                 std::vector<std::pair<std::string, std::string>>{{"RSET\r\n", c.rset},
                                                                  {"MAIL FROM:", c.mail},
                                                                  {"RCPT TO:<a", c.rcptA},
                                                                  {"RCPT TO:<b", c.rcptB},
                                                                  {"DATA\r\n", c.data}}) {
                s.push_back(on(expect, reply));
            }
            s.push_back(on("\r\n.\r\n", c.end));
        } else {
            Step batch{kBatch, c.chunks, c.closes};
            if (batch.chunks.empty()) {
                batch.chunks = {c.rset + c.mail + c.rcptA + c.rcptB + c.data};
            }
            s.push_back(batch);
            if (!c.dot.empty()) {
                s.push_back(on(".\r\n", c.dot));
            } else if (c.data.starts_with("354")) {
                s.push_back(on("\r\n.\r\n", c.end));
            }
        }
        if (c.closes) {
            return s;
        }
        // The next message: everything passes.
        if (pipelined) {
            s.push_back({"RSET\r\nMAIL FROM:<s@x.jp>\r\nRCPT TO:<c@z.jp>\r\nDATA\r\n",
                         {"250 reset\r\n250 ok\r\n250 ok\r\n354 go\r\n"}});
        } else {
            for (const char* step : {"RSET\r\n", "MAIL FROM:", "RCPT TO:<c", "DATA\r\n"}) {
                s.push_back(
                    on(step, std::string(step) == "DATA\r\n" ? "354 go\r\n" : "250 ok\r\n"));
            }
        }
        s.push_back(on("\r\n.\r\n", "250 queued again\r\n"));
        return s;
    }

    Outcome run(const Case& c, bool pipelined) {
        FakeSmtp server({script(c, pipelined)});
        MailEngine engine;
        engine.setRecvTimeOutSec(5);
        engine.setPort(server.port());
        EXPECT_EQ(engine.connect("127.0.0.1", 1), 1);
        EXPECT_EQ(engine.sendStart(1), 1);
        EXPECT_EQ(engine.pipelining(), pipelined);
        engine.withMessage([](Message& m) { m = message("a@x.jp, b@y.jp"); });
        Outcome o;
        o.result = engine.send(1);
        o.sockError = engine.sockError();
        o.replyCode = engine.replyCode();
        o.errorPos = engine.errorPos();
        o.text = engine.smtpResult();
        if (pipelined) {
            EXPECT_NE(server.received().find(kBatch), std::string::npos)
                << "the envelope and DATA in one go";
        }
        if (!c.closes) {
            engine.withMessage([](Message& m) { m = message("c@z.jp"); });
            EXPECT_EQ(engine.send(1), 1) << "the replies stayed matched to their commands";
            EXPECT_STREQ(engine.smtpResult(), "250 queued again");
        }
        engine.abort();
        return o;
    }
};

TEST_P(Pipelining, EndsLikeLockStep) {
    const Case& c = GetParam();
    const Outcome lockStep = run(c, false);
    const Outcome pipelined = run(c, true);
    EXPECT_EQ(lockStep, c.expected) << "lock-step";
    EXPECT_EQ(pipelined, c.expected) << "pipelined";
}

const std::string kOk = "250 ok\r\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, Pipelining,
    ::testing::Values(
        Case{"AllAccepted",
             kOk,
             kOk,
             kOk,
             kOk,
             "354 go\r\n",
             "250 queued\r\n",
             false,
             {},
             false,
             "",
             {1, SocketError::None, 250, ErrorPos::None, "250 queued"}},
        Case{"SecondRecipientRefused",
             kOk,
             kOk,
             kOk,
             "550 5.1.1 no such user b\r\n",
             "354 go\r\n",
             "250 queued\r\n",
             false,
             {},
             false,
             "",
             {1, SocketError::None, 250, ErrorPos::ServerRefused, "250 queued"}},
        Case{"AllRecipientsRefusedThenData554",
             kOk,
             kOk,
             "550 no a\r\n",
             "550 no b\r\n",
             "554 no valid recipients\r\n",
             "",
             false,
             {},
             false,
             "",
             {0, SocketError::ServerRefused, 550, ErrorPos::ServerRefused, "550 no b"}},
        Case{"AllRecipientsRefusedButDataAccepted",
             kOk,
             kOk,
             "550 no a\r\n",
             "550 no b\r\n",
             "354 go\r\n",
             "",
             false,
             {},
             false,
             "554 no recipients\r\n",
             {0, SocketError::ServerRefused, 550, ErrorPos::ServerRefused, "550 no b"}},
        Case{"SenderRefused",
             kOk,
             "553 sender refused\r\n",
             "503 need MAIL\r\n",
             "503 need MAIL\r\n",
             "503 need MAIL\r\n",
             "",
             false,
             {},
             false,
             "",
             {0, SocketError::ServerRefused, 553, ErrorPos::ServerRefused, "553 sender refused"}},
        Case{"ClosingMidBatch",
             kOk,
             "421 4.7.0 too many connections, closing\r\n",
             "",
             "",
             "",
             "",
             true,
             {"250 ok\r\n421 4.7.0 too many connections, closing\r\n"},
             false,
             "",
             {0, SocketError::ServerRefused, 421, ErrorPos::ServerRefused,
              "421 4.7.0 too many connections, closing"}},
        Case{"RepliesSplitAcrossPackets",
             "250 reset\r\n",
             "250 sender ok\r\n",
             "250 a\r\n",
             "250-b\r\n250 b ok\r\n",
             "354 go\r\n",
             "250 queued\r\n",
             false,
             {"250 reset\r\n25", "0 sender ok\r\n250 a\r\n250-b\r\n", "250 b ok\r\n354 go\r\n"},
             false,
             "",
             {1, SocketError::None, 250, ErrorPos::None, "250 queued"}},
        Case{"AnsweredOneByOne",
             kOk,
             kOk,
             "550 no a\r\n",
             kOk,
             "354 go\r\n",
             "250 queued\r\n",
             false,
             {},
             true,
             "",
             {1, SocketError::None, 250, ErrorPos::ServerRefused, "250 queued"}},
        Case{"MessageRefusedAtTheEnd",
             kOk,
             kOk,
             kOk,
             kOk,
             "354 go\r\n",
             "552 5.3.4 message too big\r\n",
             false,
             {},
             false,
             "",
             {0, SocketError::ServerRefused, 552, ErrorPos::ServerRefused,
              "552 5.3.4 message too big"}}),
    [](const auto& param) { return std::string(param.param.name); });

// The send job's path: a queued message's commands go out with the content
// of the one before it, so each message costs one round trip.
class Queued : public ::testing::Test {
protected:
    static std::string batch(const std::string& to) {
        return "RSET\r\nMAIL FROM:<s@x.jp>\r\nRCPT TO:<" + to + ">\r\nDATA\r\n";
    }
    static std::string accepted() { return "250 reset\r\n250 ok\r\n250 ok\r\n354 go\r\n"; }

    // The bytes a send job transmits for a message, counted without a network.
    static int measured(const char* to) {
        MailEngine counter;
        counter.setPort(0);
        counter.connect("nowhere.invalid", 1);
        counter.withMessage([&](Message& m) { m = message(to); });
        return counter.getSendSize();
    }

    void start(MailEngine& engine, const FakeSmtp& server) {
        engine.setRecvTimeOutSec(5);
        engine.setPort(server.port());
        ASSERT_EQ(engine.connect("127.0.0.1", 1), 1);
        ASSERT_EQ(engine.sendStart(1), 1);
    }
};

TEST_F(Queued, NextMessageGoesOutWithTheContentBeforeItsReply) {
    // Each "." is answered only once the next message's DATA has arrived.
    FakeSmtp server({{{"", {"220 fake\r\n"}},
                      on("EHLO ", "250-fake\r\n250 PIPELINING\r\n"),
                      on(batch("m1@x.jp"), accepted()),
                      on(".\r\n" + batch("m2@x.jp"), "250 queued 1\r\n" + accepted()),
                      on(".\r\n" + batch("m3@x.jp"), "250 queued 2\r\n" + accepted()),
                      on("\r\n.\r\n", "250 queued 3\r\n"),
                      on("QUIT\r\n", "221 bye\r\n")}});
    MailEngine engine;
    start(engine, server);
    for (const char* to : {"m1@x.jp", "m2@x.jp", "m3@x.jp"}) {
        engine.queue(message(to));
    }
    const std::size_t before = server.received().size();
    int total = 0;
    for (const char* to : {"m1@x.jp", "m2@x.jp", "m3@x.jp"}) {
        SCOPED_TRACE(to);
        ASSERT_EQ(engine.sendQueued(1), 1);
        EXPECT_EQ(engine.smtpResult(), "250 queued " + std::string(1, to[1]));
        // The commands sent ahead count with their own message.
        EXPECT_EQ(engine.nowSendSize(), measured(to));
        total += engine.nowSendSize();
    }
    EXPECT_EQ(engine.queued(), 0U);
    EXPECT_EQ(engine.sendQueued(1), 0) << "nothing queued";
    EXPECT_EQ(engine.disconnect(1), 1);
    EXPECT_EQ(server.received().size() - before, static_cast<std::size_t>(total) + 6);
}

TEST_F(Queued, ADisconnectAbandonsTheTransactionOpenedAhead) {
    FakeSmtp server({{{"", {"220 fake\r\n"}},
                      on("EHLO ", "250-fake\r\n250 PIPELINING\r\n"),
                      on(batch("m1@x.jp"), accepted()),
                      on(".\r\n" + batch("m2@x.jp"), "250 queued 1\r\n" + accepted())},
                     {{"", {"220 fake\r\n"}},
                      on("EHLO ", "250-fake\r\n250 PIPELINING\r\n"),
                      on(batch("m2@x.jp"), accepted()),
                      on("\r\n.\r\n", "250 queued 2\r\n"),
                      on("QUIT\r\n", "221 bye\r\n")}});
    MailEngine engine;
    start(engine, server);
    engine.queue(message("m1@x.jp"));
    engine.queue(message("m2@x.jp"));
    ASSERT_EQ(engine.sendQueued(1), 1);
    // The server now waits for m2's content: QUIT would become part of it.
    EXPECT_EQ(engine.disconnect(1), 1);
    engine.abort();
    EXPECT_EQ(server.received(0).find("QUIT"), std::string::npos);
    EXPECT_EQ(engine.queued(), 1U) << "m2 was not sent";

    start(engine, server);
    ASSERT_EQ(engine.sendQueued(1), 1);
    EXPECT_STREQ(engine.smtpResult(), "250 queued 2");
    EXPECT_EQ(engine.disconnect(1), 1);
    EXPECT_TRUE(server.received(1).ends_with("QUIT\r\n"));
}

TEST_F(Queued, TheSettingKeepsLockStepWhereThePipelineIsOffered) {
    FakeSmtp server({{{"", {"220 fake\r\n"}},
                      on("EHLO ", "250-fake\r\n250 PIPELINING\r\n"),
                      on("RSET\r\n", "250 reset\r\n"),
                      on("MAIL FROM:", "250 ok\r\n"),
                      on("RCPT TO:", "250 ok\r\n"),
                      on("DATA\r\n", "354 go\r\n"),
                      on("\r\n.\r\n", "250 queued\r\n")}});
    MailEngine engine;
    engine.setPipelining(false);
    start(engine, server);
    EXPECT_FALSE(engine.pipelining());
    engine.queue(message("m1@x.jp"));
    engine.queue(message("m2@x.jp"));
    ASSERT_EQ(engine.sendQueued(1), 1);
    EXPECT_EQ(server.received().find("m2@x.jp"), std::string::npos) << "nothing sent ahead";
    engine.abort();
}

// The commit hook runs once per message, after DATA was accepted and before
// any byte of the final "." has gone out, lock-step and pipelined alike; a
// hook that says no leaves the server without the "." and the connection
// closed.
TEST(CommitHook, RunsJustBeforeTheEndOfDataAndCanHoldTheMessageBack) {
    for (bool pipelined : {false, true}) {
        SCOPED_TRACE(pipelined ? "pipelined" : "lock-step");
        const std::string ehlo =
            pipelined ? "250-fake\r\n250-PIPELINING\r\n250 HELP\r\n" : "250 fake\r\n";
        Script s = {{"", {"220 fake\r\n"}}, on("EHLO ", ehlo)};
        if (pipelined) {
            s.push_back({"RSET\r\nMAIL FROM:<s@x.jp>\r\nRCPT TO:<a@x.jp>\r\nDATA\r\n",
                         {"250 reset\r\n250 ok\r\n250 ok\r\n354 go\r\n"}});
            s.push_back(on("\r\n.\r\n", "250 queued\r\n"));
            s.push_back({"RSET\r\nMAIL FROM:<s@x.jp>\r\nRCPT TO:<b@x.jp>\r\nDATA\r\n",
                         {"250 reset\r\n250 ok\r\n250 ok\r\n354 go\r\n"}});
        } else {
            for (const char* rcpt : {"RCPT TO:<a", "RCPT TO:<b"}) {
                s.push_back(on("RSET\r\n", "250 ok\r\n"));
                s.push_back(on("MAIL FROM:", "250 ok\r\n"));
                s.push_back(on(rcpt, "250 ok\r\n"));
                s.push_back(on("DATA\r\n", "354 go\r\n"));
                if (std::string(rcpt) == "RCPT TO:<a") {
                    s.push_back(on("\r\n.\r\n", "250 queued\r\n"));
                }
            }
        }
        FakeSmtp server({s});
        MailEngine engine;
        engine.setPipelining(pipelined);
        engine.setRecvTimeOutSec(5);
        engine.setPort(server.port());
        ASSERT_EQ(engine.connect("127.0.0.1", 1), 1);
        ASSERT_EQ(engine.sendStart(1), 1);
        int calls = 0;
        bool allow = true;
        std::string seenAtHook;
        engine.setCommitHook([&] {
            ++calls;
            seenAtHook = server.received();
            return allow;
        });

        engine.withMessage([](Message& m) { m = message("a@x.jp"); });
        ASSERT_EQ(engine.send(1), 1) << engine.smtpResult();
        EXPECT_EQ(calls, 1);
        EXPECT_NE(seenAtHook.find("DATA\r\n"), std::string::npos);
        EXPECT_EQ(seenAtHook.find("\r\n.\r\n"), std::string::npos) << "the hook came too late";

        allow = false;
        engine.withMessage([](Message& m) { m = message("b@x.jp"); });
        EXPECT_EQ(engine.send(1), 0);
        EXPECT_EQ(calls, 2);
        EXPECT_EQ(engine.sockError(), SocketError::Withheld);
        EXPECT_EQ(engine.errorPos(), ErrorPos::Withheld);
        // The server saw the whole content but never its end.
        ASSERT_TRUE(server.waitReceived("RCPT TO:<b@x.jp>"));
        const std::string second = server.received().substr(server.received().find("<b@x.jp>"));
        EXPECT_EQ(second.find("\r\n.\r\n"), std::string::npos);
        // The connection is gone: a new one can be made at once.
        engine.setCommitHook({});
        EXPECT_EQ(engine.connect("127.0.0.1", 1), 1);
        engine.abort();
    }
}

// aiosmtpd offering PIPELINING: a thousand messages, one of them to a
// refused recipient, each delivered once to its own recipient, through the
// export's path (one message per job) and the send job's queue (each message
// opened ahead of its turn).
TEST(RealServer, EveryMessageArrivesOnceAtItsRecipient) {
    constexpr int kCount = 1000;
    constexpr int kRefused = 500;
    auto address = [](int i) { return "user" + std::to_string(i) + "@example.jp"; };
    for (bool queued : {false, true}) {
        SCOPED_TRACE(queued ? "queued" : "one by one");
        tarn::test::SmtpRecorder server({"--pipelining", "--refuse", address(kRefused)});
        ASSERT_NE(server.port(), 0) << server.output();
        MailEngine engine;
        engine.setRecvTimeOutSec(30);
        engine.setPort(server.port());
        ASSERT_EQ(engine.connect("127.0.0.1", 1), 1);
        ASSERT_EQ(engine.sendStart(1), 1);
        ASSERT_TRUE(engine.pipelining());
        if (queued) {
            engine.queue(message(address(1).c_str()));
        }
        for (int i = 1; i <= kCount; ++i) {
            int result = 0;
            if (queued) {
                if (i < kCount) {
                    engine.queue(message(address(i + 1).c_str()));
                }
                result = engine.sendQueued(1);
            } else {
                engine.withMessage([&](Message& m) { m = message(address(i).c_str()); });
                result = engine.send(1);
            }
            if (i == kRefused) {
                EXPECT_EQ(result, 0);
                EXPECT_EQ(engine.sockError(), SocketError::ServerRefused);
                EXPECT_EQ(engine.replyCode(), 550);
                EXPECT_STREQ(engine.smtpResult(), "550 5.1.1 Mailbox unavailable");
            } else {
                ASSERT_EQ(result, 1) << i << ": " << engine.smtpResult();
            }
        }
        EXPECT_EQ(engine.disconnect(1), 1);
        ASSERT_EQ(server.count(), kCount - 1);
        for (int n = 1, i = 1; n < kCount; ++n, ++i) {
            if (i == kRefused) {
                ++i;
            }
            auto envelope = server.envelope(n);
            ASSERT_TRUE(envelope);
            EXPECT_NE(envelope->find("\"rcpt_tos\": [\"" + address(i) + "\"]"), std::string::npos)
                << n << ": " << *envelope;
            EXPECT_NE(server.message(n).find("To: " + address(i) + "\r\n"), std::string::npos) << n;
        }
    }
}

}  // namespace
}  // namespace zeph
