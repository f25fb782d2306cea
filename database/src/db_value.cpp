#include "database/db_value.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <type_traits>

#include "common/cp932.h"

namespace tarn::db {
namespace {

template <class... F>
struct Overload : F... {
    using F::operator()...;
};
template <class... F>
Overload(F...) -> Overload<F...>;

template <class Int>
std::string integerText(Int v) {
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

void appendPadded(std::string& out, int v, int width) {
    char buf[16];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    for (auto n = r.ptr - buf; n < width; ++n) {
        out += '0';
    }
    out.append(buf, r.ptr);
}

// Civil date from a day count relative to 1970-01-01 (H. Hinnant's algorithm),
// exact for the whole proleptic Gregorian range the sources can hold.
void civilFromDays(long long z, int& y, int& m, int& d) {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const long long doe = z - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yoe + era * 400 + (m <= 2 ? 1 : 0));
}

}  // namespace

bool dateFromSerial(double serial, DbDate& out) {
    // Years 100 to 9999, the range the serial is defined for.
    if (!std::isfinite(serial) || serial < -657434.0 || serial >= 2958466.0) {
        return false;
    }
    double whole = std::trunc(serial);
    double fraction = std::fabs(serial - whole);
    long long seconds = std::llround(fraction * 86400.0);
    if (seconds >= 86400) {  // rounding up to the next midnight
        seconds -= 86400;
        whole += serial < 0 ? -1.0 : 1.0;
    }
    // 1899-12-30 is day -25569 relative to 1970-01-01.
    civilFromDays(static_cast<long long>(whole) - 25569, out.year, out.month, out.day);
    out.hour = static_cast<int>(seconds / 3600);
    out.minute = static_cast<int>(seconds / 60 % 60);
    out.second = static_cast<int>(seconds % 60);
    out.hasDate = true;
    out.hasTime = seconds != 0;
    return true;
}

std::string formatReal(double v, int significantDigits) {
    if (std::isnan(v)) {
        return "NaN";
    }
    if (std::isinf(v)) {
        return v < 0 ? "-Inf" : "Inf";
    }
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, significantDigits);
    std::string s(buf, r.ptr);
    // A whole number in positional form would print as "12." (the general format
    // keeps its point), and the conversion appends "0" to a text ending in ".".
    if (s.find_first_of(".e") == std::string::npos) {
        s += ".0";
    }
    return s;
}

std::string formatCurrency(std::int64_t units) {
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, static_cast<double>(units) / 10000.0,
                           std::chars_format::general, 15);
    return {buf, r.ptr};  // the general format drops a trailing "."
}

std::string formatDecimal(std::string_view digits) {
    std::string s(digits);
    auto point = s.find('.');
    if (point != std::string::npos && s.find_first_of("eE") == std::string::npos) {
        auto last = s.find_last_not_of('0');
        s.resize(last == point ? point : last + 1);
        if (s == "-0" || s.empty() || s == "-") {
            s = "0";
        }
    }
    return s;
}

std::string formatDate(const DbDate& d) {
    // The Japanese locale's short date and long time: 2023/04/01 9:05:00.
    std::string s;
    if (d.hasDate) {
        appendPadded(s, d.year, 4);
        s += '/';
        appendPadded(s, d.month, 2);
        s += '/';
        appendPadded(s, d.day, 2);
    }
    if (d.hasTime || !d.hasDate) {
        if (!s.empty()) {
            s += ' ';
        }
        appendPadded(s, d.hour, 1);
        s += ':';
        appendPadded(s, d.minute, 2);
        s += ':';
        appendPadded(s, d.second, 2);
    }
    return s;
}

bool isString(const DbValue& v) {
    return std::holds_alternative<DbAnsiString>(v) || std::holds_alternative<DbWideString>(v);
}

bool isNull(const DbValue& v) {
    return std::holds_alternative<DbNull>(v) || std::holds_alternative<DbEmpty>(v);
}

Result<std::string> valueToText(const DbValue& v) {
    return std::visit(
        Overload{
            [](const DbEmpty&) -> Result<std::string> { return std::string(); },
            [](const DbNull&) -> Result<std::string> { return std::string(); },
            [](const DbBool& b) -> Result<std::string> {
                return std::string(b.value ? "-1" : "0");
            },
            [](const DbInt8& c) -> Result<std::string> {
                return std::string(1, static_cast<char>(c.value));
            },
            [](float f) -> Result<std::string> { return formatReal(f, 7); },
            [](double d) -> Result<std::string> { return formatReal(d, 15); },
            [](const DbCurrency& c) -> Result<std::string> { return formatCurrency(c.units); },
            [](const DbDecimal& d) -> Result<std::string> { return formatDecimal(d.digits); },
            [](const DbDate& d) -> Result<std::string> { return formatDate(d); },
            [](const DbAnsiString& s) -> Result<std::string> { return s.bytes; },
            [](const DbWideString& s) -> Result<std::string> { return cp932::fromUtf8(s.utf8); },
            [](auto i) -> Result<std::string> {
                static_assert(std::is_integral_v<decltype(i)>);
                return integerText(i);
            },
        },
        v);
}

}  // namespace tarn::db
