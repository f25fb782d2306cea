// The envelope addresses of a header value, for MAIL FROM and RCPT TO.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zeph {

// Addresses in a To/Cc/Bcc/From value (Shift_JIS), in order. Display names,
// quoted strings, comments and bracketed text are dropped; no syntax check is
// made. A token never contains CR, LF or angle brackets, so it can go into a
// command line as it is.
std::vector<std::string> extractAddresses(std::string_view value);

}  // namespace zeph
