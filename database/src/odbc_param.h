// Values bound to statement parameters when the ODBC layer changes a row.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <array>
#include <cstring>
#include <string>

#include "common/result.h"
#include "database/db_value.h"

namespace tarn::db::detail::odbc {

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

// `v` as a parameter for a column of SQL type `columnType` (0 when unknown),
// its text in UTF-8 for a narrow driver and in UTF-16 for a Unicode one.
Result<Param> makeParam(const DbValue& v, SQLSMALLINT columnType, bool narrow);

}  // namespace tarn::db::detail::odbc
