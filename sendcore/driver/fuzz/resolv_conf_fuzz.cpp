// The resolver-configuration reader on arbitrary bytes: no crash, and an
// address it returns is one the text names on a "nameserver" line.
#include <arpa/inet.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "driver/check_job.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::uint32_t address = tarn::driver::firstIpv4Nameserver(text);
    if (address != 0) {
        in_addr a{};
        a.s_addr = htonl(address);
        char dotted[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &a, dotted, sizeof dotted);
        if (text.find("nameserver") == std::string_view::npos ||
            text.find(dotted) == std::string_view::npos) {
            std::abort();
        }
    }
    return 0;
}
