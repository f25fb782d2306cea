// The worker run of the MX library: one UDP socket, one poll loop, up to 60
// queries in flight, MX then A, retransmission after silence.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "record_cache.h"
#include "tarnmxvrfy.h"

namespace tarn::mx {

struct ResolverOptions {
    std::uint16_t port = 53;
    // One idle "second" of the silence step; tests shorten it.
    std::chrono::milliseconds tick{1000};
};

enum class RunEnd { Normal, SocketError };

// A file descriptor that is closed when the object dies.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    ~UniqueFd();
    UniqueFd(UniqueFd&& o) noexcept : m_fd(o.release()) {}
    UniqueFd& operator=(UniqueFd&& o) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    int get() const { return m_fd; }
    int release() noexcept {
        int fd = m_fd;
        m_fd = -1;
        return fd;
    }

private:
    int m_fd = -1;
};

class MxResolver {
public:
    static constexpr std::size_t kWindow = 60;
    static constexpr std::uint32_t kIdleTicksBeforeRetry = 6;  // timed out on the 7th idle tick
    static constexpr std::uint32_t kMaxRetries = 4;

    // `stopFd` becomes readable when the run must end (the block's eventfd).
    MxResolver(MXVerifyParam& param, ResolverOptions options, int stopFd);

    // Resolves every item; on return the block's counters, lastError and items
    // hold the outcome.
    RunEnd run();

    // Answers discarded because their ID names no item of the run (a stray or
    // forged datagram from the server's address); the caller decides whether
    // the person sees it.
    std::uint32_t foreignAnswers() const { return m_foreignAnswers; }

private:
    bool sendPending();     // false on a socket error
    bool receivePending();  // false on a socket error
    void handleResponse(const std::uint8_t* bytes, std::size_t size);
    void silenceStep();
    void decide(std::int32_t index, std::int32_t result);
    void leaveFlight(std::int32_t index);
    void fail(int error);

    MXVerifyParam& m_param;
    ResolverOptions m_options;
    int m_stopFd;
    UniqueFd m_socket;
    std::uint32_t m_server;  // network order
    std::deque<std::int32_t> m_queue;
    std::vector<std::int32_t> m_inFlight;
    // DNS IDs are 16 bits; the item in flight under each ID, or -1.
    std::vector<std::int32_t> m_inFlightById;
    bool m_wouldBlock = false;
    std::vector<std::string> m_names;  // each item's owner-name form
    DnsRecordCache m_cache;
    std::chrono::steady_clock::time_point m_lastAnswer;
    std::uint32_t m_foreignAnswers = 0;
};

}  // namespace tarn::mx
