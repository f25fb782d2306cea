#pragma once

// The "%XX" form the send journal and the quota state file use for a field
// that may hold spaces, line ends or '%': every byte up to and including the
// space, DEL and '%' itself are written as '%' and two upper-case hex digits.

#include <string>
#include <string_view>

namespace tarn::driver::detail {

inline std::string percentEscaped(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c <= 0x20 || c == '%' || c == 0x7F) {
            out += '%';
            out += kHex[c >> 4U];
            out += kHex[c & 0x0FU];
        } else {
            out += ch;
        }
    }
    return out;
}

// False for a '%' not followed by two upper-case hex digits (a damaged field).
inline bool percentUnescaped(std::string_view text, std::string& out) {
    const auto hexValue = [](char c) {
        if (c >= '0' && c <= '9') {
            return c - '0';
        }
        if (c >= 'A' && c <= 'F') {
            return c - 'A' + 10;
        }
        return -1;
    };
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size()) {
            return false;
        }
        const int hi = hexValue(text[i + 1]);
        const int lo = hexValue(text[i + 2]);
        if (hi < 0 || lo < 0) {
            return false;
        }
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
    }
    return true;
}

}  // namespace tarn::driver::detail
