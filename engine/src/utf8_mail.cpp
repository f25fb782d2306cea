#include "utf8_mail.h"

#include <algorithm>

#include "codec.h"
#include "common/cp932.h"
#include "common/iso2022jp.h"

namespace zeph::utf8 {
namespace {

constexpr std::string_view kWordStart = "=?UTF-8?B?";
// Bytes of UTF-8 that fit one encoded-word of 75 characters ("=?UTF-8?B?" and
// "?=" take 12).
constexpr std::size_t kMaxWordBytes = std::size_t{75 - 12} / 4 * 3;

bool isContinuationByte(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

bool isHigh(char c) {
    return (static_cast<unsigned char>(c) & 0x80) != 0;
}

// The text as words of at most kMaxWordBytes, split between characters.
void appendWords(std::string_view text, std::string& out) {
    bool first = true;
    while (!text.empty()) {
        std::size_t cut = std::min(text.size(), kMaxWordBytes);
        while (cut < text.size() && cut > 0 && isContinuationByte(text[cut])) {
            --cut;
        }
        if (cut == 0) {
            cut = std::min(text.size(), kMaxWordBytes);  // not UTF-8: cut anywhere
        }
        if (!first) {
            out += "\r\n ";
        }
        out += kWordStart;
        appendBase64(text.substr(0, cut), out);
        out += "?=";
        text.remove_prefix(cut);
        first = false;
    }
}

}  // namespace

std::string fromSjis(std::string_view sjis) {
    std::string ready;
    bool changed = false;
    for (std::size_t i = 0; i < sjis.size();) {
        const auto c = static_cast<unsigned char>(sjis[i]);
        if (c < 0x80) {
            const bool switching = c == 0x1B || c == 0x0E || c == 0x0F;
            if (switching && !changed) {
                ready.assign(sjis.substr(0, i));
                changed = true;
            }
            if (changed) {
                ready.append(switching ? tarn::iso2022jp::kGetaMark
                                       : std::string_view(&sjis[i], 1));
            }
            ++i;
            continue;
        }
        const tarn::iso2022jp::CharInfo info = tarn::iso2022jp::charAt(sjis, i);
        // Half-width katakana is standard but has no JIS code of its own.
        const bool noCode = info.kind == tarn::iso2022jp::CharKind::kNoCode;
        if (noCode && !changed) {
            ready.assign(sjis.substr(0, i));
            changed = true;
        }
        if (changed) {
            ready.append(noCode ? tarn::iso2022jp::kGetaMark : sjis.substr(i, info.length));
        }
        i += info.length;
    }
    // Only defined code page 932 characters are left, so the conversion holds.
    return tarn::cp932::toUtf8Lossy(changed ? std::string_view(ready) : sjis);
}

void encodePlainHeader(std::string_view line, std::string& out) {
    out.clear();
    std::size_t pos = 0;
    while (pos < line.size()) {
        auto start =
            std::find_if(line.begin() + static_cast<std::ptrdiff_t>(pos), line.end(), isHigh);
        if (start == line.end()) {
            break;
        }
        const auto begin = static_cast<std::size_t>(start - line.begin());
        std::size_t end = begin;
        while (end < line.size() && isHigh(line[end])) {
            ++end;
        }
        // Decoders drop white space between two encoded-words (RFC 2047 6.2),
        // so a gap of white space between two runs goes inside one of them.
        while (true) {
            const std::size_t gapEnd = line.find_first_not_of(" \t", end);
            if (gapEnd == end || gapEnd == std::string_view::npos || !isHigh(line[gapEnd])) {
                break;
            }
            end = gapEnd;
            while (end < line.size() && isHigh(line[end])) {
                ++end;
            }
        }
        out.append(line.substr(pos, begin - pos));
        appendWords(line.substr(begin, end - begin), out);
        pos = end;
    }
    out.append(line.substr(std::min(pos, line.size())));
}

void encodeFoldedHeader(std::string_view line, std::size_t prefixLength, std::string& out) {
    out.clear();
    prefixLength = std::min(prefixLength, line.size());
    std::string_view rest = line.substr(prefixLength);
    rest = rest.substr(0, rest.find('\r'));
    if (std::none_of(rest.begin(), rest.end(), isHigh)) {
        out.assign(line);
        return;
    }
    out.assign(line.substr(0, prefixLength));
    appendWords(rest, out);
    if (prefixLength != 0) {
        out += "\r\n";
    }
}

std::string canonicalLineEnds(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 32);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            out += "\r\n";
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
            }
        } else {
            out += c;
        }
    }
    return out;
}

void appendBase64Lines(std::string_view bytes, std::string& out) {
    constexpr std::size_t kBytesPerLine = kBase64LineChars / 4 * 3;
    for (std::size_t pos = 0; pos < bytes.size(); pos += kBytesPerLine) {
        appendBase64(bytes.substr(pos, kBytesPerLine), out);
        out += "\r\n";
    }
}

std::string percentEncode(std::string_view utf8) {
    static constexpr std::string_view kAttributeChars = "!#$&+-.^_`|~";
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char ch : utf8) {
        const auto c = static_cast<unsigned char>(ch);
        const bool plain = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
                           (c >= 'a' && c <= 'z') || kAttributeChars.find(ch) != std::string::npos;
        if (plain) {
            out += ch;
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

}  // namespace zeph::utf8
