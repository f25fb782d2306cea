// A cursor over the bytes of a text: look at the next byte, step over bytes,
// take the bytes up to a delimiter. No call reads before the start or past the
// end, whatever the text holds; at the end `peekIs` is false and a take returns
// an empty view.
//
// The cursor keeps a view, so the bytes must outlive it. A caller may rewrite
// bytes it has already passed (an in-place unescaper writing behind the
// cursor does); the bytes ahead are only read.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace tarn {

class TextCursor {
public:
    explicit TextCursor(std::string_view text, std::size_t offset = 0)
        : m_text(text), m_pos(std::min(offset, text.size())) {}
    explicit TextCursor(std::string&&, std::size_t = 0) = delete;

    std::size_t offset() const { return m_pos; }
    std::size_t remaining() const { return m_text.size() - m_pos; }
    bool atEnd() const { return m_pos == m_text.size(); }

    // Whether the next byte is `c` (false at the end).
    bool peekIs(char c) const { return m_pos < m_text.size() && m_text[m_pos] == c; }

    // Steps over the next byte when it is `c`.
    bool skip(char c) {
        if (!peekIs(c)) {
            return false;
        }
        ++m_pos;
        return true;
    }

    // Steps over one line end: CR LF, a lone CR or a lone LF.
    bool skipLineEnd() {
        if (skip('\n')) {
            return true;
        }
        if (skip('\r')) {
            skip('\n');
            return true;
        }
        return false;
    }

    // Steps over up to `n` bytes (never past the end).
    void advance(std::size_t n) { m_pos += std::min(n, remaining()); }

    // The bytes from the cursor up to (not including) the first `stop`, or to
    // the end when there is none; the cursor is left on the `stop`.
    std::string_view takeUntil(char stop) {
        const char* const from = m_text.data() + m_pos;
        const void* hit = std::memchr(from, stop, remaining());
        const std::size_t n = hit == nullptr
                                  ? remaining()
                                  : static_cast<std::size_t>(static_cast<const char*>(hit) - from);
        m_pos += n;
        return {from, n};
    }

    // As takeUntil, stopping at the first of three bytes. Eight bytes are
    // tested at a time (the usual "has a zero byte" test on the word XORed with
    // each stop); a word with a candidate is finished byte by byte.
    std::string_view takeUntilAny(char a, char b, char c) {
        constexpr std::uint64_t kOnes = 0x0101010101010101ull;
        constexpr std::uint64_t kHigh = 0x8080808080808080ull;
        const auto hasZero = [](std::uint64_t v) { return (v - kOnes) & ~v & kHigh; };
        const std::uint64_t wa = kOnes * static_cast<unsigned char>(a);
        const std::uint64_t wb = kOnes * static_cast<unsigned char>(b);
        const std::uint64_t wc = kOnes * static_cast<unsigned char>(c);
        const std::size_t from = m_pos;
        const std::size_t size = m_text.size();
        const char* const data = m_text.data();
        std::size_t i = from;
        while (size - i >= 8) {
            std::uint64_t w;
            std::memcpy(&w, data + i, 8);
            if ((hasZero(w ^ wa) | hasZero(w ^ wb) | hasZero(w ^ wc)) != 0) {
                break;
            }
            i += 8;
        }
        while (i < size && data[i] != a && data[i] != b && data[i] != c) {
            ++i;
        }
        m_pos = i;
        return {data + from, i - from};
    }

private:
    std::string_view m_text;
    std::size_t m_pos;
};

}  // namespace tarn
