// A random media-types table. Whatever it holds, every type it yields is one
// that can go into a header line as it is: type "/" subtype of RFC 6838
// restricted names, never composite, and a look-up of any name is safe.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "media_types.h"

namespace {

void check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

bool wellFormed(std::string_view type) {
    const std::size_t slash = type.find('/');
    if (slash == std::string_view::npos || slash == 0 || slash + 1 == type.size() ||
        type.find('/', slash + 1) != std::string_view::npos) {
        return false;
    }
    for (char c : type) {
        if (std::isalnum(static_cast<unsigned char>(c)) == 0 &&
            std::string_view("!#$&-^_.+/").find(c) == std::string_view::npos) {
            return false;
        }
    }
    return !type.starts_with("message/") && !type.starts_with("multipart/");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view table(reinterpret_cast<const char*>(data), size);
    const zeph::MediaTypes types = zeph::MediaTypes::parse(table);
    // Every word of the input, as a file extension.
    std::size_t pos = 0;
    while (pos < table.size()) {
        const std::size_t end = std::min(table.find_first_of(" \t\n", pos), table.size());
        const std::string name = "file." + std::string(table.substr(pos, end - pos));
        check(wellFormed(types.typeOf(name)));
        pos = end + 1;
    }
    check(types.typeOf("") == zeph::kOctetStream);
    return 0;
}
