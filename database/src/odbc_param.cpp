#include "odbc_param.h"

#include <algorithm>
#include <type_traits>
#include <utility>

#include "common/cp932.h"
#include "common/utf8.h"

namespace tarn::db::detail::odbc {
namespace {

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

}  // namespace

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

}  // namespace tarn::db::detail::odbc
