#include "csv_edit.h"

#include <algorithm>
#include <variant>

#include "common/cp932.h"
#include "common/utf8.h"

namespace tarn::db::detail {

std::vector<RawRecord> scanCsvRecords(std::string_view b, std::size_t pos) {
    std::vector<RawRecord> out;
    const std::size_t n = b.size();
    while (pos < n) {
        if (b[pos] == '\n' || b[pos] == '\r') {  // blank lines are no records, as when reading
            pos = (b[pos] == '\r' && pos + 1 < n && b[pos + 1] == '\n') ? pos + 2 : pos + 1;
            continue;
        }
        RawRecord r;
        r.start = pos;
        for (;;) {
            const std::size_t fieldStart = pos;
            if (pos < n && b[pos] == '"') {
                ++pos;
                for (;;) {
                    const std::size_t q = b.find('"', pos);
                    pos = q == std::string_view::npos ? n : q + 1;
                    if (pos < n && b[pos] == '"') {
                        ++pos;
                        continue;
                    }
                    break;
                }
            }
            pos = std::min(b.find_first_of(",\r\n", pos), n);
            r.fields.emplace_back(fieldStart, pos);
            if (pos < n && b[pos] == ',') {
                ++pos;
                continue;
            }
            break;
        }
        r.end = pos;
        if (pos < n) {
            pos = (b[pos] == '\r' && pos + 1 < n && b[pos + 1] == '\n') ? pos + 2 : pos + 1;
        }
        r.next = pos;
        out.push_back(std::move(r));
    }
    return out;
}

std::string csvLineEnd(std::string_view bytes, const std::vector<RawRecord>& records) {
    if (records.empty() || records.front().next == records.front().end) {
        return "\r\n";
    }
    const RawRecord& header = records.front();
    return std::string(bytes.substr(header.end, header.next - header.end));
}

Result<std::string> encodeCsvField(const DbValue& v, CsvEncoding encoding) {
    if (isNull(v) || std::holds_alternative<DbEmpty>(v)) {
        return std::string();
    }
    std::string text;
    if (const auto* w = std::get_if<DbWideString>(&v)) {
        if (!utf8::isValid(w->utf8)) {
            return makeError("the value is not valid UTF-8");
        }
        if (encoding == CsvEncoding::Utf8) {
            text = w->utf8;
        } else {
            auto s = cp932::fromUtf8(w->utf8);
            if (!s) {
                return makeError("a Shift_JIS file cannot hold the value: " + s.error().message);
            }
            text = std::move(s.value());
        }
    } else {
        auto sjisText = valueToText(v);
        if (!sjisText) {
            return sjisText.error();
        }
        // Checked even for a Shift_JIS file: a broken double-byte character
        // would swallow the delimiter after it for any reader.
        auto u = cp932::toUtf8(sjisText.value());
        if (!u) {
            return makeError("the value is not valid Shift_JIS: " + u.error().message);
        }
        text = encoding == CsvEncoding::Utf8 ? std::move(u.value()) : std::move(sjisText.value());
    }
    if (!text.empty() && text.find_first_of(",\"\r\n") == std::string::npos) {
        return text;
    }
    std::string quoted = "\"";
    for (char ch : text) {
        quoted += ch;
        if (ch == '"') {
            quoted += '"';
        }
    }
    quoted += '"';
    return quoted;
}

void setCsvField(std::string& bytes, const RawRecord& r, std::size_t column,
                 std::string_view field) {
    if (column < r.fields.size()) {
        const auto& [from, to] = r.fields[column];
        bytes.replace(from, to - from, field);
    } else {  // a record shorter than the header grows to the field
        bytes.insert(r.end, std::string(column + 1 - r.fields.size(), ',').append(field));
    }
}

void removeCsvRecord(std::string& bytes, const RawRecord& r) {
    bytes.erase(r.start, r.next - r.start);
}

void appendCsvRecord(std::string& bytes, const std::vector<RawRecord>& records,
                     std::vector<std::string> fields, std::string_view lineEnd) {
    if (std::all_of(fields.begin(), fields.end(), [](const auto& f) { return f.empty(); }) &&
        !fields.empty()) {
        fields[0] = "\"\"";  // a blank line would be no record at all
    }
    if (!records.empty() && records.back().next == bytes.size() &&
        records.back().end == bytes.size()) {
        bytes += lineEnd;  // the last record had no line end
    }
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) {
            bytes += ',';
        }
        bytes += fields[i];
    }
    bytes += lineEnd;
}

}  // namespace tarn::db::detail
