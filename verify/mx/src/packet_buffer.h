// The DNS message codec (RFC 1035) of the MX library: a fixed 512-byte packet
// buffer with bounds-checked big-endian access, query building and response
// parsing.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

namespace tarn::mx {

// Thrown by PacketBuffer for any step outside the packet; it never leaves the
// library (the parser catches it and keeps what it had read).
class packetbufexception : public std::exception {  // NOLINT(readability-identifier-naming)
public:
    explicit packetbufexception(const char* what) : m_what(what) {}
    const char* what() const noexcept override { return m_what; }

private:
    const char* m_what;
};

// 512 bytes (the classic UDP DNS limit) with one read/write position. Reads are
// bounded by the bytes actually held (what was received, or what was written),
// so stale bytes of an earlier, longer message can never be read as records.
class PacketBuffer {
public:
    static constexpr std::size_t kSize = 512;

    PacketBuffer() = default;
    // Holds a copy of the first kSize bytes of `bytes` for reading.
    PacketBuffer(const std::uint8_t* bytes, std::size_t size);

    std::size_t position() const { return m_pos; }
    std::size_t size() const { return m_size; }  // bytes held
    const std::uint8_t* data() const { return m_bytes.data(); }
    void seek(std::size_t pos);
    // Empties the buffer for writing a new message.
    void clear() {
        m_size = 0;
        m_pos = 0;
    }

    std::uint8_t readU8();
    std::uint16_t readU16();
    std::uint32_t readU32();  // two 16-bit halves, high half first
    void skip(std::size_t n);

    void writeU8(std::uint8_t v);
    void writeU16(std::uint16_t v);
    // Writes a dotted name as labels, never compressed. Throws when a label is
    // over 63 bytes or the name over 255 bytes: such a name is not a DNS name
    // and must not be sent.
    void writeName(std::string_view dotted);

    // Reads a possibly compressed name as "label.label." ("" for the root).
    // Afterwards the position is just past the first pointer met, or past the
    // terminating zero byte. Throws on a pointer that does not lead strictly
    // backwards (which also rules out loops), on a length byte 0x40-0xBF
    // (a label over 63 bytes), and on a name over 255 bytes.
    std::string readName();

private:
    std::array<std::uint8_t, kSize> m_bytes{};
    std::size_t m_size = 0;
    std::size_t m_pos = 0;
};

enum class RecordType : std::uint16_t { A = 1, NS = 2, MX = 15 };

struct DnsHeader {
    std::uint16_t id = 0;
    std::uint16_t flags = 0;
    std::uint16_t qdCount = 0, anCount = 0, nsCount = 0, arCount = 0;
};

struct DnsRecord {
    std::string owner;  // "label.label."
    std::uint16_t type = 0;
    std::uint16_t klass = 0;
    std::uint32_t ttl = 0;
    std::uint32_t address = 0;      // A: host order (10.0.0.1 is 0x0A000001)
    std::uint16_t preference = 0;   // MX
    std::string target;             // NS: the server; MX: the exchange
    std::vector<std::uint8_t> raw;  // any other type
};

struct DnsQuestion {
    std::string name;  // "label.label."
    std::uint16_t type = 0;
    std::uint16_t klass = 0;
};

struct DnsMessage {
    bool headerRead = false;
    DnsHeader header;
    std::vector<DnsQuestion> questions;
    std::vector<DnsRecord> records;  // answer, authority and additional, in order
    bool complete = false;           // false when the parse stopped early
};

// Builds a query (flags: RD only) for `name` with the given QTYPE. Returns
// false when the name cannot be sent (a label over 63 bytes, over 255 bytes).
bool buildQuery(PacketBuffer& out, std::uint16_t id, std::string_view name, RecordType type);

// The owner-name form of a dotted name as it would be queried: each label
// followed by "." ("example.com" and "example.com." both give "example.com.").
std::string canonicalName(std::string_view dotted);

// Parses a response. A malformed or truncated message stops the parse where it
// went wrong: what was read before (header, records) is kept.
DnsMessage parseResponse(const std::uint8_t* bytes, std::size_t size);

}  // namespace tarn::mx
