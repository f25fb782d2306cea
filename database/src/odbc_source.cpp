// Source type 0: ODBC through the unixODBC driver manager.
//
// Text goes to a Unicode driver as UTF-16 through the wide entry points, and to
// a driver that has only the narrow ones (the SQLite driver, for one) as UTF-8
// through those. The driver manager would otherwise convert between the two
// through ISO-8859-1 and garble every Japanese character. Which kind a driver
// is shows in a round trip of Japanese text through SQLNativeSql. The layer
// converts to Shift_JIS only when a caller asks for text.
#include <dlfcn.h>
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <system_error>
#include <type_traits>
#include <utility>

#include "common/cp932.h"
#include "common/files.h"
#include "common/sjis.h"
#include "common/utf8.h"
#include "database/csv_reader.h"
#include "database/db_connection.h"
#include "odbc_query.h"
#include "source.h"

namespace tarn::db::detail {
namespace {

// Longest value read from one field; a longer one is an error, not a truncation.
constexpr std::size_t kMaxFieldBytes = 1u << 20;

void appendUtf8(std::string& out, const SQLWCHAR* s, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        char32_t cp = s[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < n && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        }
        utf8::append(out, cp);  // a lone surrogate half from the driver becomes U+FFFD
    }
}

std::string toUtf8(const SQLWCHAR* s, std::size_t n) {
    std::string out;
    appendUtf8(out, s, n);
    return out;
}

std::size_t wideLength(const SQLWCHAR* s, std::size_t max) {
    std::size_t n = 0;
    while (n < max && s[n] != 0) {
        ++n;
    }
    return n;
}

// A move-only ODBC handle of one kind.
class Handle {
public:
    Handle() = default;
    Handle(SQLSMALLINT type, SQLHANDLE h) : m_type(type), m_h(h) {}
    Handle(Handle&& o) noexcept : m_type(o.m_type), m_h(std::exchange(o.m_h, SQLHANDLE{})) {}
    Handle& operator=(Handle&& o) noexcept {
        if (this != &o) {
            reset();
            m_type = o.m_type;
            m_h = std::exchange(o.m_h, SQLHANDLE{});
        }
        return *this;
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() { reset(); }
    void reset() {
        if (m_h != SQL_NULL_HANDLE) {
            if (m_type == SQL_HANDLE_DBC) {
                SQLDisconnect(m_h);
            }
            SQLFreeHandle(m_type, m_h);
            m_h = SQL_NULL_HANDLE;
        }
    }
    SQLHANDLE get() const { return m_h; }
    SQLSMALLINT type() const { return m_type; }

private:
    SQLSMALLINT m_type = 0;
    SQLHANDLE m_h = SQL_NULL_HANDLE;
};

// "what: [SQLSTATE] driver message" for every diagnostic record.
Error diagnostics(const std::string& what, SQLSMALLINT type, SQLHANDLE h, bool narrow = false) {
    std::string msg = what;
    for (SQLSMALLINT rec = 1; rec <= 5 && h != SQL_NULL_HANDLE; ++rec) {
        SQLINTEGER native = 0;
        SQLSMALLINT len = 0;
        std::string state, text;
        if (narrow) {
            std::array<SQLCHAR, 6> st{};
            std::array<SQLCHAR, 2048> tx{};
            if (!SQL_SUCCEEDED(SQLGetDiagRec(type, h, rec, st.data(), &native, tx.data(),
                                             static_cast<SQLSMALLINT>(tx.size()), &len))) {
                break;
            }
            state = reinterpret_cast<const char*>(st.data());
            text = reinterpret_cast<const char*>(tx.data());
        } else {
            std::array<SQLWCHAR, 6> st{};
            std::array<SQLWCHAR, 1024> tx{};
            if (!SQL_SUCCEEDED(SQLGetDiagRecW(type, h, rec, st.data(), &native, tx.data(),
                                              static_cast<SQLSMALLINT>(tx.size()), &len))) {
                break;
            }
            state = toUtf8(st.data(), wideLength(st.data(), 5));
            text = toUtf8(tx.data(), wideLength(tx.data(), tx.size()));
        }
        msg += rec == 1 ? ": " : "; ";
        msg += "[" + state + "] " + text;
    }
    return makeError(msg);
}

Result<Handle> allocate(SQLSMALLINT type, SQLHANDLE parent) {
    SQLHANDLE h = SQL_NULL_HANDLE;
    if (!SQL_SUCCEEDED(SQLAllocHandle(type, parent, &h))) {
        return makeError("the ODBC driver manager could not allocate a handle");
    }
    return Handle(type, h);
}

struct Column {
    DbValue name;
    SQLSMALLINT sqlType = 0;
    bool isUnsigned = false;
};

// ---------------------------------------------------------------------------
// Writing: the statements that change the table a query reads (odbc_query.h).

// A value bound to a statement parameter; the buffers stay where they are
// until the statement has run.
struct Param {
    SQLSMALLINT cType = SQL_C_CHAR;
    SQLSMALLINT sqlType = SQL_VARCHAR;
    SQLULEN size = 1;
    SQLSMALLINT digits = 0;
    SQLLEN ind = 0;
    SQLLEN bufferBytes = 0;
    alignas(8) std::array<unsigned char, 32> fixed{};
    std::string narrow;
    std::u16string wide;

