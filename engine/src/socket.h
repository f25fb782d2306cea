// The socket layer shared by the SMTP session (worker thread) and the POP
// session (caller's thread). Byte I/O goes through a replaceable Channel so
// that TLS can be layered on the same connected socket after a STARTTLS.
//
// Waits never block past their bound and never ignore a stop: they poll() the
// socket together with the stop signal's eventfd, so a ready socket or a stop
// wakes them at once.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace zeph {

// The stop request of one engine: an atomic flag plus an eventfd that is
// readable while the flag is set, so that poll() wakes when it is raised.
class StopSignal {
public:
    StopSignal();
    ~StopSignal();
    StopSignal(const StopSignal&) = delete;
    StopSignal& operator=(const StopSignal&) = delete;

    void raise();
    void clear();
    bool isSet() const { return m_flag.load(std::memory_order_acquire); }
    int fd() const { return m_fd; }  // -1 if no eventfd could be made (flag still works)

private:
    std::atomic<bool> m_flag{false};
    int m_fd = -1;
};

// Byte transport over a connected socket. send/recv follow the POSIX calls:
// a count, 0 from recv at end of stream, -1 with errno set on failure. The
// descriptor is non-blocking: a call that cannot make progress now returns -1
// with errno EAGAIN, and the caller waits for readiness and calls again.
class Channel {
public:
    virtual ~Channel() = default;
    virtual ssize_t send(const char* data, std::size_t size) = 0;
    virtual ssize_t recv(char* buffer, std::size_t size) = 0;
    // True when bytes already received from the socket wait inside the
    // channel (TLS records decrypted ahead); a read wait must not poll then.
    virtual bool hasBuffered() const { return false; }
};

class PlainChannel : public Channel {
public:
    explicit PlainChannel(int fd) : m_fd(fd) {}
    ssize_t send(const char* data, std::size_t size) override;
    ssize_t recv(char* buffer, std::size_t size) override;

private:
    int m_fd;
};

class Socket {
public:
    enum class Wait { Ready, TimedOut, Stopped, Failed };

    Socket() = default;
    ~Socket();
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    // Resolves host (name, IPv4 or IPv6 literal) for TCP port. False on
    // failure, with lastError() set (errno, or kResolveFailed).
    bool resolve(const std::string& host, int port);
    // Connects to the resolved addresses in order until one accepts; sets
    // TCP_NODELAY and installs a PlainChannel. False with lastError() = errno
    // of the last attempt. Each attempt is bounded by limit and ends early on
    // stop (then lastError() is 0 and stopped() tells).
    bool connect(std::chrono::milliseconds limit, const StopSignal* stop = nullptr);
    // Closes the socket. False if there was none or close() failed.
    bool close();

    bool isOpen() const { return m_fd >= 0; }
    int fd() const { return m_fd; }
    int lastError() const { return m_lastError; }
    // The last wait ended because its time ran out.
    bool timedOut() const { return m_timedOut; }
    bool stopped() const { return m_stopped; }

    // Waits are bounded by limit; a null stop means no stop can end them.
    Wait waitReadable(std::chrono::milliseconds limit, const StopSignal* stop);
    Wait waitWritable(std::chrono::milliseconds limit, const StopSignal* stop);

    // One call on the channel; on failure lastError() is errno.
    ssize_t send(const char* data, std::size_t size);
    ssize_t recv(char* buffer, std::size_t size);

    // Replaces the byte transport (TLS after the handshake). The socket keeps
    // ownership of the descriptor; the channel must not close it.
    void setChannel(std::unique_ptr<Channel> channel) { m_channel = std::move(channel); }
    Channel* channel() { return m_channel.get(); }

    // lastError() after a name that did not resolve (getaddrinfo has no errno).
    static constexpr int kResolveFailed = -3;

private:
    Wait waitFor(short events, std::chrono::milliseconds limit, const StopSignal* stop);

    int m_fd = -1;
    std::vector<std::vector<unsigned char>> m_addresses;  // sockaddr bytes, in resolver order
    std::vector<int> m_families;
    std::unique_ptr<Channel> m_channel;
    int m_lastError = 0;
    bool m_timedOut = false;
    bool m_stopped = false;
};

}  // namespace zeph
