// The .tnm reader meets whatever file it is given.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "contents/send_contents.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tarn::contents;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    SendContents record;
    SendContentsLayout layout = SendContentsLayout::Earlier;
    const int code = decodeSendContents(bytes, record, &layout);
    if (code == 0 && layout == SendContentsLayout::Current) {
        // What was read writes back as the shortest form of the same strings.
        const std::string again = encodeSendContents(record);
        SendContents second;
        if (decodeSendContents(again, second) != 0 || second.body != record.body ||
            second.bcc != record.bcc) {
            __builtin_trap();
        }
    }
    return 0;
}
