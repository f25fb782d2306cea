// Source type 4: a folder of CSV files, each file a table.
#include <algorithm>
#include <filesystem>
#include <system_error>
#include <utility>
#include <variant>

#include "common/cp932.h"
#include "common/files.h"
#include "common/sjis.h"
#include "csv_edit.h"
#include "source.h"

namespace tarn::db::detail {
namespace {

namespace fs = std::filesystem;

// The extensions the text driver treats as tables; ".k3" is the export format
// the database-send application's file dialog offers beside ".csv".
bool isTextTable(const fs::path& p) {
    std::string ext = sjis::asciiLower(p.extension().string());
    return ext == ".csv" || ext == ".txt" || ext == ".tab" || ext == ".asc" || ext == ".k3";
}

struct FileStamp {
    std::uintmax_t size = 0;
    fs::file_time_type time;
    bool operator==(const FileStamp&) const = default;
};

Result<FileStamp> stampOf(const fs::path& p) {
    std::error_code ec;
    FileStamp s;
    s.size = fs::file_size(p, ec);
    if (!ec) {
        s.time = fs::last_write_time(p, ec);
    }
    if (ec) {
        return makeError(p.string() + ": " + ec.message());
    }
    return s;
}

class CsvCursor final : public Cursor {
public:
    CsvCursor(std::shared_ptr<const CsvTable> table, std::vector<DbValue> names,
              std::vector<std::size_t> columns, fs::path path, FileStamp stamp)
        : m_table(std::move(table)),
          m_names(std::move(names)),
          m_columns(std::move(columns)),
          m_path(std::move(path)),
          m_stamp(stamp) {}

    std::size_t fieldCount() const override { return m_columns.size(); }
    const DbValue& fieldName(std::size_t c) const override { return m_names[m_columns[c]]; }
    Result<bool> seek(std::size_t row) override {
        if (row >= m_table->rowCount()) {
            return false;
        }
        m_row = row;
        return true;
    }
    void value(std::size_t c, DbValue& out) const override {
        const std::size_t col = m_columns[c];
        if (m_table->isNull(m_row, col)) {
            out = DbNull{};
            return;
        }
        std::string_view f = m_table->field(m_row, col);
        // Assigning into the string already there keeps its buffer.
        if (m_table->encoding() == CsvEncoding::Utf8) {
            if (auto* w = std::get_if<DbWideString>(&out)) {
                w->utf8.assign(f);
            } else {
                out = DbWideString{std::string(f)};
            }
        } else if (auto* a = std::get_if<DbAnsiString>(&out)) {
            a->bytes.assign(f);
        } else {
            out = DbAnsiString{std::string(f)};
        }
    }

    // Straight from the file's bytes: reading a large file is mostly this call.
    Status text(std::size_t c, std::string& out) const override {
        std::string_view f = m_table->field(m_row, m_columns[c]);
        if (m_table->encoding() == CsvEncoding::Utf8) {
            auto t = cp932::fromUtf8(f);
            if (!t) {
                return t.error();
            }
            out = std::move(t.value());
        } else {
            out.assign(f);
        }
        return Ok{};
    }

    std::string readOnlyReason() const override { return {}; }

    Status insertRow(const std::vector<DbValue>& values) override {
        std::vector<std::string> fields(m_table->columnCount());
        for (std::size_t c = 0; c < values.size(); ++c) {
            auto f = encodeCsvField(values[c], m_table->encoding());
            if (!f) {
                return fieldError(c, f.error());
            }
            fields[m_columns[c]] = std::move(f.value());
        }
        return rewrite([&](std::string& bytes, const std::vector<RawRecord>& records) -> Status {
            m_newRow = records.size() - 1;
            appendCsvRecord(bytes, records, std::move(fields), csvLineEnd(bytes, records));
            return Ok{};
        });
    }

    Status updateRow(const RowRef& row, std::size_t column, const DbValue& value) override {
        auto f = encodeCsvField(value, m_table->encoding());
        if (!f) {
            return fieldError(column, f.error());
        }
        return rewrite([&](std::string& bytes, const std::vector<RawRecord>& records) -> Status {
            const std::size_t record = rowNumber(row) + 1;
            if (record >= records.size()) {
                return makeError("the row is no longer in the file");
            }
            setCsvField(bytes, records[record], m_columns[column], f.value());
            return Ok{};
        });
    }

    Status deleteRow(const RowRef& row) override {
        return rewrite([&](std::string& bytes, const std::vector<RawRecord>& records) -> Status {
            const std::size_t record = rowNumber(row) + 1;
            if (record >= records.size()) {
                return makeError("the row is no longer in the file");
            }
            removeCsvRecord(bytes, records[record]);
            return Ok{};
        });
    }

private:
    std::size_t rowNumber(const RowRef& row) const { return row.isNew ? m_newRow : row.number; }

    Error fieldError(std::size_t column, const Error& e) const {
        std::string name = std::holds_alternative<DbWideString>(m_names[m_columns[column]])
                               ? std::get<DbWideString>(m_names[m_columns[column]]).utf8
                               : cp932::toUtf8Lossy(m_table->name(m_columns[column]));
        return makeError("field \"" + name + "\": " + e.message);
    }