    template <class T>
    void setFixed(SQLSMALLINT c, SQLSMALLINT s, const T& v) {
        static_assert(sizeof(T) <= sizeof(fixed));
        cType = c, sqlType = s;
        std::memcpy(fixed.data(), &v, sizeof v);
        ind = bufferBytes = sizeof v;
    }
    void* data() {
        if (cType == SQL_C_WCHAR) {
            return wide.data();
        }
        if (cType == SQL_C_CHAR) {
            return narrow.data();
        }
        return fixed.data();
    }
};

bool isCharType(SQLSMALLINT t) {
    return t == SQL_CHAR || t == SQL_VARCHAR || t == SQL_LONGVARCHAR || t == SQL_WCHAR ||
           t == SQL_WVARCHAR || t == SQL_WLONGVARCHAR;
}

bool isTimestampType(SQLSMALLINT t) {
    return t == SQL_TYPE_TIMESTAMP || t == SQL_TIMESTAMP;
}

// Text for a parameter: UTF-8 for a narrow driver, UTF-16 for a Unicode one.
void setText(Param& p, std::string utf8, bool narrow, SQLSMALLINT columnType) {
    if (narrow) {
        p.cType = SQL_C_CHAR;
        p.sqlType = isCharType(columnType) ? SQLSMALLINT{SQL_VARCHAR} : columnType;
        p.narrow = std::move(utf8);
        p.ind = p.bufferBytes = static_cast<SQLLEN>(p.narrow.size());
        p.size = std::max<std::size_t>(p.narrow.size(), 1);
    } else {
        p.cType = SQL_C_WCHAR;
        p.sqlType = isCharType(columnType) ? SQLSMALLINT{SQL_WVARCHAR} : columnType;
        p.wide = utf8::toUtf16(utf8);
        p.ind = p.bufferBytes = static_cast<SQLLEN>(p.wide.size() * sizeof(char16_t));
        p.size = std::max<std::size_t>(p.wide.size(), 1);
    }
}

Result<Param> makeParam(const DbValue& v, SQLSMALLINT columnType, bool narrow) {
    Param p;
    p.sqlType = columnType != 0 ? columnType : SQLSMALLINT{SQL_VARCHAR};
    if (isNull(v) || std::holds_alternative<DbEmpty>(v)) {
        p.narrow = std::string(1, '\0');
        p.ind = SQL_NULL_DATA;
        return p;
    }
    if (const auto* a = std::get_if<DbAnsiString>(&v)) {
        auto u = cp932::toUtf8(a->bytes);
        if (!u) {
            return makeError("the value is not valid Shift_JIS: " + u.error().message);
        }
        setText(p, std::move(u.value()), narrow, columnType);
    } else if (const auto* w = std::get_if<DbWideString>(&v)) {
        if (!utf8::isValid(w->utf8)) {
            return makeError("the value is not valid UTF-8");
        }
        setText(p, w->utf8, narrow, columnType);
    } else if (const auto* b = std::get_if<DbBool>(&v)) {
        p.setFixed(SQL_C_BIT, SQL_BIT, static_cast<unsigned char>(b->value ? 1 : 0));
    } else if (const auto* f = std::get_if<float>(&v)) {
        p.setFixed(SQL_C_FLOAT, SQL_REAL, *f);
    } else if (const auto* d = std::get_if<double>(&v)) {
        p.setFixed(SQL_C_DOUBLE, SQL_DOUBLE, *d);
    } else if (const auto* date = std::get_if<DbDate>(&v)) {
        if (!date->hasDate) {
            SQL_TIME_STRUCT t{static_cast<SQLUSMALLINT>(date->hour),
                              static_cast<SQLUSMALLINT>(date->minute),
                              static_cast<SQLUSMALLINT>(date->second)};
            p.setFixed(SQL_C_TYPE_TIME, SQL_TYPE_TIME, t);
        } else if (date->hasTime || isTimestampType(columnType)) {
            SQL_TIMESTAMP_STRUCT t{static_cast<SQLSMALLINT>(date->year),
                                   static_cast<SQLUSMALLINT>(date->month),
                                   static_cast<SQLUSMALLINT>(date->day),
                                   static_cast<SQLUSMALLINT>(date->hour),
                                   static_cast<SQLUSMALLINT>(date->minute),
                                   static_cast<SQLUSMALLINT>(date->second),
                                   0};
            p.setFixed(SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, t);
            p.size = 19;
        } else {
            SQL_DATE_STRUCT t{static_cast<SQLSMALLINT>(date->year),
                              static_cast<SQLUSMALLINT>(date->month),
                              static_cast<SQLUSMALLINT>(date->day)};
            p.setFixed(SQL_C_TYPE_DATE, SQL_TYPE_DATE, t);
            p.size = 10;
        }
    } else if (std::holds_alternative<DbCurrency>(v) || std::holds_alternative<DbDecimal>(v)) {
        auto text = valueToText(v);  // plain ASCII digits
        if (!text) {
            return text.error();
        }
        p.cType = SQL_C_CHAR;
        p.sqlType = SQL_NUMERIC;
        p.narrow = std::move(text.value());
        const auto dot = p.narrow.find('.');
        p.digits =
            static_cast<SQLSMALLINT>(dot == std::string::npos ? 0 : p.narrow.size() - dot - 1);
        p.size = std::max<std::size_t>(p.narrow.size(), 1);
        p.ind = p.bufferBytes = static_cast<SQLLEN>(p.narrow.size());
    } else {
        // The integer kinds; DbInt8 is a character, as the conversion table has it.
        std::int64_t n = 0;
        if (const auto* c = std::get_if<DbInt8>(&v)) {
            return makeParam(DbAnsiString{std::string(1, static_cast<char>(c->value))}, columnType,
                             narrow);
        }
        std::visit(
            [&](const auto& x) {
                using T = std::decay_t<decltype(x)>;
                if constexpr (std::is_integral_v<T>) {
                    n = static_cast<std::int64_t>(x);
                }
            },
            v);
        p.setFixed(SQL_C_SBIGINT, SQL_BIGINT, n);
        p.size = 19;
    }
    return p;
}

// The environment and connection handles, shared by the source and every
// cursor it opened, so that a record set outlives a closed DbConnection safely.
struct OdbcLink {
    Handle env;
    Handle dbc;
    bool narrow = false;  // the driver takes UTF-8 through the narrow entry points

    Error error(const std::string& what, SQLSMALLINT type, SQLHANDLE h) const {
        return diagnostics(what, type, h, narrow);
    }
};

class OdbcCursor final : public Cursor {
public:
    OdbcCursor(std::shared_ptr<OdbcLink> link, std::string queryUtf8, std::string quote)
        : m_link(std::move(link)),
          m_query(std::move(queryUtf8)),
          m_wideQuery(utf8::toUtf16(m_query)),
          m_quote(std::move(quote)) {}

