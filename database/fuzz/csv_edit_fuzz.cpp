// Any bytes as a CSV file: the record scanner that edits files must find the
// records the reader finds, and an edited file must read back with exactly
// that one change.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "../src/csv_edit.h"
#include "database/csv_reader.h"

namespace {

using namespace tarn::db;

void require(bool ok) {
    if (!ok) {
        std::abort();
    }
}

bool sameRow(const CsvTable& a, std::size_t ra, const CsvTable& b, std::size_t rb) {
    for (std::size_t c = 0; c < a.columnCount(); ++c) {
        if (a.isNull(ra, c) != b.isNull(rb, c) || a.field(ra, c) != b.field(rb, c)) {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tarn::db::detail;
    if (size < 3) {
        return 0;
    }
    const CsvEncoding encoding = (data[0] & 1) != 0 ? CsvEncoding::Utf8 : CsvEncoding::ShiftJis;
    const int op = (data[0] >> 1) % 3;
    std::string bytes(reinterpret_cast<const char*>(data) + 3, size - 3);
    auto before = parseCsv(bytes, encoding);
    if (!before) {
        return 0;
    }
    const std::size_t start =
        encoding == CsvEncoding::Utf8 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    const auto records = scanCsvRecords(bytes, start);
    const std::size_t rows = before->rowCount();
    require(records.size() == (before->columnCount() == 0 ? 0 : rows + 1));
    if (before->columnCount() == 0) {
        return 0;
    }
    const std::string value = "a,\"b\"\r\nc";
    auto field = encodeCsvField(DbAnsiString{value}, encoding);
    require(field.ok());
    const std::size_t column = data[2] % before->columnCount();
    std::string edited = bytes;
    if (op == 2 || rows == 0) {
        std::vector<std::string> fields(before->columnCount());
        fields[column] = field.value();
        appendCsvRecord(edited, records, fields, csvLineEnd(bytes, records));
    } else if (op == 0) {
        setCsvField(edited, records[data[1] % rows + 1], column, field.value());
    } else {
        removeCsvRecord(edited, records[data[1] % rows + 1]);
    }
    auto after = parseCsv(edited, encoding);
    require(after.ok() && after->columnCount() == before->columnCount());
    for (std::size_t c = 0; c < before->columnCount(); ++c) {
        require(after->name(c) == before->name(c));
    }
    if (op == 2 || rows == 0) {
        require(after->rowCount() == rows + 1 && after->field(rows, column) == value);
        for (std::size_t r = 0; r < rows; ++r) {
            require(sameRow(*before, r, *after, r));
        }
    } else if (op == 0) {
        const std::size_t target = data[1] % rows;
        require(after->rowCount() == rows && after->field(target, column) == value);
        for (std::size_t r = 0; r < rows; ++r) {
            require(r == target || sameRow(*before, r, *after, r));
        }
    } else {
        const std::size_t target = data[1] % rows;
        require(after->rowCount() == rows - 1);
        for (std::size_t r = 0; r + 1 < rows; ++r) {
            require(sameRow(*before, r < target ? r : r + 1, *after, r));
        }
    }
    return 0;
}
