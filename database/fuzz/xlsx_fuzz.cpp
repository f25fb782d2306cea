// Any bytes as an .xlsx archive, with limits small enough that the limit paths
// are reached; every sheet is read, and every grid must be a rectangle within
// the cell limit.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "database/xlsx_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tarn::db::XlsxLimits limits;
    limits.maxPartBytes = 1u << 20;
    limits.maxCells = 10'000;
    limits.maxSheets = 8;
    limits.maxSharedStrings = 1000;
    auto book = tarn::db::XlsxWorkbook::openMemory(
        std::string(reinterpret_cast<const char*>(data), size), limits);
    if (!book) {
        return 0;
    }
    if (book->sheetNames().size() > limits.maxSheets) {
        std::abort();
    }
    for (std::size_t i = 0; i < book->sheetNames().size(); ++i) {
        auto grid = book->readSheet(i);
        if (!grid) {
            continue;
        }
        std::size_t cells = 0;
        for (const auto& row : grid.value()) {
            if (row.size() != grid->front().size()) {
                std::abort();
            }
            cells += row.size();
        }
        if (cells > limits.maxCells) {
            std::abort();
        }
    }
    return 0;
}
