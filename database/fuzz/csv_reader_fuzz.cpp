// Any bytes as a CSV file, under every encoding choice and with small limits so
// that the limit paths are reached too; every field of the result is read.
#include <cstddef>
#include <cstdint>
#include <string>

#include "database/csv_reader.h"
#include "database/db_value.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tarn::db;
    if (size == 0) {
        return 0;
    }
    const auto encoding = static_cast<CsvEncoding>(data[0] % 3);
    CsvLimits limits;
    if (data[0] & 0x80) {
        limits.maxFieldBytes = 16;
        limits.maxRecordBytes = 64;
        limits.maxFields = 8;
    }
    std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    auto table = parseCsv(std::move(bytes), encoding, limits);
    if (!table) {
        return 0;
    }
    std::size_t total = 0;
    for (std::size_t r = 0; r < table->rowCount(); ++r) {
        for (std::size_t c = 0; c < table->columnCount() + 1; ++c) {
            auto f = table->field(r, c);
            if (!table->isNull(r, c) && table->encoding() == CsvEncoding::Utf8) {
                auto text = valueToText(DbWideString{std::string(f)});
                total += text ? text->size() : 0;
            }
            total += f.size();
        }
    }
    for (std::size_t c = 0; c < table->columnCount(); ++c) {
        total += table->name(c).size();
    }
    return total == static_cast<std::size_t>(-1) ? 1 : 0;
}
