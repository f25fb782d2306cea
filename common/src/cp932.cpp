#include "common/cp932.h"

#include "common/sjis.h"

#include <iconv.h>

#include <cerrno>
#include <cstdio>

namespace tarn::cp932 {
namespace {

// A move-only iconv descriptor.
class Iconv {
public:
    Iconv(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
    ~Iconv() {
        if (valid()) {
            iconv_close(m_cd);
        }
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;
    bool valid() const { return m_cd != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return m_cd; }

private:
    iconv_t m_cd;
};

// Decodes one UTF-8 sequence at s[i] for error texts; returns the code point and its length.
std::pair<unsigned, std::size_t> decodeUtf8(std::string_view s, std::size_t i) {
    auto b = static_cast<unsigned char>(s[i]);
    std::size_t n = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 1;
    if (i + n > s.size()) {
        return {b, 1};
    }
    unsigned cp = n == 1 ? b : n == 2 ? (b & 0x1F) : n == 3 ? (b & 0x0F) : (b & 0x07);
    for (std::size_t k = 1; k < n; ++k) {
        cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    }
    return {cp, n};
}

struct Outcome {
    std::string out;
    bool ok = true;
    std::size_t badOffset = 0;
};

Outcome convert(const char* to, const char* from, std::string_view in, bool lossy,
                std::string_view replacement) {
    Iconv cd(to, from);
    Outcome r;
    if (!cd.valid()) {
        r.ok = false;
        return r;
    }
    r.out.reserve(in.size() * 3 / 2 + 8);
    char* src = const_cast<char*>(in.data());
    std::size_t srcLeft = in.size();
    char buf[4096];
    while (srcLeft > 0) {
        char* dst = buf;
        std::size_t dstLeft = sizeof buf;
        std::size_t rc = iconv(cd.get(), &src, &srcLeft, &dst, &dstLeft);
        r.out.append(buf, static_cast<std::size_t>(dst - buf));
        if (rc == static_cast<std::size_t>(-1)) {
            if (errno == E2BIG) {
                continue;
            }
            // EILSEQ or EINVAL (incomplete at the end): the input is not convertible here.
            if (!lossy) {
                r.ok = false;
                r.badOffset = static_cast<std::size_t>(src - in.data());
                return r;
            }
            r.out.append(replacement);
            std::size_t skip = 1;
            if (from[0] == 'C' && srcLeft >= 2 && tarn::sjis::isLeadByte(*src)) {
                skip = 2;
            }
            src += skip;
            srcLeft -= skip;
            iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);
        }
    }
    return r;
}

}  // namespace

Result<std::string> fromUtf8(std::string_view utf8) {
    Outcome r = convert("CP932", "UTF-8", utf8, false, "");
    if (r.ok) {
        return std::move(r.out);
    }
    if (r.badOffset >= utf8.size()) {
        return makeError("UTF-8 の文字が途中で切れています。", static_cast<long long>(r.badOffset));
    }
    auto [cp, n] = decodeUtf8(utf8, r.badOffset);
    char code[16];
    std::snprintf(code, sizeof code, "U+%04X", cp);
    std::string ch(utf8.substr(r.badOffset, n));
    return makeError("「" + ch + "」(" + code + ") はシフトJIS (CP932) で表せない文字です。",
                     static_cast<long long>(r.badOffset));
}

Result<std::string> toUtf8(std::string_view sjis) {
    Outcome r = convert("UTF-8", "CP932", sjis, false, "");
    if (r.ok) {
        return std::move(r.out);
    }
    char msg[96];
    std::snprintf(msg, sizeof msg, "シフトJISとして読めないバイト列があります (位置 %zu)。",
                  r.badOffset);
    return makeError(msg, static_cast<long long>(r.badOffset));
}

std::string toUtf8Lossy(std::string_view sjis) {
    return convert("UTF-8", "CP932", sjis, true, "\xEF\xBF\xBD").out;
}

std::string firstUnrepresentable(std::string_view utf8) {
    Outcome r = convert("CP932", "UTF-8", utf8, false, "");
    if (r.ok || r.badOffset >= utf8.size()) {
        return {};
    }
    char code[16];
    std::snprintf(code, sizeof code, "U+%04X", decodeUtf8(utf8, r.badOffset).first);
    return code;
}

bool isValidUtf8(std::string_view s, bool* hasMultiByte) {
    bool multi = false;
    std::size_t i = 0;
    const std::size_t n = s.size();
    while (i < n) {
        auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        multi = true;
        std::size_t len = 0;
        unsigned min = 0;
        unsigned cp = 0;
        if (c >= 0xC2 && c <= 0xDF) {
            len = 2, cp = c & 0x1Fu, min = 0x80;
        } else if (c >= 0xE0 && c <= 0xEF) {
            len = 3, cp = c & 0x0Fu, min = 0x800;
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4, cp = c & 0x07u, min = 0x10000;
        } else {
            return false;
        }
        if (n - i < len) {
            return false;
        }
        for (std::size_t k = 1; k < len; ++k) {
            auto t = static_cast<unsigned char>(s[i + k]);
            if ((t & 0xC0u) != 0x80u) {
                return false;
            }
            cp = (cp << 6) | (t & 0x3Fu);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            return false;
        }
        i += len;
    }
    if (hasMultiByte != nullptr) {
        *hasMultiByte = multi;
    }
    return true;
}

}  // namespace tarn::cp932
