// POP before SMTP: a short POP3 login (APOP, or USER and PASS) that some mail
// servers demand before they relay for the same client address. It runs on the
// caller's thread and shares nothing with the engine's worker or error values.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace zeph {

// Results of ZEPH_PopBeforeSmtp; the applications map each to its own message.
enum PopResult : int {
    kPopOk = 0,
    kPopConnectFailed = 1,
    kPopNoGreeting = 2,  // also: QUIT got no reply
    kPopUserRefused = 3,
    kPopPassRefused = 4,
};

// Collects one reply line: everything up to and including LF, or kMaxLine bytes
// when a server never sends one, so a hostile server cannot make it grow.
class PopLineReader {
public:
    static constexpr std::size_t kMaxLine = 2047;

    // Takes bytes until the line is complete and returns how many it took; the
    // rest belongs to the next line.
    std::size_t feed(std::string_view bytes);
    bool complete() const { return m_complete; }
    const std::string& line() const { return m_line; }
    void reset();

private:
    std::string m_line;
    bool m_complete = false;
};

// The APOP timestamp of a greeting: from the first "<" to the next ">", both
// included, when fewer than 256 bytes lie between them.
std::optional<std::string_view> apopTimestamp(std::string_view greeting);

// Every wait (connect, writable, each reply) is bounded by replyTimeout; a reply
// line that has begun gets the same time again to be completed.
int popBeforeSmtp(const std::string& host, int port, std::string_view user,
                  std::string_view password, bool useApop,
                  std::chrono::milliseconds replyTimeout = std::chrono::seconds(45));

}  // namespace zeph
