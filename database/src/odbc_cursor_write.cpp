// Changing rows of an ODBC record set: the statements that change the one
// table its query reads (see odbc_query.h), each run in a transaction that is
// kept only when exactly one row was affected.
#include <algorithm>
#include <array>
#include <utility>

#include "common/utf8.h"
#include "odbc_cursor.h"

namespace tarn::db::detail::odbc {

// Called once the query has run: whether, and how, its rows can be changed.
void OdbcCursor::prepareWriting() {
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

Status OdbcCursor::insertRow(const std::vector<DbValue>& values) {
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

Status OdbcCursor::updateRow(const RowRef& row, std::size_t column, const DbValue& value) {
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

Status OdbcCursor::deleteRow(const RowRef& row) {
    std::vector<Param> params;
    std::string sql = "DELETE FROM " + tableSql();
    if (auto s = appendWhere(row, sql, params); !s) {
        return s;
    }
    return run(sql, params);
}

const std::string& OdbcCursor::columnName(std::size_t c) const {
    return std::get<DbWideString>(m_columns[c].name).utf8;
}

Error OdbcCursor::fieldError(std::size_t c, const Error& e) const {
    return makeError("field \"" + columnName(c) + "\": " + e.message);
}

std::string OdbcCursor::quoted(const std::string& name) const {
    std::string out = m_quote;
    for (char ch : name) {
        out += ch;
        if (m_quote.size() == 1 && ch == m_quote[0]) {
            out += ch;
        }
    }
    return out + m_quote;
}

// The record-set columns of the table's primary key, in key order; empty
// when the driver names none or the set lacks one of them.
void OdbcCursor::readPrimaryKey() {
    auto stmt = allocate(SQL_HANDLE_STMT, m_link->dbc.get());
    if (!stmt) {
        return;
    }
    std::string schema = m_target->schema, name = m_target->name;
    std::u16string wideSchema = utf8::toUtf16(schema), wideName = utf8::toUtf16(name);
    SQLRETURN rc =
        m_link->narrow
            ? SQLPrimaryKeys(stmt->get(), nullptr, 0,
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
        SQLRETURN rc2 = m_link->narrow ? SQLGetData(stmt->get(), 4, SQL_C_CHAR, narrowName.data(),
                                                    narrowName.size() - 1, &ind)
                                       : SQLGetData(stmt->get(), 4, SQL_C_WCHAR, wide.data(),
                                                    sizeof wide - sizeof(SQLWCHAR), &ind);
        SQLSMALLINT seq = 0;
        SQLLEN seqInd = 0;
        if (!SQL_SUCCEEDED(rc2) || ind == SQL_NULL_DATA ||
            !SQL_SUCCEEDED(SQLGetData(stmt->get(), 5, SQL_C_SSHORT, &seq, 0, &seqInd))) {
            return;
        }
        const std::string key = m_link->narrow
                                    ? std::string(reinterpret_cast<const char*>(narrowName.data()))
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
Status OdbcCursor::appendWhere(const RowRef& row, std::string& sql,
                               std::vector<Param>& params) const {
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
Status OdbcCursor::run(const std::string& sql, std::vector<Param>& params) {
    m_stmt.reset();
    m_stale = true;
    SQLHANDLE dbc = m_link->dbc.get();
    if (!SQL_SUCCEEDED(SQLSetConnectAttr(dbc, SQL_ATTR_AUTOCOMMIT,
                                         reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0))) {
        return m_link->error("the driver cannot make the change in a transaction", SQL_HANDLE_DBC,
                             dbc);
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
                                            SQL_PARAM_INPUT, p.cType, p.sqlType, p.size, p.digits,
                                            p.data(), p.bufferBytes, &p.ind))) {
            return rollback(
                m_link->error("cannot pass a value to the driver", SQL_HANDLE_STMT, stmt->get()));
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
        return rollback(m_link->error("the change could not be committed", SQL_HANDLE_DBC, dbc));
    }
    return Ok{};
}

}  // namespace tarn::db::detail::odbc
