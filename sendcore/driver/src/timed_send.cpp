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
    return makePlannedTime(y, mo, d, h, mi, s);
}

std::optional<std::time_t> makePlannedTime(int year, int month, int day, int hour, int minute,
                                           int second) {
    if (year < 1970 || year > 9999 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 ||
        hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59) {
        return std::nullopt;
    }
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = -1;
    std::time_t result = std::mktime(&t);
    // mktime normalises 31 February into March; such a date was not a real one.
    if (result == static_cast<std::time_t>(-1) || t.tm_mday != day || t.tm_mon != month - 1) {
        return std::nullopt;
    }
    return result;
}

PlannedParts initialPlannedParts(std::time_t now) {
    std::tm t{};
    localtime_r(&now, &t);
    t.tm_hour += 1;  // mktime carries 24 o'clock into the next day
    t.tm_min = 0;
    t.tm_sec = 0;
    t.tm_isdst = -1;
    std::time_t next = std::mktime(&t);
    localtime_r(&next, &t);
    return {t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, 0, 0};
}

std::string notInFutureTitle() {
    return sjisText("ターノス - 時間指定送信");
}

std::string notInFutureText() {
    return sjisText("現在時刻よりも後の時刻を指定して下さい。");
}

std::string timeText(std::time_t time) {
    std::tm t{};
    localtime_r(&time, &t);
    return sjisFormat("{:4d} 年 {:02d} 月 {:02d} 日  {:02d} 時 {:02d} 分 {:02d} 秒です。",
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

TimedWait::TimedWait(std::time_t planned)
    : m_planned(planned), m_plannedMinute(minuteOf(planned)), m_plannedText(timeText(planned)) {}

bool TimedWait::due(std::time_t now) const {
    return minuteOf(now) >= m_plannedMinute;
}

TimedWaitResult waitForPlannedTime(std::time_t planned, TimedWaitUi& ui, const Clock& clock) {
    if (planned <= clock.now()) {
        ui.errorBox(notInFutureTitle(), notInFutureText());
        return TimedWaitResult::NotInFuture;
    }
    const TimedWait wait(planned);
    ui.showTimes(wait.plannedText(), timeText(clock.now()));
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
            if (wait.due(now)) {
                return TimedWaitResult::Start;
            }
            ui.showTimes(wait.plannedText(), timeText(now));
        }
        if (clock.sleep) {
            clock.sleep(50);
        }
    }
}

}  // namespace tarn::driver
