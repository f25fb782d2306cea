#include "sasl.h"

#include <cstring>

#include "codec.h"

namespace zeph {
namespace {

// RFC 1321, section 3.4: the per-round shift amounts and the sine-derived constants.
constexpr std::array<std::uint32_t, 64> kShift = {
    7,  12, 17, 22, 7,  12, 17, 22, 7,  12, 17, 22, 7,  12, 17, 22, 5,  9,  14, 20, 5,  9,
    14, 20, 5,  9,  14, 20, 5,  9,  14, 20, 4,  11, 16, 23, 4,  11, 16, 23, 4,  11, 16, 23,
    4,  11, 16, 23, 6,  10, 15, 21, 6,  10, 15, 21, 6,  10, 15, 21, 6,  10, 15, 21};

constexpr std::array<std::uint32_t, 64> kSine = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

constexpr std::uint32_t rotl(std::uint32_t v, std::uint32_t n) {
    return (v << n) | (v >> (32 - n));
}

class Md5 {
public:
    void update(std::string_view bytes) {
        for (char c : bytes) {
            m_block[m_fill++] = static_cast<std::uint8_t>(c);
            if (m_fill == 64) {
                transform();
                m_fill = 0;
            }
        }
        m_length += bytes.size();
    }

    std::array<std::uint8_t, 16> finish() {
        const std::uint64_t bits = m_length * 8;
        // Padding: one 0x80 byte, zeros up to 56 mod 64, then the bit length little-endian.
        static constexpr char kPad[64] = {'\x80'};
        const std::size_t padLength = m_fill < 56 ? 56 - m_fill : 120 - m_fill;
        update(std::string_view(kPad, padLength));
        std::array<char, 8> lengthBytes{};
        for (int i = 0; i < 8; ++i) {
            lengthBytes[i] = static_cast<char>((bits >> (8 * i)) & 0xff);
        }
        update(std::string_view(lengthBytes.data(), lengthBytes.size()));
        std::array<std::uint8_t, 16> digest{};
        for (std::size_t i = 0; i < 4; ++i) {
            for (std::size_t k = 0; k < 4; ++k) {
                digest[i * 4 + k] = static_cast<std::uint8_t>((m_state[i] >> (8 * k)) & 0xff);
            }
        }
        return digest;
    }

private:
    void transform() {
        std::array<std::uint32_t, 16> x{};
        for (std::size_t i = 0; i < 16; ++i) {
            x[i] = static_cast<std::uint32_t>(m_block[i * 4]) |
                   (static_cast<std::uint32_t>(m_block[i * 4 + 1]) << 8) |
                   (static_cast<std::uint32_t>(m_block[i * 4 + 2]) << 16) |
                   (static_cast<std::uint32_t>(m_block[i * 4 + 3]) << 24);
        }
        std::uint32_t a = m_state[0];
        std::uint32_t b = m_state[1];
        std::uint32_t c = m_state[2];
        std::uint32_t d = m_state[3];
        for (std::uint32_t i = 0; i < 64; ++i) {
            std::uint32_t f = 0;
            std::uint32_t g = 0;
            if (i < 16) {
                f = (b & c) | (~b & d);
                g = i;
            } else if (i < 32) {
                f = (d & b) | (~d & c);
                g = (5 * i + 1) % 16;
            } else if (i < 48) {
                f = b ^ c ^ d;
                g = (3 * i + 5) % 16;
            } else {
                f = c ^ (b | ~d);
                g = (7 * i) % 16;
            }
            const std::uint32_t next = b + rotl(a + f + kSine[i] + x[g], kShift[i]);
            a = d;
            d = c;
            c = b;
            b = next;
        }
        m_state[0] += a;
        m_state[1] += b;
        m_state[2] += c;
        m_state[3] += d;
    }

