// The record set of one ODBC query. Rows are read forward through the driver's
// cursor (odbc_cursor_read.cpp); rows of the one table the query reads are
// changed through statements of their own (odbc_cursor_write.cpp).
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/utf8.h"
#include "odbc_handle.h"
#include "odbc_param.h"
#include "odbc_query.h"
#include "source.h"

namespace tarn::db::detail::odbc {

struct Column {
    DbValue name;
    SQLSMALLINT sqlType = 0;
    bool isUnsigned = false;
};

class OdbcCursor final : public Cursor {
public:
    OdbcCursor(std::shared_ptr<OdbcLink> link, std::string queryUtf8, std::string quote)
        : m_link(std::move(link)),
          m_query(std::move(queryUtf8)),
          m_wideQuery(utf8::toUtf16(m_query)),
          m_quote(std::move(quote)) {}

    // Runs the query (again); the first run describes its columns.
    Status execute();
    std::size_t fieldCount() const override { return m_columns.size(); }
    const DbValue& fieldName(std::size_t c) const override { return m_columns[c].name; }
    Result<bool> seek(std::size_t row) override;
    void value(std::size_t c, DbValue& out) const override;

    void prepareWriting();
    std::string readOnlyReason() const override { return m_writeReason; }
    Status insertRow(const std::vector<DbValue>& values) override;
    Status updateRow(const RowRef& row, std::size_t column, const DbValue& value) override;
    Status deleteRow(const RowRef& row) override;
    Status refresh() override { return execute(); }

private:
    Result<bool> fetch();
    template <class T>
    Result<std::optional<T>> getFixed(std::size_t c, SQLSMALLINT cType);
    Error columnError(std::size_t c);
    Result<std::optional<std::string>> getText(std::size_t c, SQLSMALLINT cType);
    Result<DbValue> readColumn(std::size_t c);

    const std::string& columnName(std::size_t c) const;
    Error fieldError(std::size_t c, const Error& e) const;
    std::string quoted(const std::string& name) const;
    const std::string& tableSql() const { return m_target->sql; }
    void readPrimaryKey();
    Status appendWhere(const RowRef& row, std::string& sql, std::vector<Param>& params) const;
    Status run(const std::string& sql, std::vector<Param>& params);

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

}  // namespace tarn::db::detail::odbc