    Status execute() {
        auto stmt = allocate(SQL_HANDLE_STMT, m_link->dbc.get());
        if (!stmt) {
            return stmt.error();
        }
        m_stmt = std::move(stmt.value());
        SQLRETURN rc =
            m_link->narrow
                ? SQLExecDirect(m_stmt.get(), reinterpret_cast<SQLCHAR*>(m_query.data()),
                                static_cast<SQLINTEGER>(m_query.size()))
                : SQLExecDirectW(m_stmt.get(), reinterpret_cast<SQLWCHAR*>(m_wideQuery.data()),
                                 static_cast<SQLINTEGER>(m_wideQuery.size()));
        if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA) {
            return m_link->error("the query failed", SQL_HANDLE_STMT, m_stmt.get());
        }
        m_fetched = -1;
        m_haveCurrent = m_havePrevious = m_usePrevious = m_atEnd = m_stale = false;
        if (!m_columns.empty()) {
            return Ok{};
        }
        SQLSMALLINT n = 0;
        if (!SQL_SUCCEEDED(SQLNumResultCols(m_stmt.get(), &n)) || n <= 0) {
            return makeError("the query returned no result set");
        }
        for (SQLSMALLINT i = 1; i <= n; ++i) {
            SQLSMALLINT nameLen = 0, type = 0, digits = 0, nullable = 0;
            SQLULEN size = 0;
            std::string name;
            SQLRETURN drc;
            if (m_link->narrow) {
                std::array<SQLCHAR, 1024> buf{};
                drc = SQLDescribeCol(m_stmt.get(), static_cast<SQLUSMALLINT>(i), buf.data(),
                                     static_cast<SQLSMALLINT>(buf.size()), &nameLen, &type, &size,
                                     &digits, &nullable);
                name = reinterpret_cast<const char*>(buf.data());
            } else {
                std::array<SQLWCHAR, 512> buf{};
                drc = SQLDescribeColW(m_stmt.get(), static_cast<SQLUSMALLINT>(i), buf.data(),
                                      static_cast<SQLSMALLINT>(buf.size()), &nameLen, &type, &size,
                                      &digits, &nullable);
                name = toUtf8(buf.data(), wideLength(buf.data(), buf.size()));
            }
            if (!SQL_SUCCEEDED(drc)) {
                return m_link->error("cannot describe column " + std::to_string(i), SQL_HANDLE_STMT,
                                     m_stmt.get());
            }
            SQLLEN isUnsigned = SQL_FALSE;
            SQLColAttributeW(m_stmt.get(), static_cast<SQLUSMALLINT>(i), SQL_DESC_UNSIGNED, nullptr,
                             0, nullptr, &isUnsigned);
            Column c;
            c.name = DbWideString{std::move(name)};
            c.sqlType = type;
            c.isUnsigned = isUnsigned == SQL_TRUE;
            m_columns.push_back(std::move(c));
        }
        return Ok{};
    }

    std::size_t fieldCount() const override { return m_columns.size(); }
    const DbValue& fieldName(std::size_t c) const override { return m_columns[c].name; }

    // The driver's cursor only goes forward; the row before the current one is
    // kept, and any other step back runs the query again.
    Result<bool> seek(std::size_t row) override {
        const auto want = static_cast<long long>(row);
        if (want == m_fetched && m_haveCurrent) {
            m_usePrevious = false;
            return true;
        }
        if (want == m_fetched - 1 && m_havePrevious) {
            m_usePrevious = true;
            return true;
        }
        if (want <= m_fetched || m_stale) {
            if (auto s = execute(); !s) {
                return s.error();
            }
        } else if (m_atEnd) {
            return false;
        }
        while (m_fetched < want) {
            auto r = fetch();
            if (!r) {
                return r.error();
            }
            if (!r.value()) {
                m_atEnd = true;
                return false;
            }
        }
        m_usePrevious = false;
        return true;
    }

    void value(std::size_t c, DbValue& out) const override {
        const auto& row = m_usePrevious ? m_previous : m_current;
        out = c < row.size() ? row[c] : DbValue(DbNull{});
    }

    // Called once the query has run: whether, and how, its rows can be changed.
    void prepareWriting() {
        m_target = singleTable(m_query, m_quote);
        if (!m_target) {
            m_writeReason =
                "rows can be changed only in a record set on one table (a table name, or "
                "SELECT ... FROM one table with at most WHERE and ORDER BY)";
            return;
        }
        SQLUINTEGER mode = SQL_MODE_READ_WRITE;
        if (SQL_SUCCEEDED(
                SQLGetConnectAttr(m_link->dbc.get(), SQL_ATTR_ACCESS_MODE, &mode, 0, nullptr)) &&
            mode == SQL_MODE_READ_ONLY) {
            m_writeReason = "the data source is read-only";
            return;
        }
        readPrimaryKey();
    }

    std::string readOnlyReason() const override { return m_writeReason; }

    Status insertRow(const std::vector<DbValue>& values) override {
        std::string names, marks;
        std::vector<Param> params;
        for (std::size_t c = 0; c < values.size(); ++c) {
            if (std::holds_alternative<DbEmpty>(values[c])) {
                continue;
            }
            auto p = makeParam(values[c], m_columns[c].sqlType, m_link->narrow);
            if (!p) {
                return fieldError(c, p.error());
            }
            params.push_back(std::move(p.value()));
            names += (names.empty() ? "" : ", ") + quoted(columnName(c));
            marks += marks.empty() ? "?" : ", ?";
        }
        if (names.empty()) {  // only DbEmpty given: every column takes its default
            return run("INSERT INTO " + tableSql() + " DEFAULT VALUES", params);
        }
        return run("INSERT INTO " + tableSql() + " (" + names + ") VALUES (" + marks + ")", params);
    }

    Status updateRow(const RowRef& row, std::size_t column, const DbValue& value) override {
        auto p = makeParam(value, m_columns[column].sqlType, m_link->narrow);
        if (!p) {
            return fieldError(column, p.error());
        }
        std::vector<Param> params;
        params.push_back(std::move(p.value()));
        std::string sql = "UPDATE " + tableSql() + " SET " + quoted(columnName(column)) + " = ?";
        if (auto s = appendWhere(row, sql, params); !s) {
            return s;
        }
        return run(sql, params);
    }

