// A scripted DNS server for the cases a real one will not produce: silence,
// duplicates, foreign IDs, hand-made compression and broken packets.
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tarn::mx::test {

using Bytes = std::vector<std::uint8_t>;

// Writes DNS messages byte by byte, so a test can put anything anywhere.
class MessageWriter {
public:
    MessageWriter& u8(std::uint8_t v);
    MessageWriter& u16(std::uint16_t v);
    MessageWriter& u32(std::uint32_t v);
    MessageWriter& name(const std::string& dotted);  // uncompressed
    MessageWriter& pointer(std::uint16_t offset);
    MessageWriter& header(std::uint16_t id, std::uint16_t qd, std::uint16_t an,
                          std::uint16_t ns = 0, std::uint16_t ar = 0);
    MessageWriter& question(const std::string& dotted, std::uint16_t type);
    // A record header with uncompressed owner; the RDATA follows.
    MessageWriter& recordHead(const std::string& owner, std::uint16_t type, std::uint16_t rdLength);
    MessageWriter& mx(const std::string& owner, const std::string& exchange);
    MessageWriter& a(const std::string& owner, std::uint32_t address);
    std::size_t size() const { return m_bytes.size(); }
    const Bytes& bytes() const { return m_bytes; }

private:
    Bytes m_bytes;
};

struct Query {
    std::uint16_t id = 0;
    std::string name;  // as queried, "example.com."
    std::uint16_t type = 0;
    Bytes bytes;
};

// The typical answers: MX records for `mxNames`, A records for `aNames`,
// nothing (NODATA) otherwise.
Bytes answerFor(const Query& q, bool hasMx, bool hasA);

class FakeDnsServer {
public:
    // Called on the server thread for every query; returns the datagrams to
    // send back (none = silence).
    using Handler = std::function<std::vector<Bytes>(const Query&)>;

    explicit FakeDnsServer(Handler handler);
    ~FakeDnsServer();
    FakeDnsServer(const FakeDnsServer&) = delete;
    FakeDnsServer& operator=(const FakeDnsServer&) = delete;

    std::uint16_t port() const { return m_port; }
    std::vector<Query> queries() const;
    std::size_t queryCount() const;
    // Sends a datagram to the client from the server's own socket, or from a
    // socket of another port (a spoofer).
    void sendToClient(const Bytes& bytes, bool fromOtherPort = false);

private:
    void serve();

    Handler m_handler;
    int m_socket = -1;
    int m_otherSocket = -1;
    int m_wake[2] = {-1, -1};
    std::uint16_t m_port = 0;
    mutable std::mutex m_mutex;
    std::vector<Query> m_queries;
    sockaddr_in m_client{};
    std::thread m_thread;
};

}  // namespace tarn::mx::test
