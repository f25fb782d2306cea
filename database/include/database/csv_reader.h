// The CSV reader behind source type 4: RFC 4180 records, the first record giving
// the field names.
//
// The whole file is read once; fields stay where they are in that buffer (a
// quoted field is unescaped in place, which only ever shortens it), so reading a
// table costs one allocation for the bytes and one small entry per field.
//
// Hostile input is bounded by the limits below: a file, record or field over
// its limit, too many fields in a record, or a quote that is never closed is an
// error with the byte offset where it was found.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "common/cp932.h"
#include "common/result.h"

namespace tarn::db {

enum class CsvEncoding {
    Auto,      // UTF-8 when the file starts with a BOM or is valid UTF-8 with
               // non-ASCII text; Shift_JIS otherwise
    ShiftJis,  // code page 932
    Utf8,      // with or without a BOM
};

struct CsvLimits {
    std::size_t maxFileBytes = std::size_t{1} << 30;  // 1 GiB
    std::size_t maxRecordBytes = 4u << 20;            // 4 MiB
    std::size_t maxFieldBytes = 1u << 20;             // 1 MiB
    std::size_t maxFields = 1024;                     // per record
};

class CsvTable {
public:
    // Field names and values in the file's encoding (see encoding()).
    std::size_t columnCount() const { return m_names.size(); }
    std::size_t rowCount() const { return m_rowStart.empty() ? 0 : m_rowStart.size() - 1; }
    const std::string& name(std::size_t column) const { return m_names[column]; }
    // An empty field that was not quoted reads as null, as the text driver does.
    // A record shorter than the header has nulls in its missing fields; fields
    // beyond the header's are ignored.
    bool isNull(std::size_t row, std::size_t column) const;
    std::string_view field(std::size_t row, std::size_t column) const;
    // Utf8 or ShiftJis, as found (Auto never remains).
    CsvEncoding encoding() const { return m_encoding; }

    friend Result<CsvTable> parseCsv(std::string bytes, CsvEncoding encoding,
                                     const CsvLimits& limits);

private:
    static constexpr std::uint32_t kNull = 0xFFFFFFFFu;
    struct Field {
        std::uint32_t offset;
        std::uint32_t length;  // kNull for a null field
    };

    std::string m_bytes;
    std::vector<std::string> m_names;
    std::vector<Field> m_fields;
    std::vector<std::uint32_t> m_rowStart;  // index into m_fields; one past the last row too
    CsvEncoding m_encoding = CsvEncoding::ShiftJis;
};

Result<CsvTable> parseCsv(std::string bytes, CsvEncoding encoding = CsvEncoding::Auto,
                          const CsvLimits& limits = {});
Result<CsvTable> readCsvFile(const std::filesystem::path& path,
                             CsvEncoding encoding = CsvEncoding::Auto,
                             const CsvLimits& limits = {});

}  // namespace tarn::db
