// Feeds arbitrary bytes to the record-set reader. Whatever it accepts must
// write back to bytes that read back the same, and every record it names by
// position must be matched against a document without reading outside it.
#include <cstdint>
#include <cstdlib>
#include <string>
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
    // A length may be written in a longer form than the writer uses, so the
    // bytes written back need not be the input; read again, they must give the
    // same records and the same bytes.
    const std::string written = tarn::addressbook::serializeRecordSet(*parsed);
    auto reread = tarn::addressbook::parseRecordSet(written);
    if (!reread || tarn::addressbook::serializeRecordSet(*reread) != written) {
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
