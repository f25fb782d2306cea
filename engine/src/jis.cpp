#include "jis.h"

#include <algorithm>
#include <array>

#include "codec.h"
#include "common/sjis.h"

namespace zeph::jis {
namespace {

struct KanaForms {
    std::uint16_t full;
    std::uint16_t voiced;      // with 0xDE (ﾞ) after it, 0 = none
    std::uint16_t semiVoiced;  // with 0xDF (ﾟ) after it, 0 = none
};
constexpr KanaForms kKana[] = {
#include "kana_table.inc"
};
static_assert(std::size(kKana) == 0xDF - 0xA1 + 1);

struct IbmPair {
    std::uint16_t sjis;
    std::uint16_t jis;
};
constexpr IbmPair kIbmPairs[] = {
#include "ibm_ext_table.inc"
};

// The pairs spread over a dense table indexed by (lead - 0xFA) << 8 | trail.
constexpr std::uint16_t kIbmFirstLead = 0xFA;
constexpr auto kIbmDense = [] {
    std::array<std::uint16_t, std::size_t{3} * 256> t{};
    for (const auto& p : kIbmPairs) {
        t[static_cast<std::size_t>(p.sjis - (kIbmFirstLead << 8))] = p.jis;
    }
    return t;
}();

constexpr bool inJisRange(int v) {
    return v >= 0x21 && v <= 0x7F;
}

constexpr unsigned char byteAt(std::string_view s, std::size_t i) {
    return static_cast<unsigned char>(s[i]);
}

void putCode(std::string& out, std::uint16_t code) {
    out += static_cast<char>(code >> 8);
    out += static_cast<char>(code & 0xFF);
}

bool anyHighByte(std::string_view s) {
    return std::any_of(s.begin(), s.end(), [](char c) { return (c & 0x80) != 0; });
}

void appendWithoutFoldMarks(std::string_view s, std::string& out) {
    for (std::size_t pos = 0;;) {
        std::size_t mark = s.find(kFoldMark, pos);
        out.append(
            s.substr(pos, mark == std::string_view::npos ? std::string_view::npos : mark - pos));
        if (mark == std::string_view::npos) {
            return;
        }
        pos = mark + kFoldMark.size();
    }
}

void appendEncodedWord(std::string_view bytes, std::string& out) {
    out += "=?ISO-2022-JP?B?";
    appendBase64(bytes, out);
    out += "?=";
}

}  // namespace

std::uint16_t jisCode(unsigned char lead, unsigned char trail) {
    if (!tarn::sjis::isLeadByte(lead)) {
        return 0;
    }
    // Shift_JIS -> JIS X 0208 arithmetic; rows 0x75-0x7F (lead bytes 0xEB-0xF0)
    // are let through as the NEC-selected block and the start of the user area.
    const int b1 = trail >= 0x80 ? trail - 1 : trail;
    int row = (lead < 0xA0 ? 2 * lead - 0x80 - 0x61 : 2 * lead - 0x61) & 0xFF;
    int column = 0;
    if (b1 >= 0x9E) {
        row += 1;
        column = b1 - 0x7D;
    } else {
        column = b1 + 0x5E - 0x7D;
    }
    if (inJisRange(row) && inJisRange(column)) {
        return static_cast<std::uint16_t>((row << 8) | column);
    }
    if (lead >= kIbmFirstLead && lead < kIbmFirstLead + 3) {
        return kIbmDense[static_cast<std::size_t>(((lead - kIbmFirstLead) << 8) | trail)];
    }
    return 0;
}

IbmTableCounts ibmTableCounts() {
    IbmTableCounts counts;
    for (const auto& p : kIbmPairs) {
        ++counts.pairs;
        counts.unmapped += p.jis == 0 ? 1 : 0;
    }
    return counts;
}

bool hasHalfWidthKana(std::string_view sjis) {
    for (std::size_t i = 0; i < sjis.size(); i += tarn::sjis::charLength(sjis, i)) {
        if (tarn::sjis::isHalfWidthKana(byteAt(sjis, i))) {
            return true;
        }
    }
    return false;
}

void widenHalfWidthKana(std::string_view sjis, std::string& out) {
    out.clear();
    out.reserve(sjis.size() * 2);
    std::size_t i = 0;
    while (i < sjis.size()) {
        const unsigned char c = byteAt(sjis, i);
        if (tarn::sjis::isLeadByte(c)) {
            std::size_t n = tarn::sjis::charLength(sjis, i);
            out.append(sjis.substr(i, n));
            i += n;
            continue;
        }
        if (!tarn::sjis::isHalfWidthKana(c)) {
            out += static_cast<char>(c);
            ++i;
            continue;
        }
        const KanaForms& forms = kKana[c - 0xA1];
        const unsigned char next = i + 1 < sjis.size() ? byteAt(sjis, i + 1) : 0;
        if (next == 0xDE && forms.voiced != 0) {
            putCode(out, forms.voiced);
            i += 2;
        } else if (next == 0xDF && forms.semiVoiced != 0) {
            putCode(out, forms.semiVoiced);
            i += 2;
        } else {
            putCode(out, forms.full);
            ++i;
        }
    }
}

void toIso2022Jp(std::string_view sjis, bool foldMarks, bool& lineStart, std::string& out) {
    out.clear();
    out.reserve(sjis.size() + sjis.size() / 4 + 16);
    // Fold marks only matter where the text will become encoded-words at all.
    const bool fold = foldMarks && anyHighByte(sjis);
    bool inJis = false;
    int n = 0;  // bytes of the current encoded-word segment
    std::size_t i = 0;
    while (i < sjis.size()) {
        const unsigned char c = byteAt(sjis, i);
        if (c == '.' && lineStart) {
            out += '.';  // RFC 5321 4.5.2 transparency
        }
        const std::uint16_t code = i + 1 < sjis.size() ? jisCode(c, byteAt(sjis, i + 1)) : 0;
        const bool convertible = code != 0;

        if (convertible) {
            if (!inJis) {
                n += 3;
                if (fold && n >= 30) {
                    out += kFoldMark;
                    n = 3;
                }
                out += kEnterJis;
                inJis = true;
            } else if (fold && n >= 30) {
                out += kLeaveJis;
                out += kFoldMark;
                out += kEnterJis;
                n = 3;
            }
            putCode(out, code);
            n += 2;
            i += 2;
            lineStart = false;
            continue;
        }

        if (inJis) {
            out += kLeaveJis;
            inJis = false;
            n += 3;
        }
        if (c == '\r' && i + 1 < sjis.size() && sjis[i + 1] == '\n') {
            out += "\r\n";
            n = 0;
            i += 2;
            lineStart = true;
            continue;
        }
        if (fold && n >= 30) {
            out += kFoldMark;
            n = 0;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
            ++n;
            ++i;
            lineStart = c == '\r' || c == '\n';
            continue;
        }
        // Not convertible (a user-defined or unmapped character, or a stray
        // 8-bit byte): kept 7-bit between SO and SI together with the byte
        // after it.
        out += '\x0E';
        out += static_cast<char>(c & 0x7F);
        if (i + 1 < sjis.size()) {
            const unsigned char next = byteAt(sjis, i + 1);
            if ((next & 0x80) != 0) {
                out += static_cast<char>(next & 0x7F);
                out += '\x0F';
            } else {
                out += '\x0F';
                out += static_cast<char>(next);
            }
            // The byte swallowed here may end a line; dot-stuffing must see that.
            lineStart = next == '\r' || next == '\n';
            i += 2;
        } else {
            out += '\x0F';
            lineStart = false;
            ++i;
        }
        n += 2;
    }
    if (inJis) {
        out += kLeaveJis;
    }
}

void encodePlainHeader(std::string_view converted, std::string& out) {
    out.clear();
    std::size_t pos = 0;
    while (pos < converted.size()) {
        const std::size_t enter = converted.find(kEnterJis, pos);
        const std::size_t leave = enter == std::string_view::npos
                                      ? std::string_view::npos
                                      : converted.find(kLeaveJis, enter + kEnterJis.size());
        if (leave == std::string_view::npos) {
            break;  // no (complete) run left; the rest stays as it is
        }
        out.append(converted.substr(pos, enter - pos));
        std::size_t end = leave + kLeaveJis.size();
        // Decoders drop white space between two encoded-words (RFC 2047 6.2),
        // so "山田 太郎" would arrive as "山田太郎": such a gap goes inside
        // one word together with both runs.
        while (true) {
            const std::size_t gapEnd = converted.find_first_not_of(" \t", end);
            if (gapEnd == end || gapEnd == std::string_view::npos ||
                converted.substr(gapEnd, kEnterJis.size()) != kEnterJis) {
                break;
            }
            const std::size_t nextLeave = converted.find(kLeaveJis, gapEnd + kEnterJis.size());
            if (nextLeave == std::string_view::npos) {
                break;
            }
            end = nextLeave + kLeaveJis.size();
        }
        appendEncodedWord(converted.substr(enter, end - enter), out);
        pos = end;
    }
    out.append(converted.substr(std::min(pos, converted.size())));
}

void encodeFoldedHeader(std::string_view converted, std::size_t prefixLength, std::string& out) {
    out.clear();
    if (converted.find(kEnterJis) == std::string_view::npos) {
        appendWithoutFoldMarks(converted, out);
        return;
    }
    prefixLength = std::min(prefixLength, converted.size());
    // A fold mark cut in two by the prefix (a header name long enough to reach
    // the first fold) belongs to the prefix, where it is dropped.
    for (std::size_t back = 1; back < kFoldMark.size() && back <= prefixLength; ++back) {
        if (converted.substr(prefixLength - back, kFoldMark.size()) == kFoldMark) {
            prefixLength += kFoldMark.size() - back;
            break;
        }
    }
    appendWithoutFoldMarks(converted.substr(0, prefixLength), out);
    std::string_view rest = converted.substr(prefixLength);
    rest = rest.substr(0, rest.find('\r'));
    bool first = true;
    while (true) {
        const std::size_t mark = rest.find(kFoldMark);
        const std::string_view segment = rest.substr(0, mark);
        if (!segment.empty()) {
            if (!first) {
                out += "\r\n ";
            }
            appendEncodedWord(segment, out);
            first = false;
        }
        if (mark == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(mark + kFoldMark.size());
    }
    if (prefixLength != 0) {
        out += "\r\n";
    }
}

std::string_view Converter::widen(std::string_view sjis) {
    if (!hasHalfWidthKana(sjis)) {
        return sjis;
    }
    widenHalfWidthKana(sjis, m_wide);
    return m_wide;
}

std::string_view Converter::plainHeader(std::string_view line, bool& lineStart) {
    toIso2022Jp(widen(line), false, lineStart, m_jis);
    encodePlainHeader(m_jis, m_words);
    return m_words;
}

std::string_view Converter::foldedHeader(std::string_view line, std::size_t prefixLength,
                                         bool& lineStart) {
    toIso2022Jp(widen(line), true, lineStart, m_jis);
    encodeFoldedHeader(m_jis, prefixLength, m_words);
    return m_words;
}

std::string_view Converter::text(std::string_view chunk, bool& lineStart) {
    toIso2022Jp(widen(chunk), false, lineStart, m_jis);
    return m_jis;
}

std::string_view Converter::fileName(std::string_view name) {
    bool lineStart = false;
    toIso2022Jp(widen(name), true, lineStart, m_jis);
    encodeFoldedHeader(m_jis, 0, m_words);
    return m_words;
}

}  // namespace zeph::jis
