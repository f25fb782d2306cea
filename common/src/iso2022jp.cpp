#include "common/iso2022jp.h"

#include <algorithm>
#include <array>

#include "common/sjis.h"

namespace tarn::iso2022jp {
namespace {

// One column per trail byte 0x40-0xFC (0x7F included, as a hole).
constexpr std::size_t kTrailCount = 0xFC - 0x40 + 1;
constexpr std::size_t kLeadCount = (0x9F - 0x81 + 1) + (0xFC - 0xE0 + 1);
constexpr std::uint16_t kExtensionFlag = 0x8000;

constexpr std::uint16_t kCodes[] = {
#define TARN_ISO2022JP_CODES
#include "iso2022jp_table.inc"
#undef TARN_ISO2022JP_CODES
};
static_assert(std::size(kCodes) == kLeadCount * kTrailCount);

struct Replacement {
    std::uint16_t sjis;
    const char* text;
};
constexpr Replacement kReplacements[] = {
#define TARN_ISO2022JP_REPLACEMENTS
#include "iso2022jp_table.inc"
#undef TARN_ISO2022JP_REPLACEMENTS
};
static_assert(std::is_sorted(std::begin(kReplacements), std::end(kReplacements),
                             [](const Replacement& a, const Replacement& b) {
                                 return a.sjis < b.sjis;
                             }));

constexpr bool isTrailByte(unsigned char c) {
    return c >= 0x40 && c <= 0xFC && c != 0x7F;
}

// The table entry of a lead byte and a trail byte.
constexpr std::uint16_t entry(unsigned char lead, unsigned char trail) {
    const std::size_t row = lead <= 0x9F ? lead - 0x81u : lead - 0xE0u + (0x9F - 0x81 + 1);
    return kCodes[row * kTrailCount + (trail - 0x40u)];
}

std::string_view replacementOf(unsigned char lead, unsigned char trail) {
    const auto code = static_cast<std::uint16_t>((lead << 8) | trail);
    const auto* it =
        std::lower_bound(std::begin(kReplacements), std::end(kReplacements), code,
                         [](const Replacement& r, std::uint16_t c) { return r.sjis < c; });
    return it != std::end(kReplacements) && it->sjis == code ? std::string_view(it->text)
                                                             : std::string_view();
}

// A single byte that is neither ASCII nor half-width katakana: 0x80, 0xA0,
// 0xFD-0xFF, or a lead byte without its trail.
constexpr bool isStandardSingleByte(unsigned char c) {
    return c < 0x80 || sjis::isHalfWidthKana(c);
}

}  // namespace

CharInfo charAt(std::string_view s, std::size_t pos) {
    CharInfo info;
    const auto c = static_cast<unsigned char>(s[pos]);
    if (!sjis::isLeadByte(c)) {
        info.kind = isStandardSingleByte(c) ? CharKind::kStandard : CharKind::kNoCode;
        return info;
    }
    const auto trail = pos + 1 < s.size() ? static_cast<unsigned char>(s[pos + 1]) : 0;
    if (!isTrailByte(trail)) {
        info.kind = CharKind::kNoCode;
        return info;
    }
    info.length = 2;
    const std::uint16_t e = entry(c, trail);
    if (e == 0) {
        info.kind = CharKind::kNoCode;
    } else if ((e & kExtensionFlag) != 0) {
        info.kind = CharKind::kExtension;
        info.jis = static_cast<std::uint16_t>(e & ~kExtensionFlag);
    } else {
        info.jis = e;
        return info;
    }
    info.replacement = replacementOf(c, trail);
    return info;
}

std::uint16_t jisCode(unsigned char lead, unsigned char trail) {
    if (!sjis::isLeadByte(lead) || !isTrailByte(trail)) {
        return 0;
    }
    return static_cast<std::uint16_t>(entry(lead, trail) & ~kExtensionFlag);
}

std::vector<NonStandardChar> findNonStandard(std::string_view sjis) {
    std::vector<NonStandardChar> found;
    for (std::size_t i = 0; i < sjis.size();) {
        const CharInfo c = charAt(sjis, i);
        if (c.kind != CharKind::kStandard) {
            found.push_back({i, c.length, c.kind, c.replacement});
        }
        i += c.length;
    }
    return found;
}

bool allStandard(std::string_view sjis) {
    for (std::size_t i = 0; i < sjis.size();) {
        const auto c = static_cast<unsigned char>(sjis[i]);
        if (c < 0x80) {
            ++i;  // the common case, without a table look-up
            continue;
        }
        const CharInfo info = charAt(sjis, i);
        if (info.kind != CharKind::kStandard) {
            return false;
        }
        i += info.length;
    }
    return true;
}

std::size_t wireLength(std::string_view sjisLine) {
    constexpr std::size_t kEscape = 3;  // ESC $ B or ESC ( B
    std::size_t length = !sjisLine.empty() && sjisLine.front() == '.' ? 1 : 0;
    bool jis = false;
    for (std::size_t i = 0; i < sjisLine.size();) {
        const auto c = static_cast<unsigned char>(sjisLine[i]);
        // ESC, SO and SI of the text go out as a JIS character too.
        const bool twoBytes = c >= 0x80 || c == 0x1B || c == 0x0E || c == 0x0F;
        if (twoBytes != jis) {
            length += kEscape;
            jis = twoBytes;
        }
        length += twoBytes ? 2 : 1;
        i += c >= 0x80 ? charAt(sjisLine, i).length : 1;
    }
    return length + (jis ? kEscape : 0);
}

std::string withReplacements(std::string_view sjis) {
    std::string out;
    out.reserve(sjis.size());
    for (std::size_t i = 0; i < sjis.size();) {
        const CharInfo c = charAt(sjis, i);
        if (c.replacement.empty()) {
            out.append(sjis.substr(i, c.length));
        } else {
            out.append(c.replacement);
        }
        i += c.length;
    }
    return out;
}

}  // namespace tarn::iso2022jp
