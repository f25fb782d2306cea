#include "fake_dns_server.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

#include "packet_buffer.h"

namespace tarn::mx::test {

MessageWriter& MessageWriter::u8(std::uint8_t v) {
    m_bytes.push_back(v);
    return *this;
}
MessageWriter& MessageWriter::u16(std::uint16_t v) {
    return u8(static_cast<std::uint8_t>(v >> 8)).u8(static_cast<std::uint8_t>(v));
}
MessageWriter& MessageWriter::u32(std::uint32_t v) {
    return u16(static_cast<std::uint16_t>(v >> 16)).u16(static_cast<std::uint16_t>(v));
}
MessageWriter& MessageWriter::name(const std::string& dotted) {
    std::size_t pos = 0;
    while (pos < dotted.size()) {
        std::size_t dot = dotted.find('.', pos);
        if (dot == std::string::npos) {
            dot = dotted.size();
        }
        u8(static_cast<std::uint8_t>(dot - pos));
        for (std::size_t i = pos; i < dot; ++i) {
            u8(static_cast<std::uint8_t>(dotted[i]));
        }
        pos = dot + 1;
    }
    return u8(0);
}
MessageWriter& MessageWriter::pointer(std::uint16_t offset) {
    return u16(static_cast<std::uint16_t>(0xC000 | offset));
}
MessageWriter& MessageWriter::header(std::uint16_t id, std::uint16_t qd, std::uint16_t an,
                                     std::uint16_t ns, std::uint16_t ar) {
    return u16(id).u16(0x8180).u16(qd).u16(an).u16(ns).u16(ar);
}
MessageWriter& MessageWriter::question(const std::string& dotted, std::uint16_t type) {
    return name(dotted).u16(type).u16(1);
}
MessageWriter& MessageWriter::recordHead(const std::string& owner, std::uint16_t type,
                                         std::uint16_t rdLength) {
    return name(owner).u16(type).u16(1).u32(300).u16(rdLength);
}
MessageWriter& MessageWriter::mx(const std::string& owner, const std::string& exchange) {
    MessageWriter rdata;
    rdata.u16(10).name(exchange);
    recordHead(owner, 15, static_cast<std::uint16_t>(rdata.size()));
    m_bytes.insert(m_bytes.end(), rdata.m_bytes.begin(), rdata.m_bytes.end());
    return *this;
}
MessageWriter& MessageWriter::a(const std::string& owner, std::uint32_t address) {
    return recordHead(owner, 1, 4).u32(address);
}

Bytes answerFor(const Query& q, bool hasMx, bool hasA) {
    MessageWriter w;
    bool answer = (q.type == 15 && hasMx) || (q.type == 1 && hasA);
    w.header(q.id, 1, answer ? 1 : 0).question(q.name, q.type);
    if (answer && q.type == 15) {
        w.mx(q.name, "mail." + q.name);
    } else if (answer) {
        w.a(q.name, 0x0A000001);
    }
    return w.bytes();
}

namespace {

int udpSocket(sockaddr_in& bound) {
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        throw std::runtime_error("socket failed");
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &len) != 0) {
        ::close(fd);
        throw std::runtime_error("bind failed");
    }
    return fd;
}

}  // namespace

FakeDnsServer::FakeDnsServer(Handler handler) : m_handler(std::move(handler)) {
    sockaddr_in bound{};
    m_socket = udpSocket(bound);
    m_port = ntohs(bound.sin_port);
    m_otherSocket = udpSocket(bound);
    if (::pipe(m_wake) != 0) {
        throw std::runtime_error("pipe failed");
    }
    m_thread = std::thread([this] { serve(); });
}

FakeDnsServer::~FakeDnsServer() {
    char c = 0;
    (void)!::write(m_wake[1], &c, 1);
    m_thread.join();
    for (int fd : {m_socket, m_otherSocket, m_wake[0], m_wake[1]}) {
        ::close(fd);
    }
}

std::vector<Query> FakeDnsServer::queries() const {
    std::lock_guard lock(m_mutex);
    return m_queries;
}

std::size_t FakeDnsServer::queryCount() const {
    std::lock_guard lock(m_mutex);
    return m_queries.size();
}

void FakeDnsServer::sendToClient(const Bytes& bytes, bool fromOtherPort) {
    sockaddr_in client{};
    {
        std::lock_guard lock(m_mutex);
        client = m_client;
    }
    ::sendto(fromOtherPort ? m_otherSocket : m_socket, bytes.data(), bytes.size(), 0,
             reinterpret_cast<const sockaddr*>(&client), sizeof client);
}

void FakeDnsServer::serve() {
    for (;;) {
        pollfd fds[2] = {{m_socket, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 || fds[1].revents != 0) {
            return;
        }
        std::uint8_t buf[PacketBuffer::kSize];
        sockaddr_in from{};
        socklen_t len = sizeof from;
        ssize_t got =
            ::recvfrom(m_socket, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
        if (got <= 0) {
            continue;
        }
        DnsMessage msg = parseResponse(buf, static_cast<std::size_t>(got));
        Query q;
        q.id = msg.header.id;
        q.bytes.assign(buf, buf + got);
        if (!msg.questions.empty()) {
            q.name = msg.questions.front().name;
            q.type = msg.questions.front().type;
        }
        {
            std::lock_guard lock(m_mutex);
            m_client = from;
            m_queries.push_back(q);
        }
        for (const Bytes& reply : m_handler(q)) {
            sendToClient(reply);
        }
    }
}

}  // namespace tarn::mx::test
