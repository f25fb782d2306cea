// The custom header file's reader, and the dialog's rewrite of what it read:
// rows written back must read back as the same rows, so that pressing OK never
// changes a header the person did not touch.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "options/custom_headers.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto rows = tarn::options::parseCustomHeaders(bytes);
    for (const auto& row : rows) {
        // Lines longer than the reader's 1023-byte buffer come back in pieces,
        // and a trailing Ctrl-Z is the reader's to drop: neither round-trips.
        if (row.item.size() + row.value.size() + 4 > 1023 ||
            row.item.find('\x1A') != std::string::npos ||
            row.value.find('\x1A') != std::string::npos) {
            return 0;
        }
    }
    if (tarn::options::parseCustomHeaders(tarn::options::serializeCustomHeaders(rows)) != rows) {
        std::abort();
    }
    return 0;
}
