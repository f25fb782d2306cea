// What the database-send application sends to: a source (a workbook sheet, an
// Access or ODBC table, a CSV file), which of its columns feed the address and
// the merge fields, the honorific for every row, and the rows of a run.
//
// Everything here is Shift_JIS, as in the rest of the core.
#pragma once

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarn::dbsend {

// The column boxes of a page, in this order; the honorific is a text of its own.
enum Slot : int {
    kCompany = 0,
    kDepartment = 1,
    kTitle = 2,
    kSurname = 3,
    kGivenName = 4,
    kEmail = 5,
    kFreeField1 = 6,  // ... kFreeField1 + 9 is Freefield10
    kSlotCount = 16,
};

// The honorific box holds at most this many bytes.
inline constexpr std::size_t kHonorificLimit = 10;

// The pages of the window, in tab order; the index is what SendMode stores.
enum class Page : int { kExcel = 0, kAccess = 1, kOdbc = 2, kCsv = 3 };

// The slot's name as the boxes are labelled ("会社名", ..., "Freefield10"), and
// the slot a label names (UTF-8 labels are accepted by the command line).
std::string slotLabel(int slot);
std::optional<int> slotByLabel(std::string_view sjisLabel);

struct SourceSpec {
    int type = 4;         // the database layer's source type (db::SourceType)
    std::string source;   // the workbook, .mdb, ODBC connection string or CSV folder
    std::string table;    // sheet (without "$"), table, or CSV file name
    bool enclose = true;  // ODBC: enclose table and field names in quotes
    std::array<std::string, kSlotCount> fields;  // field names; empty = not mapped
    std::string honorific;                       // used for every row
    // The ODBC driver's identifier quote (db::DbConnection::IdentifierQuote);
    // the file sources take a back-quote.
    std::string odbcQuote = "\"";
};

// The page a source type belongs to, and back (the Excel page's version: 95 or 97).
Page pageOf(int sourceType);

// "SELECT f1,f2,... FROM t": the mapped fields in slot order, each enclosed
// unless the source is ODBC without enclosing. Nothing when no field is mapped.
std::optional<std::string> selectText(const SourceSpec& spec);
// "SELECT * FROM t", the query that lists a table's fields for the boxes.
std::string allFieldsText(const SourceSpec& spec);

// Rows of a run: all, or rows `from` to `to` (1-based, inclusive; `to` 0 = to
// the end).
struct RowRange {
    long long from = 1;
    long long to = 0;
};

// The range dialog's two boxes read as numbers and cut to whole rows: 0 when
// they make a range, else 800 (start), 801 (end) or 802 (end before start).
// "1.9" is row 1; text that is not a number counts as 0.
int parseRange(std::string_view start, std::string_view end, RowRange& range);

// Error box of this application: title "ターノス - エラー  (№%3d)" and the
// code's text; empty text for a code that shows nothing.
std::string errorTitle(int code);
std::string errorText(int code);

// What stops a database send before it starts: the source, its table, the
// mapping or the row range. The number is what the error box shows.
enum class DbSendError : int {
    DbOpen = 1,
    Read = 2,
    RecordOpen = 6,
    NoRows = 7,
    Move = 8,
    NoFileName = 4,
    ExcelNoSheet = 100,
    ExcelNoField = 101,
    ExcelUnknownField = 102,
    ExcelSameField = 103,
    ExcelSheetOpen = 104,
    DbNoName = 200,
    DbNoTable = 201,
    DbNoField = 202,
    DbUnknownField = 203,
    DbTableOpen = 204,
    DbSameField = 205,
    DbNoData = 206,
    CsvFullPath = 303,
    CsvNoFileName = 304,
    CsvOpen = 305,
    CsvUnknownField = 306,
    CsvSameField = 307,
    CsvNoField = 308,
    NoEmailField = 400,
    BadStartRow = 800,
    BadEndRow = 801,
    BadRange = 802,
};

constexpr int errorNumber(DbSendError e) {
    return static_cast<int>(e);
}

// Which box a page problem points the focus at.
struct PageProblem {
    enum class Box { kSource, kTable, kSlot };
    int code = 0;
    Box box = Box::kSource;
    int slot = -1;  // with Box::kSlot
};

// The page's own checks, in the order the page makes them: the file or data
// source, the table, then the mapping against the table's field names (unknown
// names, the same field twice, the address unmapped).
std::optional<PageProblem> validatePage(Page page, const SourceSpec& spec,
                                        const std::vector<std::string>& tableFields);

// The code of a page for a failure to open its file (1 on the Excel and CSV
// pages' file, 5 for a database) or its table.
int openErrorCode(Page page);
int tableErrorCode(Page page);

}  // namespace tarn::dbsend
