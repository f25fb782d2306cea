// Changing one record of a CSV file's bytes and leaving every other byte as it
// was, for the CSV source's AddNew, Update and Delete. The bytes must have
// passed parseCsv (quotes balanced, sizes bounded) with the same encoding.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/result.h"
#include "database/csv_reader.h"
#include "database/db_value.h"

namespace tarn::db::detail {

// Where a record lies: [start, end) without its line end, `next` after it, and
// each field's raw bytes (quotes included). Blank lines are no records, as
// when reading; record 0 is the header.
struct RawRecord {
    std::size_t start = 0, end = 0, next = 0;
    std::vector<std::pair<std::size_t, std::size_t>> fields;
};

// From `start` (after a BOM that the reader skipped).
std::vector<RawRecord> scanCsvRecords(std::string_view bytes, std::size_t start);

// The header's line end, which new records take; CRLF for a file of one line.
std::string csvLineEnd(std::string_view bytes, const std::vector<RawRecord>& records);

// A value as the bytes of one field in the file's encoding, quoted when it
// holds a delimiter or a quote, or is empty (unquoted it would read as null).
// Null and DbEmpty give an empty, unquoted field. Text the encoding cannot
// hold is an error naming the character.
Result<std::string> encodeCsvField(const DbValue& v, CsvEncoding encoding);

// Record edits; fields are encoded ones.
void setCsvField(std::string& bytes, const RawRecord& r, std::size_t column,
                 std::string_view field);
void removeCsvRecord(std::string& bytes, const RawRecord& r);
void appendCsvRecord(std::string& bytes, const std::vector<RawRecord>& records,
                     std::vector<std::string> fields, std::string_view lineEnd);

}  // namespace tarn::db::detail
