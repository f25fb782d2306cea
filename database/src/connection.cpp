#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <utility>

#include "common/cp932.h"
#include "common/files.h"
#include "common/sjis.h"
#include "database/db_connection.h"
#include "source.h"

namespace tarn::db {
namespace detail {

Result<std::string> sjisNameToUtf8(std::string_view sjis) {
    auto r = cp932::toUtf8(sjis);
    if (!r) {
        return makeError("the name is not valid Shift_JIS: " + r.error().message);
    }
    return r;
}

Result<std::vector<std::size_t>> resolveColumns(const SelectQuery& q,
                                                const std::vector<DbValue>& names) {
    std::vector<std::size_t> columns;
    if (q.allColumns) {
        for (std::size_t i = 0; i < names.size(); ++i) {
            columns.push_back(i);
        }
        return columns;
    }
    std::vector<std::string> texts;
    for (const auto& n : names) {
        auto t = valueToText(n);
        texts.push_back(t ? std::move(t.value()) : std::string());
    }
    for (const auto& wanted : q.columns) {
        std::size_t i = 0;
        while (i < texts.size() && !sjis::equalsIgnoreCase(texts[i], wanted)) {
            ++i;
        }
        if (i == texts.size()) {
            return makeError("no field named \"" + cp932::toUtf8Lossy(wanted) + "\" in \"" +
                             cp932::toUtf8Lossy(q.table) + "\"");
        }
        columns.push_back(i);
    }
    return columns;
}

namespace {

class MemoryCursor final : public Cursor {
public:
    MemoryCursor(std::shared_ptr<const MemoryTable> t, std::vector<std::size_t> columns,
                 std::string readOnlyReason)
        : m_table(std::move(t)),
          m_columns(std::move(columns)),
          m_readOnlyReason(std::move(readOnlyReason)) {}
    std::string readOnlyReason() const override { return m_readOnlyReason; }
    std::size_t fieldCount() const override { return m_columns.size(); }
    const DbValue& fieldName(std::size_t c) const override { return m_table->names[m_columns[c]]; }
    Result<bool> seek(std::size_t row) override {
        if (row >= m_table->rows.size()) {
            return false;
        }
        m_row = row;
        return true;
    }
    void value(std::size_t c, DbValue& out) const override {
        const auto& row = m_table->rows[m_row];
        const std::size_t col = m_columns[c];
        if (col < row.size()) {
            out = row[col];
        } else {
            out = DbNull{};
        }
    }

private:
    std::shared_ptr<const MemoryTable> m_table;
    std::vector<std::size_t> m_columns;
    std::string m_readOnlyReason;
    std::size_t m_row = 0;
};

}  // namespace

Result<std::unique_ptr<Cursor>> openMemoryQuery(std::string_view query,
                                                const ReadMemoryTable& readTable,
                                                std::string readOnlyReason) {
    auto q = parseSelect(query);
    if (!q) {
        return q.error();
    }
    auto table = readTable(q->table);
    if (!table) {
        return table.error();
    }
    auto columns = resolveColumns(q.value(), table.value()->names);
    if (!columns) {
        return columns.error();
    }
    return std::unique_ptr<Cursor>(std::make_unique<MemoryCursor>(
        std::move(table.value()), std::move(columns.value()), std::move(readOnlyReason)));
}

}  // namespace detail

// ---------------------------------------------------------------------------
// DbConnection

DbConnection::DbConnection() = default;
DbConnection::~DbConnection() = default;

bool DbConnection::fail(Error e) const {
    m_lastError = std::move(e);
    return false;
}

bool DbConnection::Open(int type, std::string_view source) {
    if (m_source) {
        return fail(makeError("the connection is already open"));
    }
    if (type == kExchange) {
        return fail(makeError("Exchange sources (type 5) are not supported"));
    }
    if (type < kOdbc || type > kText) {
        return fail(makeError("unknown source type " + std::to_string(type)));
    }
    Result<std::shared_ptr<detail::Source>> opened = makeError("");
    if (type == kOdbc) {
        opened = detail::openOdbcSource(source);
    } else {
        auto path = detail::sjisNameToUtf8(source);
        if (!path) {
            return fail(path.error());
        }
        if (type != kText) {
            // An Access or Excel source is one file. The libraries that read them
            // would wait for ever on a FIFO, and read a device without end.
            auto file = openRegularFile(path.value());
            if (!file) {
                return fail(file.error());
            }
            ::close(file->fd);
        }
        if (type == kAccess) {
            opened = detail::openAccessSource(path.value());
        } else if (type == kText) {
            opened = detail::openTextSource(path.value(), m_csvEncoding);
        } else {
            opened = detail::openExcelSource(path.value(), type);
        }
    }
    if (!opened) {
        return fail(opened.error());
    }
    m_source = std::move(opened.value());
    m_type = type;
    return ReadTableList();
}

bool DbConnection::ReadTableList() {
    m_tables.clear();
    m_haveList = false;
    if (!m_source) {
        return fail(makeError("the connection is not open"));
    }
    auto list = m_source->tables();
    if (!list) {
        return fail(list.error());
    }
    for (auto& t : list.value()) {
        m_tables.push_back({std::move(t.type), std::move(t.nameUtf8)});
    }
    m_haveList = true;
    return true;
}

int DbConnection::TableCount() const {
    return m_haveList ? static_cast<int>(m_tables.size()) : 0;
}

std::optional<std::string> DbConnection::TableType(int i) const {
    if (!m_haveList || i < 0 || i >= TableCount()) {
        return std::nullopt;
    }
    return m_tables[static_cast<std::size_t>(i)].type;
}

std::optional<std::string> DbConnection::TableName(int i) const {
    if (!m_haveList || i < 0 || i >= TableCount()) {
        return std::nullopt;
    }
    auto r = cp932::fromUtf8(m_tables[static_cast<std::size_t>(i)].nameUtf8);
    if (!r) {
        m_lastError = makeError("table \"" + m_tables[static_cast<std::size_t>(i)].nameUtf8 +
                                "\": " + r.error().message);
        return std::nullopt;
    }
    return std::move(r.value());
}

std::optional<std::string> DbConnection::TableNameUtf8(int i) const {
    if (!m_haveList || i < 0 || i >= TableCount()) {
        return std::nullopt;
    }
    return m_tables[static_cast<std::size_t>(i)].nameUtf8;
}

bool DbConnection::Close() {
    if (!m_source) {
        return fail(makeError("the connection is not open"));
    }
    m_source.reset();
    m_tables.clear();
    m_haveList = false;
    m_type = -1;
    return true;
}

std::string DbConnection::IdentifierQuote() const {
    return m_source ? m_source->identifierQuote() : std::string("`");
}

// ---------------------------------------------------------------------------
// DbRecordset

DbRecordset::DbRecordset() = default;
DbRecordset::~DbRecordset() = default;

bool DbRecordset::fail(Error e) const {
    m_lastError = std::move(e);
    return false;
}

bool DbRecordset::requireOpen() const {
    return m_cursor ? true : fail(makeError("the record set is not open"));
}

bool DbRecordset::Open(DbConnection& connection, std::string_view source, LockType lock) {
    if (m_cursor) {
        return fail(makeError("the record set is already open"));
    }
    if (!connection.m_source) {
        return fail(makeError("the connection is not open"));
    }
    auto cursor = connection.m_source->open(source);
    if (!cursor) {
        return fail(cursor.error());
    }
    m_cursor = std::move(cursor.value());
    m_lock = lock;
    m_adding = m_newWritten = false;
    m_newRow.clear();
    m_field = -1;
    m_pos = -1;
    m_bof = m_eof = false;
    if (!MoveFirst()) {
        m_cursor.reset();
        return false;
    }
    return true;
}

int DbRecordset::FieldCount() const {
    return m_cursor ? static_cast<int>(m_cursor->fieldCount()) : 0;
}

bool DbRecordset::SelectField(int i) {
    if (!requireOpen()) {
        return false;
    }
    if (i < 0 || i >= FieldCount()) {
        return fail(makeError("field " + std::to_string(i) +
                              " does not exist; the record set has " +
                              std::to_string(FieldCount()) + " fields"));
    }
    m_field = i;
    return true;
}

std::optional<std::string> DbRecordset::FieldName() const {
    if (!m_cursor || m_field < 0) {
        return std::nullopt;
    }
    const DbValue& name = m_cursor->fieldName(static_cast<std::size_t>(m_field));
    if (!isString(name)) {
        return std::nullopt;
    }
    auto text = valueToText(name);
    if (!text) {
        m_lastError = makeError("field " + std::to_string(m_field) + ": " + text.error().message);
        return std::nullopt;
    }
    return std::move(text.value());
}

const DbValue& DbRecordset::FieldValue() const {
    if (m_adding && m_field >= 0) {
        m_value = m_newRow[static_cast<std::size_t>(m_field)];
    } else if (!m_cursor || m_field < 0 || m_bof || m_eof) {
        m_value = DbEmpty{};
    } else {
        m_cursor->value(static_cast<std::size_t>(m_field), m_value);
    }
    return m_value;
}

std::optional<std::string> DbRecordset::FieldText() const {
    const DbValue& v = FieldValue();
    if (!isString(v)) {
        return std::nullopt;
    }
    auto text = valueToText(v);
    if (!text) {
        m_lastError = text.error();
        return std::nullopt;
    }
    return std::move(text.value());
}

Result<std::string> DbRecordset::FieldAsText() const {
    std::string out;
    if (!FieldAsText(out)) {
        return m_lastError;
    }
    return out;
}

bool DbRecordset::FieldAsText(std::string& out) const {
    out.clear();
    if (m_adding && m_field >= 0) {
        auto text = valueToText(m_newRow[static_cast<std::size_t>(m_field)]);
        if (!text) {
            return fail(text.error());
        }
        out = std::move(text.value());
        return true;
    }
    if (!m_cursor || m_field < 0 || m_bof || m_eof) {
        return true;
    }
    auto status = m_cursor->text(static_cast<std::size_t>(m_field), out);
    if (!status) {
        out.clear();
        // Say where, so that a person can find the value in the source.
        std::string field = std::to_string(m_field);
        if (auto name = FieldName()) {
            field = "\"" + cp932::toUtf8Lossy(*name) + "\"";
        }
        return fail(makeError("row " + std::to_string(m_pos + 1) + ", field " + field + ": " +
                              status.error().message));
    }
    return true;
}

bool DbRecordset::seekTo(long long row) {
    auto r = m_cursor->seek(static_cast<std::size_t>(row));
    if (!r) {
        return fail(r.error());
    }
    if (r.value()) {
        m_pos = row;
        m_bof = m_eof = false;
    } else {
        m_pos = row;
        m_bof = false;
        m_eof = true;
    }
    return true;
}

bool DbRecordset::MoveFirst() {
    if (!requireOpen() || !endNewRow() || !seekTo(0)) {
        return false;
    }
    if (m_eof) {  // no rows at all
        m_bof = true;
        m_pos = -1;
    }
    return true;
}

bool DbRecordset::MoveNext() {
    if (!requireOpen() || !endNewRow()) {
        return false;
    }
    if (m_eof) {
        return fail(makeError("cannot move past the end of the record set"));
    }
    return seekTo(m_pos + 1);
}

bool DbRecordset::MovePrevious() {
    if (!requireOpen() || !endNewRow()) {
        return false;
    }
    if (m_bof) {
        return fail(makeError("cannot move before the start of the record set"));
    }
    if (m_pos == 0) {
        m_pos = -1;
        m_bof = true;
        m_eof = false;
        return true;
    }
    return seekTo(m_pos - 1);
}

bool DbRecordset::MoveLast() {
    if (!requireOpen() || !endNewRow()) {
        return false;
    }
    if (m_bof && m_eof) {
        return fail(makeError("the record set has no rows"));
    }
    long long row = m_eof ? 0 : m_pos;
    if (!seekTo(row)) {
        return false;
    }
    while (!m_eof) {
        if (!seekTo(row + 1)) {
            return false;
        }
        ++row;
    }
    return seekTo(row - 1);
}

bool DbRecordset::Move(long long n) {
    if (!requireOpen() || !endNewRow()) {
        return false;
    }
    if (n == 0) {
        return (m_bof || m_eof) ? fail(makeError("there is no current row")) : true;
    }
    const long long target = m_pos + n;
    if (target < 0) {
        m_pos = -1;
        m_bof = true;
        m_eof = false;
        return fail(makeError("moving " + std::to_string(n) + " rows goes before the first row"));
    }
    if (!seekTo(target)) {
        return false;
    }
    if (m_eof) {
        return fail(makeError("moving " + std::to_string(n) + " rows goes beyond the last row"));
    }
    return true;
}

bool DbRecordset::Supports(CursorOption option) const {
    if (!m_cursor) {
        return false;
    }
    switch (option) {
        case CursorOption::MovePrevious:
        case CursorOption::HoldRecords:
            return true;
        case CursorOption::AddNew:
        case CursorOption::Update:
        case CursorOption::Delete:
            return m_lock != LockType::ReadOnly && m_cursor->readOnlyReason().empty();
        default:
            return false;
    }
}

bool DbRecordset::requireWritable() const {
    if (!requireOpen()) {
        return false;
    }
    if (m_lock == LockType::ReadOnly) {
        return fail(makeError(
            "the record set was opened read-only; open it with an optimistic or pessimistic lock "
            "to change rows"));
    }
    std::string reason = m_cursor->readOnlyReason();
    return reason.empty() ? true : fail(makeError(std::move(reason)));
}

namespace {

// The row a write is about: the new row's values so far, or the current row.
detail::Cursor::RowRef rowToChange(const detail::Cursor& cursor, bool adding,
                                   const std::vector<DbValue>& newRow, long long pos) {
    detail::Cursor::RowRef row;
    if (adding) {
        row.values = newRow;
        row.isNew = true;
        return row;
    }
    row.number = static_cast<std::size_t>(pos);
    row.values.resize(cursor.fieldCount());
    for (std::size_t c = 0; c < row.values.size(); ++c) {
        cursor.value(c, row.values[c]);
    }
    return row;
}

}  // namespace

bool DbRecordset::reread(bool wrote) {
    const long long was = m_pos;
    auto refreshed = m_cursor->refresh();
    if (refreshed && seekTo(std::max(was, 0LL))) {
        // Before the first row it stays there; a set left empty is at both ends.
        if (was < 0 || (was == 0 && m_eof)) {
            m_pos = -1;
            m_bof = true;
        }
        return true;
    }
    Error e = refreshed ? m_lastError : refreshed.error();
    // The change is in the source even though the view of it is not.
    return fail(makeError((wrote ? "the change was written, but reading the rows again failed: "
                                 : "reading the rows again failed: ") +
                          e.message));
}

bool DbRecordset::endNewRow() {
    if (!m_adding) {
        return true;
    }
    m_adding = false;
    m_newRow.clear();
    const bool wrote = std::exchange(m_newWritten, false);
    return wrote ? reread(false) : true;
}

bool DbRecordset::AddNew() {
    if (!requireWritable() || !endNewRow()) {
        return false;
    }
    m_adding = true;
    m_newWritten = false;
    m_newRow.assign(m_cursor->fieldCount(), DbEmpty{});
    return true;
}

bool DbRecordset::Update(int fieldIndex, const DbValue& value) {
    if (!requireWritable() || (fieldIndex != -1 && !SelectField(fieldIndex))) {
        return false;
    }
    if (m_field < 0) {
        return fail(makeError("no field is selected"));
    }
    const auto column = static_cast<std::size_t>(m_field);
    if (m_adding && !m_newWritten) {
        std::vector<DbValue> values = m_newRow;
        values[column] = value;
        if (auto s = m_cursor->insertRow(values); !s) {
            return fail(s.error());
        }
        m_newRow = std::move(values);
        m_newWritten = true;
        return true;
    }
    if (!m_adding && (m_bof || m_eof)) {
        return fail(makeError("there is no current row to update"));
    }
    auto s = m_cursor->updateRow(rowToChange(*m_cursor, m_adding, m_newRow, m_pos), column, value);
    if (!s) {
        return fail(s.error());
    }
    if (m_adding) {  // the new row shows what was written to it
        m_newRow[column] = value;
        return true;
    }
    return reread(true);
}

bool DbRecordset::Delete(Affect affect) {
    if (!requireWritable()) {
        return false;
    }
    if (affect != Affect::Current) {
        return fail(makeError("only the current row can be deleted"));
    }
    if (m_adding && !m_newWritten) {  // nothing written yet: the new row is dropped
        return endNewRow();
    }
    if (!m_adding && (m_bof || m_eof)) {
        return fail(makeError("there is no current row to delete"));
    }
    if (auto s = m_cursor->deleteRow(rowToChange(*m_cursor, m_adding, m_newRow, m_pos)); !s) {
        return fail(s.error());
    }
    m_adding = m_newWritten = false;
    m_newRow.clear();
    return reread(true);
}

bool DbRecordset::Close() {
    if (!requireOpen()) {
        return false;
    }
    m_adding = m_newWritten = false;
    m_newRow.clear();
    m_cursor.reset();
    m_field = -1;
    m_pos = -1;
    m_bof = m_eof = true;
    return true;
}

int TarnOdbcApi() {
    void* h = dlopen("libodbc.so.2", RTLD_NOW | RTLD_LOCAL);
    if (h == nullptr) {
        return 1;
    }
    dlclose(h);
    return 0;
}

}  // namespace tarn::db
