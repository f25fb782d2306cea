// The registry file reader on arbitrary bytes: no crash, and what it writes back
// reads again to the same values (damaged lines stay damaged, nothing is lost).
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "sendcore/registry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    tarn::RegistryFile reg = tarn::RegistryFile::parse(text);
    reg.setDword("Software\\Kestrel\\ZEPHV2\\Option", "WaitSec", 7);
    std::string once = reg.serialize();
    tarn::RegistryFile again = tarn::RegistryFile::parse(once);
    if (again.serialize() != once) {
        std::abort();
    }
    auto a = reg.entries();
    auto b = again.entries();
    if (a.size() != b.size()) {
        std::abort();
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].key != b[i].key || a[i].name != b[i].name || a[i].value.type != b[i].value.type ||
            a[i].value.text != b[i].value.text || a[i].value.dword != b[i].value.dword) {
            std::abort();
        }
    }
    return 0;
}
