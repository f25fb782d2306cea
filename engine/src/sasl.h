// The payloads of SMTP AUTH (PLAIN, CRAM-MD5) and POP3 APOP. MD5 (RFC 1321)
// and HMAC-MD5 (RFC 2104) come from libcrypto, which the engine links for TLS.
#pragma once

#include <string>
#include <string_view>

namespace zeph {

// 32 lower-case hexadecimal digits. Empty only when libcrypto cannot compute an
// MD5 digest (a configuration without the algorithm): a response built from it
// is one the server refuses, never another password's.
std::string md5Hex(std::string_view bytes);
// HMAC-MD5 with a key longer than 64 bytes first replaced by its MD5, as hex
// (empty on the same condition as md5Hex).
std::string hmacMd5Hex(std::string_view key, std::string_view data);

// base64(user NUL user NUL password), for "AUTH PLAIN %s".
std::string authPlainPayload(std::string_view user, std::string_view password);
// A server challenge from a 334 reply: the text from its fifth byte on, without
// the final CR LF, base64-decoded into at most 512 bytes; bytes outside the
// alphabet are skipped and "=" ends the decoding.
std::string decodeChallenge(std::string_view replyText);
// base64("user hexdigest") with the HMAC-MD5 of the challenge (up to its first
// zero byte) keyed by the password.
std::string cramMd5Response(std::string_view user, std::string_view password,
                            std::string_view challenge);
// MD5 of timestamp followed by password, hex, for "APOP user digest".
std::string apopDigest(std::string_view timestamp, std::string_view password);

}  // namespace zeph