    Status deleteRow(const RowRef& row) override {
        std::vector<Param> params;
        std::string sql = "DELETE FROM " + tableSql();
        if (auto s = appendWhere(row, sql, params); !s) {
            return s;
        }
        return run(sql, params);
    }

    Status refresh() override { return execute(); }

private:
    const std::string& columnName(std::size_t c) const {
        return std::get<DbWideString>(m_columns[c].name).utf8;
    }

    Error fieldError(std::size_t c, const Error& e) const {
        return makeError("field \"" + columnName(c) + "\": " + e.message);
    }

    std::string quoted(const std::string& name) const {
        std::string out = m_quote;
        for (char ch : name) {
            out += ch;
            if (m_quote.size() == 1 && ch == m_quote[0]) {
                out += ch;
            }
        }
        return out + m_quote;
    }

    const std::string& tableSql() const { return m_target->sql; }

    // The record-set columns of the table's primary key, in key order; empty
    // when the driver names none or the set lacks one of them.
    void readPrimaryKey() {
        auto stmt = allocate(SQL_HANDLE_STMT, m_link->dbc.get());
        if (!stmt) {
            return;
        }
        std::string schema = m_target->schema, name = m_target->name;
        std::u16string wideSchema = utf8::toUtf16(schema), wideName = utf8::toUtf16(name);
        SQLRETURN rc =
            m_link->narrow
                ? SQLPrimaryKeys(
                      stmt->get(), nullptr, 0,
                      schema.empty() ? nullptr : reinterpret_cast<SQLCHAR*>(schema.data()),
                      static_cast<SQLSMALLINT>(schema.size()),
                      reinterpret_cast<SQLCHAR*>(name.data()),
                      static_cast<SQLSMALLINT>(name.size()))
                : SQLPrimaryKeysW(
                      stmt->get(), nullptr, 0,
                      wideSchema.empty() ? nullptr : reinterpret_cast<SQLWCHAR*>(wideSchema.data()),
                      static_cast<SQLSMALLINT>(wideSchema.size()),
                      reinterpret_cast<SQLWCHAR*>(wideName.data()),
                      static_cast<SQLSMALLINT>(wideName.size()));
        if (!SQL_SUCCEEDED(rc)) {
            return;
        }
        std::vector<std::pair<SQLSMALLINT, std::size_t>> keys;  // KEY_SEQ, column
        for (int guard = 0; guard < 1024 && SQL_SUCCEEDED(SQLFetch(stmt->get())); ++guard) {
            std::array<SQLWCHAR, 513> wide{};
            std::array<SQLCHAR, 1537> narrowName{};
            SQLLEN ind = 0;
            SQLRETURN rc2 = m_link->narrow
                                ? SQLGetData(stmt->get(), 4, SQL_C_CHAR, narrowName.data(),
                                             narrowName.size() - 1, &ind)
                                : SQLGetData(stmt->get(), 4, SQL_C_WCHAR, wide.data(),
                                             sizeof wide - sizeof(SQLWCHAR), &ind);
            SQLSMALLINT seq = 0;
            SQLLEN seqInd = 0;
            if (!SQL_SUCCEEDED(rc2) || ind == SQL_NULL_DATA ||
                !SQL_SUCCEEDED(SQLGetData(stmt->get(), 5, SQL_C_SSHORT, &seq, 0, &seqInd))) {
                return;
            }
            const std::string key =
                m_link->narrow ? std::string(reinterpret_cast<const char*>(narrowName.data()))
                               : toUtf8(wide.data(), wideLength(wide.data(), wide.size()));
            std::size_t c = 0;
            while (c < m_columns.size() && columnName(c) != key) {
                ++c;
            }
            if (c == m_columns.size()) {
                return;  // a key column the set does not read
            }
            keys.emplace_back(seq, c);
        }
        std::sort(keys.begin(), keys.end());
        for (const auto& k : keys) {
            m_keys.push_back(k.second);
        }
    }

    // " WHERE ..." naming the row: by its key when the set has it, else by
    // every value that compares exactly (reals and values without a text form
    // are left out). run() then refuses unless exactly one row matched.
    Status appendWhere(const RowRef& row, std::string& sql, std::vector<Param>& params) const {
        auto given = [&](std::size_t c) {
            return !isNull(row.values[c]) && !std::holds_alternative<DbEmpty>(row.values[c]);
        };
        const bool byKey = !m_keys.empty() && std::all_of(m_keys.begin(), m_keys.end(), given);
        std::vector<std::size_t> columns = m_keys;
        if (!byKey) {
            columns.clear();
            for (std::size_t c = 0; c < row.values.size(); ++c) {
                columns.push_back(c);
            }
        }
        std::string where;
        for (std::size_t c : columns) {
            const DbValue& v = row.values[c];
            if (std::holds_alternative<DbEmpty>(v) || std::holds_alternative<float>(v) ||
                std::holds_alternative<double>(v)) {
                continue;
            }
            where += where.empty() ? " WHERE " : " AND ";
            where += quoted(columnName(c));
            if (isNull(v)) {
                where += " IS NULL";
                continue;
            }
            auto p = makeParam(v, m_columns[c].sqlType, m_link->narrow);
            if (!p) {
                return fieldError(c, p.error());
            }
            where += " = ?";
            params.push_back(std::move(p.value()));
        }
        if (where.empty()) {
            return makeError("the row has no value that tells it apart from the others");
        }
        sql += where;
        return Ok{};
    }

