#include "resolver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "packet_buffer.h"

namespace tarn::mx {

UniqueFd::~UniqueFd() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

UniqueFd& UniqueFd::operator=(UniqueFd&& o) noexcept {
    if (this != &o) {
        UniqueFd old(m_fd);
        m_fd = o.release();
    }
    return *this;
}

namespace {

// Every access to an item or a counter of the block is made under its lock:
// the caller reads the counters while the worker runs.
class BlockLock {
public:
    explicit BlockLock(MXVerifyParam& p) : m_mutex(&p.lock) { pthread_mutex_lock(m_mutex); }
    ~BlockLock() { pthread_mutex_unlock(m_mutex); }
    BlockLock(const BlockLock&) = delete;
    BlockLock& operator=(const BlockLock&) = delete;

private:
    pthread_mutex_t* m_mutex;
};

using Clock = std::chrono::steady_clock;

// Receives are drained in bursts so that the window is refilled between them.
constexpr int kReceiveBurst = 64;

}  // namespace

MxResolver::MxResolver(MXVerifyParam& param, ResolverOptions options, int stopFd)
    : m_param(param),
      m_options(options),
      m_stopFd(stopFd),
      m_server(param.server),
      m_inFlightById(65536, -1) {}

void MxResolver::fail(int error) {
    BlockLock lock(m_param);
    m_param.lastError = error;
}

RunEnd MxResolver::run() {
    const std::int32_t count = m_param.count;
    m_names.reserve(static_cast<std::size_t>(count));
    {
        BlockLock lock(m_param);
        for (std::int32_t i = 0; i < count; ++i) {
            MXVerifyItem& item = m_param.items[i];
            item.queryId = static_cast<std::uint16_t>(i);
            item.idleTicks = 0;
            item.retries = 0;
            item.result = MXVERIFY_RESULT_UNDECIDED;
            m_names.push_back(item.domain != nullptr ? canonicalName(item.domain) : std::string());
            m_cache.watch(m_names.back());
            m_queue.push_back(i);
        }
    }

    m_socket = UniqueFd(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (m_socket.get() < 0) {
        fail(errno);
        return RunEnd::SocketError;
    }

    auto lastEvent = Clock::now();
    m_lastAnswer = lastEvent;
    for (;;) {
        if (m_queue.empty() && m_inFlight.empty()) {
            return RunEnd::Normal;
        }
        if (!sendPending()) {
            return RunEnd::SocketError;
        }
        pollfd fds[2] = {{m_socket.get(), static_cast<short>(m_wouldBlock ? POLLOUT : POLLIN), 0},
                         {m_stopFd, POLLIN, 0}};
        auto left =
            std::chrono::ceil<std::chrono::milliseconds>(lastEvent + m_options.tick - Clock::now());
        int rc = ::poll(fds, 2, static_cast<int>(std::max<std::int64_t>(left.count(), 0)));
        if (rc < 0) {
            if (errno == EINTR) {
                continue;
            }
            fail(errno);
            return RunEnd::SocketError;
        }
        if (fds[1].revents != 0) {
            fail(-1);  // stopped: undecided items keep -1
            return RunEnd::Normal;
        }
        short ev = fds[0].revents;
        if ((ev & POLLERR) != 0) {
            int error = 0;
            socklen_t len = sizeof error;
            if (::getsockopt(m_socket.get(), SOL_SOCKET, SO_ERROR, &error, &len) != 0) {
                error = errno;
            }
            if (error != 0) {
                fail(error);
                return RunEnd::SocketError;
            }
        }
        if ((ev & POLLOUT) != 0 && m_wouldBlock) {
            m_wouldBlock = false;
            lastEvent = Clock::now();
        }
        if ((ev & POLLIN) != 0) {
            if (!receivePending()) {
                return RunEnd::SocketError;
            }
            // Only the server's answers count as activity, so a flood of foreign
            // datagrams cannot hold back the retransmissions.
            lastEvent = std::max(lastEvent, m_lastAnswer);
        }
        if (Clock::now() >= lastEvent + m_options.tick) {
            silenceStep();
            lastEvent = Clock::now();
        }
    }
}

bool MxResolver::sendPending() {
    PacketBuffer packet;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(m_options.port);
    to.sin_addr.s_addr = m_server;
    while (!m_wouldBlock && m_inFlight.size() < kWindow && !m_queue.empty()) {
        const std::int32_t index = m_queue.front();
        std::int32_t stage = 0;
        {
            BlockLock lock(m_param);
            stage = m_param.items[index].stage;
        }
        if (stage == MXVERIFY_STAGE_DONE) {
            m_queue.pop_front();
            continue;
        }
        auto id = static_cast<std::uint16_t>(index);
        if (m_inFlightById[id] >= 0) {
            // Only with more than 65536 items: an earlier item still owns this
            // ID. It leaves the flight by answer or timeout, then this one goes.
            return true;
        }
        m_queue.pop_front();
        const std::string& name = m_names[static_cast<std::size_t>(index)];
        bool named = m_param.items[index].domain != nullptr;
        if (!named || !buildQuery(packet, id, name,
                                  stage == MXVERIFY_STAGE_A ? RecordType::A : RecordType::MX)) {
            // Not a DNS name (a label over 63 bytes, over 255 bytes): no
            // server can know it, and it must not go out on the wire.
            decide(index, MXVERIFY_RESULT_NO_HOST);
            continue;
        }
        {
            BlockLock lock(m_param);
            m_param.items[index].idleTicks = 0;
        }
        ssize_t sent = ::sendto(m_socket.get(), packet.data(), packet.size(), MSG_NOSIGNAL,
                                reinterpret_cast<const sockaddr*>(&to), sizeof to);
        if (sent == static_cast<ssize_t>(packet.size())) {
            m_inFlight.push_back(index);
            m_inFlightById[id] = index;
        } else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            m_wouldBlock = errno != EINTR;
            m_queue.push_front(index);
        } else {
            fail(sent < 0 ? errno : EMSGSIZE);
            return false;
        }
    }
    return true;
}

bool MxResolver::receivePending() {
    std::uint8_t buffer[PacketBuffer::kSize];
    for (int i = 0; i < kReceiveBurst; ++i) {
        sockaddr_in from{};
        socklen_t fromLen = sizeof from;
        ssize_t got = ::recvfrom(m_socket.get(), buffer, sizeof buffer, MSG_DONTWAIT,
                                 reinterpret_cast<sockaddr*>(&from), &fromLen);
        if (got < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                return true;
            }
            if (errno == EINTR) {
                continue;
            }
            fail(errno);
            return false;
        }
        // Anyone can send a datagram to our port; only the server's own address
        // and port may decide a domain.
        if (fromLen < sizeof from || from.sin_family != AF_INET ||
            from.sin_addr.s_addr != m_server || from.sin_port != htons(m_options.port)) {
            continue;
        }
        m_lastAnswer = Clock::now();
        handleResponse(buffer, static_cast<std::size_t>(got));
    }
    return true;
}

