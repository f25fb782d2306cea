// Built-in text functions of the mail script: Val, Trim, GetWord, Format,
// ResTitle and the path splitter.
#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "common/sjis.h"
#include "script_internal.h"

namespace tarn::contents {
namespace {

// A double-byte character as one number (lead byte << 8 | trail byte).
constexpr unsigned kFullWidthSpace = 0x8140;  // "　"

unsigned charCode(std::string_view s, std::size_t i) {
    const auto lead = static_cast<unsigned char>(s[i]);
    if (sjis::charLength(s, i) == 2) {
        return (lead << 8) | static_cast<unsigned char>(s[i + 1]);
    }
    return lead;
}

// Digit value of a character for Val, or -1.
int numeralDigit(unsigned code) {
    if (code >= '0' && code <= '9') {
        return static_cast<int>(code - '0');
    }
    if (code >= 0x824F && code <= 0x8258) {  // "０" to "９"
        return static_cast<int>(code - 0x824F);
    }
    switch (code) {
        case 0x815A:  // 〇
        case 0x97EB:  // 零
            return 0;
        case 0x88EA:  // 一
        case 0x88EB:  // 壱
            return 1;
        case 0x93F1:  // 二
        case 0x93F3:  // 弐
            return 2;
        case 0x8E4F:  // 三
        case 0x8E51:  // 参
            return 3;
        case 0x8E6C:  // 四
            return 4;
        case 0x8CDC:  // 五
        case 0x8CDE:  // 伍
            return 5;
        case 0x985A:  // 六
            return 6;
        case 0x8EB5:  // 七
            return 7;
        case 0x94AA:  // 八
            return 8;
        case 0x8BE3:  // 九
            return 9;
        default:
            return -1;
    }
}

// Multiplier value for Val, or 0.
std::uint32_t numeralMultiplier(unsigned code) {
    switch (code) {
        case 0x8F5C:  // 十
        case 0x8F45:  // 拾
            return 10;
        case 0x9553:  // 百
            return 100;
        case 0x90E7:  // 千
            return 1000;
        default:
            return 0;
    }
}

// The characters of s as byte ranges (a lone lead byte at the end is one byte).
std::vector<std::string_view> characters(std::string_view s) {
    std::vector<std::string_view> out;
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t n = sjis::charLength(s, i);
        out.push_back(s.substr(i, n));
        i += n;
    }
    return out;
}

bool isBlank(std::string_view ch) {
    if (ch.size() == 1) {
        const auto c = static_cast<unsigned char>(ch[0]);
        return c >= 0x01 && c <= 0x20;
    }
    return ch == "\x81\x40";  // "　"
}

bool isAsciiLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool isAsciiDigit(char c) {
    return c >= '0' && c <= '9';
}
char asciiUpper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

}  // namespace

std::int32_t japaneseNumeralValue(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || charCode(text, i) == kFullWidthSpace)) {
        i += sjis::charLength(text, i);
    }
    // Unsigned arithmetic: a long run of digits wraps around in 32 bits
    // instead of overflowing a signed integer.
    std::uint32_t total = 0;
    std::uint32_t group = 0;
    while (i < text.size()) {
        const unsigned code = charCode(text, i);
        if (const int digit = numeralDigit(code); digit >= 0) {
            group = group * 10U + static_cast<std::uint32_t>(digit);
        } else if (const std::uint32_t mult = numeralMultiplier(code); mult != 0) {
            total += (group == 0 ? 1U : group) * mult;
            group = 0;
        } else {
            break;
        }
        i += sjis::charLength(text, i);
    }
    return static_cast<std::int32_t>(total + group);
}

std::string trimBlanks(std::string_view text) {
    const auto chars = characters(text);
    std::size_t b = 0;
    std::size_t e = chars.size();
    while (b < e && isBlank(chars[b])) {
        ++b;
    }
    while (e > b && isBlank(chars[e - 1])) {
        --e;
    }
    std::string out;
    for (std::size_t k = b; k < e; ++k) {
        out += chars[k];
    }
    return out;
}

