#include "database/csv_reader.h"

#include <algorithm>
#include <cstring>

#include "common/files.h"
#include "common/text_cursor.h"
#include "common/utf8.h"

namespace tarn::db {
namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

std::string where(std::size_t offset, std::size_t line) {
    return " at byte " + std::to_string(offset) + " (line " + std::to_string(line) + ")";
}

}  // namespace

bool CsvTable::isNull(std::size_t row, std::size_t column) const {
    const std::size_t first = m_rowStart[row];
    const std::size_t count = m_rowStart[row + 1] - first;
    return column >= count || m_fields[first + column].length == kNull;
}

std::string_view CsvTable::field(std::size_t row, std::size_t column) const {
    const std::size_t first = m_rowStart[row];
    const std::size_t count = m_rowStart[row + 1] - first;
    if (column >= count || m_fields[first + column].length == kNull) {
        return {};
    }
    const Field& f = m_fields[first + column];
    return std::string_view(m_bytes).substr(f.offset, f.length);
}

Result<CsvTable> parseCsv(std::string bytes, CsvEncoding encoding, const CsvLimits& limits) {
    if (bytes.size() > limits.maxFileBytes || bytes.size() >= CsvTable::kNull) {
        return makeError("the CSV file has " + std::to_string(bytes.size()) + " bytes; at most " +
                         std::to_string(limits.maxFileBytes) + " are read");
    }
    CsvTable table;
    std::size_t pos = 0;
    const bool bom = std::string_view(bytes).substr(0, 3) == kBom;
    if (encoding == CsvEncoding::Auto) {
        bool multi = false;
        encoding = (bom || (utf8::isValid(bytes, &multi) && multi)) ? CsvEncoding::Utf8
                                                                    : CsvEncoding::ShiftJis;
    }
    if (encoding == CsvEncoding::Utf8 && bom) {
        pos = kBom.size();
    }
    table.m_encoding = encoding;
    table.m_bytes = std::move(bytes);

    char* const data = table.m_bytes.data();
    TextCursor in(table.m_bytes, pos);
    std::size_t line = 1;
    bool header = true;
    table.m_rowStart.push_back(0);
    // A guess that spares most of the growth steps for typical lists.
    table.m_fields.reserve(table.m_bytes.size() / 10 + 16);

    while (!in.atEnd()) {
        const std::size_t recordStart = in.offset();
        const std::size_t recordLine = line;
        if (in.skipLineEnd()) {  // a line with nothing on it is not a record
            ++line;
            continue;
        }
        const std::size_t firstField = table.m_fields.size();
        do {
            if (table.m_fields.size() - firstField >= limits.maxFields) {
                return makeError("a CSV record has more than " + std::to_string(limits.maxFields) +
                                     " fields" + where(in.offset(), recordLine),
                                 static_cast<long long>(in.offset()));
            }
            const std::size_t start = in.offset();
            std::size_t out = start;  // where the unescaped bytes of a quoted field go
            const bool quoted = in.skip('"');
            // The quote and the delimiters are below 0x40, so none of them is
            // ever the second byte of a Shift_JIS character (nor part of a UTF-8
            // sequence): the scans need no lead-byte tracking. Unescaping only
            // ever shortens a field, so `out` stays behind the cursor.
            while (quoted) {
                const std::string_view piece = in.takeUntil('"');
                if (!in.skip('"')) {
                    return makeError(
                        "a quoted CSV field is never closed; it starts" + where(start, line),
                        static_cast<long long>(start));
                }
                line += static_cast<std::size_t>(std::count(piece.begin(), piece.end(), '\n'));
                std::memmove(data + out, piece.data(), piece.size());
                out += piece.size();
                if (out - start > limits.maxFieldBytes || !in.skip('"')) {
                    break;
                }
                data[out++] = '"';  // "" stands for one quote
            }
            // Unquoted bytes (or stray bytes after a closing quote) up to the delimiter.
            const std::string_view rest = in.takeUntilAny(',', '\r', '\n');
            if (quoted) {
                std::memmove(data + out, rest.data(), rest.size());
                out += rest.size();
            } else {
                out = in.offset();
            }
            if (out - start > limits.maxFieldBytes) {
                return makeError("a CSV field is longer than " +
                                     std::to_string(limits.maxFieldBytes) + " bytes; it starts" +
                                     where(start, recordLine),
                                 static_cast<long long>(start));
            }
            if (in.offset() - recordStart > limits.maxRecordBytes) {
                return makeError("a CSV record is longer than " +
                                     std::to_string(limits.maxRecordBytes) + " bytes; it starts" +
                                     where(recordStart, recordLine),
                                 static_cast<long long>(recordStart));
            }
            const std::size_t length = out - start;
            table.m_fields.push_back(
                {static_cast<std::uint32_t>(start),
                 (!quoted && length == 0) ? CsvTable::kNull : static_cast<std::uint32_t>(length)});
        } while (in.skip(','));
        if (in.skipLineEnd()) {
            ++line;
        }
        if (!header && table.m_fields.size() - firstField > table.m_names.size()) {
            table.m_fields.resize(firstField + table.m_names.size());  // beyond the header
        }
        if (header) {
            header = false;
            for (std::size_t i = firstField; i < table.m_fields.size(); ++i) {
                const auto& f = table.m_fields[i];
                std::string name = f.length == CsvTable::kNull
                                       ? std::string()
                                       : std::string(data + f.offset, f.length);
                // The text driver names a column without a heading by its position.
                table.m_names.push_back(name.empty() ? "F" + std::to_string(i - firstField + 1)
                                                     : std::move(name));
            }
            table.m_fields.resize(firstField);
            continue;
        }
        table.m_rowStart.push_back(static_cast<std::uint32_t>(table.m_fields.size()));
    }
    return table;
}

Result<CsvTable> readCsvFile(const std::filesystem::path& path, CsvEncoding encoding,
                             const CsvLimits& limits) {
    auto bytes = readWholeFile(path, limits.maxFileBytes);
    if (!bytes) {
        return bytes.error();
    }
    return parseCsv(std::move(bytes.value()), encoding, limits);
}

}  // namespace tarn::db
