#include "common/archive.h"

#include <cstdio>

namespace tarn {

bool ByteReader::fail(std::size_t at, std::size_t wanted, const char* what) {
    if (m_failure.empty()) {
        char msg[160];
        std::snprintf(msg, sizeof msg, "%s at offset %zu needs %zu bytes, %zu remain", what,
                      m_base + at, wanted, m_bytes.size() - at);
        m_failure = msg;
        m_failureOffset = m_base + at;
    }
    return false;
}

bool ByteReader::readU8(std::uint8_t& v) {
    if (remaining() < 1) {
        return fail(m_pos, 1, "byte");
    }
    v = static_cast<std::uint8_t>(m_bytes[m_pos]);
    m_pos += 1;
    return true;
}

bool ByteReader::readU16le(std::uint16_t& v) {
    if (remaining() < 2) {
        return fail(m_pos, 2, "16-bit value");
    }
    auto b = [&](std::size_t i) {
        return static_cast<std::uint16_t>(static_cast<std::uint8_t>(m_bytes[m_pos + i]));
    };
    v = static_cast<std::uint16_t>(b(0) | (b(1) << 8));
    m_pos += 2;
    return true;
}

bool ByteReader::readU32le(std::uint32_t& v) {
    if (remaining() < 4) {
        return fail(m_pos, 4, "32-bit value");
    }
    v = 0;
    for (int i = 3; i >= 0; --i) {
        v = (v << 8) | static_cast<std::uint8_t>(m_bytes[m_pos + static_cast<std::size_t>(i)]);
    }
    m_pos += 4;
    return true;
}

bool ByteReader::readI32le(std::int32_t& v) {
    std::uint32_t u = 0;
    if (!readU32le(u)) {
        return false;
    }
    v = static_cast<std::int32_t>(u);
    return true;
}

bool ByteReader::readBytes(std::size_t n, std::string& out) {
    if (remaining() < n) {
        return fail(m_pos, n, "text");
    }
    out.assign(m_bytes.substr(m_pos, n));
    m_pos += n;
    return true;
}

bool ByteReader::readArchiveString(std::string& out) {
    const std::size_t start = m_pos;
    std::uint8_t b = 0;
    if (!readU8(b)) {
        return false;
    }
    std::size_t n = b;
    if (b == 0xFF) {
        std::uint16_t w = 0;
        if (!readU16le(w)) {
            m_pos = start;
            return false;
        }
        n = w;
        if (w == 0xFFFE) {
            // The framework marks a UTF-16 string this way; no file of ours holds one.
            m_pos = start;
            return fail(start, 3, "string prefix 0xFF 0xFFFE (UTF-16 string, not supported)");
        }
        if (w == 0xFFFF) {
            std::uint32_t d = 0;
            if (!readU32le(d)) {
                m_pos = start;
                return false;
            }
            n = d;
        }
    }
    if (remaining() < n) {
        const std::size_t at = m_pos;
        m_pos = start;
        return fail(at, n, "string");
    }
    out.assign(m_bytes.substr(m_pos, n));
    m_pos += n;
    return true;
}

void writeU8(std::string& out, std::uint8_t v) {
    out.push_back(static_cast<char>(v));
}

void writeU16le(std::string& out, std::uint16_t v) {
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>(v >> 8));
}

void writeU32le(std::string& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    }
}

void writeI32le(std::string& out, std::int32_t v) {
    writeU32le(out, static_cast<std::uint32_t>(v));
}

std::size_t archivePrefixSize(std::size_t n) {
    return n < 255 ? 1 : n < 0xFFFE ? 3 : 7;
}

void writeArchiveString(std::string& out, std::string_view s) {
    const std::size_t n = s.size();
    if (n < 255) {
        writeU8(out, static_cast<std::uint8_t>(n));
    } else if (n < 0xFFFE) {
        writeU8(out, 0xFF);
        writeU16le(out, static_cast<std::uint16_t>(n));
    } else {
        writeU8(out, 0xFF);
        writeU16le(out, 0xFFFF);
        writeU32le(out, static_cast<std::uint32_t>(n));
    }
    out.append(s);
}

}  // namespace tarn
