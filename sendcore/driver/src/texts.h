// The drivers' own texts. Source files are UTF-8; the core works in Shift_JIS,
// so every text is converted once, on first use.
#pragma once

#include <string>

namespace tarn::driver {

// The Shift_JIS form of a UTF-8 literal of ours (all of them are CP932 text).
const std::string& sj(const char* utf8Literal);

// printf into a std::string (formats are our literals; arguments Shift_JIS).
std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// "%02d:%02d:%02d" of a number of seconds.
std::string elapsedText(long long seconds);

}  // namespace tarn::driver
