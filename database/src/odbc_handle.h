// ODBC handles and the text the driver manager hands back. A Unicode driver
// speaks UTF-16 through the wide entry points; a driver with only the narrow
// ones (the SQLite driver, for one) speaks UTF-8 through those. OdbcLink
// remembers which kind a connection reached.
#pragma once

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <cstddef>
#include <string>
#include <utility>

#include "common/result.h"

namespace tarn::db::detail::odbc {

// UTF-16 from the driver as UTF-8; a lone surrogate half becomes U+FFFD.
void appendUtf8(std::string& out, const SQLWCHAR* s, std::size_t n);
std::string toUtf8(const SQLWCHAR* s, std::size_t n);
// Length of a NUL-terminated wide buffer, at most `max`.
std::size_t wideLength(const SQLWCHAR* s, std::size_t max);

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
Error diagnostics(const std::string& what, SQLSMALLINT type, SQLHANDLE h, bool narrow = false);

Result<Handle> allocate(SQLSMALLINT type, SQLHANDLE parent);

// An environment handle for ODBC 3.
Result<Handle> newEnvironment();

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

}  // namespace tarn::db::detail::odbc
