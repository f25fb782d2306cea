#include "fake_smtp.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace zeph::test {

constexpr auto kChunkGap = std::chrono::milliseconds(20);

FakeSmtp::FakeSmtp(std::vector<Script> scripts) : m_scripts(std::move(scripts)) {
    m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (m_listen < 0 || ::bind(m_listen, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
        ::listen(m_listen, 4) != 0 ||
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&addr), &len) != 0 ||
        ::pipe2(m_wake, O_CLOEXEC) != 0) {
        throw std::runtime_error("fake SMTP server: cannot listen on loopback");
    }
    m_port = ntohs(addr.sin_port);
    m_thread = std::thread([this] { serve(); });
}

FakeSmtp::~FakeSmtp() {
    m_quit.store(true);
    char b = 'q';
    [[maybe_unused]] ssize_t n = ::write(m_wake[1], &b, 1);
    m_thread.join();
    ::close(m_listen);
    ::close(m_wake[0]);
    ::close(m_wake[1]);
}

std::string FakeSmtp::received(std::size_t connection) {
    std::lock_guard lock(m_mutex);
    return connection < m_received.size() ? m_received[connection] : std::string();
}

std::size_t FakeSmtp::connections() {
    std::lock_guard lock(m_mutex);
    return m_received.size();
}

bool FakeSmtp::waitReceived(const std::string& needle, std::size_t connection,
                            std::chrono::milliseconds limit) {
    std::unique_lock lock(m_mutex);
    return m_cv.wait_for(lock, limit, [&] {
        return connection < m_received.size() &&
               m_received[connection].find(needle) != std::string::npos;
    });
}

// Reads what is there (waiting up to limit) into the record of connection
// index. False on end of stream, error, or quit.
bool FakeSmtp::readMore(int fd, std::size_t index, std::chrono::milliseconds limit) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
    int rc = ::poll(fds, 2, static_cast<int>(limit.count()));
    if (rc <= 0 || (fds[1].revents & POLLIN) != 0) {
        return rc == 0 && !m_quit.load();
    }
    char buf[4096];
    ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0) {
        return false;
    }
    {
        std::lock_guard lock(m_mutex);
        m_received[index].append(buf, static_cast<std::size_t>(n));
    }
    m_cv.notify_all();
    return true;
}

bool FakeSmtp::serveOne(int fd, const Script& script, std::size_t index) {
    std::size_t cursor = 0;
    for (const Step& step : script) {
        while (!step.expect.empty()) {
            std::size_t at = received(index).find(step.expect, cursor);
            if (at != std::string::npos) {
                cursor = at + step.expect.size();
                break;
            }
            if (!readMore(fd, index, std::chrono::seconds(30))) {
                return false;
            }
        }
        for (std::size_t i = 0; i < step.chunks.size(); ++i) {
            if (i > 0) {
                std::this_thread::sleep_for(kChunkGap);
            }
            const std::string& c = step.chunks[i];
            if (::send(fd, c.data(), c.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(c.size())) {
                return false;
            }
        }
        if (step.close) {
            return false;
        }
    }
    // Script done: keep recording until the client goes away.
    while (readMore(fd, index, std::chrono::seconds(30))) {
    }
    return true;
}

void FakeSmtp::serve() {
    while (!m_quit.load()) {
        pollfd fds[2] = {{m_listen, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR) {
            return;
        }
        if ((fds[1].revents & POLLIN) != 0) {
            return;
        }
        if ((fds[0].revents & POLLIN) == 0) {
            continue;
        }
        int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::size_t index = 0;
        {
            std::lock_guard lock(m_mutex);
            index = m_received.size();
            m_received.emplace_back();
        }
        m_cv.notify_all();
        const Script& script = m_scripts[std::min(index, m_scripts.size() - 1)];
        serveOne(fd, script, index);
        ::close(fd);
    }
}

std::vector<std::string> endlessMultiline(std::size_t size) {
    std::vector<std::string> chunks;
    std::string line = "250-" + std::string(60, 'x') + "\r\n";
    std::string chunk;
    for (std::size_t total = 0; total < size; total += line.size()) {
        chunk += line;
        if (chunk.size() > 1000) {
            chunks.push_back(std::move(chunk));
            chunk.clear();
        }
    }
    if (!chunk.empty()) {
        chunks.push_back(chunk);
    }
    return chunks;
}

}  // namespace zeph::test
