#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "pop.h"

// Feeds the input in chunks whose sizes come from the input itself, as recv()
// would, and checks that every line stays bounded and no byte is lost.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::size_t chunk = 1 + data[0] % 64;
    std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    zeph::PopLineReader reader;
    std::size_t total = 0;
    while (!rest.empty()) {
        const std::string_view piece = rest.substr(0, chunk);
        const std::size_t taken = reader.feed(piece);
        if (taken > piece.size() || reader.line().size() > zeph::PopLineReader::kMaxLine) {
            std::abort();
        }
        rest.remove_prefix(taken);
        if (reader.complete()) {
            total += reader.line().size();
            (void)zeph::apopTimestamp(reader.line());
            reader.reset();
        } else if (taken != piece.size()) {
            std::abort();
        }
    }
    total += reader.line().size();
    if (total != size - 1) {
        std::abort();
    }
    return 0;
}
