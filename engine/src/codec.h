// Transfer codecs of the mail engine: base64 (RFC 4648 standard alphabet) and
// uuencode (the historical x-uuencode body of attachments). The Japanese
// conversions are in jis.h.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace zeph {

std::string base64Encode(std::string_view bytes);
// The same, appended to out (no line breaks, "=" fill at the end).
void appendBase64(std::string_view bytes, std::string& out);
// Strict decoding: ignores CR, LF, spaces and tabs; fails on any other byte outside
// the alphabet or on bad padding.
std::optional<std::string> base64Decode(std::string_view text);
// Forgiving decoding for text from a peer that may be careless or hostile:
// bytes outside the alphabet are skipped, the first "=" ends the text, and at
// most maxBytes bytes come out.
std::string base64DecodeLenient(std::string_view text, std::size_t maxBytes);

// Bytes per uuencoded line; each line is a length character and four
// characters per three bytes (the last group zero-filled).
inline constexpr std::size_t kUuencodeLineBytes = 45;
// Appends one uuencoded line (without CR LF) for at most kUuencodeLineBytes
// bytes. Every 6-bit value v is written as v + 32, except 0, which is written as
// the grave accent so that no line carries trailing spaces that a mail relay
// might strip.
void appendUuencodeLine(std::string_view group, std::string& out);

}  // namespace zeph
