#include "sendcore/smtp_auth_file.h"

#include <charconv>

#include "common/files.h"
#include "common/program.h"
#include "common/sjis.h"

namespace tarn {
namespace {

constexpr std::size_t kMaxValueBytes = 512;
// The file holds three short lines; a larger one is not credentials.
constexpr std::size_t kMaxFileBytes = std::size_t{1} << 20;

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string valueOf(std::string_view line, std::size_t colon) {
    std::string_view v = line.substr(colon + 1);
    while (!v.empty() && isBlank(v.front())) {
        v.remove_prefix(1);
    }
    while (!v.empty() && isBlank(v.back())) {
        v.remove_suffix(1);
    }
    return std::string(sjis::truncate(v, kMaxValueBytes));
}

}  // namespace

SmtpAuthFile parseSmtpAuth(std::string_view text) {
    SmtpAuthFile auth;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t nl = text.find('\n', pos);
        std::string_view line =
            text.substr(pos, nl == std::string_view::npos ? std::string_view::npos : nl - pos);
        pos = (nl == std::string_view::npos) ? text.size() : nl + 1;

        std::size_t colon = sjis::find(line, ':');
        if (colon == std::string_view::npos) {
            continue;
        }
        if (line.find("userid") != std::string_view::npos) {
            auth.userId = valueOf(line, colon);
        } else if (line.find("password") != std::string_view::npos) {
            auth.password = valueOf(line, colon);
        } else if (line.find("kind") != std::string_view::npos) {
            std::string v = valueOf(line, colon);
            int method = 0;
            // Leading digits count, as a C reader of numbers would take them.
            std::from_chars(v.data(), v.data() + v.size(), method);
            auth.method = method;
        }
    }
    return auth;
}

SmtpAuthFile readSmtpAuthFile(const std::filesystem::path& path) {
    auto bytes = readWholeFile(path, kMaxFileBytes);
    return bytes ? parseSmtpAuth(*bytes) : SmtpAuthFile{};
}

SmtpAuthFile readSmtpAuthFile() {
    return readSmtpAuthFile(besideProgram(kSmtpAuthFileName));
}

}  // namespace tarn
