// Reading an ODBC record set: the query run, its columns described, rows
// fetched forward and each field read in the type the driver reports.
#include <array>
#include <cstdint>

#include "common/utf8.h"
#include "odbc_cursor.h"

namespace tarn::db::detail::odbc {
namespace {

// Longest value read from one field; a longer one is an error, not a truncation.
constexpr std::size_t kMaxFieldBytes = 1u << 20;

}  // namespace

Status OdbcCursor::execute() {
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
        SQLColAttributeW(m_stmt.get(), static_cast<SQLUSMALLINT>(i), SQL_DESC_UNSIGNED, nullptr, 0,
                         nullptr, &isUnsigned);
        Column c;
        c.name = DbWideString{std::move(name)};
        c.sqlType = type;
        c.isUnsigned = isUnsigned == SQL_TRUE;
        m_columns.push_back(std::move(c));
    }
    return Ok{};
}

// The driver's cursor only goes forward; the row before the current one is
// kept, and any other step back runs the query again.
Result<bool> OdbcCursor::seek(std::size_t row) {
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

void OdbcCursor::value(std::size_t c, DbValue& out) const {
    const auto& row = m_usePrevious ? m_previous : m_current;
    out = c < row.size() ? row[c] : DbValue(DbNull{});
}

Result<bool> OdbcCursor::fetch() {
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
Result<std::optional<T>> OdbcCursor::getFixed(std::size_t c, SQLSMALLINT cType) {
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

Error OdbcCursor::columnError(std::size_t c) {
    std::string name = std::get<DbWideString>(m_columns[c].name).utf8;
    return m_link->error("row " + std::to_string(m_fetched + 2) + ", field \"" + name + "\"",
                         SQL_HANDLE_STMT, m_stmt.get());
}

// Text in chunks: a long value arrives over several calls.
Result<std::optional<std::string>> OdbcCursor::getText(std::size_t c, SQLSMALLINT cType) {
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
                             std::get<DbWideString>(m_columns[c].name).utf8 + "\" is longer than " +
                             std::to_string(kMaxFieldBytes) + " bytes");
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

Result<DbValue> OdbcCursor::readColumn(std::size_t c) {
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
            return fixed(std::uint8_t{}, SQL_C_BIT, [](std::uint8_t v) { return DbBool{v != 0}; });
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

}  // namespace tarn::db::detail::odbc
