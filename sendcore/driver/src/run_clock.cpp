#include "driver/run_clock.h"

#include <algorithm>

namespace tarn::driver {

bool SystemRunClock::waitUntil(TimePoint until,
                               const std::function<bool(std::chrono::milliseconds)>& stopped,
                               const std::function<void(TimePoint now)>& tick) {
    using std::chrono::milliseconds;
    TimePoint nextTick = Clock::now();
    for (TimePoint now = Clock::now(); now < until; now = Clock::now()) {
        if (tick && now >= nextTick) {
            tick(now);
            nextTick = now + std::chrono::seconds(1);
        }
        const auto left = std::chrono::duration_cast<milliseconds>(until - now) + milliseconds(1);
        if (stopped(std::clamp(left, milliseconds(1), milliseconds(100)))) {
            return true;
        }
    }
    return false;
}

bool ManualRunClock::waitUntil(TimePoint until,
                               const std::function<bool(std::chrono::milliseconds)>& stopped,
                               const std::function<void(TimePoint now)>& tick) {
    if (stopped(std::chrono::milliseconds(0))) {
        return true;
    }
    if (tick) {
        tick(m_now);
    }
    m_now = std::max(m_now, until);
    return false;
}

}  // namespace tarn::driver
