// The SMTPAuth.txt reader on arbitrary bytes: no crash; what it accepts keeps
// every value within its cap and holds no NUL.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "sendcore/smtp_auth_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto a = tarn::parseSmtpAuth(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!a) {
        return 0;
    }
    for (const std::string* v : {&a->userId, &a->password}) {
        if (v->size() > tarn::kSmtpAuthMaxValueBytes || v->find('\0') != std::string::npos) {
            std::abort();
        }
    }
    return 0;
}
