// Which failures are tried again, and the quota's windows and state file.
#include <gtest/gtest.h>

#include <thread>

#include "driver/retry_queue.h"
#include "driver/send_quota.h"
#include "testsupport.h"

using namespace tarn;
using namespace tarn::driver;
using std::chrono::hours;
using std::chrono::minutes;
using std::chrono::seconds;
using tarn::test::TempDir;

namespace {

const QuotaClock::time_point kNoon{seconds(1'800'000'000)};

}  // namespace

TEST(RetryQueue, OnlyFailuresBeforeTheEndOfDataOrSaidToBeTemporaryAreTriedAgain) {
    // {lastError, socketError, replyCode, position}
    const EngineErrorValues rcpt451{0, -2, 451, 9000};
    const EngineErrorValues closing421{0, -2, 421, 9000};
    const EngineErrorValues refused550{0, -2, 550, 9000};
    const EngineErrorValues timedOut{0, -11, 0, 3000};
    const EngineErrorValues reset{0, 104, 0, 3001};  // ECONNRESET
    const EngineErrorValues stopped{0, -1, 0, 3000};
    EXPECT_EQ(classifyFailure(rcpt451, false), FailureKind::kTemporary);
    EXPECT_EQ(classifyFailure(rcpt451, true), FailureKind::kTemporary);  // 451 to the "."
    EXPECT_EQ(classifyFailure(closing421, false), FailureKind::kTemporary);
    EXPECT_EQ(classifyFailure(refused550, false), FailureKind::kRefused);
    EXPECT_EQ(classifyFailure(timedOut, false), FailureKind::kTemporary);
    // No reply to the ".": the server may have the message; never sent again unasked.
    EXPECT_EQ(classifyFailure(timedOut, true), FailureKind::kUnknown);
    EXPECT_EQ(classifyFailure(reset, true), FailureKind::kUnknown);
    EXPECT_EQ(classifyFailure(stopped, false), FailureKind::kRefused);
    EXPECT_TRUE(sessionLost(closing421));
    EXPECT_TRUE(sessionLost(reset));
    EXPECT_FALSE(sessionLost(rcpt451));

    RetryQueue queue(RetryPlan::standard());
    ASSERT_TRUE(queue.enabled());
    EXPECT_EQ(queue.rounds(), 3);
    Recipient r;
    r.address = "a@example.jp";
    queue.defer({r, rcpt451, "451 later", 1, "subject", "body"});
    int roundsRun = 0;
    seconds waited{0};
    while (queue.roundDue()) {
        waited += queue.nextPause();
        for (DeferredRecipient d : queue.takeRound()) {
            ++d.tries;
            queue.defer(d);  // deferred again every time
        }
        ++roundsRun;
    }
    EXPECT_EQ(roundsRun, 3);
    EXPECT_EQ(waited, minutes(30));
    const auto given = queue.takeGivenUp();
    ASSERT_EQ(given.size(), 1U);
    EXPECT_EQ(given[0].tries, 4);
    EXPECT_FALSE(RetryQueue(RetryPlan::none()).enabled());
}

TEST(SendQuota, AFullWindowOpensWhenItsOldestMessageLeavesIt) {
    QuotaRecord record;
    for (int i = 0; i < 100; ++i) {
        record.sends.emplace_back(kNoon - minutes(50) + seconds(i), "smtp/a@x.jp");
    }
    record.sends.emplace_back(kNoon - minutes(10), "smtp/other@x.jp");
    const QuotaLimits hourly{100, 0};
    EXPECT_EQ(nextAllowedTime(record, "smtp/a@x.jp", hourly, kNoon),
              kNoon - minutes(50) + hours(1));
    // Another account's messages count for it alone.
    EXPECT_EQ(nextAllowedTime(record, "smtp/other@x.jp", hourly, kNoon), kNoon);
    EXPECT_EQ(nextAllowedTime(record, "smtp/a@x.jp", {101, 0}, kNoon), kNoon);
    EXPECT_EQ(nextAllowedTime(record, "smtp/a@x.jp", {}, kNoon), kNoon);
    // Once they are an hour old the hourly window is free; the day's is not.
    const auto later = kNoon + minutes(30);
    EXPECT_EQ(nextAllowedTime(record, "smtp/a@x.jp", hourly, later), later);
    EXPECT_EQ(nextAllowedTime(record, "smtp/a@x.jp", {0, 100}, later),
              kNoon - minutes(50) + hours(24));
    EXPECT_EQ(nextAllowedTime(record, "smtp/a@x.jp", {0, 100}, kNoon + hours(24)),
              kNoon + hours(24));
}

TEST(SendQuota, TheStateFileCountsAcrossWritersAndSurvivesDamage) {
    TempDir dir;
    const auto path = dir / "quota";
    const QuotaLimits limits{0, 200};
    // Four writers at once, each with its own lock: no count may be lost.
    std::vector<std::thread> writers;
    for (int w = 0; w < 4; ++w) {
        writers.emplace_back([&] {
            QuotaState state(path);
            for (int i = 0; i < 50; ++i) {
                EXPECT_TRUE(state.record("smtp/a@x.jp", kNoon).ok());
            }
        });
    }
    for (auto& t : writers) {
        t.join();
    }
    QuotaState state(path);
    auto next = state.nextAllowed("smtp/a@x.jp", limits, kNoon + seconds(1));
    ASSERT_TRUE(next.ok()) << next.error().message;
    EXPECT_EQ(*next, kNoon + hours(24));
    EXPECT_EQ(*state.nextAllowed("smtp/a@x.jp", {0, 201}, kNoon + seconds(1)), kNoon + seconds(1));

    // A writer killed before its rename leaves its temporary file; hostile
    // lines are skipped, the readable ones still count.
    test::writeFile(dir / "quota.tmp", "garbage");
    test::writeFile(path, "TARNQUOTA 1\n-5 a\nx y\n1800000000 smtp/a%4@x.jp\n" +
                              std::string(5000, '9') + " a\n1800000000 smtp/a@x.jp\n" +
                              "1800000000 smtp/a@x.jp");  // torn last line
    EXPECT_EQ(*state.nextAllowed("smtp/a@x.jp", {1, 0}, kNoon + seconds(5)), kNoon + hours(1));
    EXPECT_EQ(*state.nextAllowed("smtp/a@x.jp", {2, 0}, kNoon + seconds(5)), kNoon + seconds(5));
    // Recording drops what is older than a day.
    ASSERT_TRUE(state.record("smtp/a@x.jp", kNoon + hours(25)).ok());
    EXPECT_EQ(test::readFile(path), "TARNQUOTA 1\n1800090000 smtp/a@x.jp\n");
}
