// The query texts that the file sources (Access, Excel, CSV) understand: exactly
// what the import wizard and the database-send driver build,
//
//   SELECT * FROM `table`
//   SELECT `a`,`b`, ... FROM `table$`
//
// and a bare table name. Keywords ignore case; a name is back-quoted, bracketed
// ([name]) or a plain run of characters without blanks or commas. Names are
// Shift_JIS and scanned double-byte aware, so a trail byte 0x60 is not taken for
// a closing back-quote. Anything else (WHERE, ORDER BY, joins, expressions) is
// refused with the offset where the text stopped making sense.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"

namespace tarn::db {

struct SelectQuery {
    bool allColumns = false;           // SELECT *
    std::vector<std::string> columns;  // in the order given, when not allColumns
    std::string table;
};

Result<SelectQuery> parseSelect(std::string_view text);

}  // namespace tarn::db
