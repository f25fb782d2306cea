// Filling an address book from an outside source: the system address book
// (vCard), an Access file, an Excel workbook, a CSV file or an ODBC data source.
//
// The import wizard and `tarn book import` both describe what to read in an
// ImportRequest, then
//
//   auto staged = readImport(request, &progress);     // any thread; the book untouched
//   if (!staged) ... "インポートに失敗しました。" with staged.error()
//   auto report = applyImport(doc, std::move(staged.value()));  // the book's thread
//
// Reading comes first and whole, so that a cancel, or a source that cannot be
// opened, leaves the book as it was. A row that cannot become a record (an
// address or a company and name the conditions ask for and it lacks, a character
// Shift_JIS cannot hold, a field over the record's limit, the book's 99,999
// records reached) is listed in the report with its row number and the reason;
// nothing is dropped or cut short without a word.
//
// All texts are Shift_JIS like the rest of the core, except the report's
// messages, which are UTF-8 for the person reading them.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "addressbook/document.h"
#include "common/result.h"
#include "database/csv_reader.h"

namespace tarn::addressbook {

// The wizard's first page, in its order.
enum class ImportKind : int { AddressBook = 0, Access = 1, Excel = 2, Csv = 3, Odbc = 4 };
// The wizard's Excel versions. An .xlsx workbook is read as what it is under
// either choice.
enum class ExcelVersion : int { Excel97 = 0, Excel95 = 1 };
// What to take from the system address book.
enum class AddressBookScope : int { All = 0, Group = 1, Folder = 2 };

struct ImportSource {
    ImportKind kind = ImportKind::Csv;
    // Kinds 0-3: the file (kind 0 also a folder of .vcf files; kind 3 the CSV
    // file itself, whose folder is the data source). Kind 4: the ODBC
    // connection string ("DSN=..." or "FILEDSN=...").
    std::string source;
    // Kinds 1-4: the table, the bare sheet name (no "$") or the CSV file name.
    // Kind 0: the group or folder chosen, by scope.
    std::string table;
    ExcelVersion excelVersion = ExcelVersion::Excel97;
    bool odbcEnclose = true;  // "テーブル名、フィールド名を囲む"
    db::CsvEncoding csvEncoding = db::CsvEncoding::Auto;
    AddressBookScope scope = AddressBookScope::All;
};

// The sixteen column slots in the mapping's order. The name is the first part
// directly followed by the second, as 姓 and 名 make a Japanese name.
enum ImportSlot : std::size_t {
    kSlotCompany,
    kSlotDepartment,
    kSlotTitle,
    kSlotName1,
    kSlotName2,
    kSlotEmail,
    kSlotFree1,  // kSlotFree1 + i is free field i + 1
};
inline constexpr std::size_t kSlotCount = 16;

struct ImportMapping {
    std::array<std::string, kSlotCount> columns;  // a column name, or empty: not mapped
    std::string honorific;                        // 敬称 of every record imported
};

struct ImportRequest {
    ImportSource source;
    ImportMapping mapping;
    bool skipWithoutEmail = true;  // "E-Mailが入っていないものは除外する。"
    bool skipWithoutCompanyAndName =
        true;  // "会社名および名前のどちらも入っていないものは除外する。"
    std::uint16_t folder = 0;  // destination: 0 = none, n = folder n
    bool deleteFirst = false;  // remove every record before importing
};

// Rows read so far and (when the source can tell cheaply) how many there are;
// `cancel` stops the read between two rows. Shared between the reading thread
// and the one that shows progress.
struct ImportProgress {
    std::atomic<long long> rowsRead{0};
    std::atomic<long long> rowsTotal{-1};
    std::atomic<bool> cancel{false};
};

struct ImportProblem {
    long long row = 0;      // 1-based number of the row among the source's data rows
    std::string message;    // UTF-8
    bool excluded = false;  // left out by a condition the person chose
};

struct StagedImport {
    ImportRequest request;
    std::vector<Record> records;
    std::vector<long long> recordRows;  // the source row of each record
    std::vector<ImportProblem> problems;
    long long rowsRead = 0;
    bool cancelled = false;
    // A read that failed part way: the rows before it are kept.
    std::string readError;  // UTF-8, empty when the source was read to its end
};

struct ImportReport {
    std::size_t imported = 0;
    long long rowsRead = 0;
    std::size_t removedFirst = 0;  // records removed by delete-first
    std::vector<ImportProblem> problems;
    std::string readError;
    bool cancelled = false;  // nothing was changed

    std::size_t excludedCount() const;
    std::size_t failedCount() const;  // rows that could not be imported
};

// --- what the wizard lists

// The tables of a source of kinds 1-4: for Access and ODBC only tables and
// views, for Excel bare sheet names, for CSV the files of the folder. A file
// that does not exist gives an empty list; a source that cannot be opened, an
// error.
Result<std::vector<std::string>> listTables(const ImportSource& source);
// The field names of the chosen table. An Excel sheet whose only field is "F1"
// has none. Kind 0 gives the seven texts of an address-book entry.
Result<std::vector<std::string>> listFields(const ImportSource& source);
// The groups and folders of the system address book (kind 0), by name.
Result<std::vector<std::string>> listAddressBookGroups(std::string_view bookPath);
Result<std::vector<std::string>> listAddressBookFolders(std::string_view bookPath);

// Excel's table names as the sheet list shows them: enclosing single quotes
// removed and the trailing "$" cut.
std::string bareSheetName(std::string_view table);
// The texts that build the queries, exposed for tests.
std::string fieldListQuery(const ImportSource& source);
std::string importQuery(const ImportSource& source, const ImportMapping& mapping);

// The seven texts of an address-book entry, as listFields gives them for kind 0,
// and the mapping the wizard offers for them.
const std::vector<std::string>& addressBookFields();
ImportMapping addressBookMapping();

// --- the import

// Reads the rows into records. Fails, having read nothing into the book, when
// the source cannot be opened or the request is not one that can be imported.
Result<StagedImport> readImport(const ImportRequest& request, ImportProgress* progress = nullptr);
// Applies what was read through the document's own calls, so that its
// listeners hear of it: delete-first when asked (records removed, so groups
// emptied), then the records appended in row order up to the book's limit. The
// undo list is emptied (an import is not undone). A cancelled read changes
// nothing; a book that a send or check holds refuses, unchanged. Marks the book
// modified when it changed.
Result<ImportReport> applyImport(CTarnSendDoc& doc, StagedImport staged);

}  // namespace tarn::addressbook
