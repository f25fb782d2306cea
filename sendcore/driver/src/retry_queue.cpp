#include "driver/retry_queue.h"

#include "command.h"

namespace tarn::driver {
namespace {

// The engine's socket error values (as ZEPH_GetSockLastError reports them)
// that end a session, and the server's reply that does.
constexpr int kEngineNotWritable = static_cast<int>(zeph::SocketError::NotWritable);
constexpr int kEngineNoReply = static_cast<int>(zeph::SocketError::NoReply);
constexpr int kEngineServerClosed = static_cast<int>(zeph::SocketError::ClosedByPeer);
constexpr int kEngineServerRefused = static_cast<int>(zeph::SocketError::ServerRefused);
constexpr int kClosingTransmission = 421;

}  // namespace

RetryPlan RetryPlan::standard() {
    using std::chrono::minutes;
    using std::chrono::seconds;
    return {{seconds(0), std::chrono::duration_cast<seconds>(minutes(10)),
             std::chrono::duration_cast<seconds>(minutes(20))}};
}

bool sessionLost(const EngineErrorValues& e) {
    return e.socketError > 0  // an errno: the connection failed
           || e.socketError == kEngineNotWritable || e.socketError == kEngineNoReply ||
           e.socketError == kEngineServerClosed || e.smtpReplyCode == kClosingTransmission;
}

bool needsFreshSession(const EngineErrorValues& e, bool committed) {
    return sessionLost(e) || classifyFailure(e, committed) == FailureKind::kUnknown;
}

FailureKind classifyFailure(const EngineErrorValues& e, bool committed) {
    if (e.socketError == kEngineServerRefused && e.smtpReplyCode >= 400 && e.smtpReplyCode < 500) {
        return FailureKind::kTemporary;  // the server said so, even after the "."
    }
    if (sessionLost(e)) {
        return committed ? FailureKind::kUnknown : FailureKind::kTemporary;
    }
    return FailureKind::kRefused;
}

std::vector<DeferredRecipient> RetryQueue::takeRound() {
    ++m_round;
    std::vector<DeferredRecipient> round;
    round.swap(m_waiting);
    return round;
}

std::vector<DeferredRecipient> RetryQueue::takeGivenUp() {
    std::vector<DeferredRecipient> given;
    given.swap(m_waiting);
    return given;
}

}  // namespace tarn::driver
