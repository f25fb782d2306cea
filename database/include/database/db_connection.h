// The database access layer: a connection to one of six source types, its table
// list, and record sets over a table or a SELECT text.
//
//   type 0  ODBC (unixODBC)           source: an ODBC connection string ("DSN=...",
//                                     "FILEDSN=...", "DRIVER=...;...")
//   type 1  Access .mdb (mdbtools)    source: the database file
//   type 2  Excel 5.0/95 .xls         source: the workbook; tables are "<sheet>$"
//   type 3  Excel 97-2003 .xls        (both read with FreeXL)
//   type 4  CSV text files            source: the folder; the file name is the table
//   type 5  Exchange                  refused, as is any other number
//
// All text in and out is Shift_JIS (CP932), as everywhere in the core; errors
// are kept for LastError() in UTF-8. Nothing here throws or prints: every failure
// is a false (or empty) result.
//
// The file sources understand the query texts of select_parser.h; ODBC passes
// the text to the driver unchanged.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "database/csv_reader.h"
#include "database/db_value.h"

namespace tarn::db {

enum SourceType : int {
    kOdbc = 0,
    kAccess = 1,
    kExcel95 = 2,
    kExcel97 = 3,
    kText = 4,
    kExchange = 5,
};

// The lock types and cursor options callers pass, with the numbers of the
// original component library, so stored values keep their meaning.
enum class LockType : int { ReadOnly = 1, Pessimistic = 2, Optimistic = 3, BatchOptimistic = 4 };
enum class CursorOption : long {
    HoldRecords = 0x100,
    MovePrevious = 0x200,
    AddNew = 0x1000400,
    Delete = 0x1000800,
    Bookmark = 0x2000,
    ApproxPosition = 0x4000,
    Update = 0x1008000,
    UpdateBatch = 0x10000,
    Resync = 0x20000,
    Find = 0x80000,
};
enum class Affect : int { Current = 1, Group = 2, All = 3 };

namespace detail {
class Source;
class Cursor;
}  // namespace detail

class DbConnection {
public:
    DbConnection();
    ~DbConnection();
    DbConnection(const DbConnection&) = delete;
    DbConnection& operator=(const DbConnection&) = delete;

    // Opens a source and reads its table list; refuses when already open (the
    // open connection stays as it was).
    bool Open(int type, std::string_view source);
    bool ReadTableList();
    int TableCount() const;
    // TABLE_TYPE ("TABLE", "VIEW", "SYSTEM TABLE", ...) and TABLE_NAME of entry i;
    // nothing for an index out of range. A name that CP932 cannot hold gives
    // nothing from TableName() (the reason is in LastError()); TableNameUtf8()
    // shows it anyway.
    std::optional<std::string> TableType(int i) const;
    std::optional<std::string> TableName(int i) const;
    std::optional<std::string> TableNameUtf8(int i) const;
    bool Close();

    bool IsOpen() const { return m_source != nullptr; }
    int Type() const { return m_type; }
    // The character that encloses table and field names in a query: the
    // driver's identifier quote for ODBC (a double quote for most servers), a
    // back-quote for the file sources. Empty when the driver has none.
    std::string IdentifierQuote() const;
    // How a CSV source decodes its files; set before Open (default Auto).
    void SetCsvEncoding(CsvEncoding encoding) { m_csvEncoding = encoding; }

    const Error& LastError() const { return m_lastError; }

private:
    friend class DbRecordset;
    bool fail(Error e) const;

    std::shared_ptr<detail::Source> m_source;
    int m_type = -1;
    CsvEncoding m_csvEncoding = CsvEncoding::Auto;
    struct Entry {
        std::string type;  // ASCII
        std::string nameUtf8;
    };
    std::vector<Entry> m_tables;
    bool m_haveList = false;
    mutable Error m_lastError;
};

class DbRecordset {
public:
    DbRecordset();
    ~DbRecordset();
    DbRecordset(const DbRecordset&) = delete;
    DbRecordset& operator=(const DbRecordset&) = delete;

    // source: a table name or a SELECT text (Shift_JIS). Moves to the first row.
    // The record set keeps what it needs of the connection, so closing the
    // connection first does not invalidate it.
    bool Open(DbConnection& connection, std::string_view source,
              LockType lock = LockType::ReadOnly);
    bool IsOpen() const { return m_cursor != nullptr; }

    int FieldCount() const;
    bool SelectField(int i);
    // The selected field's name; nothing when no field is selected or the name
    // cannot be written in CP932.
    std::optional<std::string> FieldName() const;
    // The selected field's value in the current row (empty at either end).
    const DbValue& FieldValue() const;
    // The value as text only when it is a string, else nothing.
    std::optional<std::string> FieldText() const;
    // Any value as text through the conversion table (db_value.h). The second
    // form reuses the caller's buffer (a loop over many rows allocates little);
    // on failure it leaves `out` empty and the reason in LastError().
    Result<std::string> FieldAsText() const;
    bool FieldAsText(std::string& out) const;

    bool MoveFirst();
    bool MoveLast();
    bool MoveNext();
    bool MovePrevious();
    // Moves n rows from the current one. Landing beyond the last row (or before
    // the first) fails and leaves the set at that end.
    bool Move(long long n);
    bool AtEnd() const { return m_eof; }
    bool AtStart() const { return m_bof; }
    // The 0-based number of the current row (-1 before the first).
    long long Position() const { return m_pos; }

    bool Supports(CursorOption option) const;
    // Every source is opened for reading: these fail with a reason.
    bool AddNew();
    bool Update(int fieldIndex, const DbValue& value);
    bool Delete(Affect affect = Affect::Current);

    bool Close();
    const Error& LastError() const { return m_lastError; }

private:
    bool fail(Error e) const;
    bool seekTo(long long row);
    bool requireOpen() const;

    std::unique_ptr<detail::Cursor> m_cursor;
    long long m_pos = -1;
    bool m_bof = true;
    bool m_eof = true;
    int m_field = -1;
    mutable DbValue m_value;
    mutable Error m_lastError;
};

// TarnOdbcApi: 1 when the ODBC driver manager (libodbc.so.2) cannot be loaded,
// so that the applications can warn that database sources will not work; else 0.
int TarnOdbcApi();

// The ODBC data sources a person can choose from: user and system DSNs, and the
// file DSNs (*.dsn) of the file-DSN folder.
struct OdbcSourceEntry {
    std::string name;              // UTF-8, to show
    std::string description;       // driver description, UTF-8
    std::string connectionString;  // "DSN=name" or "FILEDSN=/path/name.dsn"
    bool fileDsn = false;
};
std::vector<OdbcSourceEntry> listOdbcSources(const std::string& fileDsnFolder = {});

// From a connection string returned by a source chooser: the part from
// "FILEDSN=" (else "DSN=") to the end, and the name after that keyword up to
// the next ";". Nothing when neither keyword is there.
struct OdbcChoice {
    std::string connectionString;
    std::string name;
};
std::optional<OdbcChoice> odbcChoiceFromConnectionString(std::string_view connectionString);

}  // namespace tarn::db
