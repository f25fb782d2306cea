// Any text as a query for the file sources.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "database/select_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto q = tarn::db::parseSelect(std::string_view(reinterpret_cast<const char*>(data), size));
    if (q) {
        // A parsed query always names a table, and columns only without "*".
        if (q->table.empty() || (q->allColumns && !q->columns.empty())) {
            __builtin_trap();
        }
        for (const auto& c : q->columns) {
            if (c.empty()) {
                __builtin_trap();
            }
        }
    }
    return 0;
}
