#include "database/csv_reader.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "common/files.h"
#include "common/utf8.h"

namespace tarn::db {
namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

// Bytes that end an unquoted field. In Shift_JIS a trail byte is 0x40 or above,
// so none of these can be the second half of a double-byte character, and the
// scan needs no lead-byte tracking; the same holds for UTF-8.
constexpr std::array<bool, 256> kStops = [] {
    std::array<bool, 256> t{};
    t[static_cast<unsigned char>(',')] = true;
    t[static_cast<unsigned char>('\r')] = true;
    t[static_cast<unsigned char>('\n')] = true;
    return t;
}();

// Position of the first comma, CR or LF at or after `from`, or `size`. Eight
// bytes are tested at a time for the three (the usual "has a zero byte" test on
// the word XORed with each delimiter); the byte loop finds which one it was.
std::size_t findStop(const char* data, std::size_t from, std::size_t size) {
    constexpr std::uint64_t kOnes = 0x0101010101010101ull;
    constexpr std::uint64_t kHigh = 0x8080808080808080ull;
    auto hasZero = [](std::uint64_t v) { return (v - kOnes) & ~v & kHigh; };
    std::size_t i = from;
    while (i + 8 <= size) {
        std::uint64_t w;
        std::memcpy(&w, data + i, 8);
        if (hasZero(w ^ (kOnes * ',')) | hasZero(w ^ (kOnes * '\r')) |
            hasZero(w ^ (kOnes * '\n'))) {
            break;
        }
        i += 8;
    }
    while (i < size && !kStops[static_cast<unsigned char>(data[i])]) {
        ++i;
    }
    return i;
}

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
    const std::size_t size = table.m_bytes.size();
    std::size_t line = 1;
    bool header = true;
    table.m_rowStart.push_back(0);
    // A guess that spares most of the growth steps for typical lists.
    table.m_fields.reserve(size / 10 + 16);

    while (pos < size) {
        const std::size_t recordStart = pos;
        const std::size_t recordLine = line;
        // A line with nothing on it is not a record.
        if (data[pos] == '\n' || data[pos] == '\r') {
            pos += (data[pos] == '\r' && pos + 1 < size && data[pos + 1] == '\n') ? 2 : 1;
            ++line;
            continue;
        }
        const std::size_t firstField = table.m_fields.size();
        for (;;) {  // one field per round
            if (table.m_fields.size() - firstField >= limits.maxFields) {
                return makeError("a CSV record has more than " + std::to_string(limits.maxFields) +
                                     " fields" + where(pos, recordLine),
                                 static_cast<long long>(pos));
            }
            const std::size_t start = pos;
            std::size_t out = pos;  // where unescaped bytes of a quoted field go
            bool quoted = false;
            if (pos < size && data[pos] == '"') {
                quoted = true;
                ++pos;
                for (;;) {
                    const void* q = std::memchr(data + pos, '"', size - pos);
                    if (q == nullptr) {
                        return makeError(
                            "a quoted CSV field is never closed; it starts" + where(start, line),
                            static_cast<long long>(start));
                    }
                    const auto at = static_cast<std::size_t>(static_cast<const char*>(q) - data);
                    line += static_cast<std::size_t>(std::count(data + pos, data + at, '\n'));
                    std::memmove(data + out, data + pos, at - pos);
                    out += at - pos;
                    pos = at + 1;
                    if (out - start > limits.maxFieldBytes) {
                        break;
                    }
                    if (pos < size && data[pos] == '"') {  // "" stands for one quote
                        data[out++] = '"';
                        ++pos;
                        continue;
                    }
                    break;
                }
            }
            // Unquoted bytes (or stray bytes after a closing quote) up to the delimiter.
            const std::size_t end = findStop(data, pos, size);
            if (quoted) {
                std::memmove(data + out, data + pos, end - pos);
                out += end - pos;
            } else {
                out = end;
            }
            pos = end;
            if (out - start > limits.maxFieldBytes) {
                return makeError("a CSV field is longer than " +
                                     std::to_string(limits.maxFieldBytes) + " bytes; it starts" +
                                     where(start, recordLine),
                                 static_cast<long long>(start));
            }
            if (pos - recordStart > limits.maxRecordBytes) {
                return makeError("a CSV record is longer than " +
                                     std::to_string(limits.maxRecordBytes) + " bytes; it starts" +
                                     where(recordStart, recordLine),
                                 static_cast<long long>(recordStart));
            }
            const std::size_t length = out - start;
            table.m_fields.push_back(
                {static_cast<std::uint32_t>(start),
                 (!quoted && length == 0) ? CsvTable::kNull : static_cast<std::uint32_t>(length)});
            if (pos < size && data[pos] == ',') {
                ++pos;
                continue;
            }
            break;  // end of line or of file
        }
        if (pos < size) {
            pos += (data[pos] == '\r' && pos + 1 < size && data[pos + 1] == '\n') ? 2 : 1;
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
