// The SMTPAuth.txt reader on arbitrary bytes: no crash, values within their cap.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "sendcore/smtp_auth_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tarn::SmtpAuthFile a =
        tarn::parseSmtpAuth(std::string_view(reinterpret_cast<const char*>(data), size));
    if (a.userId.size() > 512 || a.password.size() > 512) {
        std::abort();
    }
    return 0;
}
