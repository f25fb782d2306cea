// The seam between DbConnection/DbRecordset and the libraries behind each source
// type. A Source lists tables and opens cursors; a Cursor walks rows by number.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "database/csv_reader.h"
#include "database/db_value.h"
#include "database/select_parser.h"

namespace tarn::db::detail {

struct TableEntry {
    std::string type;
    std::string nameUtf8;
};

class Cursor {
public:
    virtual ~Cursor() = default;
    virtual std::size_t fieldCount() const = 0;
    // A string value (wide or Shift_JIS).
    virtual const DbValue& fieldName(std::size_t column) const = 0;
    // Makes row `row` (0-based) current: true when there is such a row, false at
    // the end, an error when the source fails.
    virtual Result<bool> seek(std::size_t row) = 0;
    // A column of the current row.
    virtual void value(std::size_t column, DbValue& out) const = 0;
    // The same through the conversion table into `out` (whose buffer is
    // reused); a source may skip the DbValue.
    virtual Status text(std::size_t column, std::string& out) const {
        DbValue v;
        value(column, v);
        auto t = valueToText(v);
        if (!t) {
            return t.error();
        }
        out = std::move(t.value());
        return Ok{};
    }

    // Writing. A cursor that can write answers an empty reason; the others
    // keep the default and every write call is refused before it reaches them.
    virtual std::string readOnlyReason() const { return "this source can only be read"; }
    // `row` is the row to change as the record set knows it: for a row begun by
    // AddNew, the values written so far (DbEmpty for the others) and `isNew`;
    // else the current row (`number` 0-based) with its values as read.
    struct RowRef {
        std::vector<DbValue> values;
        bool isNew = false;
        std::size_t number = 0;
    };
    // Inserts a row holding the given values (DbEmpty: not given).
    virtual Status insertRow(const std::vector<DbValue>& values) {
        (void)values;
        return makeError(readOnlyReason());
    }
    virtual Status updateRow(const RowRef& row, std::size_t column, const DbValue& value) {
        (void)row, (void)column, (void)value;
        return makeError(readOnlyReason());
    }
    virtual Status deleteRow(const RowRef& row) {
        (void)row;
        return makeError(readOnlyReason());
    }
    // Reads the source again after a write; rows are then sought anew.
    virtual Status refresh() { return Ok{}; }
};

class Source {
public:
    virtual ~Source() = default;
    virtual Result<std::vector<TableEntry>> tables() = 0;
    // query: Shift_JIS, a table name or a SELECT text.
    virtual Result<std::unique_ptr<Cursor>> open(std::string_view query) = 0;
    virtual std::string identifierQuote() const { return "`"; }
};

Result<std::shared_ptr<Source>> openOdbcSource(std::string_view connectionStringSjis);
Result<std::shared_ptr<Source>> openAccessSource(const std::string& pathUtf8);
Result<std::shared_ptr<Source>> openExcelSource(const std::string& pathUtf8, int type);
Result<std::shared_ptr<Source>> openTextSource(const std::string& folderUtf8, CsvEncoding encoding);

// A whole table held in memory (Access, Excel).
struct MemoryTable {
    std::vector<DbValue> names;
    std::vector<std::vector<DbValue>> rows;
};

// Resolves a parsed SELECT against a table's field names (ignoring ASCII case,
// as the file drivers do) and gives the columns to read, in query order.
Result<std::vector<std::size_t>> resolveColumns(const SelectQuery& q,
                                                const std::vector<DbValue>& names);

// A read-only cursor for a SELECT over a table the source reads whole into
// memory (Access, Excel): the query is parsed, readTable reads the table it
// names (Shift_JIS), and the query's columns are resolved against it.
// readOnlyReason: why the library behind the table cannot write it.
using ReadMemoryTable =
    std::function<Result<std::shared_ptr<const MemoryTable>>(const std::string& tableSjis)>;
Result<std::unique_ptr<Cursor>> openMemoryQuery(std::string_view query,
                                                const ReadMemoryTable& readTable,
                                                std::string readOnlyReason);

// Shift_JIS query text -> UTF-8 name, with a clear error.
Result<std::string> sjisNameToUtf8(std::string_view sjis);

// Caps for the tables the file sources hold in memory.
constexpr std::size_t kMaxMemoryRows = 10'000'000;
constexpr std::size_t kMaxMemoryCells = 50'000'000;

}  // namespace tarn::db::detail
