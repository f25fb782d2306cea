#include "driver/timed_send.h"

#include <gtest/gtest.h>

#include <deque>

using namespace tarn::driver;

namespace {

// A waiting window whose buttons are pressed by the test, on a clock the test turns.
class ScriptedWait : public TimedWaitUi {
public:
    void showTimes(std::string_view, std::string_view now) override {
        lastNow = std::string(now);
        ++refreshes;
    }
    void pump() override {
        if (!cancelAt.empty() && ticks == cancelAt.front()) {
            cancelAt.pop_front();
            cancel = true;
        }
    }
    bool startNowRequested() const override { return startNow; }
    bool cancelRequested() const override { return cancel; }
    void clearCancelRequest() override { cancel = false; }
    bool askStop() override {
        bool yes = answers.front();
        answers.pop_front();
        return yes;
    }
    void errorBox(std::string_view, std::string_view) override { ++errors; }

    int ticks = 0;
    int refreshes = 0;
    int errors = 0;
    bool startNow = false;
    bool cancel = false;
    std::deque<int> cancelAt;
    std::deque<bool> answers;
    std::string lastNow;
};

std::time_t at(int h, int m, int s) {
    std::tm t{};
    t.tm_year = 126;
    t.tm_mon = 11;
    t.tm_mday = 6;
    t.tm_hour = h;
    t.tm_min = m;
    t.tm_sec = s;
    t.tm_isdst = -1;
    return std::mktime(&t);
}

}  // namespace

TEST(TimedSend, StartsAtTheFirstTickOfThePlannedMinute) {
    ScriptedWait ui;
    std::time_t now = at(10, 29, 58);
    Clock clock;
    clock.now = [&] { return now; };
    clock.sleep = [&](int) {
        ++now;  // one second a round
        ++ui.ticks;
    };
    EXPECT_EQ(waitForPlannedTime(at(10, 30, 45), ui, clock), TimedWaitResult::Start);
    EXPECT_EQ(now, at(10, 30, 0)) << "seconds are not compared";
}

TEST(TimedSend, CancelAsksAndNoKeepsWaiting) {
    ScriptedWait ui;
    ui.cancelAt = {2, 5};
    ui.answers = {false, true};
    std::time_t now = at(9, 0, 0);
    Clock clock;
    clock.now = [&] { return now; };
    clock.sleep = [&](int) {
        ++now;
        ++ui.ticks;
    };
    EXPECT_EQ(waitForPlannedTime(at(12, 0, 0), ui, clock), TimedWaitResult::Cancelled);
    EXPECT_EQ(ui.ticks, 5);
    EXPECT_TRUE(ui.answers.empty());
}

TEST(TimedSend, PastTimesAndBadTextAreRefused) {
    ScriptedWait ui;
    Clock clock;
    clock.now = [] { return at(10, 0, 0); };
    EXPECT_EQ(waitForPlannedTime(at(10, 0, 0), ui, clock), TimedWaitResult::NotInFuture);
    EXPECT_EQ(ui.errors, 1);
    ui.startNow = true;
    EXPECT_EQ(waitForPlannedTime(at(11, 0, 0), ui, clock), TimedWaitResult::Start);

    EXPECT_TRUE(parsePlannedTime("2026-12-06 10:30:45").has_value());
    EXPECT_FALSE(parsePlannedTime("2026-02-31 10:00:00").has_value());
    EXPECT_FALSE(parsePlannedTime("2026-12-06 24:00:00").has_value());
    EXPECT_FALSE(parsePlannedTime("2026-12-06 10:30").has_value());
    EXPECT_FALSE(parsePlannedTime("2026-12-06 10:30:45x").has_value());
}
