#include "pop.h"

#include <array>
#include <cerrno>

#include "sasl.h"
#include "socket.h"

namespace zeph {

std::size_t PopLineReader::feed(std::string_view bytes) {
    std::size_t taken = 0;
    while (!m_complete && taken < bytes.size()) {
        const char c = bytes[taken++];
        m_line += c;
        m_complete = c == '\n' || m_line.size() >= kMaxLine;
    }
    return taken;
}

void PopLineReader::reset() {
    m_line.clear();
    m_complete = false;
}

std::optional<std::string_view> apopTimestamp(std::string_view greeting) {
    const auto open = greeting.find('<');
    if (open == std::string_view::npos) {
        return std::nullopt;
    }
    const auto close = greeting.find('>', open);
    if (close == std::string_view::npos || close - open - 1 >= 256) {
        return std::nullopt;
    }
    return greeting.substr(open, close - open + 1);
}

namespace {

using Clock = std::chrono::steady_clock;

std::chrono::milliseconds leftUntil(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? left : std::chrono::milliseconds(0);
}

bool wouldBlock(int error) {
    return error == EAGAIN || error == EWOULDBLOCK || error == EINTR;
}

// Nothing here looks at the engine's stop signal: POP before SMTP runs on the
// caller's thread, outside every job, and is bounded by its own time-outs.
class PopSession {
public:
    explicit PopSession(std::chrono::milliseconds timeout) : m_timeout(timeout) {}

    bool connect(const std::string& host, int port) {
        return m_socket.resolve(host, port) && m_socket.connect(m_timeout);
    }

    bool sendLine(std::string_view command, std::string_view argument = {}) {
        // A CR or LF in a user name or password would smuggle in a command of its own.
        if (argument.find_first_of("\r\n") != std::string_view::npos) {
            return false;
        }
        std::string text(command);
        text.append(argument);
        text += "\r\n";
        const auto deadline = Clock::now() + m_timeout;
        std::size_t done = 0;
        while (done < text.size()) {
            if (m_socket.waitWritable(leftUntil(deadline), nullptr) != Socket::Wait::Ready) {
                return false;
            }
            const ssize_t n = m_socket.send(text.data() + done, text.size() - done);
            if (n < 0 && !wouldBlock(m_socket.lastError())) {
                return false;
            }
            if (n > 0) {
                done += static_cast<std::size_t>(n);
            }
        }
        return true;
    }

    // One reply line, or nothing when none began within the time-out or the peer
    // closed before it began. A line cut short by the peer still counts.
    std::optional<std::string> readLine() {
        PopLineReader reader;
        m_pending.erase(0, reader.feed(m_pending));
        auto deadline = Clock::now() + m_timeout;
        bool begun = !reader.line().empty();
        while (!reader.complete()) {
            if (m_socket.waitReadable(leftUntil(deadline), nullptr) != Socket::Wait::Ready) {
                break;
            }
            std::array<char, 512> buffer{};
            const ssize_t n = m_socket.recv(buffer.data(), buffer.size());
            if (n == 0 || (n < 0 && !wouldBlock(m_socket.lastError()))) {
                break;
            }
            if (n < 0) {
                continue;
            }
            const std::string_view got(buffer.data(), static_cast<std::size_t>(n));
            m_pending.append(got.substr(reader.feed(got)));
            if (!begun) {
                begun = true;
                deadline = Clock::now() + m_timeout;
            }
        }
        if (reader.line().empty()) {
            return std::nullopt;
        }
        return reader.line();
    }

private:
    std::chrono::milliseconds m_timeout;
    Socket m_socket;
    std::string m_pending;
};

bool positive(const std::optional<std::string>& reply) {
    return reply && !reply->empty() && reply->front() == '+';
}

}  // namespace

int popBeforeSmtp(const std::string& host, int port, std::string_view user,
                  std::string_view password, bool useApop, std::chrono::milliseconds replyTimeout) {
    PopSession session(replyTimeout);
    if (!session.connect(host, port)) {
        return kPopConnectFailed;
    }
    const auto greeting = session.readLine();
    if (!positive(greeting)) {
        return kPopNoGreeting;
    }
    const auto timestamp = useApop ? apopTimestamp(*greeting) : std::nullopt;
    if (timestamp) {
        std::string argument(user);
        argument += ' ';
        argument += apopDigest(*timestamp, password);
        if (!session.sendLine("APOP ", argument) || !positive(session.readLine())) {
            return kPopPassRefused;
        }
    } else {
        if (!session.sendLine("USER ", user) || !positive(session.readLine())) {
            return kPopUserRefused;
        }
        if (!session.sendLine("PASS ", password) || !positive(session.readLine())) {
            return kPopPassRefused;
        }
    }
    if (!session.sendLine("QUIT") || !session.readLine()) {
        return kPopNoGreeting;
    }
    return kPopOk;
}

}  // namespace zeph
