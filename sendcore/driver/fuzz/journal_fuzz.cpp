// The send journal reader against arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "driver/send_journal.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto journal =
        tarn::driver::parseJournal(std::string_view(reinterpret_cast<const char*>(data), size));
    static_cast<void>(journal.uncertainAddresses());
    return 0;
}
