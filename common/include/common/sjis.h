// Shift_JIS (code page 932) scanning. Every delimiter search in the suite steps
// over double-byte characters as units, so that a trail byte (which may be any
// of 0x40-0xFC, including '\\', '|', '@' and the like) is never taken for an
// ASCII delimiter.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tarn::sjis {

// Lead bytes of a double-byte character: 0x81-0x9F and 0xE0-0xFC.
constexpr bool isLeadByte(unsigned char c) {
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}
constexpr bool isLeadByte(char c) {
    return isLeadByte(static_cast<unsigned char>(c));
}

// Half-width katakana and its punctuation (single bytes 0xA1-0xDF).
constexpr bool isHalfWidthKana(unsigned char c) {
    return c >= 0xA1 && c <= 0xDF;
}

// Bytes taken by the character that starts at s[i]: 2 for a lead byte that has a
// trail byte after it, else 1 (a lead byte cut off at the end counts as one byte).
constexpr std::size_t charLength(std::string_view s, std::size_t i) {
    return (isLeadByte(s[i]) && i + 1 < s.size()) ? 2 : 1;
}

// Position of the first ASCII byte c at or after `from` that is not a trail
// byte, or npos.
std::size_t find(std::string_view s, char c, std::size_t from = 0);

// Position of the first of the ASCII bytes in `set`, double-byte aware, or npos.
std::size_t findFirstOf(std::string_view s, std::string_view set, std::size_t from = 0);

// Position of the last ASCII byte c that is not a trail byte, or npos.
std::size_t rfind(std::string_view s, char c);

// True when s ends inside a double-byte character (a lead byte with no trail).
bool endsWithLoneLeadByte(std::string_view s);

// Cut s to at most maxBytes without splitting a double-byte character.
std::string_view truncate(std::string_view s, std::size_t maxBytes);

// ASCII-only case folding; double-byte characters are left alone.
std::string asciiLower(std::string_view s);
bool equalsIgnoreCase(std::string_view a, std::string_view b);

}  // namespace tarn::sjis
