#include "odbc_handle.h"

#include <dlfcn.h>

#include <array>

#include "common/utf8.h"

namespace tarn::db::detail::odbc {

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

Error diagnostics(const std::string& what, SQLSMALLINT type, SQLHANDLE h, bool narrow) {
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
        msg.append("[").append(state).append("] ").append(text);
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

}  // namespace tarn::db::detail::odbc
