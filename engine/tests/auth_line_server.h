// A one-connection scripted server on loopback for line protocols (POP3, SMTP):
// it sends the first reply on accept, then answers each line it receives with
// the next reply, and records every line. For what real servers will not do.
#pragma once

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zeph::test {

class LineServer {
public:
    // A reply of kClose closes the connection instead of answering.
    static constexpr const char* kClose = "<close>";
    // A reply of kHold answers nothing more and keeps the connection open until
    // the client closes it.
    static constexpr const char* kHold = "<hold>";

    explicit LineServer(std::vector<std::string> replies) : m_replies(std::move(replies)) {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof addr;
        if (m_listen < 0 || ::bind(m_listen, reinterpret_cast<sockaddr*>(&addr), length) != 0 ||
            ::listen(m_listen, 1) != 0 ||
            ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
            return;
        }
        m_port = ntohs(addr.sin_port);
        m_thread = std::thread([this] { serve(); });
    }
    ~LineServer() {
        if (m_listen >= 0) {
            ::shutdown(m_listen, SHUT_RDWR);
        }
        if (m_thread.joinable()) {
            m_thread.join();
        }
        if (m_listen >= 0) {
            ::close(m_listen);
        }
    }
    LineServer(const LineServer&) = delete;
    LineServer& operator=(const LineServer&) = delete;

    int port() const { return m_port; }
    // Lines received so far, without their line ends.
    std::vector<std::string> received() const {
        std::lock_guard lock(m_mutex);
        return m_lines;
    }

private:
    void serve() {
        pollfd p{m_listen, POLLIN, 0};
        if (::poll(&p, 1, 20000) <= 0) {
            return;
        }
        const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            return;
        }
        std::string buffer;
        for (const auto& reply : m_replies) {
            if (reply == kClose) {
                break;
            }
            if (reply == kHold) {
                while (readLine(fd, buffer)) {
                }
                break;
            }
            if (&reply != &m_replies.front() && !readLine(fd, buffer)) {
                break;
            }
            ::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
        }
        ::shutdown(fd, SHUT_WR);
        while (readLine(fd, buffer)) {
        }
        ::close(fd);
    }

    bool readLine(int fd, std::string& buffer) {
        for (;;) {
            const auto lf = buffer.find('\n');
            if (lf != std::string::npos) {
                std::string line = buffer.substr(0, lf);
                if (!line.empty() && line.back() == '\r') {
                    line.pop_back();
                }
                buffer.erase(0, lf + 1);
                std::lock_guard lock(m_mutex);
                m_lines.push_back(std::move(line));
                return true;
            }
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 20000) <= 0) {
                return false;
            }
            char chunk[512];
            const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
            if (n <= 0) {
                return false;
            }
            buffer.append(chunk, static_cast<std::size_t>(n));
        }
    }

    std::vector<std::string> m_replies;
    int m_listen = -1;
    int m_port = 0;
    std::thread m_thread;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_lines;
};

}  // namespace zeph::test