    // Runs one change in a transaction and keeps it only when exactly one row
    // was affected. The read statement is closed first; the next seek runs the
    // query again.
    Status run(const std::string& sql, std::vector<Param>& params) {
        m_stmt.reset();
        m_stale = true;
        SQLHANDLE dbc = m_link->dbc.get();
        if (!SQL_SUCCEEDED(SQLSetConnectAttr(
                dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0))) {
            return m_link->error("the driver cannot make the change in a transaction",
                                 SQL_HANDLE_DBC, dbc);
        }
        struct AutoCommitBack {
            SQLHANDLE dbc;
            ~AutoCommitBack() {
                SQLSetConnectAttr(dbc, SQL_ATTR_AUTOCOMMIT,
                                  reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0);
            }
        } back{dbc};
        auto rollback = [&](Error e) {
            SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_ROLLBACK);
            return e;
        };
        auto stmt = allocate(SQL_HANDLE_STMT, dbc);
        if (!stmt) {
            return rollback(stmt.error());
        }
        std::string narrowSql = sql;
        std::u16string wideSql = utf8::toUtf16(sql);
        SQLRETURN rc = m_link->narrow
                           ? SQLPrepare(stmt->get(), reinterpret_cast<SQLCHAR*>(narrowSql.data()),
                                        static_cast<SQLINTEGER>(narrowSql.size()))
                           : SQLPrepareW(stmt->get(), reinterpret_cast<SQLWCHAR*>(wideSql.data()),
                                         static_cast<SQLINTEGER>(wideSql.size()));
        if (!SQL_SUCCEEDED(rc)) {
            return rollback(
                m_link->error("the change cannot be prepared", SQL_HANDLE_STMT, stmt->get()));
        }
        for (std::size_t i = 0; i < params.size(); ++i) {
            Param& p = params[i];
            if (!SQL_SUCCEEDED(SQLBindParameter(stmt->get(), static_cast<SQLUSMALLINT>(i + 1),
                                                SQL_PARAM_INPUT, p.cType, p.sqlType, p.size,
                                                p.digits, p.data(), p.bufferBytes, &p.ind))) {
                return rollback(m_link->error("cannot pass a value to the driver", SQL_HANDLE_STMT,
                                              stmt->get()));
            }
        }
        rc = SQLExecute(stmt->get());
        if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA) {
            return rollback(m_link->error("the change failed", SQL_HANDLE_STMT, stmt->get()));
        }
        SQLLEN count = -1;
        if (rc == SQL_NO_DATA) {
            count = 0;
        } else if (!SQL_SUCCEEDED(SQLRowCount(stmt->get(), &count))) {
            count = -1;
        }
        if (count == 0) {
            return rollback(
                makeError("no row matched: it was changed or deleted since it was read; nothing "
                          "was changed"));
        }
        if (count != 1) {
            return rollback(makeError(
                count < 0 ? std::string("the driver did not say how many rows the change affected; "
                                        "nothing was changed")
                          : std::to_string(count) +
                                " rows matched the row, which the table cannot tell apart (no "
                                "primary key); nothing was changed"));
        }
        if (!SQL_SUCCEEDED(SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_COMMIT))) {
            return rollback(
                m_link->error("the change could not be committed", SQL_HANDLE_DBC, dbc));
        }
        return Ok{};
    }

    Result<bool> fetch() {
        SQLRETURN rc = SQLFetch(m_stmt.get());
        if (rc == SQL_NO_DATA) {
            return false;
        }
        if (!SQL_SUCCEEDED(rc)) {
            return m_link->error("reading row " + std::to_string(m_fetched + 2) + " failed",
                                 SQL_HANDLE_STMT, m_stmt.get());
        }
        std::swap(m_previous, m_current);
        m_havePrevious = m_haveCurrent;
        m_current.resize(m_columns.size());
        for (std::size_t c = 0; c < m_columns.size(); ++c) {
            auto v = readColumn(c);
            if (!v) {
                return v.error();
            }
            m_current[c] = std::move(v.value());
        }
        ++m_fetched;
        m_haveCurrent = true;
        return true;
    }

    template <class T>
    Result<std::optional<T>> getFixed(std::size_t c, SQLSMALLINT cType) {
        T v{};
        SQLLEN ind = 0;
        SQLRETURN rc =
            SQLGetData(m_stmt.get(), static_cast<SQLUSMALLINT>(c + 1), cType, &v, sizeof v, &ind);
        if (!SQL_SUCCEEDED(rc)) {
            return columnError(c);
        }
        if (ind == SQL_NULL_DATA) {
            return std::optional<T>();
        }
        return std::optional<T>(v);
    }

    Error columnError(std::size_t c) {
        std::string name = std::get<DbWideString>(m_columns[c].name).utf8;
        return m_link->error("row " + std::to_string(m_fetched + 2) + ", field \"" + name + "\"",
                             SQL_HANDLE_STMT, m_stmt.get());
    }

    // Text in chunks: a long value arrives over several calls.
    Result<std::optional<std::string>> getText(std::size_t c, SQLSMALLINT cType) {
        std::string out;
        std::array<SQLWCHAR, 2048> wbuf{};
        std::array<char, 4096> nbuf{};
        bool any = false;
        for (;;) {
            SQLLEN ind = 0;
            SQLRETURN rc = cType == SQL_C_WCHAR
                               ? SQLGetData(m_stmt.get(), static_cast<SQLUSMALLINT>(c + 1), cType,
                                            wbuf.data(), sizeof wbuf, &ind)
                               : SQLGetData(m_stmt.get(), static_cast<SQLUSMALLINT>(c + 1), cType,
                                            nbuf.data(), sizeof nbuf, &ind);
            if (rc == SQL_NO_DATA) {
                break;
            }
            if (!SQL_SUCCEEDED(rc)) {
                return columnError(c);
            }
            if (ind == SQL_NULL_DATA) {
                return std::optional<std::string>();
            }
            any = true;
            const std::size_t unit = cType == SQL_C_WCHAR ? sizeof(SQLWCHAR) : 1;
            const std::size_t capacity = (cType == SQL_C_WCHAR ? sizeof wbuf : sizeof nbuf) - unit;
            std::size_t bytes = (ind == SQL_NO_TOTAL || static_cast<std::size_t>(ind) > capacity)
                                    ? capacity
                                    : static_cast<std::size_t>(ind);
            if (cType == SQL_C_WCHAR) {
                appendUtf8(out, wbuf.data(), bytes / unit);
            } else {
                out.append(nbuf.data(), bytes);
            }
            if (out.size() > kMaxFieldBytes) {
                return makeError("row " + std::to_string(m_fetched + 2) + ", field \"" +
                                 std::get<DbWideString>(m_columns[c].name).utf8 +
                                 "\" is longer than " + std::to_string(kMaxFieldBytes) + " bytes");
            }
            if (rc == SQL_SUCCESS) {
                break;
            }
        }
        if (!any) {
            return std::optional<std::string>(std::string());
        }
        return std::optional<std::string>(std::move(out));
    }

    Result<DbValue> readColumn(std::size_t c) {
        const Column& col = m_columns[c];
        auto fixed = [&](auto tag, SQLSMALLINT cType, auto make) -> Result<DbValue> {
            auto r = getFixed<decltype(tag)>(c, cType);
            if (!r) {
                return r.error();
            }
            if (!r.value()) {
                return DbValue(DbNull{});
            }
            return DbValue(make(*r.value()));
        };
        switch (col.sqlType) {
            case SQL_BIT:
                return fixed(std::uint8_t{}, SQL_C_BIT,
                             [](std::uint8_t v) { return DbBool{v != 0}; });
            case SQL_TINYINT:
            case SQL_SMALLINT:
                if (col.isUnsigned) {
                    return fixed(std::uint16_t{}, SQL_C_USHORT, [](std::uint16_t v) { return v; });
                }
                return fixed(std::int16_t{}, SQL_C_SSHORT, [](std::int16_t v) { return v; });
            case SQL_INTEGER:
                if (col.isUnsigned) {
                    return fixed(std::uint32_t{}, SQL_C_ULONG, [](std::uint32_t v) { return v; });
                }
                return fixed(std::int32_t{}, SQL_C_SLONG, [](std::int32_t v) { return v; });
            case SQL_BIGINT:
                return fixed(std::int64_t{}, SQL_C_SBIGINT, [](std::int64_t v) { return v; });
            case SQL_REAL:
                return fixed(float{}, SQL_C_FLOAT, [](float v) { return v; });
            case SQL_FLOAT:
            case SQL_DOUBLE:
                return fixed(double{}, SQL_C_DOUBLE, [](double v) { return v; });
            case SQL_DECIMAL:
            case SQL_NUMERIC: {
                auto t = getText(c, SQL_C_CHAR);
                if (!t) {
                    return t.error();
                }
                return t.value() ? DbValue(DbDecimal{std::move(*t.value())}) : DbValue(DbNull{});
            }
            case SQL_TYPE_DATE:
            case SQL_DATE:
                return fixed(SQL_DATE_STRUCT{}, SQL_C_TYPE_DATE, [](const SQL_DATE_STRUCT& d) {
                    DbDate v;
                    v.year = d.year, v.month = d.month, v.day = d.day;
                    return v;
                });
            case SQL_TYPE_TIME:
            case SQL_TIME:
                return fixed(SQL_TIME_STRUCT{}, SQL_C_TYPE_TIME, [](const SQL_TIME_STRUCT& t) {
                    DbDate v;
                    v.hasDate = false, v.hasTime = true;
                    v.hour = t.hour, v.minute = t.minute, v.second = t.second;
                    return v;
                });
            case SQL_TYPE_TIMESTAMP:
            case SQL_TIMESTAMP:
                return fixed(SQL_TIMESTAMP_STRUCT{}, SQL_C_TYPE_TIMESTAMP,
                             [](const SQL_TIMESTAMP_STRUCT& t) {
                                 DbDate v;
                                 v.year = t.year, v.month = t.month, v.day = t.day;
                                 v.hour = t.hour, v.minute = t.minute, v.second = t.second;
                                 v.hasTime = t.hour != 0 || t.minute != 0 || t.second != 0;
                                 return v;
                             });
            case SQL_CHAR:
            case SQL_VARCHAR:
            case SQL_LONGVARCHAR:
            case SQL_WCHAR:
            case SQL_WVARCHAR:
            case SQL_WLONGVARCHAR:
            case SQL_GUID: {
                auto t = getText(c, m_link->narrow ? SQL_C_CHAR : SQL_C_WCHAR);
                if (!t) {
                    return t.error();
                }
                return t.value() ? DbValue(DbWideString{std::move(*t.value())}) : DbValue(DbNull{});
            }
            default:  // binary and types without a text form
                return DbValue(DbEmpty{});
        }
    }

    std::shared_ptr<OdbcLink> m_link;
    std::string m_query;
    std::u16string m_wideQuery;
    Handle m_stmt;
    std::vector<Column> m_columns;
    std::vector<DbValue> m_current, m_previous;
    long long m_fetched = -1;  // number of the last row fetched
    bool m_haveCurrent = false;
    bool m_havePrevious = false;
    bool m_usePrevious = false;
    bool m_atEnd = false;
    bool m_stale = false;  // a change closed the statement
    std::string m_quote;
    std::optional<TableRef> m_target;
    std::vector<std::size_t> m_keys;
    std::string m_writeReason;
};

