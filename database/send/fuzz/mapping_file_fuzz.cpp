// Any bytes as a mapping file: refused with a reason, or read; what is read is
// written again and must read back as the same items.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "dbsend/mapping_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    auto decoded = tarn::dbsend::decodeMappingFile(bytes);
    if (!decoded) {
        return 0;
    }
    // What was read is written again and reads back as the same items.
    auto again = tarn::dbsend::decodeMappingFile(tarn::dbsend::encodeMappingFile(*decoded));
    if (!again ||
        tarn::dbsend::encodeMappingFile(*again) != tarn::dbsend::encodeMappingFile(*decoded)) {
        std::abort();
    }
    return 0;
}
