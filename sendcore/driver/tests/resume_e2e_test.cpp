// A send killed at random moments and resumed each time: nobody gets a
// second message, the few messages a kill left in doubt are named, and the
// address book ends with the statuses the server's answers gave.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <map>
#include <random>
#include <regex>
#include <set>
#include <thread>

#include "driver/send_journal.h"
#include "send_fixture.h"

using namespace tarn;
using namespace tarn::test;

namespace {

std::string address(int i) {
    return "u" + std::to_string(i) + "@example.jp";
}

}  // namespace

TEST(SendResume, FiftyKillsThenResumeSendEveryMessageOnce) {
    constexpr int kRecipients = 500;
    constexpr int kKills = 50;
    const std::set<int> refused = {7, 120, 251, 380, 499};

    RunFixture fx;
    std::vector<std::string> recorderArgs;
    for (int i : refused) {
        recorderArgs.insert(recorderArgs.end(), {"--refuse", address(i)});
    }
    fx.startRecorder(recorderArgs);
    std::vector<BookRow> rows;
    for (int i = 1; i <= kRecipients; ++i) {
        rows.push_back({"会社", "", "", "宛先", address(i), "様", {}});
    }
    fx.writeBook(rows);
    contents::SendContents c;
    c.subject = sj("お知らせ");
    c.body = "body\r\n";
    fx.writeContents(c);
    fx.settings().LogFileMode = 1;
    fx.saveSettings();

    // Kill points spread over the run, in order; the seed is printed so that a
    // failure can be replayed.
    const auto seed = static_cast<unsigned>(
        std::chrono::steady_clock::now().time_since_epoch().count() & 0xFFFFFFFFU);
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> point(1, kRecipients - 20);
    std::uniform_int_distribution<int> jitterUs(0, 3000);
    std::vector<int> points;
    for (int i = 0; i < kKills; ++i) {
        points.push_back(point(random));
    }
    std::sort(points.begin(), points.end());

    std::set<std::string> uncertain;
    const std::vector<std::string> args = {tarnPath(), "send", fx.path("book.tn2").string(),
                                           "--yes", "--resume"};
    int kills = 0;
    for (int target : points) {
        ChildProcess run(args, fx.path("."), fx.env());
        ASSERT_TRUE(waitUntil([&] { return fx.recordedCount() >= target || !run.running(); },
                              std::chrono::seconds(60)))
            << run.output();
        // Somewhere in the next message's life: before, during or after its data.
        std::this_thread::sleep_for(std::chrono::microseconds(jitterUs(random)));
        const bool killed = run.running() && run.pid() > 0;  // pid -1 once reaped
        if (killed) {
            ::kill(run.pid(), SIGKILL);
            ++kills;
        }
        ASSERT_TRUE(waitUntil([&] { return !run.running(); }));
        collectUncertain(run.output(), uncertain);
        if (!killed ||
            (fx.recordedCount() > 0 && !std::filesystem::exists(fx.path("book.tn2.journal")))) {
            // The run got to its end first (a finished run removes its journal):
            // nothing is left to resume, and a new send would start afresh.
            break;
        }
    }
    EXPECT_GE(kills, kKills / 2);

    // The run that was not killed may have been the one to finish; a
    // completed run leaves no journal, and a new send would start afresh.
    if (std::filesystem::exists(fx.path("book.tn2.journal"))) {
        RunResult last = fx.tarn({"send", fx.path("book.tn2").string(), "--yes", "--resume"});
        // 3 when a refusal fell to this run.
        ASSERT_TRUE(last.exitCode == 0 || last.exitCode == 3) << last.out << last.err;
        collectUncertain(last.out, uncertain);
    }
    EXPECT_FALSE(std::filesystem::exists(fx.path("book.tn2.journal")));

    // What the server took, per recipient.
    std::map<std::string, int> received;
    static const std::regex rcpt(R"re("rcpt_tos": \["([^"]+)"\])re");
    for (int n = 1; n <= fx.recordedCount(); ++n) {
        std::smatch m;
        const std::string envelope = fx.envelope(n);
        ASSERT_TRUE(std::regex_search(envelope, m, rcpt)) << envelope;
        ++received[m[1]];
    }
    EXPECT_LE(uncertain.size(), static_cast<std::size_t>(kills));
    const auto book = fx.readBook();
    for (int i = 1; i <= kRecipients; ++i) {
        const std::string a = address(i);
        SCOPED_TRACE(a);
        const int got = received.count(a) != 0 ? received[a] : 0;
        if (uncertain.count(a) != 0) {
            // Left for the person to decide: never sent twice, status untouched.
            EXPECT_LE(got, 1);
            EXPECT_EQ(book.record(static_cast<std::size_t>(i - 1)).status(), 0);
        } else if (refused.count(i) != 0) {
            EXPECT_EQ(got, 0);
            EXPECT_EQ(book.record(static_cast<std::size_t>(i - 1)).status(), 4);
        } else {
            EXPECT_EQ(got, 1);
            EXPECT_EQ(book.record(static_cast<std::size_t>(i - 1)).status(), 0);
        }
    }
    RecordProperty("uncertain", static_cast<int>(uncertain.size()));
    std::cout << "kills " << kills << ", uncertain " << uncertain.size() << "\n";
}

TEST(SendResume, AnInterruptedRunIsNotStartedAgainUnasked) {
    RunFixture fx;
    fx.startRecorder();
    fx.writeBook({{"甲", "", "", "一", "a@example.jp", "様", {}},
                  {"乙", "", "", "二", "b@example.jp", "様", {}},
                  {"丙", "", "", "三", "c@example.jp", "様", {}}});
    contents::SendContents c;
    c.subject = sj("お知らせ");
    c.body = "body\r\n";
    fx.writeContents(c);
    fx.saveSettings();
    // What a run killed after the first message and in the second leaves.
    writeFile(fx.path("book.tn2.journal"),
              "TARNJOURNAL 1\nB 1 a@example.jp\nA 1 a@example.jp 250%20ok\nB 2 b@example.jp\n");

    // Without a terminal nothing is assumed.
    RunResult asked = fx.tarn({"send", fx.path("book.tn2").string(), "--yes"});
    EXPECT_NE(asked.exitCode, 0);
    EXPECT_NE(asked.err.find("前回の送信は中断されています。"), std::string::npos) << asked.err;
    EXPECT_NE(asked.err.find("送信済み 1 件、送信エラー 0 件、送信結果不明 1 件"),
              std::string::npos)
        << asked.err;
    EXPECT_EQ(fx.recordedCount(), 0);

    // Resumed: the accepted one is left out, the uncertain one only on request.
    RunResult resumed =
        fx.tarn({"send", fx.path("book.tn2").string(), "--yes", "--resume", "--resend-uncertain"});
    EXPECT_EQ(resumed.exitCode, 0) << resumed.out << resumed.err;
    ASSERT_EQ(fx.recordedCount(), 2);
    EXPECT_NE(fx.envelope(1).find("b@example.jp"), std::string::npos);
    EXPECT_NE(fx.envelope(2).find("c@example.jp"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(fx.path("book.tn2.journal")));

    // --restart throws a journal away: everyone again.
    writeFile(fx.path("book.tn2.journal"), "TARNJOURNAL 1\nA 1 a@example.jp 250\n");
    RunResult restarted = fx.tarn({"send", fx.path("book.tn2").string(), "--yes", "--restart"});
    EXPECT_EQ(restarted.exitCode, 0) << restarted.err;
    EXPECT_EQ(fx.recordedCount(), 5);
}
