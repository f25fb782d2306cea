// Stored address fields are whatever a user or an import put there: the
// extractor and the rule check must take any bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "common/address.h"
#include "verify/address.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    static const tarn::verify::DomainChecker checker = [] {
        tarn::verify::DomainChecker c;
        c.AddListedDomain("allowed.example", 1);
        c.SetRegionalNames({"tokyo"});
        return c;
    }();
    std::string first = tarn::verify::ExtractAddress(text);
    std::string all = tarn::verify::ExtractAddress(text, ',');
    if (first.size() > text.size() || all.size() > text.size() || !all.starts_with(first)) {
        std::abort();
    }
    for (bool relaxed : {false, true}) {
        int code =
            tarn::verify::ScreenExtractedAddress(first, checker.CheckAddressSyntax(first, relaxed));
        if (code < 0 || code > 6) {
            std::abort();
        }
        // What the check passes, the envelope sends to, and nothing else.
        const auto field = checker.CheckAddressField(text, relaxed);
        const auto envelope = tarn::address::checkField(text);
        if (field.code == 0 && (!envelope.ok() || envelope.addresses != field.addresses)) {
            std::abort();
        }
    }
    return 0;
}