class OdbcSource final : public Source {
public:
    explicit OdbcSource(std::shared_ptr<OdbcLink> link) : m_link(std::move(link)) {}

    Result<std::vector<TableEntry>> tables() override {
        auto stmt = allocate(SQL_HANDLE_STMT, m_link->dbc.get());
        if (!stmt) {
            return stmt.error();
        }
        if (!SQL_SUCCEEDED(
                SQLTablesW(stmt->get(), nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0))) {
            return m_link->error("the driver cannot list its tables", SQL_HANDLE_STMT, stmt->get());
        }
        std::vector<TableEntry> out;
        // The count is what the walk finds: drivers need not report it before.
        for (;;) {
            SQLRETURN rc = SQLFetch(stmt->get());
            if (rc == SQL_NO_DATA) {
                break;
            }
            if (!SQL_SUCCEEDED(rc)) {
                return m_link->error("reading the table list failed", SQL_HANDLE_STMT, stmt->get());
            }
            auto column = [&](SQLUSMALLINT i) {
                std::array<SQLWCHAR, 513> wide{};
                std::array<SQLCHAR, 1537> narrow{};
                SQLLEN ind = 0;
                SQLRETURN rc2 = m_link->narrow
                                    ? SQLGetData(stmt->get(), i, SQL_C_CHAR, narrow.data(),
                                                 narrow.size() - 1, &ind)
                                    : SQLGetData(stmt->get(), i, SQL_C_WCHAR, wide.data(),
                                                 sizeof wide - sizeof(SQLWCHAR), &ind);
                if (!SQL_SUCCEEDED(rc2) || ind == SQL_NULL_DATA) {
                    return std::string();
                }
                return m_link->narrow ? std::string(reinterpret_cast<const char*>(narrow.data()))
                                      : toUtf8(wide.data(), wideLength(wide.data(), wide.size()));
            };
            out.push_back({column(4), column(3)});  // TABLE_TYPE, TABLE_NAME
        }
        return out;
    }

