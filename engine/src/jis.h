// Shift_JIS (code page 932) to the 7-bit form of Japanese mail: ISO-2022-JP
// text (RFC 1468) and, for headers, MIME encoded-words (RFC 2047, "B").
//
// Every header line, body chunk and attachment name passes, in this order:
//   1. widenHalfWidthKana  half-width katakana -> full width (voiced and
//                          semi-voiced marks combined where a character exists)
//   2. toIso2022Jp         JIS X 0208 (and the extension rows of code page 932)
//                          between ESC $ B and ESC ( B, SMTP dot-stuffing, body
//                          lines kept within the SMTP line limit, and on
//                          request fold marks where a Subject or file name may
//                          be split into encoded-words
//   3. encodePlainHeader   header lines: each JIS run becomes encoded-words
//      encodeFoldedHeader  Subject and file names: the whole text as
//                          encoded-words of about 30 bytes, one per line
//
// Nothing but 7-bit text leaves step 2: a character without a JIS code (the
// user-defined area, an unassigned code, a stray 8-bit byte) is sent as 〓, and
// the bytes that switch character sets in ISO-2022 (ESC, SO, SI) never pass
// from the text itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zeph::jis {

inline constexpr std::string_view kEnterJis = "\x1B$B";
inline constexpr std::string_view kLeaveJis = "\x1B(B";
// Placed by toIso2022Jp where an encoded-word may end; never sent.
inline constexpr std::string_view kFoldMark = "\x03\x03\x03";
// The longest line SMTP carries, without its CR LF (RFC 5321 4.5.3.1.6).
inline constexpr std::size_t kMaxLineBytes = 998;
// RFC 2047 2: an encoded-word is at most 75 characters long.
inline constexpr std::size_t kMaxEncodedWord = 75;
// 〓 (JIS X 0208 row 2), sent for a character that has no JIS code.
inline constexpr std::uint16_t kGetaJis = 0x222E;

// Where converted text stands on its wire line. It carries from one converted
// string to the next, as the strings follow each other on the wire.
struct LinePosition {
    bool lineStart = true;   // the next byte starts a line: a "." there is doubled
    std::size_t column = 0;  // bytes already on the line (counted in kText mode)
};

enum class JisMode {
    kText,    // body text: a line that would outgrow kMaxLineBytes is broken
    kHeader,  // a header line for the plain rule
    kFolded,  // a Subject or file name: fold marks where an encoded-word may end
};

bool hasHalfWidthKana(std::string_view sjis);
// Step 1; out is replaced.
void widenHalfWidthKana(std::string_view sjis, std::string& out);

// Step 2; out is replaced.
//
// In kText mode a line (counted from position.column) never exceeds
// kMaxLineBytes: before a character that would not fit, the JIS run is closed,
// CR LF is inserted and the run is opened again, so a relay that enforces the
// limit never cuts inside a JIS run. Only a line break of the text itself
// (LF) starts a new count.
void toIso2022Jp(std::string_view sjis, JisMode mode, LinePosition& position, std::string& out);

// Step 3a; out is replaced. A run longer than one encoded-word may be is split
// into several, joined by CR LF and a space.
void encodePlainHeader(std::string_view converted, std::string& out);
// Step 3b; out is replaced. prefixLength bytes ("Subject: ") are kept as they
// are; with a non-zero prefix the result ends in CR LF.
void encodeFoldedHeader(std::string_view converted, std::size_t prefixLength, std::string& out);

// The three steps with one reusable buffer per step. A returned view is valid
// until the next call.
class Converter {
public:
    // A header line "name: value\r\n" (plain rule).
    std::string_view plainHeader(std::string_view line, LinePosition& position);
    // A header line whose first prefixLength bytes are "name: " (folded rule).
    std::string_view foldedHeader(std::string_view line, std::size_t prefixLength,
                                  LinePosition& position);
    // A body chunk: steps 1 and 2 only.
    std::string_view text(std::string_view chunk, LinePosition& position);
    // An attachment's display name, which sits inside a header line and so is
    // never at the start of a line.
    std::string_view fileName(std::string_view name);
    // Step 1 alone (the text itself when it holds no half-width katakana).
    std::string_view widen(std::string_view sjis);

private:
    std::string m_wide;
    std::string m_jis;
    std::string m_words;
};

}  // namespace zeph::jis
