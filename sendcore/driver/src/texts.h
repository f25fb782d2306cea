// The drivers' own texts. Source files are UTF-8; the core works in Shift_JIS,
// so every text is converted once, on first use.
#pragma once

#include <fmt/format.h>

#include <string>

namespace tarn::driver {

// The Shift_JIS form of a UTF-8 literal of ours (all of them are CP932 text).
const std::string& sjisText(const char* utf8Literal);

// The Shift_JIS form of a UTF-8 format of ours, ready for fmt: the replacement
// fields are ASCII and stay as they are; a brace byte inside a two-byte
// character (the second byte of "ボ" is '{', of "マ" '}') is doubled so that fmt
// copies it as text instead of taking it for a field.
const std::string& sjisFormatText(std::string_view utf8Format);

// Fills in one of our UTF-8 formats, checked against its arguments when
// compiled, and returns Shift_JIS. The format is converted, never the result:
// Shift_JIS arguments (addresses, log texts) are copied byte for byte.
template <typename... Args>
std::string sjisFormat(fmt::format_string<Args...> utf8Format, Args&&... args) {
    const fmt::string_view text = utf8Format;
    return fmt::vformat(sjisFormatText(std::string_view(text.data(), text.size())),
                        fmt::make_format_args(args...));
}

// "HH:MM:SS" of a number of seconds.
std::string elapsedText(long long seconds);

}  // namespace tarn::driver
