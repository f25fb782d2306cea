#include "common/utf8.h"

namespace tarn::utf8 {
namespace {

bool isSurrogate(char32_t cp) {
    return cp >= 0xD800 && cp <= 0xDFFF;
}

}  // namespace

Decoded decode(std::string_view s, std::size_t i) {
    const auto lead = static_cast<unsigned char>(s[i]);
    if (lead < 0x80) {
        return {lead, 1, true};
    }
    std::size_t length = 0;
    char32_t cp = 0;
    char32_t shortest = 0;  // the smallest code point that needs this many bytes
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, cp = lead & 0x1Fu, shortest = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, cp = lead & 0x0Fu, shortest = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, cp = lead & 0x07u, shortest = 0x10000;
    } else {
        return {};
    }
    if (s.size() - i < length) {
        return {};
    }
    for (std::size_t k = 1; k < length; ++k) {
        const auto trail = static_cast<unsigned char>(s[i + k]);
        if ((trail & 0xC0u) != 0x80u) {
            return {};
        }
        cp = (cp << 6) | (trail & 0x3Fu);
    }
    if (cp < shortest || cp > 0x10FFFF || isSurrogate(cp)) {
        return {};
    }
    return {cp, length, true};
}

bool isValid(std::string_view s, bool* hasMultiByte) {
    bool multi = false;
    for (std::size_t i = 0; i < s.size();) {
        if (static_cast<unsigned char>(s[i]) < 0x80) {
            ++i;
            continue;
        }
        const Decoded d = decode(s, i);
        if (!d.valid) {
            return false;
        }
        multi = true;
        i += d.length;
    }
    if (hasMultiByte != nullptr) {
        *hasMultiByte = multi;
    }
    return true;
}

void append(std::string& out, char32_t cp) {
    if (cp > 0x10FFFF || isSurrogate(cp)) {
        cp = kReplacement;
    }
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::u16string toUtf16(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        const Decoded d = decode(utf8, i);
        i += d.length;
        if (d.codePoint >= 0x10000) {
            const char32_t v = d.codePoint - 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (v >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (v & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(d.codePoint));
        }
    }
    return out;
}

}  // namespace tarn::utf8