void MxResolver::handleResponse(const std::uint8_t* bytes, std::size_t size) {
    DnsMessage msg = parseResponse(bytes, size);
    if (!msg.headerRead) {
        return;
    }
    for (const DnsRecord& r : msg.records) {
        m_cache.add(r);
    }
    const std::uint16_t id = msg.header.id;
    if (id >= static_cast<std::uint32_t>(m_param.count)) {
        ++m_foreignAnswers;  // names no item of this run: counted for the caller, not used
        return;
    }
    const std::int32_t index = m_inFlightById[id];
    if (index < 0) {
        return;  // late or repeated: it only fed the cache
    }
    std::int32_t stage = 0;
    {
        BlockLock lock(m_param);
        stage = m_param.items[index].stage;
    }
    // An answer to an earlier question under the same ID (the MX answer to a
    // retransmission arriving while the A query is out) must not be taken for
    // the answer to the current one.
    if (!msg.questions.empty()) {
        const DnsQuestion& q = msg.questions.front();
        auto wanted =
            static_cast<std::uint16_t>(stage == MXVERIFY_STAGE_A ? RecordType::A : RecordType::MX);
        if (q.type != wanted ||
            foldName(q.name) != foldName(m_names[static_cast<std::size_t>(index)])) {
            return;
        }
    }
    leaveFlight(index);
    const std::string& name = m_names[static_cast<std::size_t>(index)];
    if (m_cache.hasMx(name)) {
        decide(index, MXVERIFY_RESULT_MX);
    } else if (m_cache.hasA(name)) {
        decide(index, MXVERIFY_RESULT_A);
    } else if (stage == MXVERIFY_STAGE_MX) {
        {
            BlockLock lock(m_param);
            m_param.items[index].stage = MXVERIFY_STAGE_A;
            m_param.items[index].retries = 0;
        }
        m_queue.push_front(index);  // the A query goes out next
    } else {
        decide(index, MXVERIFY_RESULT_NO_HOST);
    }
}

void MxResolver::silenceStep() {
    std::vector<std::int32_t> timedOut;
    {
        BlockLock lock(m_param);
        for (std::int32_t index : m_inFlight) {
            MXVerifyItem& item = m_param.items[index];
            std::uint32_t before = item.idleTicks;
            item.idleTicks = before + 1;
            if (before >= kIdleTicksBeforeRetry) {
                timedOut.push_back(index);
            }
        }
    }
    for (std::int32_t index : timedOut) {
        leaveFlight(index);
        bool retry = false;
        {
            BlockLock lock(m_param);
            MXVerifyItem& item = m_param.items[index];
            if (item.retries < kMaxRetries) {
                item.idleTicks = 0;
                item.retries = item.retries + 1;
                retry = true;
            }
        }
        if (retry) {
            m_queue.push_back(index);
        } else {
            decide(index, MXVERIFY_RESULT_SILENT);
        }
    }
}

void MxResolver::leaveFlight(std::int32_t index) {
    auto it = std::find(m_inFlight.begin(), m_inFlight.end(), index);
    if (it != m_inFlight.end()) {
        *it = m_inFlight.back();
        m_inFlight.pop_back();
    }
    m_inFlightById[static_cast<std::uint16_t>(index)] = -1;
}

void MxResolver::decide(std::int32_t index, std::int32_t result) {
    BlockLock lock(m_param);
    MXVerifyItem& item = m_param.items[index];
    item.stage = MXVERIFY_STAGE_DONE;
    item.result = result;
    if (result >= 0) {
        ++m_param.okCount;
    } else {
        ++m_param.ngCount;
    }
}

}  // namespace tarn::mx
