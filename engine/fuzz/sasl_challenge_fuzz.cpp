#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "sasl.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view reply(reinterpret_cast<const char*>(data), size);
    const auto challenge = zeph::decodeChallenge(reply);
    if (challenge.size() > 512) {
        std::abort();
    }
    const auto response = zeph::cramMd5Response("user", reply, challenge);
    if (response.empty()) {
        std::abort();
    }
    return 0;
}
