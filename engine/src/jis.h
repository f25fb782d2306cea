// Shift_JIS (code page 932) to the 7-bit form of Japanese mail: ISO-2022-JP
// text (RFC 1468) and, for headers, MIME encoded-words (RFC 2047, "B").
//
// Every header line, body chunk and attachment name passes, in this order:
//   1. widenHalfWidthKana  half-width katakana -> full width (voiced and
//                          semi-voiced marks combined where a character exists)
//   2. toIso2022Jp         JIS X 0208 between ESC $ B and ESC ( B, SMTP
//                          dot-stuffing, and on request fold marks where a
//                          Subject or file name may be split into encoded-words
//   3. encodePlainHeader   header lines: each JIS run becomes one encoded-word
//      encodeFoldedHeader  Subject and file names: the whole text as
//                          encoded-words of about 30 bytes, one per line
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

// JIS X 0208 code (row << 8 | column) for the Shift_JIS character lead, trail,
// or 0 when it has none. The IBM extension block 0xFA40-0xFC4B is sent as its
// NEC-selected duplicate; the fourteen IBM characters without one have no code.
std::uint16_t jisCode(unsigned char lead, unsigned char trail);

// Number of IBM extension characters and of those among them without a JIS
// code, counted over the generated table (for its test).
struct IbmTableCounts {
    std::size_t pairs = 0;
    std::size_t unmapped = 0;
};
IbmTableCounts ibmTableCounts();

bool hasHalfWidthKana(std::string_view sjis);
// Step 1; out is replaced.
void widenHalfWidthKana(std::string_view sjis, std::string& out);

// Step 2; out is replaced. lineStart is true when the byte before `sjis` on the
// wire ended a line; a "." there is doubled. It is updated to the state after
// the last byte, so that it carries from one string to the next.
void toIso2022Jp(std::string_view sjis, bool foldMarks, bool& lineStart, std::string& out);

// Step 3a; out is replaced.
void encodePlainHeader(std::string_view converted, std::string& out);
// Step 3b; out is replaced. prefixLength bytes ("Subject: ") are kept as they
// are; with a non-zero prefix the result ends in CR LF.
void encodeFoldedHeader(std::string_view converted, std::size_t prefixLength, std::string& out);

// The three steps with one reusable buffer per step. A returned view is valid
// until the next call.
class Converter {
public:
    // A header line "name: value\r\n" (plain rule).
    std::string_view plainHeader(std::string_view line, bool& lineStart);
    // A header line whose first prefixLength bytes are "name: " (folded rule).
    std::string_view foldedHeader(std::string_view line, std::size_t prefixLength, bool& lineStart);
    // A body chunk: steps 1 and 2 only.
    std::string_view text(std::string_view chunk, bool& lineStart);
    // An attachment's display name, which sits inside a header line and so is
    // never at the start of a line.
    std::string_view fileName(std::string_view name);

private:
    std::string_view widen(std::string_view sjis);

    std::string m_wide;
    std::string m_jis;
    std::string m_words;
};

}  // namespace zeph::jis
