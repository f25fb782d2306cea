// Conversion between code page 932 (Shift_JIS with the NEC and IBM extensions)
// and UTF-8, over glibc iconv "CP932". It happens only at the edges (terminal,
// widgets, UTF-8 input files). A character that cannot be converted is never
// dropped or replaced silently: the failure names it and its byte offset.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "common/result.h"

namespace tarn::cp932 {

// UTF-8 -> CP932. Fails on invalid UTF-8 or on a character CP932 cannot hold;
// the error message names the character (e.g. "「🍣」(U+1F363) はシフトJISで表せません。").
Result<std::string> fromUtf8(std::string_view utf8);

// UTF-8 -> CP932 for a text to be shown or logged (messages that carry a path
// or a library's reason): a character CP932 cannot hold is named as
// "<U+XXXX>", never dropped; invalid UTF-8 bytes as "<XX>".
std::string fromUtf8Named(std::string_view utf8);

// CP932 -> UTF-8. Fails on a byte sequence that is not CP932.
Result<std::string> toUtf8(std::string_view sjis);

// CP932 -> UTF-8 for display: bytes that are not CP932 become U+FFFD.
std::string toUtf8Lossy(std::string_view sjis);

// A path kept in Shift_JIS (settings, .tnm files, the core's texts) as the file
// system names it: UTF-8. Bytes that are not CP932 are kept as they are, so a
// path that came from the file system unconverted still opens.
std::filesystem::path pathFromSjis(std::string_view sjis);

// The first character of utf8 that CP932 cannot hold, as "U+XXXX", or empty.
std::string firstUnrepresentable(std::string_view utf8);

}  // namespace tarn::cp932