    Result<std::unique_ptr<Cursor>> open(std::string_view query) override {
        auto utf8 = cp932::toUtf8(query);
        if (!utf8) {
            return makeError("the query is not valid Shift_JIS: " + utf8.error().message);
        }
        std::string quote = identifierQuote();
        // A bare table name reads the whole table, as it does for the file sources.
        if (isBareTableName(utf8.value(), quote)) {
            utf8.value() = "SELECT * FROM " + utf8.value();
        }
        auto cursor = std::make_unique<OdbcCursor>(m_link, std::move(utf8.value()), quote);
        if (auto s = cursor->execute(); !s) {
            return s.error();
        }
        cursor->prepareWriting();
        return std::unique_ptr<Cursor>(std::move(cursor));
    }

    std::string identifierQuote() const override {
        std::array<SQLWCHAR, 8> buf{};
        SQLSMALLINT len = 0;
        if (!SQL_SUCCEEDED(SQLGetInfoW(m_link->dbc.get(), SQL_IDENTIFIER_QUOTE_CHAR, buf.data(),
                                       sizeof buf, &len))) {
            return "\"";
        }
        std::string q = toUtf8(buf.data(), wideLength(buf.data(), buf.size() - 1));
        return q == " " ? std::string() : q;  // a blank means the driver has none
    }

private:
    std::shared_ptr<OdbcLink> m_link;
};

Result<Handle> newEnvironment() {
    // The SQLite driver dlopen()s the ODBC installer library to read a DSN's settings and
    // dlclose()s it again on every connection; the library's cache of parsed odbc.ini files
    // is unloaded with it, never freed and no longer reachable (about 1.7 KB a connection,
    // which the sanitizer build reports as a leak). Holding the library for the process's
    // life keeps the driver's dlclose() from unloading it (nothing is held where it is missing).
    static void* const installer = dlopen("libodbcinst.so.2", RTLD_NOW | RTLD_NODELETE);
    static_cast<void>(installer);
    auto env = allocate(SQL_HANDLE_ENV, SQL_NULL_HANDLE);
    if (!env) {
        return env.error();
    }
    SQLSetEnvAttr(env->get(), SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    return env;
}

Result<Handle> connect(const Handle& env, const std::string& utf8, bool narrow) {
    auto dbc = allocate(SQL_HANDLE_DBC, env.get());
    if (!dbc) {
        return dbc.error();
    }
    std::u16string wide = utf8::toUtf16(utf8);
    std::string bytes = utf8;
    SQLSMALLINT completedLen = 0;
    SQLRETURN rc;
    if (narrow) {
        std::array<SQLCHAR, 2048> completed{};
        rc = SQLDriverConnect(dbc->get(), nullptr, reinterpret_cast<SQLCHAR*>(bytes.data()),
                              static_cast<SQLSMALLINT>(bytes.size()), completed.data(),
                              static_cast<SQLSMALLINT>(completed.size()), &completedLen,
                              SQL_DRIVER_NOPROMPT);
    } else {
        std::array<SQLWCHAR, 1024> completed{};
        rc = SQLDriverConnectW(dbc->get(), nullptr, reinterpret_cast<SQLWCHAR*>(wide.data()),
                               static_cast<SQLSMALLINT>(wide.size()), completed.data(),
                               static_cast<SQLSMALLINT>(completed.size()), &completedLen,
                               SQL_DRIVER_NOPROMPT);
    }
    if (!SQL_SUCCEEDED(rc)) {
        Error e = diagnostics("cannot connect to the ODBC data source", SQL_HANDLE_DBC, dbc->get(),
                              narrow);
        SQLFreeHandle(SQL_HANDLE_DBC, dbc->get());  // never connected: no disconnect
        dbc.value() = Handle();
        return e;
    }
    return dbc;
}

// Whether Japanese text survives the wide entry points of this connection: it
// does when the driver has them, and comes back mangled (or not at all) when
// the driver manager has to narrow it for the driver.
bool takesWideText(const Handle& dbc) {
    std::u16string probe = u"SELECT '\u3042\u9AD9'";
    std::array<SQLWCHAR, 64> back{};
    SQLINTEGER len = 0;
    SQLRETURN rc = SQLNativeSqlW(dbc.get(), reinterpret_cast<SQLWCHAR*>(probe.data()),
                                 static_cast<SQLINTEGER>(probe.size()), back.data(),
                                 static_cast<SQLINTEGER>(back.size()), &len);
    if (!SQL_SUCCEEDED(rc)) {
        return true;  // nothing learnt: a driver without SQLNativeSql keeps the wide path
    }
    const std::size_t n = wideLength(back.data(), back.size());
    return std::u16string(back.begin(), back.begin() + static_cast<std::ptrdiff_t>(n))
               .find(u"\u3042\u9AD9") != std::u16string::npos;
}

// "FILEDSN=path" spelled out as the attributes of the file's [ODBC] section.
// unixODBC reads file DSNs only in its narrow SQLDriverConnect, and a narrow
// connection string reaches a Unicode driver through ISO-8859-1; expanding the
// file here lets both kinds of driver be reached the same way. Attributes
// given in the string itself win over the file's.
Result<std::string> expandFileDsn(const std::string& utf8) {
    auto choice = odbcChoiceFromConnectionString(utf8);
    if (!choice || !sjis::equalsIgnoreCase(std::string_view(choice->connectionString).substr(0, 8),
                                           "FILEDSN=")) {
        return utf8;
    }
    std::string path = choice->name;
    if (sjis::asciiLower(std::filesystem::path(path).extension().string()) != ".dsn") {
        path += ".dsn";
    }
    auto bytes = readWholeFile(path, 64 * 1024);
    if (!bytes) {
        return makeError("cannot read the file data source: " + bytes.error().message);
    }
    std::string rest;  // the string without its FILEDSN attribute
    for (std::size_t at = 0; at < utf8.size();) {
        std::size_t end = utf8.find(';', at);
        if (end == std::string::npos) {
            end = utf8.size();
        }
        std::string_view attr = std::string_view(utf8).substr(at, end - at);
        if (!attr.empty() && !sjis::equalsIgnoreCase(attr.substr(0, 8), "FILEDSN=")) {
            rest.append(attr).append(";");
        }
        at = end + 1;
    }
    const std::string given = ";" + sjis::asciiLower(rest);
    std::string out = rest;
    bool inOdbc = false;
    for (const auto& line : splitLineList(bytes.value())) {
        std::string_view l = line;
        if (!l.empty() && l.front() == '[') {
            inOdbc = sjis::equalsIgnoreCase(l, "[ODBC]");
            continue;
        }
        const auto eq = l.find('=');
        if (!inOdbc || eq == std::string_view::npos || eq == 0) {
            continue;
        }
        std::string key(l.substr(0, eq));
        std::string value(l.substr(eq + 1));
        if (given.find(";" + sjis::asciiLower(key) + "=") != std::string::npos) {
            continue;
        }
        if (value.find(';') != std::string::npos && value.front() != '{') {
            value = "{" + value + "}";
        }
        out += key + "=" + value + ";";
    }
    return out;
}

}  // namespace

