// Feeds arbitrary bytes to the .tn2 reader. Whatever it accepts must save and
// read back to the same bytes, and every group member must be a record of the
// document.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "addressbook/document.h"

using tarn::addressbook::CTarnSendDoc;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto titles = tarn::addressbook::defaultFreeFieldTitles();
    CTarnSendDoc doc;
    if (!doc.Serialize(bytes, titles)) {
        return 0;
    }
    for (const auto& g : doc.groups()) {
        for (const auto* r : g.members) {
            if (doc.positionOf(r) == doc.recordCount()) {
                std::abort();
            }
        }
    }
    // Members were read as 16-bit positions, so saving cannot be refused.
    auto saved = doc.Serialize();
    if (!saved) {
        std::abort();
    }
    CTarnSendDoc again;
    if (!again.Serialize(*saved, titles)) {
        std::abort();
    }
    auto resaved = again.Serialize();
    if (!resaved || *resaved != *saved) {
        std::abort();
    }
    return 0;
}
