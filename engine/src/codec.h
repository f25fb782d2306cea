// Transfer codecs of the mail engine: base64 (RFC 4648 standard alphabet).
// uuencode and the Japanese conversions live beside it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zeph {

std::string base64Encode(std::string_view bytes);
// Strict decoding: ignores CR, LF, spaces and tabs; fails on any other byte outside
// the alphabet or on bad padding.
std::optional<std::string> base64Decode(std::string_view text);

}  // namespace zeph
