// The database access layer: a connection to one of six source types, its table
// list, and record sets over a table or a SELECT text.
//
//   type 0  ODBC (unixODBC)           source: an ODBC connection string ("DSN=...",
//                                     "FILEDSN=...", "DRIVER=...;...")
//   type 1  Access .mdb (mdbtools)    source: the database file; Access 97 (Jet 3)
//                                     text is read as CP932 unless the
//                                     MDB_JET3_CHARSET variable names another
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

    // MovePrevious and HoldRecords always; AddNew, Update and Delete when the
    // set was opened with a lock other than ReadOnly on a source that can
    // write: a CSV file, or an ODBC query on one table (a table name or
    // "SELECT ... FROM t [WHERE ...] [ORDER BY ...]"). Access and Excel are
    // read-only. Nothing else.
    bool Supports(CursorOption option) const;

    // Writing. Every Update writes at once; nothing waits for a later call.
    //
    // AddNew() begins a new row, which becomes the current row: its fields read
    // as what has been written to them (empty before). The first Update then
    // inserts the row with that one field set (the source's default, or null,
    // in the others); each further Update changes that same row. Any Move, a
    // second AddNew or Close ends the new row: the rows are then read again
    // (the new row shows where the source puts it; for a CSV file, at the end)
    // and the move counts from the row that was current before AddNew.
    //
    // Update(fieldIndex, value) on an existing row changes that field of the
    // current row; fieldIndex -1 means the selected field. Delete(Current)
    // removes the current row (on a new row: removes it, or drops it when
    // nothing was written yet); Group and All are refused. After either, the
    // rows are read again and the same row number is current: the changed row
    // (unless the change moved it elsewhere in the order or out of a WHERE),
    // or after a Delete the row that followed (AtEnd() after the last).
    //
    // Values: Shift_JIS text (DbAnsiString) usually; any DbValue is accepted and
    // a DbNull writes a null (an empty field in CSV). Text that the source's
    // encoding cannot hold is refused with the character named.
    //
    // ODBC finds the row by the table's primary key when the driver names one
    // and every key column is in the record set (and, for a new row, has been
    // written), else by all the row's values (a new row's: those written;
    // reals and binary values are left out as they do not compare exactly).
    // Each change runs in a transaction, rolled back and refused unless it
    // affected exactly one row: duplicate rows of a table without a key
    // cannot be changed one at a time. CSV finds it by its position, and refuses when the file no
    // longer holds that row as it was read. A CSV file is written whole through
    // a temporary file, in its own encoding (Shift_JIS, or UTF-8 with a BOM if
    // it had one) and line ends, and only the changed record differs.
    bool AddNew();
    bool Update(int fieldIndex, const DbValue& value);
    bool Delete(Affect affect = Affect::Current);

    bool Close();
    const Error& LastError() const { return m_lastError; }

private:
    bool fail(Error e) const;
    bool seekTo(long long row);
    bool requireOpen() const;
    bool requireWritable() const;
    bool endNewRow();
    bool reread(bool wrote);

    std::unique_ptr<detail::Cursor> m_cursor;
    LockType m_lock = LockType::ReadOnly;
    bool m_adding = false;      // the current row is one begun by AddNew
    bool m_newWritten = false;  // ... and an Update has inserted it
    std::vector<DbValue> m_newRow;
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
