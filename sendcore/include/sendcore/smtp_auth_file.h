// "SMTPAuth.txt" beside the program: the SMTP AUTH credentials of the send
// driver. A line counts only when it contains ':'; its value is the text after
// the first ':' with blanks removed at both ends. The whole line is searched,
// case-sensitively, for "userid", else "password", else "kind" (the method
// number, decimal); a later line of a kind replaces an earlier one; a value
// keeps at most 512 bytes.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace tarn {

inline constexpr std::string_view kSmtpAuthFileName = "SMTPAuth.txt";

struct SmtpAuthFile {
    std::string userId;    // Shift_JIS, as in the file
    std::string password;  // never logged
    int method = 0;
    // SMTP AUTH is used only when both user id and password are given.
    bool usable() const { return !userId.empty() && !password.empty(); }
};

SmtpAuthFile parseSmtpAuth(std::string_view text);
// A missing or unreadable file gives an unusable result. Default: beside the program.
SmtpAuthFile readSmtpAuthFile(const std::filesystem::path& path);
SmtpAuthFile readSmtpAuthFile();

}  // namespace tarn
