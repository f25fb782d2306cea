#include "socket.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace zeph {

StopSignal::StopSignal() : m_fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

StopSignal::~StopSignal() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

void StopSignal::raise() {
    m_flag.store(true, std::memory_order_release);
    if (m_fd >= 0) {
        std::uint64_t one = 1;
        // A full counter is still readable, which is all a waiter needs.
        [[maybe_unused]] ssize_t n = ::write(m_fd, &one, sizeof one);
    }
}

void StopSignal::clear() {
    m_flag.store(false, std::memory_order_release);
    if (m_fd >= 0) {
        std::uint64_t value = 0;
        [[maybe_unused]] ssize_t n = ::read(m_fd, &value, sizeof value);
    }
}

ssize_t PlainChannel::send(const char* data, std::size_t size) {
    // MSG_NOSIGNAL: a peer that went away must fail the call, not kill the
    // host application with SIGPIPE.
    return ::send(m_fd, data, size, MSG_NOSIGNAL);
}

ssize_t PlainChannel::recv(char* buffer, std::size_t size) {
    return ::recv(m_fd, buffer, size, 0);
}

Socket::~Socket() {
    close();
}

bool Socket::resolve(const std::string& host, int port) {
    m_addresses.clear();
    m_families.clear();
    m_lastError = 0;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* list = nullptr;
    std::string service = std::to_string(port);
    int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
    if (rc != 0) {
        m_lastError = (rc == EAI_SYSTEM && errno != 0) ? errno : kResolveFailed;
        return false;
    }
    for (addrinfo* a = list; a != nullptr; a = a->ai_next) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(a->ai_addr);
        m_addresses.emplace_back(bytes, bytes + a->ai_addrlen);
        m_families.push_back(a->ai_family);
    }
    ::freeaddrinfo(list);
    if (m_addresses.empty()) {
        m_lastError = kResolveFailed;
        return false;
    }
    return true;
}

bool Socket::connect(std::chrono::milliseconds limit, const StopSignal* stop) {
    close();
    m_lastError = 0;
    m_stopped = false;
    for (std::size_t i = 0; i < m_addresses.size(); ++i) {
        int fd = ::socket(m_families[i], SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP);
        if (fd < 0) {
            m_lastError = errno;
            continue;
        }
        m_fd = fd;
        const auto* addr = reinterpret_cast<const sockaddr*>(m_addresses[i].data());
        auto len = static_cast<socklen_t>(m_addresses[i].size());
        int rc = ::connect(fd, addr, len);
        if (rc != 0 && errno == EINPROGRESS) {
            Wait w = waitWritable(limit, stop);
            if (w == Wait::Stopped) {
                close();
                m_lastError = 0;
                return false;
            }
            if (w != Wait::Ready) {
                if (w == Wait::TimedOut) {
                    m_lastError = ETIMEDOUT;
                }
                close();
                continue;
            }
            int soError = 0;
            socklen_t soLen = sizeof soError;
            rc = ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &soLen);
            if (rc == 0 && soError != 0) {
                errno = soError;
                rc = -1;
            }
        }
        if (rc != 0) {
            m_lastError = errno;
            close();
            continue;
        }
        // Commands and message parts go out as several small writes; with
        // Nagle and delayed ACKs each message would stall for tens of ms.
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        m_channel = std::make_unique<PlainChannel>(fd);
        m_lastError = 0;
        return true;
    }
    if (m_lastError == 0) {
        m_lastError = ECONNREFUSED;
    }
    return false;
}

bool Socket::close() {
    m_channel.reset();
    if (m_fd < 0) {
        return false;
    }
    int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0) {
        m_lastError = errno;
        return false;
    }
    return true;
}

Socket::Wait Socket::waitReadable(std::chrono::milliseconds limit, const StopSignal* stop) {
    if (m_channel && m_channel->hasBuffered()) {
        m_timedOut = false;
        m_stopped = false;
        return Wait::Ready;
    }
    return waitFor(POLLIN, limit, stop);
}

Socket::Wait Socket::waitWritable(std::chrono::milliseconds limit, const StopSignal* stop) {
    return waitFor(POLLOUT, limit, stop);
}

Socket::Wait Socket::waitFor(short events, std::chrono::milliseconds limit,
                             const StopSignal* stop) {
    using Clock = std::chrono::steady_clock;
    m_timedOut = false;
    m_stopped = false;
    if (m_fd < 0) {
        m_lastError = EBADF;
        return Wait::Failed;
    }
    const auto deadline = Clock::now() + limit;
    // A stop signal without an eventfd is still honoured, by waking often.
    const bool stopPollable = stop != nullptr && stop->fd() >= 0;
    for (;;) {
        if (stop != nullptr && stop->isSet()) {
            m_stopped = true;
            return Wait::Stopped;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() < 0) {
            left = std::chrono::milliseconds(0);
        }
        if (stop != nullptr && !stopPollable && left > std::chrono::milliseconds(1)) {
            left = std::chrono::milliseconds(1);
        }
        pollfd fds[2] = {{m_fd, events, 0}, {stopPollable ? stop->fd() : -1, POLLIN, 0}};
        int rc = ::poll(fds, stopPollable ? 2 : 1, static_cast<int>(left.count()));
        if (rc < 0) {
            if (errno == EINTR) {
                continue;
            }
            m_lastError = errno;
            return Wait::Failed;
        }
        if (stop != nullptr && stop->isSet()) {
            m_stopped = true;
            return Wait::Stopped;
        }
        // An error or hang-up counts as ready: the following call reports it.
        if ((fds[0].revents & (events | POLLERR | POLLHUP)) != 0) {
            return Wait::Ready;
        }
        if ((fds[0].revents & POLLNVAL) != 0) {
            m_lastError = EBADF;
            return Wait::Failed;
        }
        if (Clock::now() >= deadline) {
            m_timedOut = true;
            return Wait::TimedOut;
        }
    }
}

ssize_t Socket::send(const char* data, std::size_t size) {
    if (!m_channel) {
        m_lastError = EBADF;
        return -1;
    }
    ssize_t n = m_channel->send(data, size);
    if (n < 0) {
        m_lastError = errno;
    }
    return n;
}

ssize_t Socket::recv(char* buffer, std::size_t size) {
    if (!m_channel) {
        m_lastError = EBADF;
        return -1;
    }
    ssize_t n = m_channel->recv(buffer, size);
    if (n < 0) {
        m_lastError = errno;
    }
    return n;
}

}  // namespace zeph
