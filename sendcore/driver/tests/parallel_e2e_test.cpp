// `tarn send` with several SMTP sessions against the recording server: every
// message goes out once, to the right recipient, and the log, the statuses and
// the journal read exactly as a single session's run would have them. And the
// setting that turns pipelining off, with one session and with several.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <map>
#include <random>
#include <regex>
#include <set>
#include <thread>

#include "fake_smtp.h"
#include "send_fixture.h"

using namespace tarn;
using namespace tarn::test;

namespace {

std::string address(int i) {
    char text[32];
    std::snprintf(text, sizeof text, "r%04d@example.jp", i);
    return text;
}

// `count` recipients; every 250th is not eligible (妥当性エラー), number 501
// is skipped by the script, number 700's address field hides a second
// header (refused before the engine), and the recorder refuses `refused`.
std::vector<BookRow> numberedRows(int count) {
    std::vector<BookRow> rows;
    for (int i = 1; i <= count; ++i) {
        BookRow row{"株式会社テスト",
                    "",
                    "",
                    "受信者" + std::to_string(i),
                    address(i),
                    "様",
                    {"ID-" + std::to_string(i), i == 501 ? "skip" : ""}};
        if (i % 250 == 0) {
            row.status = 2;
        }
        if (i == 700) {
            row.email = address(i) + " Bcc: victim@evil.test";
        }
        rows.push_back(row);
    }
    return rows;
}

const std::set<int> kRefused = {3, 97, 333, 512, 999};

contents::SendContents numberedMessage() {
    contents::SendContents c;
    c.subject = sj("&[名前]&[敬称]へのご案内");
    c.body = contents::normaliseBodyLineEnds(
        sj("#If &[Freefield2] = \"skip\" Then\n#Exit Sub\n#End If\n&[名前] &[敬称]\n"
           "お客様番号 [&[Freefield1]]\n"));
    return c;
}

// What the recorder took from message `first` on: recipient -> the customer
// number in its body, and the connections the messages came over.
struct Received {
    std::map<std::string, std::vector<std::string>> numbers;
    std::set<int> connections;
    int messages = 0;
};

Received receivedSince(const RunFixture& fx, int first) {
    static const std::regex rcpt(R"re("rcpt_tos": \["([^"]+)"\])re");
    static const std::regex connection(R"re("connection": (\d+))re");
    static const std::regex number(R"re(\[ID-(\d+)\])re");
    Received r;
    for (int n = first; n <= fx.recordedCount(); ++n) {
        const std::string envelope = fx.envelope(n);
        const std::string message = readFile(fx.path("mail") / (std::to_string(n) + ".eml"));
        std::smatch to;
        std::smatch conn;
        std::smatch id;
        EXPECT_TRUE(std::regex_search(envelope, to, rcpt)) << envelope;
        EXPECT_TRUE(std::regex_search(envelope, conn, connection)) << envelope;
        EXPECT_TRUE(std::regex_search(message, id, number)) << message;
        // The header names the envelope's recipient: no message went to
        // one recipient with another's text.
        EXPECT_NE(("\r\n" + message).find("\r\nTo: " + to[1].str() + "\r\n"), std::string::npos)
            << message;
        r.numbers[to[1]].push_back(id[1]);
        r.connections.insert(std::stoi(conn[1]));
        ++r.messages;
    }
    return r;
}

std::vector<int> statuses(const RunFixture& fx) {
    const auto book = fx.readBook();
    std::vector<int> s;
    for (std::size_t i = 0; i < book.recordCount(); ++i) {
        s.push_back(book.record(i).status());
    }
    return s;
}

class ParallelSend : public ::testing::Test {
protected:
    void startRecorder(std::vector<std::string> extra = {"--pipelining"}) {
        for (int i : kRefused) {
            extra.insert(extra.end(), {"--refuse", address(i)});
        }
        fx.startRecorder(extra);
    }

    RunResult send(int sessions) {
        fx.settings().SmtpSessions = sessions;
        fx.saveSettings();
        return fx.tarn({"send", fx.path("book.tn2").string(), "--yes"});
    }

    RunFixture fx;
};

}  // namespace

TEST_F(ParallelSend, FourSessionsSendEveryMessageOnceAndLogAndMarkAsOneSessionDoes) {
    constexpr int kCount = 1000;
    startRecorder();
    fx.writeContents(numberedMessage());
    fx.settings().ScriptUse = 1;

    // One session first: the reference.
    fx.writeBook(numberedRows(kCount));
    const RunResult one = send(1);
    ASSERT_EQ(one.exitCode, 3) << one.out << one.err;
    const std::string oneLog = maskedLog(fx.path("send.log"));
    const std::vector<int> oneStatuses = statuses(fx);
    const int firstOfFour = fx.recordedCount() + 1;

    fx.writeBook(numberedRows(kCount));
    std::filesystem::remove(fx.path("send.log"));
    const RunResult four = send(4);
    ASSERT_EQ(four.exitCode, 3) << four.out << four.err;

    const Received got = receivedSince(fx, firstOfFour);
    EXPECT_GE(got.connections.size(), 2U) << "the run used one session";
    for (int i = 1; i <= kCount; ++i) {
        SCOPED_TRACE(i);
        const auto at = got.numbers.find(address(i));
        const bool sent = i % 250 != 0 && i != 501 && i != 700 && kRefused.count(i) == 0;
        if (sent) {
            ASSERT_NE(at, got.numbers.end());
            EXPECT_EQ(at->second, std::vector<std::string>{std::to_string(i)});
        } else {
            EXPECT_EQ(at, got.numbers.end());
        }
    }
    EXPECT_EQ(got.messages, kCount - 4 - 1 - 1 - static_cast<int>(kRefused.size()));
    EXPECT_EQ(firstOfFour - 1, got.messages) << "both runs sent the same number of messages";

    EXPECT_EQ(statuses(fx), oneStatuses);
    EXPECT_EQ(maskedLog(fx.path("send.log")), oneLog);
    EXPECT_EQ(four.out.substr(four.out.rfind("結果")), one.out.substr(one.out.rfind("結果")));
}

TEST_F(ParallelSend, AServerThatAllowsTwoSessionsLeavesTheRunTwoAndSaysSo) {
    constexpr int kCount = 60;
    startRecorder({"--pipelining", "--max-sessions", "2"});
    std::vector<BookRow> rows;
    for (int i = 1; i <= kCount; ++i) {
        rows.push_back({"", "", "", "受信者", address(i), "様", {"ID-" + std::to_string(i)}});
    }
    fx.writeBook(rows);
    fx.writeContents(numberedMessage());
    const RunResult r = send(4);
    ASSERT_EQ(r.exitCode, 3) << r.out << r.err;  // number 3 is refused
    const Received got = receivedSince(fx, 1);
    EXPECT_EQ(got.messages, kCount - 1);
    EXPECT_EQ(got.connections, (std::set<int>{1, 2})) << "the third connection was turned away";
    for (const auto& [to, numbers] : got.numbers) {
        EXPECT_EQ(numbers.size(), 1U) << to;
    }
    const std::string log = maskedLog(fx.path("send.log"));
    EXPECT_NE(
        log.find("SMTPサーバーが 3 本目の同時接続を受け付けないため、2 本の接続で送信します。"),
        std::string::npos)
        << log;
    EXPECT_NE(log.find("結果 [OK:59件 NG:1件]"), std::string::npos) << log;
}

TEST_F(ParallelSend, KilledAndResumedRunsSendEveryMessageOnce) {
    constexpr int kCount = 300;
    constexpr int kKills = 8;
    startRecorder();
    std::vector<BookRow> rows;
    for (int i = 1; i <= kCount; ++i) {
        rows.push_back({"", "", "", "受信者", address(i), "様", {"ID-" + std::to_string(i)}});
    }
    fx.writeBook(rows);
    fx.writeContents(numberedMessage());
    fx.settings().SmtpSessions = 4;
    fx.settings().LogFileMode = 1;
    fx.saveSettings();

    const auto seed = static_cast<unsigned>(
        std::chrono::steady_clock::now().time_since_epoch().count() & 0xFFFFFFFFU);
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> jitterUs(0, 3000);
    const std::vector<std::string> args = {tarnPath(), "send", fx.path("book.tn2").string(),
                                           "--yes", "--resume"};
    std::set<std::string> uncertain;
    int kills = 0;
    for (int k = 1; k <= kKills; ++k) {
        const int target = k * kCount / (kKills + 2);
        ChildProcess run(args, fx.path("."), fx.env());
        ASSERT_TRUE(waitUntil([&] { return fx.recordedCount() >= target || !run.running(); },
                              std::chrono::seconds(60)))
            << run.output();
        std::this_thread::sleep_for(std::chrono::microseconds(jitterUs(random)));
        if (run.running() && run.pid() > 0) {
            ::kill(run.pid(), SIGKILL);
            ++kills;
        }
        ASSERT_TRUE(waitUntil([&] { return !run.running(); }));
        collectUncertain(run.output(), uncertain);
    }
    if (std::filesystem::exists(fx.path("book.tn2.journal"))) {
        const RunResult last = fx.tarn({"send", fx.path("book.tn2").string(), "--yes", "--resume"});
        ASSERT_TRUE(last.exitCode == 0 || last.exitCode == 3) << last.out << last.err;
        collectUncertain(last.out, uncertain);
    }
    EXPECT_FALSE(std::filesystem::exists(fx.path("book.tn2.journal")));

    const Received got = receivedSince(fx, 1);
    // A kill leaves in doubt at most the messages in flight: four per session.
    EXPECT_LE(uncertain.size(), static_cast<std::size_t>(kills) * 16U);
    for (int i = 1; i <= kCount; ++i) {
        SCOPED_TRACE(address(i));
        const auto at = got.numbers.find(address(i));
        const std::size_t times = at == got.numbers.end() ? 0 : at->second.size();
        if (uncertain.count(address(i)) != 0) {
            EXPECT_LE(times, 1U);
        } else if (kRefused.count(i) != 0) {
            EXPECT_EQ(times, 0U);
        } else {
            EXPECT_EQ(times, 1U);
        }
    }
    std::cout << "kills " << kills << ", uncertain " << uncertain.size() << "\n";
}

TEST(SendPipelining, TheSettingTurnsItOffWithOneSessionAndWithSeveral) {
    using zeph::test::FakeSmtp;
    // Answers MAIL only once the RCPT that a pipelining client sends along
    // with it has come: a client that waits for each reply waits in vain.
    const zeph::test::Script wantsPipelining = {
        {"", {"220 fake ESMTP\r\n"}},       {"EHLO", {"250-fake\r\n250 PIPELINING\r\n"}},
        {"RSET", {"250 ok\r\n"}},           {"RCPT TO:", {"250 ok\r\n250 ok\r\n"}},
        {"DATA\r\n", {"354 go ahead\r\n"}}, {"\r\n.\r\n", {"250 queued\r\n"}},
        {"QUIT", {"221 bye\r\n"}, true},
    };
    for (int sessions : {1, 2}) {
        for (int off : {0, 1}) {
            SCOPED_TRACE("sessions " + std::to_string(sessions) + ", NoPipelining " +
                         std::to_string(off));
            FakeSmtp server({wantsPipelining});
            RunFixture fx;
            fx.settings().defaultAccount.PortNo = server.port();
            fx.settings().RecvTimeOutSec = 2;
            fx.settings().NoRetry = 1;
            fx.settings().NoPipelining = off;
            fx.settings().SmtpSessions = sessions;
            fx.writeBook({{"甲", "", "", "一", "a@example.jp", "様", {}}});
            contents::SendContents c;
            c.subject = sj("お知らせ");
            c.body = "body\r\n";
            fx.writeContents(c);
            fx.saveSettings();
            const RunResult r = fx.tarn({"send", fx.path("book.tn2").string(), "--yes"});
            const std::string sent = server.received(0);
            if (off == 0) {
                EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
                EXPECT_NE(sent.find("RCPT TO:<a@example.jp>"), std::string::npos) << sent;
            } else {
                EXPECT_EQ(r.exitCode, 3) << r.out << r.err;  // timed out waiting for MAIL's reply
                EXPECT_NE(sent.find("MAIL FROM:"), std::string::npos) << sent;
                EXPECT_EQ(sent.find("RCPT TO:"), std::string::npos) << sent;
            }
        }
    }
}
