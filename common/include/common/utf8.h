// UTF-8 (RFC 3629): the one decoder and encoder of the suite. Well-formed means
// the shortest form, no surrogate halves (U+D800-U+DFFF) and nothing past
// U+10FFFF; anything else is ill-formed, one byte at a time.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tarn::utf8 {

inline constexpr char32_t kReplacement = 0xFFFD;

struct Decoded {
    char32_t codePoint = kReplacement;  // kReplacement when not valid
    std::size_t length = 1;             // bytes taken; 1 for a byte that starts nothing valid
    bool valid = false;
};

// The character that starts at s[i] (i < s.size()).
Decoded decode(std::string_view s, std::size_t i);

// True when every byte of s belongs to a well-formed character; hasMultiByte
// (set only on success) tells whether any character was beyond ASCII.
bool isValid(std::string_view s, bool* hasMultiByte = nullptr);

// Appends cp encoded; a surrogate half or a value past U+10FFFF is written as
// U+FFFD.
void append(std::string& out, char32_t cp);

// UTF-16 of utf8; each ill-formed byte becomes U+FFFD.
std::u16string toUtf16(std::string_view utf8);

}  // namespace tarn::utf8
