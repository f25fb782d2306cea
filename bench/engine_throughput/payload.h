// What the engine benchmarks send, shared so that every row sends the same
// bytes: the argument reader and smtp-source's -l SIZE payload (SIZE bytes of
// 80-byte lines, the line number's last digit then 'X's).
#pragma once

#include <charconv>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace bench {

// A whole non-negative number, or nothing.
inline std::optional<int> parseInt(std::string_view text) {
    int value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || end != text.data() + text.size() || value < 0) {
        return std::nullopt;
    }
    return value;
}

inline std::string payloadBody(int size) {
    std::string body;
    for (int line = 1; static_cast<int>(body.size()) + 80 <= size; ++line) {
        body += std::to_string(line % 10) + std::string(77, 'X') + "\r\n";
    }
    if (const int rest = size - static_cast<int>(body.size()); rest > 2) {
        body += std::string(static_cast<std::size_t>(rest - 2), 'X') + "\r\n";
    }
    return body;
}

// The synthetic message number `i`'s addresses and subject, as every row sends them.
inline std::string payloadRecipient(int i) {
    return "user" + std::to_string(i) + "@example.jp";
}
inline constexpr const char* kPayloadFrom = "Sender <sender@example.jp>";
inline constexpr const char* kPayloadSubject = "Monthly report";

}  // namespace bench
