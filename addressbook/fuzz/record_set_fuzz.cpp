// Feeds arbitrary bytes to the record-set reader. Whatever it accepts must
// write back to the same bytes, and every record it names by position must be
// matched against a document without reading outside it.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "addressbook/record_set.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    auto parsed = tarn::addressbook::parseRecordSet(bytes);
    if (!parsed) {
        if (parsed.error().offset < 0 || static_cast<std::size_t>(parsed.error().offset) > size) {
            std::abort();
        }
        return 0;
    }
    if (tarn::addressbook::serializeRecordSet(*parsed) != bytes) {
        std::abort();
    }
    tarn::addressbook::CTarnSendDoc doc;
    std::vector<tarn::addressbook::Record> two(2);
    if (!doc.appendRecords(two)) {
        std::abort();
    }
    auto matched = tarn::addressbook::recordsOfSet(doc, *parsed);
    if (matched && matched->size() != parsed->size()) {
        std::abort();
    }
    return 0;
}
