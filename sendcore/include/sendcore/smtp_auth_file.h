// "SMTPAuth.txt" beside the program: the SMTP AUTH credentials of the send
// driver. A line counts only when it contains ':'; its value is the text after
// the first ':' with blanks removed at both ends. The whole line is searched,
// case-sensitively, for "userid", else "password", else "kind" (the method
// number, decimal); a later line of a kind replaces an earlier one.
//
// A file that exists but cannot be used is an error, never a silent send
// without authentication or with a cut password: one that cannot be read, is
// not a regular file or is larger than 1 MiB, holds a NUL byte (the password
// would end there; a UTF-16 file is full of them), or has a value longer than
// 512 bytes. Messages are UTF-8 and never quote a password.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "common/result.h"

namespace tarn {

inline constexpr std::string_view kSmtpAuthFileName = "SMTPAuth.txt";

struct SmtpAuthFile {
    std::string userId;    // Shift_JIS, as in the file
    std::string password;  // never logged
    int method = 0;
    // SMTP AUTH is used only when both user id and password are given.
    bool usable() const { return !userId.empty() && !password.empty(); }
};

inline constexpr std::size_t kSmtpAuthMaxValueBytes = 512;

Result<SmtpAuthFile> parseSmtpAuth(std::string_view text);
// A missing file is no authentication (an unusable result, not an error).
// Default: beside the program.
Result<SmtpAuthFile> readSmtpAuthFile(const std::filesystem::path& path);
Result<SmtpAuthFile> readSmtpAuthFile();

}  // namespace tarn
