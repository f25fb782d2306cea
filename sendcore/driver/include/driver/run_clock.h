// The clock of a send run's waits: the pauses before a retry round, a quota's
// pause, the jitter between messages. Tests give the run a clock of their own
// so that half an hour of pauses passes at once.
#pragma once

#include <chrono>
#include <functional>

namespace tarn::driver {

class RunClock {
public:
    using Clock = std::chrono::system_clock;
    using TimePoint = Clock::time_point;

    virtual ~RunClock() = default;
    virtual TimePoint now() = 0;
    // Waits until `until` or until `stopped` returns true, whichever comes
    // first; `stopped` is asked at least every 100 ms and `tick` (when set)
    // about once a second, so that a countdown can be shown. True when the
    // wait ended because of `stopped`.
    virtual bool waitUntil(TimePoint until,
                           const std::function<bool(std::chrono::milliseconds)>& stopped,
                           const std::function<void(TimePoint now)>& tick) = 0;
};

// The system's clock; the wait sleeps in `stopped` itself (a JobChannel's
// waitForStop), so a stop ends it at once.
class SystemRunClock : public RunClock {
public:
    TimePoint now() override { return Clock::now(); }
    bool waitUntil(TimePoint until, const std::function<bool(std::chrono::milliseconds)>& stopped,
                   const std::function<void(TimePoint now)>& tick) override;
};

// The clock of tests: a wait moves the time forward to its end at once (a
// stop already asked for still ends it first).
class ManualRunClock : public RunClock {
public:
    explicit ManualRunClock(TimePoint start) : m_now(start) {}
    TimePoint now() override { return m_now; }
    bool waitUntil(TimePoint until, const std::function<bool(std::chrono::milliseconds)>& stopped,
                   const std::function<void(TimePoint now)>& tick) override;
    void advance(std::chrono::milliseconds by) { m_now += by; }

private:
    TimePoint m_now;
};

}  // namespace tarn::driver
