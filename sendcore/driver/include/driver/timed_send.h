// Timed send: the planned start time and the wait until it has come. The wait
// happens on the caller's thread before a send job starts; TimedWaitUi is
// called only there.
#pragma once

#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tarn::driver {

// Parses "YYYY-MM-DD HH:MM:SS" (local time). An hour of 24 is refused rather
// than silently moved to the next day.
std::optional<std::time_t> parsePlannedTime(std::string_view text);

// The local time of a date and a time of day; nullopt for a date that does
// not exist or a time outside 0:00:00-23:59:59.
std::optional<std::time_t> makePlannedTime(int year, int month, int day, int hour, int minute,
                                           int second);

// What the time dialog shows when it opens: one hour from now, to the hour.
// In the last hour of a day that is 0:00 of the next day (not "24 時").
struct PlannedParts {
    int year, month, day, hour, minute, second;
};
PlannedParts initialPlannedParts(std::time_t now);

// "%4d 年 %02d 月 %02d 日  %02d 時 %02d 分 %02d 秒です。" in Shift_JIS.
std::string timeText(std::time_t t);

// "現在時刻よりも後の時刻を指定して下さい。" under "ターノス - 時間指定送信".
std::string notInFutureTitle();
std::string notInFutureText();

// The waiting window's rule: the send starts once the current time has
// reached the planned time to the minute (seconds are not compared: 10:30:45
// starts at the first tick after 10:30:00).
class TimedWait {
public:
    explicit TimedWait(std::time_t planned);
    std::time_t planned() const { return m_planned; }
    const std::string& plannedText() const { return m_plannedText; }
    bool due(std::time_t now) const;

private:
    std::time_t m_planned;
    long long m_plannedMinute;
    std::string m_plannedText;
};

// The waiting window ("時間指定送信") for a caller that waits in a loop
// (`tarn`): both times, "今すぐ送信" and "キャンセル". A window with a timer of
// its own uses TimedWait directly.
class TimedWaitUi {
public:
    virtual ~TimedWaitUi() = default;
    virtual void showTimes(std::string_view planned, std::string_view now) = 0;
    // One round of the message pump; may set the two requests below.
    virtual void pump() = 0;
    virtual bool startNowRequested() const = 0;
    virtual bool cancelRequested() const = 0;
    virtual void clearCancelRequest() = 0;
    // "中止しますか？" under "ターノス - 確認"; true for Yes.
    virtual bool askStop() = 0;
    // "現在時刻よりも後の時刻を指定して下さい。" under "ターノス - 時間指定送信".
    virtual void errorBox(std::string_view title, std::string_view text) = 0;
};

// The clock, a seam for tests.
struct Clock {
    std::function<std::time_t()> now = [] { return std::time(nullptr); };
    // Waits up to ms milliseconds (or until the UI has something to say).
    std::function<void(int ms)> sleep;
};

enum class TimedWaitResult { Start, Cancelled, NotInFuture };

// Refuses a planned time that is not later than now (with the message box),
// else waits, ticking once a second, until the current time has reached the
// planned time to the minute (seconds are not compared: 10:30:45 starts at the
// first tick after 10:30:00). "今すぐ送信" starts at once; "キャンセル" asks
// "中止しますか？" and Yes cancels, No keeps waiting.
TimedWaitResult waitForPlannedTime(std::time_t planned, TimedWaitUi& ui, const Clock& clock);

}  // namespace tarn::driver
