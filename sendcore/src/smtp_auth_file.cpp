#include "sendcore/smtp_auth_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <charconv>

#include "common/files.h"
#include "common/program.h"
#include "common/sjis.h"

namespace tarn {
namespace {

// The file holds three short lines; a larger one is not credentials.
constexpr std::size_t kMaxFileBytes = std::size_t{1} << 20;

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view valueOf(std::string_view line, std::size_t colon) {
    std::string_view v = line.substr(colon + 1);
    while (!v.empty() && isBlank(v.front())) {
        v.remove_prefix(1);
    }
    while (!v.empty() && isBlank(v.back())) {
        v.remove_suffix(1);
    }
    return v;
}

}  // namespace

Result<SmtpAuthFile> parseSmtpAuth(std::string_view text) {
    const std::string file(kSmtpAuthFileName);
    if (std::size_t nul = text.find('\0'); nul != std::string_view::npos) {
        return makeError(file + " の " + std::to_string(nul + 1) +
                             " バイト目に NUL 文字があります。テキストファイル (シフトJIS) "
                             "で保存してください",
                         static_cast<long long>(nul));
    }
    SmtpAuthFile auth;
    std::size_t pos = 0;
    std::size_t lineNo = 0;
    while (pos < text.size()) {
        std::size_t nl = text.find('\n', pos);
        std::string_view line =
            text.substr(pos, nl == std::string_view::npos ? std::string_view::npos : nl - pos);
        pos = (nl == std::string_view::npos) ? text.size() : nl + 1;
        ++lineNo;

        std::size_t colon = sjis::find(line, ':');
        if (colon == std::string_view::npos) {
            continue;
        }
        const char* kind = line.find("userid") != std::string_view::npos     ? "userid"
                           : line.find("password") != std::string_view::npos ? "password"
                           : line.find("kind") != std::string_view::npos     ? "kind"
                                                                             : nullptr;
        if (kind == nullptr) {
            continue;
        }
        std::string_view value = valueOf(line, colon);
        if (value.size() > kSmtpAuthMaxValueBytes) {
            return makeError(file + " の " + std::to_string(lineNo) + " 行目 (" + kind +
                             ") の値が " + std::to_string(value.size()) + " バイトあります。" +
                             std::to_string(kSmtpAuthMaxValueBytes) + " バイトまでです");
        }
        if (kind[0] == 'u') {
            auth.userId = std::string(value);
        } else if (kind[0] == 'p') {
            auth.password = std::string(value);
        } else {
            int method = 0;
            // Leading digits count, as a C reader of numbers would take them.
            std::from_chars(value.data(), value.data() + value.size(), method);
            auth.method = method;
        }
    }
    return auth;
}

Result<SmtpAuthFile> readSmtpAuthFile(const std::filesystem::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 && errno == ENOENT) {
        return SmtpAuthFile{};  // no file: no SMTP AUTH, as designed
    }
    auto bytes = readWholeFile(path, kMaxFileBytes);
    if (!bytes) {
        return makeError(std::string(kSmtpAuthFileName) +
                         " を読めません: " + bytes.error().message);
    }
    return parseSmtpAuth(*bytes);
}

Result<SmtpAuthFile> readSmtpAuthFile() {
    return readSmtpAuthFile(besideProgram(kSmtpAuthFileName));
}

}  // namespace tarn