std::string getWord(std::string_view text, std::int32_t index, std::string_view delimiters) {
    if (index < 0) {
        return {};
    }
    const auto delims = characters(delimiters);
    auto delimiterAt = [&](std::size_t i, std::size_t n) {
        const std::string_view ch = text.substr(i, n);
        return std::find(delims.begin(), delims.end(), ch) != delims.end();
    };
    std::int32_t found = 0;
    std::size_t runStart = 0;
    for (std::size_t i = 0;;) {
        const bool atEnd = i >= text.size();
        const std::size_t n = atEnd ? 0 : sjis::charLength(text, i);
        if (!atEnd && !delimiterAt(i, n)) {
            i += n;
            continue;
        }
        const std::string_view run = text.substr(runStart, i - runStart);
        // Runs of spaces separate as one; any other delimiter encloses a word,
        // even an empty one.
        const bool spaceEnded =
            !atEnd && (text.substr(i, n) == " " || text.substr(i, n) == "\x81\x40");
        const bool isWord = !run.empty() || (!atEnd && !spaceEnded);
        if (isWord) {
            if (found == index) {
                return std::string(run);
            }
            ++found;
        }
        if (atEnd) {
            return {};
        }
        i += n;
        runStart = i;
    }
}

std::string formatPicture(std::int32_t number, std::string_view picture) {
    const std::string digits = number == 0 ? std::string() : std::to_string(number);
    // Every change replaces one single-byte character by one byte, so the
    // result is the picture edited in place.
    std::string out(picture);
    std::vector<std::size_t> singles;  // positions of single-byte characters
    for (std::size_t i = 0; i < picture.size(); i += sjis::charLength(picture, i)) {
        if (sjis::charLength(picture, i) == 1) {
            singles.push_back(i);
        }
    }
    std::size_t remaining = digits.size();
    for (auto it = singles.rbegin(); it != singles.rend(); ++it) {
        const std::size_t at = *it;
        const char c = picture[at];
        if (remaining > 0) {
            if (c == '#' || c == '0') {
                out[at] = digits[--remaining];
            }
        } else {
            // The left neighbour is "#" only when it is a single-byte character.
            const auto left = std::next(it);
            const bool afterHash =
                left != singles.rend() && *left + 1 == at && picture[*left] == '#';
            if (c == '#' || (c == ',' && afterHash)) {
                out[at] = ' ';
            }
        }
    }
    return out;
}

std::string replyTitle(std::string_view s) {
    std::size_t p = 0;
    auto skipSet = [&](std::string_view set) {
        while (p < s.size() && set.find(s[p]) != std::string_view::npos) {
            ++p;
        }
    };
    skipSet(" ");
    std::int64_t count = 0;
    constexpr std::int64_t kCountCap = 1'000'000'000;  // keeps the sum and count + 1 in range
    while (p + 1 < s.size() && asciiUpper(s[p]) == 'R' && asciiUpper(s[p + 1]) == 'E') {
        if (p + 2 < s.size()) {
            const char third = s[p + 2];
            if (isAsciiLetter(third) || third == '&' || third == '[' || third == ']') {
                break;
            }
        }
        p += 2;
        skipSet(":;>");
        if (p + 1 < s.size() && s[p] == '^' && isAsciiDigit(s[p + 1])) {
            ++p;
            std::int64_t n = 0;
            while (p < s.size() && isAsciiDigit(s[p])) {
                n = std::min<std::int64_t>(n * 10 + (s[p] - '0'), kCountCap);
                ++p;
            }
            count = std::min(count + n, kCountCap);
        } else {
            count = std::min<std::int64_t>(count + 1, kCountCap);
        }
        skipSet(":;>");
        skipSet(" ");
    }
    std::string out = "RE";
    if (count != 0) {
        out += '^';
        out += std::to_string(count + 1);
    }
    out += ':';
    out.append(s.substr(p));
    return out;
}

PathParts splitPath(std::string_view path) {
    PathParts parts;
    std::string_view rest = path;
    if (rest.size() >= 2 && rest[1] == ':' && !sjis::isLeadByte(rest[0])) {
        parts.drive = std::string(rest.substr(0, 2));
        rest.remove_prefix(2);
    }
    const std::size_t back = sjis::rfind(rest, '\\');
    const std::size_t slash = sjis::rfind(rest, '/');
    std::size_t sep = std::string_view::npos;
    if (back != std::string_view::npos && slash != std::string_view::npos) {
        sep = std::max(back, slash);
    } else if (back != std::string_view::npos) {
        sep = back;
    } else {
        sep = slash;
    }
    std::string_view name = rest;
    if (sep != std::string_view::npos) {
        parts.folder = std::string(sjis::truncate(rest.substr(0, sep + 1), 255));
        name = rest.substr(sep + 1);
    }
    const std::size_t dot = sjis::rfind(name, '.');
    if (dot != std::string_view::npos) {
        parts.extension = std::string(sjis::truncate(name.substr(dot), 255));
        name = name.substr(0, dot);
    }
    parts.base = std::string(sjis::truncate(name, 255));
    parts.drive = std::string(sjis::truncate(parts.drive, 3));
    return parts;
}

}  // namespace tarn::contents
