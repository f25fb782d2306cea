#include "common/cp932.h"

#include "common/sjis.h"
#include "common/utf8.h"

#include <iconv.h>

#include <algorithm>
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

// The character at s[i] for an error text: its code point and length, or the
// lone byte (as its value, length 1) when it starts no well-formed character.
std::pair<unsigned, std::size_t> decodeUtf8(std::string_view s, std::size_t i) {
    const utf8::Decoded d = utf8::decode(s, i);
    if (!d.valid) {
        return {static_cast<unsigned char>(s[i]), 1};
    }
    return {static_cast<unsigned>(d.codePoint), d.length};
}

struct Outcome {
    std::string out;
    bool ok = true;
    std::size_t badOffset = 0;
};

enum class Direction { fromCp932, toCp932 };

// One descriptor per direction and thread, opened on first use and reset before each
// conversion: opening one costs several times what converting a field's value does,
// and readers convert every value.
Iconv& descriptor(Direction d) {
    thread_local Iconv fromCp932("UTF-8", "CP932");
    thread_local Iconv toCp932("CP932", "UTF-8");
    Iconv& cd = d == Direction::fromCp932 ? fromCp932 : toCp932;
    if (cd.valid()) {
        iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);
    }
    return cd;
}

Outcome convert(Direction direction, std::string_view in, bool lossy,
                std::string_view replacement) {
    Outcome r;
    // ASCII reads the same in both: most values (addresses, numbers, dates) need no converter.
    if (std::all_of(in.begin(), in.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        r.out.assign(in);
        return r;
    }
    Iconv& cd = descriptor(direction);
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
            if (direction == Direction::fromCp932 && srcLeft >= 2 && tarn::sjis::isLeadByte(*src)) {
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
    Outcome r = convert(Direction::toCp932, utf8, false, "");
    if (r.ok) {
        return std::move(r.out);
    }
    if (r.badOffset >= utf8.size()) {
        return makeError("UTF-8 の文字が途中で切れています。", static_cast<long long>(r.badOffset));
    }
    if (!utf8::decode(utf8, r.badOffset).valid) {
        // Not a character at all: naming it would put the broken byte into the text.
        static constexpr char kHex[] = "0123456789ABCDEF";
        const auto byte = static_cast<unsigned char>(utf8[r.badOffset]);
        return makeError("UTF-8 として読めないバイト 0x" +
                             std::string{kHex[byte >> 4], kHex[byte & 15]} + " があります (位置 " +
                             std::to_string(r.badOffset) + ")。",
                         static_cast<long long>(r.badOffset));
    }
    auto [cp, n] = decodeUtf8(utf8, r.badOffset);
    char code[16];
    std::snprintf(code, sizeof code, "U+%04X", cp);
    std::string ch(utf8.substr(r.badOffset, n));
    return makeError("「" + ch + "」(" + code + ") はシフトJIS (CP932) で表せない文字です。",
                     static_cast<long long>(r.badOffset));
}

Result<std::string> toUtf8(std::string_view sjis) {
    Outcome r = convert(Direction::fromCp932, sjis, false, "");
    if (r.ok) {
        return std::move(r.out);
    }
    char msg[96];
    std::snprintf(msg, sizeof msg, "シフトJISとして読めないバイト列があります (位置 %zu)。",
                  r.badOffset);
    return makeError(msg, static_cast<long long>(r.badOffset));
}

std::string fromUtf8Named(std::string_view utf8) {
    std::string out;
    while (!utf8.empty()) {
        Outcome r = convert(Direction::toCp932, utf8, false, "");
        out += r.out;
        if (r.ok) {
            break;
        }
        auto [cp, n] = decodeUtf8(utf8, r.badOffset);
        char code[16];
        if (n == 1 && cp >= 0x80) {
            std::snprintf(code, sizeof code, "<%02X>", cp);
        } else {
            std::snprintf(code, sizeof code, "<U+%04X>", cp);
        }
        out += code;
        utf8.remove_prefix(std::min(utf8.size(), r.badOffset + n));
    }
    return out;
}

std::string toUtf8Lossy(std::string_view sjis) {
    return convert(Direction::fromCp932, sjis, true, "\xEF\xBF\xBD").out;
}

std::filesystem::path pathFromSjis(std::string_view sjis) {
    Result<std::string> utf8 = toUtf8(sjis);
    return utf8 ? std::filesystem::path(*utf8) : std::filesystem::path(std::string(sjis));
}

std::string firstUnrepresentable(std::string_view utf8) {
    Outcome r = convert(Direction::toCp932, utf8, false, "");
    if (r.ok || r.badOffset >= utf8.size()) {
        return {};
    }
    char code[16];
    std::snprintf(code, sizeof code, "U+%04X", decodeUtf8(utf8, r.badOffset).first);
    return code;
}

}  // namespace tarn::cp932