Result<std::shared_ptr<Source>> openOdbcSource(std::string_view connectionStringSjis) {
    auto utf8 = cp932::toUtf8(connectionStringSjis);
    if (!utf8) {
        return makeError("the connection string is not valid Shift_JIS: " + utf8.error().message);
    }
    auto link = std::make_shared<OdbcLink>();
    auto env = newEnvironment();
    if (!env) {
        return env.error();
    }
    link->env = std::move(env.value());
    auto expanded = expandFileDsn(utf8.value());
    if (!expanded) {
        return expanded.error();
    }
    utf8.value() = std::move(expanded.value());
    auto first = connect(link->env, utf8.value(), false);
    if (!first) {
        return first.error();
    }
    link->dbc = std::move(first.value());
    link->narrow = !takesWideText(link->dbc);
    const bool ascii = std::all_of(utf8->begin(), utf8->end(),
                                   [](char ch) { return static_cast<unsigned char>(ch) < 0x80; });
    if (link->narrow && !ascii) {
        // The connection string reached the driver through ISO-8859-1: say it again in UTF-8.
        link->dbc.reset();
        auto again = connect(link->env, utf8.value(), true);
        if (!again) {
            return again.error();
        }
        link->dbc = std::move(again.value());
    }
    return std::shared_ptr<Source>(std::make_shared<OdbcSource>(std::move(link)));
}

}  // namespace tarn::db::detail

namespace tarn::db {

std::vector<OdbcSourceEntry> listOdbcSources(const std::string& fileDsnFolder) {
    using namespace detail;
    std::vector<OdbcSourceEntry> out;
    auto env = newEnvironment();
    if (env) {
        SQLUSMALLINT direction = SQL_FETCH_FIRST;
        for (int guard = 0; guard < 10000; ++guard) {
            std::array<SQLWCHAR, 256> name{};
            std::array<SQLWCHAR, 512> description{};
            SQLSMALLINT nameLen = 0, descLen = 0;
            SQLRETURN rc = SQLDataSourcesW(
                env->get(), direction, name.data(), static_cast<SQLSMALLINT>(name.size()), &nameLen,
                description.data(), static_cast<SQLSMALLINT>(description.size()), &descLen);
            if (!SQL_SUCCEEDED(rc)) {
                break;
            }
            direction = SQL_FETCH_NEXT;
            OdbcSourceEntry e;
            e.name = toUtf8(name.data(), wideLength(name.data(), name.size()));
            e.description =
                toUtf8(description.data(), wideLength(description.data(), description.size()));
            e.connectionString = "DSN=" + e.name;
            out.push_back(std::move(e));
        }
    }
    namespace fs = std::filesystem;
    const fs::path folder =
        fileDsnFolder.empty() ? fs::path("/etc/ODBCDataSources") : fs::path(fileDsnFolder);
    std::error_code ec;
    std::vector<OdbcSourceEntry> files;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (sjis::asciiLower(it->path().extension().string()) == ".dsn") {
            OdbcSourceEntry e;
            e.name = it->path().stem().string();
            e.description = "File DSN";
            e.connectionString = "FILEDSN=" + it->path().string();
            e.fileDsn = true;
            files.push_back(std::move(e));
        }
    }
    std::sort(files.begin(), files.end(),
              [](const OdbcSourceEntry& a, const OdbcSourceEntry& b) { return a.name < b.name; });
    out.insert(out.end(), files.begin(), files.end());
    return out;
}

std::optional<OdbcChoice> odbcChoiceFromConnectionString(std::string_view s) {
    // A keyword counts only at the start of an attribute, so "DSN=" inside
    // "FILEDSN=" or inside a value is not taken for the data-source name.
    auto findKey = [&](std::string_view key) -> std::size_t {
        for (std::size_t at = 0; at + key.size() <= s.size(); ++at) {
            if ((at == 0 || s[at - 1] == ';') &&
                sjis::equalsIgnoreCase(s.substr(at, key.size()), key)) {
                return at;
            }
        }
        return std::string_view::npos;
    };
    std::size_t at = findKey("FILEDSN=");
    std::size_t keyLen = 8;
    if (at == std::string_view::npos) {
        at = findKey("DSN=");
        keyLen = 4;
    }
    if (at == std::string_view::npos) {
        return std::nullopt;
    }
    OdbcChoice c;
    c.connectionString = std::string(s.substr(at));
    std::string_view rest = s.substr(at + keyLen);
    c.name = std::string(rest.substr(0, rest.find(';')));
    return c;
}

}  // namespace tarn::db