    std::array<std::uint32_t, 4> m_state = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
    std::array<std::uint8_t, 64> m_block{};
    std::size_t m_fill = 0;
    std::uint64_t m_length = 0;
};

std::string toHex(const std::array<std::uint8_t, 16>& digest) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(32);
    for (std::uint8_t b : digest) {
        out += kDigits[b >> 4];
        out += kDigits[b & 15];
    }
    return out;
}

std::string_view asChars(const std::array<std::uint8_t, 16>& digest) {
    return {reinterpret_cast<const char*>(digest.data()), digest.size()};
}

int base64Value(char c) {
    if (c >= 'A' && c <= 'Z') {
        return c - 'A';
    }
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + 26;
    }
    if (c >= '0' && c <= '9') {
        return c - '0' + 52;
    }
    if (c == '+') {
        return 62;
    }
    if (c == '/') {
        return 63;
    }
    return -1;
}

constexpr std::size_t kChallengeCap = 512;
constexpr std::size_t kHmacBlock = 64;

}  // namespace

std::array<std::uint8_t, 16> md5(std::string_view bytes) {
    Md5 m;
    m.update(bytes);
    return m.finish();
}

std::string md5Hex(std::string_view bytes) {
    return toHex(md5(bytes));
}

std::string hmacMd5Hex(std::string_view key, std::string_view data) {
    std::array<std::uint8_t, 16> hashedKey{};
    if (key.size() > kHmacBlock) {
        hashedKey = md5(key);
        key = asChars(hashedKey);
    }
    std::string inner(kHmacBlock, '\x36');
    std::string outer(kHmacBlock, '\x5c');
    for (std::size_t i = 0; i < key.size(); ++i) {
        inner[i] = static_cast<char>(inner[i] ^ key[i]);
        outer[i] = static_cast<char>(outer[i] ^ key[i]);
    }
    Md5 in;
    in.update(inner);
    in.update(data);
    const auto innerDigest = in.finish();
    Md5 out;
    out.update(outer);
    out.update(asChars(innerDigest));
    return toHex(out.finish());
}

std::string authPlainPayload(std::string_view user, std::string_view password) {
    std::string raw;
    raw.reserve(user.size() * 2 + password.size() + 2);
    raw.append(user);
    raw += '\0';
    raw.append(user);
    raw += '\0';
    raw.append(password);
    return base64Encode(raw);
}

std::string decodeChallenge(std::string_view replyText) {
    // "334 " is the code and its separator; the reply ends in CR LF, but a hostile or
    // truncated reply may not, so only a line end that is really there is dropped.
    std::string_view text = replyText.size() > 4 ? replyText.substr(4) : std::string_view{};
    if (text.ends_with("\r\n")) {
        text.remove_suffix(2);
    } else if (text.ends_with('\n')) {
        text.remove_suffix(1);
    }
    std::string out;
    std::uint32_t bits = 0;
    int bitCount = 0;
    for (char c : text) {
        if (c == '=') {
            break;
        }
        const int v = base64Value(c);
        if (v < 0) {
            continue;
        }
        bits = ((bits << 6) | static_cast<std::uint32_t>(v)) & 0xffffff;
        bitCount += 6;
        if (bitCount >= 8) {
            bitCount -= 8;
            out += static_cast<char>((bits >> bitCount) & 0xff);
            if (out.size() == kChallengeCap) {
                break;
            }
        }
    }
    return out;
}

std::string cramMd5Response(std::string_view user, std::string_view password,
                            std::string_view challenge) {
    const auto zero = challenge.find('\0');
    if (zero != std::string_view::npos) {
        challenge = challenge.substr(0, zero);
    }
    std::string line(user);
    line += ' ';
    line += hmacMd5Hex(password, challenge);
    return base64Encode(line);
}

std::string apopDigest(std::string_view timestamp, std::string_view password) {
    Md5 m;
    m.update(timestamp);
    m.update(password);
    return toHex(m.finish());
}

}  // namespace zeph
