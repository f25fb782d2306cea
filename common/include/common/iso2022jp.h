// Which Shift_JIS (code page 932) characters arrive intact in ISO-2022-JP mail.
//
// Standard ISO-2022-JP (RFC 1468) carries ASCII and JIS X 0208. Code page 932
// also holds the NEC special characters (①, ㈱, Ⅱ, ㍉, №) and the IBM
// extension kanji (髙, 﨑, 德); mail sends them in JIS rows 13 and 0x79-0x7C,
// which only readers that know the Microsoft extensions show: others show
// boxes or, worse, other kanji without a warning. The user-defined area and
// unassigned codes have no JIS code at all.
//
// The editor marks such characters, the pre-flight lists them per recipient,
// and the mail engine takes its JIS codes from here. Every function is
// Shift_JIS-aware: a trail byte is never read as a character of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarn::iso2022jp {

enum class CharKind : std::uint8_t {
    // ASCII, half-width katakana (mail sends it widened), JIS X 0208: every
    // reader shows it.
    kStandard,
    // NEC special characters and IBM extensions: only readers that know the
    // Microsoft extensions show them.
    kExtension,
    // No JIS code (user-defined area, unassigned code, a stray or cut-off
    // byte): mail sends 〓 instead.
    kNoCode,
};

struct CharInfo {
    std::size_t length = 1;  // bytes of the character: 1 or 2
    CharKind kind = CharKind::kStandard;
    // JIS X 0208 or extension-row code (row << 8 | column) of a double-byte
    // character; 0 for single bytes and for kNoCode.
    std::uint16_t jis = 0;
    // Shift_JIS text every reader shows instead (髙 -> 高, ① -> (1), ㈱ ->
    // (株)); empty when there is none. Only for kExtension and kNoCode.
    std::string_view replacement;
};

// The character that starts at s[pos] (pos < s.size()). A lead byte whose next
// byte is not a trail byte (0x40-0x7E, 0x80-0xFC) is a one-byte kNoCode
// character, so that the byte after it (a line break, say) keeps its meaning.
CharInfo charAt(std::string_view s, std::size_t pos);

// The code mail sends for one double-byte character, 0 when it has none.
std::uint16_t jisCode(unsigned char lead, unsigned char trail);

// The Shift_JIS text of 〓, sent for a character without a JIS code.
inline constexpr std::string_view kGetaMark = "\x81\xAC";

// One character of a text that standard readers may not show.
struct NonStandardChar {
    std::size_t offset = 0;
    std::size_t length = 0;
    CharKind kind = CharKind::kExtension;
    std::string_view replacement;  // as in CharInfo
};

// Every character of `sjis` that is not kStandard, in text order.
std::vector<NonStandardChar> findNonStandard(std::string_view sjis);

// True when every character is kStandard (a fast scan, for whole messages).
bool allStandard(std::string_view sjis);

// Bytes one line of text (without its line break) takes in ISO-2022-JP mail
// before the mail engine breaks it at the SMTP limit: escape sequences
// included, a leading "." doubled, half-width katakana counted widened.
std::size_t wireLength(std::string_view sjisLine);

// `sjis` with every character that has a replacement replaced by it; the
// others are kept as they are.
std::string withReplacements(std::string_view sjis);

}  // namespace tarn::iso2022jp
