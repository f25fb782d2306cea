// Any bytes as a vCard file, with small limits on some inputs so that the limit
// paths are reached: every card read must hold valid UTF-8 no longer than a
// line (three UTF-8 bytes at most for each Shift_JIS byte).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "common/utf8.h"
#include "wab/vcard.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    tarn::wab::VcardLimits limits;
    if (data[0] & 1) {
        limits.maxLineBytes = 48;
        limits.maxCards = 3;
    }
    std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    auto cards = tarn::wab::parseVcards(bytes, "fuzz.vcf", limits);
    if (!cards) {
        return 0;
    }
    if (cards->size() > limits.maxCards) {
        std::abort();
    }
    for (const auto& c : cards.value()) {
        for (const std::string* t : {&c.formattedName, &c.family, &c.given, &c.company,
                                     &c.department, &c.title, &c.email, &c.uid}) {
            if (!tarn::utf8::isValid(*t) || t->size() > 3 * limits.maxLineBytes) {
                std::abort();
            }
        }
        if (tarn::wab::displayName(c).size() > 6 * limits.maxLineBytes + 1) {
            std::abort();
        }
    }
    return 0;
}
