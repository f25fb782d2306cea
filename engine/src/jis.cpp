#include "jis.h"

#include <algorithm>
#include <array>

#include "codec.h"
#include "common/iso2022jp.h"
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

// Bytes of ISO-2022-JP text that fit one encoded-word of kMaxEncodedWord
// characters ("=?ISO-2022-JP?B?" and "?=" take 18).
constexpr std::size_t kMaxWordBytes = (kMaxEncodedWord - 18) / 4 * 3;

// A JIS run (ESC $ B ... ESC ( B, perhaps with white space and further runs
// inside) as encoded-words. A run too long for one word is split between
// characters; every word ends in ASCII mode and one that continues Japanese
// text begins with ESC $ B, so each decodes on its own.
void appendRunAsWords(std::string_view run, std::string& out) {
    if (run.size() <= kMaxWordBytes) {
        appendEncodedWord(run, out);
        return;
    }
    std::string word;
    bool sourceJis = false;
    bool wordJis = false;
    auto closeWord = [&] {
        if (wordJis) {
            word += kLeaveJis;
        }
        appendEncodedWord(word, out);
        word.clear();
        wordJis = false;
    };
    std::size_t pos = 0;
    while (pos < run.size()) {
        const std::string_view rest = run.substr(pos);
        if (rest.starts_with(kEnterJis) || rest.starts_with(kLeaveJis)) {
            sourceJis = rest.starts_with(kEnterJis);
            pos += kEnterJis.size();
            continue;
        }
        const std::size_t unit = sourceJis ? std::min<std::size_t>(2, rest.size()) : 1;
        const std::size_t need = unit + (sourceJis != wordJis ? kEnterJis.size() : 0) +
                                 (sourceJis ? kLeaveJis.size() : 0);
        if (!word.empty() && word.size() + need > kMaxWordBytes) {
            closeWord();
            out += "\r\n ";
        }
        if (sourceJis != wordJis) {
            word += sourceJis ? kEnterJis : kLeaveJis;
            wordJis = sourceJis;
        }
        word.append(rest.substr(0, unit));
        pos += unit;
    }
    closeWord();
}

}  // namespace

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

void toIso2022Jp(std::string_view sjis, JisMode mode, LinePosition& position, std::string& out) {
    out.clear();
    out.reserve(sjis.size() + sjis.size() / 4 + 16);
    // Fold marks only matter where the text will become encoded-words at all.
    const bool fold = mode == JisMode::kFolded && anyHighByte(sjis);
    const bool limitLines = mode == JisMode::kText;
    bool inJis = false;
    int n = 0;  // bytes of the current encoded-word segment
    // The current line holds columnBase bytes from before plus out[lineBegin...].
    std::size_t columnBase = position.column;
    std::size_t lineBegin = 0;
    auto column = [&] { return columnBase + (out.size() - lineBegin); };
    auto lineEnded = [&] {
        columnBase = 0;
        lineBegin = out.size();
    };
    bool& lineStart = position.lineStart;

    std::size_t i = 0;
    while (i < sjis.size()) {
        const unsigned char c = byteAt(sjis, i);
        // Every 8-bit character goes out as JIS: its own code, or 〓 when it
        // has none. ESC, SO and SI of the text itself would switch the
        // reader's character set, so they go out as 〓 as well.
        std::uint16_t code = 0;
        std::size_t length = 1;
        if (c >= 0x80) {
            const tarn::iso2022jp::CharInfo info = tarn::iso2022jp::charAt(sjis, i);
            length = info.length;
            code = info.jis != 0 ? info.jis : kGetaJis;
        } else if (c == 0x1B || c == 0x0E || c == 0x0F) {
            code = kGetaJis;
        }
        const bool convertible = code != 0;

        if (limitLines && c != '\r' && c != '\n') {
            // What this character puts on the line, and the ESC ( B that must
            // still fit when it leaves a JIS run open.
            std::size_t need = convertible ? (inJis ? 2 : kEnterJis.size() + 2) + kLeaveJis.size()
                                           : (inJis ? kLeaveJis.size() : 0) + 1;
            need += c == '.' && lineStart ? 1 : 0;
            if (column() > 0 && column() + need > kMaxLineBytes) {
                if (inJis) {
                    out += kLeaveJis;
                    inJis = false;
                }
                out += "\r\n";
                lineEnded();
                lineStart = true;
            }
        }
        if (c == '.' && lineStart) {
            out += '.';  // RFC 5321 4.5.2 transparency
        }

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
            i += length;
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
            lineEnded();
            n = 0;
            i += 2;
            lineStart = true;
            continue;
        }
        if (fold && n >= 30) {
            out += kFoldMark;
            n = 0;
        }
        out += static_cast<char>(c);
        ++n;
        ++i;
        lineStart = c == '\r' || c == '\n';
        if (c == '\n') {
            lineEnded();
        }
    }
    if (inJis) {
        out += kLeaveJis;
    }
    position.column = column();
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
        appendRunAsWords(converted.substr(enter, end - enter), out);
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

std::string_view Converter::plainHeader(std::string_view line, LinePosition& position) {
    toIso2022Jp(widen(line), JisMode::kHeader, position, m_jis);
    encodePlainHeader(m_jis, m_words);
    return m_words;
}

std::string_view Converter::foldedHeader(std::string_view line, std::size_t prefixLength,
                                         LinePosition& position) {
    toIso2022Jp(widen(line), JisMode::kFolded, position, m_jis);
    encodeFoldedHeader(m_jis, prefixLength, m_words);
    return m_words;
}

std::string_view Converter::text(std::string_view chunk, LinePosition& position) {
    toIso2022Jp(widen(chunk), JisMode::kText, position, m_jis);
    return m_jis;
}

std::string_view Converter::fileName(std::string_view name) {
    LinePosition insideALine{false, 0};
    toIso2022Jp(widen(name), JisMode::kFolded, insideALine, m_jis);
    encodeFoldedHeader(m_jis, 0, m_words);
    return m_words;
}

}  // namespace zeph::jis
