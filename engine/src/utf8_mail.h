// The UTF-8 form of Japanese mail: the same Shift_JIS texts as jis.h, sent as
// UTF-8 (RFC 3629) with encoded-words "=?UTF-8?B?...?=" in headers and a
// base64 body, for recipients whose readers would not show the extension
// characters of code page 932 under ISO-2022-JP.
//
// Half-width katakana is widened first, exactly as for ISO-2022-JP (the caller
// passes the widened text), so that a recipient reads the same characters
// whichever character set the message went out in.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zeph::utf8 {

// RFC 2045 6.8: base64 body lines of 76 characters.
inline constexpr std::size_t kBase64LineChars = 76;

// Shift_JIS -> UTF-8 through code page 932; a character without a JIS code
// (and so without a place in either mail form) becomes 〓, and ESC, SO and SI
// become 〓 as they do in ISO-2022-JP.
std::string fromSjis(std::string_view sjis);

// A header line "name: value\r\n" in UTF-8: each run of non-ASCII characters
// (runs apart only by white space count as one) becomes encoded-words of at
// most 75 characters, joined by CR LF and a space. out is replaced.
void encodePlainHeader(std::string_view line, std::string& out);
// The folded rule: after the first prefixLength bytes, the text up to its first
// CR becomes encoded-words when it holds any non-ASCII character (else it is
// kept as it is); with a non-zero prefix the result ends in CR LF. out is
// replaced.
void encodeFoldedHeader(std::string_view line, std::size_t prefixLength, std::string& out);

// Text with every line end made CR LF (a lone CR or LF included), as MIME
// wants text before it is base64-encoded (RFC 2045 6.8).
std::string canonicalLineEnds(std::string_view text);
// Appends base64 in lines of kBase64LineChars, each ending in CR LF.
void appendBase64Lines(std::string_view bytes, std::string& out);

// RFC 2231 value characters: the bytes outside attribute-char as %XX.
std::string percentEncode(std::string_view utf8);

}  // namespace zeph::utf8
