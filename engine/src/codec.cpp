#include "codec.h"

#include <array>
#include <cstdint>

namespace zeph {
namespace {
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<int8_t, 256> makeDecodeTable() {
    std::array<int8_t, 256> t{};
    for (auto& v : t) {
        v = -1;
    }
    for (int i = 0; i < 64; ++i) {
        t[static_cast<unsigned char>(kAlphabet[i])] = static_cast<int8_t>(i);
    }
    return t;
}
constexpr auto kDecode = makeDecodeTable();

// Gathers 6-bit values and hands out each byte as soon as its eight bits are in.
class Base64Bits {
public:
    void add(int value, std::string& out) {
        m_acc = ((m_acc << 6) | static_cast<std::uint32_t>(value)) & 0xFFFFFF;
        m_count += 6;
        if (m_count >= 8) {
            m_count -= 8;
            out += static_cast<char>((m_acc >> m_count) & 0xFF);
        }
    }
    // Bits gathered that do not make a whole byte.
    int pending() const { return m_count; }

private:
    std::uint32_t m_acc = 0;
    int m_count = 0;
};
}  // namespace

std::string base64Encode(std::string_view bytes) {
    std::string out;
    appendBase64(bytes, out);
    return out;
}

void appendBase64(std::string_view bytes, std::string& out) {
    const std::size_t start = out.size();
    out.resize(start + (bytes.size() + 2) / 3 * 4);
    char* p = out.data() + start;
    const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const std::uint32_t v = (std::uint32_t{in[i]} << 16) | (std::uint32_t{in[i + 1]} << 8) |
                                std::uint32_t{in[i + 2]};
        *p++ = kAlphabet[(v >> 18) & 63];
        *p++ = kAlphabet[(v >> 12) & 63];
        *p++ = kAlphabet[(v >> 6) & 63];
        *p++ = kAlphabet[v & 63];
    }
    const std::size_t rest = bytes.size() - i;
    if (rest > 0) {
        std::uint32_t v = std::uint32_t{in[i]} << 16;
        if (rest == 2) {
            v |= std::uint32_t{in[i + 1]} << 8;
        }
        *p++ = kAlphabet[(v >> 18) & 63];
        *p++ = kAlphabet[(v >> 12) & 63];
        *p++ = rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
        *p = '=';
    }
}

void appendUuencodeLine(std::string_view group, std::string& out) {
    if (group.size() > kUuencodeLineBytes) {
        group = group.substr(0, kUuencodeLineBytes);
    }
    auto put = [&out](std::uint32_t v) { out += v == 0 ? '`' : static_cast<char>(v + 32); };
    put(static_cast<std::uint32_t>(group.size()));
    for (std::size_t i = 0; i < group.size(); i += 3) {
        std::uint32_t v = 0;
        for (std::size_t k = 0; k < 3; ++k) {
            v <<= 8;
            if (i + k < group.size()) {
                v |= static_cast<unsigned char>(group[i + k]);
            }
        }
        put((v >> 18) & 63);
        put((v >> 12) & 63);
        put((v >> 6) & 63);
        put(v & 63);
    }
}

std::optional<std::string> base64Decode(std::string_view text) {
    std::string out;
    Base64Bits bits;
    int padding = 0;
    for (char c : text) {
        if (c == '\r' || c == '\n' || c == ' ' || c == '\t') {
            continue;
        }
        if (c == '=') {
            ++padding;
            continue;
        }
        const int v = kDecode[static_cast<unsigned char>(c)];
        if (v < 0 || padding > 0) {
            return std::nullopt;  // outside the alphabet, or data after padding
        }
        bits.add(v, out);
    }
    // 6 leftover bits can never make a byte; padding must match what is missing.
    const int left = bits.pending();
    if (left >= 6 || padding > 2 || (padding > 0 && (left / 2) != padding)) {
        return std::nullopt;
    }
    return out;
}

std::string base64DecodeLenient(std::string_view text, std::size_t maxBytes) {
    std::string out;
    Base64Bits bits;
    for (char c : text) {
        if (c == '=' || out.size() >= maxBytes) {
            break;
        }
        const int v = kDecode[static_cast<unsigned char>(c)];
        if (v >= 0) {
            bits.add(v, out);
        }
    }
    return out;
}

}  // namespace zeph
