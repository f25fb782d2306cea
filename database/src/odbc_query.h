// What the ODBC layer reads out of a query's text: the one table whose rows it
// may change, and whether the text is a bare table name.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tarn::db::detail {

struct TableRef {
    std::string schema;  // UTF-8, without quotes; empty when not given
    std::string name;
    // As the query wrote it, quotes and all: an unquoted name keeps the case
    // folding the server gives it.
    std::string sql;
};

// The one table that "SELECT <columns> FROM <table> [WHERE ...] [ORDER BY ...]"
// reads, so that its rows can be changed; nothing for any other query (joins,
// grouping, DISTINCT, expressions in the column list). `quote` is the driver's
// identifier quote (empty when it has none).
std::optional<TableRef> singleTable(std::string_view sqlUtf8, std::string_view quote);

// True when the whole text is a table name ("table" or "schema.table"), which
// reads the whole table as it does for the file sources.
bool isBareTableName(std::string_view sqlUtf8, std::string_view quote);

}  // namespace tarn::db::detail
