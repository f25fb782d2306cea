#include "driver/timed_send.h"

#include <cstdio>

#include "texts.h"

namespace tarn::driver {

std::optional<std::time_t> parsePlannedTime(std::string_view text) {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    char tail = 0;
    std::string copy(text);
    if (std::sscanf(copy.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &y, &mo, &d, &h, &mi, &s, &tail) !=
        6) {
        return std::nullopt;
    }
    if (y < 1970 || mo < 1 || mo > 12 || d < 1 || d > 31 || h < 0 || h > 23 || mi < 0 || mi > 59 ||
        s < 0 || s > 59) {
        return std::nullopt;
    }
    std::tm t{};
    t.tm_year = y - 1900;
    t.tm_mon = mo - 1;
    t.tm_mday = d;
    t.tm_hour = h;
    t.tm_min = mi;
    t.tm_sec = s;
    t.tm_isdst = -1;
    std::time_t result = std::mktime(&t);
    // mktime normalises 31 February into March; such a date was not a real one.
    if (result == static_cast<std::time_t>(-1) || t.tm_mday != d || t.tm_mon != mo - 1) {
        return std::nullopt;
    }
    return result;
}

std::string timeText(std::time_t time) {
    std::tm t{};
    localtime_r(&time, &t);
    return format(sj("%4d 年 %02d 月 %02d 日  %02d 時 %02d 分 %02d 秒です。").c_str(),
                  t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
}

namespace {
// Minutes since the epoch of a local time, for the to-the-minute comparison.
long long minuteOf(std::time_t time) {
    std::tm t{};
    localtime_r(&time, &t);
    return ((static_cast<long long>(t.tm_year) * 12 + t.tm_mon) * 31 + t.tm_mday - 1) * 1440 +
           static_cast<long long>(t.tm_hour) * 60 + t.tm_min;
}
}  // namespace

TimedWaitResult waitForPlannedTime(std::time_t planned, TimedWaitUi& ui, const Clock& clock) {
    if (planned <= clock.now()) {
        ui.errorBox(sj("ターノス - 時間指定送信"), sj("現在時刻よりも後の時刻を指定して下さい。"));
        return TimedWaitResult::NotInFuture;
    }
    const std::string plannedText = timeText(planned);
    ui.showTimes(plannedText, timeText(clock.now()));
    const long long plannedMinute = minuteOf(planned);
    std::time_t lastTick = clock.now();
    for (;;) {
        ui.pump();
        if (ui.startNowRequested()) {
            return TimedWaitResult::Start;
        }
        if (ui.cancelRequested()) {
            ui.clearCancelRequest();
            if (ui.askStop()) {
                return TimedWaitResult::Cancelled;
            }
        }
        std::time_t now = clock.now();
        if (now != lastTick) {  // the once-a-second timer
            lastTick = now;
            if (minuteOf(now) >= plannedMinute) {
                return TimedWaitResult::Start;
            }
            ui.showTimes(plannedText, timeText(now));
        }
        if (clock.sleep) {
            clock.sleep(50);
        }
    }
}

}  // namespace tarn::driver
