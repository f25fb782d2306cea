// Temporary failures of a send run: which failures are worth another try, and
// the recipients waiting for one. A recipient whose message met a 4xx reply or
// a lost connection before its final "." went out is deferred; the deferred
// ones are tried again in rounds after the walk, each after its own pause,
// and those still deferred after the last round fail for good.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "driver/send_driver.h"
#include "sendcore/send_log.h"

namespace tarn::driver {

// The pauses before each retry round, counted from the end of the round
// before (the first from the end of the walk). No pauses: no retries, every
// failure is final at once.
struct RetryPlan {
    std::vector<std::chrono::seconds> pauses;

    // Three more tries: at the end of the walk, after 10 minutes, after 20
    // more (the last about half an hour after the walk).
    static RetryPlan standard();
    static RetryPlan none() { return {}; }
};

// How a message that was not accepted ended.
enum class FailureKind {
    kRefused,    // a permanent refusal (5xx, or anything not worth a retry)
    kTemporary,  // a 4xx reply, or the session was lost before the "."
    kUnknown,    // the session was lost after the "." went out: the server
                 // may have taken it, so it is never sent again unasked
};

// `e` of a failed message; `committed` whether its final "." had gone out.
FailureKind classifyFailure(const EngineErrorValues& e, bool committed);
// Whether the session is gone after a failure with these values (the socket
// failed, timed out, was closed, or the server said 421).
bool sessionLost(const EngineErrorValues& e);
// Whether the next message needs a fresh connection after a failure with
// these values: the session is gone, or the message is in doubt after its ".".
bool needsFreshSession(const EngineErrorValues& e, bool committed);

struct DeferredRecipient {
    Recipient recipient;
    EngineErrorValues error;  // of the last try
    std::string reply;        // the last reply line ("" when there was none)
    int tries = 0;            // messages tried so far
    std::string subject;      // the message as made for it (a script runs once)
    std::string body;
};

class RetryQueue {
public:
    explicit RetryQueue(RetryPlan plan) : m_plan(std::move(plan)) {}

    // Whether failures are retried at all.
    bool enabled() const { return !m_plan.pauses.empty(); }
    // Waits for the next round.
    void defer(DeferredRecipient d) { m_waiting.push_back(std::move(d)); }
    // Whether another round is due: someone is waiting and a round is left.
    bool roundDue() const { return !m_waiting.empty() && m_round < m_plan.pauses.size(); }
    // The pause before the next round.
    std::chrono::seconds nextPause() const { return m_plan.pauses.at(m_round); }
    // 1-based number of the next round, and how many rounds there are.
    int nextRound() const { return static_cast<int>(m_round) + 1; }
    int rounds() const { return static_cast<int>(m_plan.pauses.size()); }
    // The next round's recipients, in the order they were deferred.
    std::vector<DeferredRecipient> takeRound();
    // After the last round (or when retries are off): those still waiting.
    std::vector<DeferredRecipient> takeGivenUp();
    std::size_t waiting() const { return m_waiting.size(); }

private:
    RetryPlan m_plan;
    std::size_t m_round = 0;
    std::vector<DeferredRecipient> m_waiting;
};

}  // namespace tarn::driver
