// The binary archive layer shared by every file format of the suite (.tnm, .tn2,
// mapping files): little-endian integers and length-prefixed strings.
//
// Archive string: a length prefix, then exactly that many bytes (no NUL).
//
//   length n          prefix
//   0 .. 254          n                                 (1 byte)
//   255 .. 65533      0xFF, n                           (1 + 2 bytes)
//   65534 and more    0xFF, 0xFFFF, n                   (1 + 2 + 4 bytes)
//
// Writers always use the shortest form; the reader accepts all three.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tarn {

// Bounds-checked reader over a byte span. Every read either succeeds completely
// or fails, leaving the position unchanged and recording the offset and reason;
// nothing is allocated for a length before its bytes are known to be there.
class ByteReader {
public:
    explicit ByteReader(std::string_view bytes) : m_bytes(bytes) {}
    // For bytes that are a piece of a larger input starting at `baseOffset`:
    // failures then report offsets in the whole input (offset() stays relative).
    ByteReader(std::string_view bytes, std::size_t baseOffset)
        : m_bytes(bytes), m_base(baseOffset) {}
    // The reader keeps a view: it must not outlive its bytes.
    explicit ByteReader(std::string&&) = delete;

    bool readU8(std::uint8_t& v);
    bool readU16le(std::uint16_t& v);
    bool readU32le(std::uint32_t& v);
    bool readI32le(std::int32_t& v);
    bool readBytes(std::size_t n, std::string& out);
    bool readArchiveString(std::string& out);

    std::size_t offset() const { return m_pos; }
    std::size_t remaining() const { return m_bytes.size() - m_pos; }
    bool atEnd() const { return m_pos == m_bytes.size(); }

    // Why and where the first failed read failed (English, for diagnostics).
    const std::string& failure() const { return m_failure; }
    std::size_t failureOffset() const { return m_failureOffset; }
    bool failed() const { return !m_failure.empty(); }

private:
    bool fail(std::size_t at, std::size_t wanted, const char* what);

    std::string_view m_bytes;
    std::size_t m_base = 0;
    std::size_t m_pos = 0;
    std::string m_failure;
    std::size_t m_failureOffset = 0;
};

void writeU8(std::string& out, std::uint8_t v);
void writeU16le(std::string& out, std::uint16_t v);
void writeU32le(std::string& out, std::uint32_t v);
void writeI32le(std::string& out, std::int32_t v);
void writeArchiveString(std::string& out, std::string_view s);

// Size in bytes of the prefix a writer puts before a string of n bytes.
std::size_t archivePrefixSize(std::size_t n);

}  // namespace tarn
