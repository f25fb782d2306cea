// A field value as the data sources hand it over, and its conversion to text.
//
// The value keeps the source's own type, so that a caller can tell a number
// from a string (FieldText() answers only for strings); valueToText() turns any
// value into the Shift_JIS text that merge fields and address-book records use.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "common/result.h"

namespace tarn::db {

struct DbDate {
    int year = 1899, month = 12, day = 30;
    int hour = 0, minute = 0, second = 0;
    bool hasDate = true;  // false for a time-of-day value
    bool hasTime = false;
};

// Days since 1899-12-30 with the time of day as the fraction, the serial used by
// Access (and OLE). A negative serial keeps a positive time fraction:
// -1.25 is 1899-12-29 06:00. False for a serial outside years 100-9999.
bool dateFromSerial(double serial, DbDate& out);

// The decimal numbers of an exact type (DECIMAL, NUMERIC) are kept as the
// source printed them.
struct DbDecimal {
    std::string digits;
};
// Currency: a 64-bit count of ten-thousandths.
struct DbCurrency {
    std::int64_t units = 0;
};
// A string already in Shift_JIS (CP932), as a CSV file in that encoding holds it.
struct DbAnsiString {
    std::string bytes;
};
// A string in Unicode (UTF-8), as the libraries and drivers hand it over.
struct DbWideString {
    std::string utf8;
};
struct DbNull {};
struct DbEmpty {};
struct DbBool {
    bool value = false;
};
struct DbInt8 {
    std::int8_t value = 0;
};

using DbValue = std::variant<DbEmpty, DbNull, DbBool, DbInt8, std::uint8_t, std::int16_t,
                             std::uint16_t, std::int32_t, std::uint32_t, std::int64_t, float,
                             double, DbCurrency, DbDecimal, DbDate, DbAnsiString, DbWideString>;

bool isString(const DbValue& v);
bool isNull(const DbValue& v);

// The value-to-text conversion:
//   2-byte integer, boolean                 signed decimal (true is "-1")
//   4-byte and 8-byte integers              signed decimal
//   1-byte and 2-byte unsigned              unsigned decimal
//   1-byte signed                           the byte itself as a one-character text
//   4-byte real                             7 significant digits; a whole number gets ".0"
//   8-byte real                             15 significant digits; a whole number gets ".0"
//   currency                                units / 10000, 15 significant digits, no
//                                           trailing "."
//   decimal                                 plain decimal, trailing fraction zeros removed
//   date                                    "YYYY/MM/DD", "YYYY/MM/DD H:MM:SS" or "H:MM:SS"
//   string                                  Shift_JIS; a character CP932 cannot hold is an
//                                           error naming it (never replaced)
//   empty, null, anything else              ""
Result<std::string> valueToText(const DbValue& v);

// The number parts of the table, shared with tests.
std::string formatReal(double v, int significantDigits);
std::string formatCurrency(std::int64_t units);
std::string formatDecimal(std::string_view digits);
std::string formatDate(const DbDate& d);

}  // namespace tarn::db