    // Reads the file again, lets `edit` change its bytes, writes it through a
    // temporary file and takes the result as the table. The file must be as
    // this cursor last read or wrote it: rows are found by position.
    template <class Edit>
    Status rewrite(Edit edit) {
        auto stamp = stampOf(m_path);
        if (!stamp) {
            return stamp.error();
        }
        if (!(stamp.value() == m_stamp)) {
            return makeError(m_path.string() +
                             " has changed since it was read; open the record set again");
        }
        const CsvLimits limits;
        auto bytes = readWholeFile(m_path, limits.maxFileBytes);
        if (!bytes) {
            return bytes.error();
        }
        const CsvEncoding encoding = m_table->encoding();
        std::size_t start = 0;
        if (encoding == CsvEncoding::Utf8 &&
            std::string_view(bytes.value()).substr(0, 3) == std::string_view("\xEF\xBB\xBF")) {
            start = 3;
        }
        auto records = scanCsvRecords(bytes.value(), start);
        if (records.size() != m_table->rowCount() + 1) {
            return makeError(m_path.string() + " does not hold the rows that were read from it");
        }
        if (auto s = edit(bytes.value(), records); !s) {
            return s;
        }
        auto table = parseCsv(bytes.value(), encoding, limits);
        if (!table) {
            return makeError("the changed file would not read back: " + table.error().message);
        }
        std::error_code ec;
        const auto perms = fs::status(m_path, ec).permissions();
        const unsigned mode = ec ? 0644u : static_cast<unsigned>(perms) & 07777u;
        if (auto s = writeFileAtomically(m_path, bytes.value(), mode); !s) {
            return s;
        }
        m_table = std::make_shared<const CsvTable>(std::move(table.value()));
        auto newStamp = stampOf(m_path);
        if (!newStamp) {
            return newStamp.error();
        }
        m_stamp = newStamp.value();
        return Ok{};
    }

    std::shared_ptr<const CsvTable> m_table;
    std::vector<DbValue> m_names;
    std::vector<std::size_t> m_columns;
    fs::path m_path;
    FileStamp m_stamp;
    std::size_t m_row = 0;
    std::size_t m_newRow = 0;  // where the row begun by AddNew went
};

class TextSource final : public Source {
public:
    TextSource(fs::path folder, CsvEncoding encoding)
        : m_folder(std::move(folder)), m_encoding(encoding) {}

    Result<std::vector<TableEntry>> tables() override {
        std::error_code ec;
        std::vector<TableEntry> out;
        for (fs::directory_iterator it(m_folder, ec), end; !ec && it != end; it.increment(ec)) {
            std::error_code fileEc;
            if (it->is_regular_file(fileEc) && isTextTable(it->path())) {
                out.push_back({"TABLE", it->path().filename().string()});
            }
        }
        if (ec) {
            return makeError("cannot list the folder " + m_folder.string() + ": " + ec.message());
        }
        std::sort(out.begin(), out.end(),
                  [](const TableEntry& a, const TableEntry& b) { return a.nameUtf8 < b.nameUtf8; });
        return out;
    }

    Result<std::unique_ptr<Cursor>> open(std::string_view query) override {
        auto q = parseSelect(query);
        if (!q) {
            return q.error();
        }
        auto file = findFile(q->table);
        if (!file) {
            return file.error();
        }
        auto stamp = stampOf(file.value());
        if (!stamp) {
            return stamp.error();
        }
        auto table = readCsvFile(file.value(), m_encoding);
        if (!table) {
            return makeError(file.value().string() + ": " + table.error().message,
                             table.error().offset);
        }
        auto shared = std::make_shared<const CsvTable>(std::move(table.value()));
        std::vector<DbValue> names;
        for (std::size_t i = 0; i < shared->columnCount(); ++i) {
            if (shared->encoding() == CsvEncoding::Utf8) {
                names.emplace_back(DbWideString{shared->name(i)});
            } else {
                names.emplace_back(DbAnsiString{shared->name(i)});
            }
        }
        auto columns = resolveColumns(q.value(), names);
        if (!columns) {
            return columns.error();
        }
        return std::unique_ptr<Cursor>(
            std::make_unique<CsvCursor>(std::move(shared), std::move(names),
                                        std::move(columns.value()), file.value(), stamp.value()));
    }

private:
    Result<fs::path> findFile(const std::string& tableSjis) const {
        auto name = sjisNameToUtf8(tableSjis);
        if (!name) {
            return name.error();
        }
        const std::string& n = name.value();
        // A table is a file in this folder, never a path elsewhere.
        if (n.empty() || n == "." || n == ".." || n.find('/') != std::string::npos ||
            n.find('\0') != std::string::npos) {
            return makeError("\"" + n + "\" is not a file name in " + m_folder.string());
        }
        std::error_code ec;
        fs::path exact = m_folder / n;
        if (fs::is_regular_file(exact, ec)) {
            return exact;
        }
        // The text driver matches table names without regard to case.
        for (fs::directory_iterator it(m_folder, ec), end; !ec && it != end; it.increment(ec)) {
            if (sjis::equalsIgnoreCase(it->path().filename().string(), n)) {
                return it->path();
            }
        }
        return makeError("no table \"" + n + "\" (no such file in " + m_folder.string() + ")");
    }

    fs::path m_folder;
    CsvEncoding m_encoding;
};

}  // namespace

Result<std::shared_ptr<Source>> openTextSource(const std::string& folderUtf8,
                                               CsvEncoding encoding) {
    std::error_code ec;
    fs::path folder(folderUtf8);
    if (!fs::is_directory(folder, ec)) {
        return makeError("the folder " + folderUtf8 + " does not exist");
    }
    return std::shared_ptr<Source>(std::make_shared<TextSource>(folder, encoding));
}

}  // namespace tarn::db::detail
