// Source type 0: ODBC through the unixODBC driver manager.
//
// Text goes to a Unicode driver as UTF-16 through the wide entry points, and to
// a driver that has only the narrow ones (the SQLite driver, for one) as UTF-8
// through those. The driver manager would otherwise convert between the two
// through ISO-8859-1 and garble every Japanese character. Which kind a driver
// is shows in a round trip of Japanese text through SQLNativeSql. The layer
// converts to Shift_JIS only when a caller asks for text.
#include <algorithm>
#include <array>
#include <memory>
#include <string>

#include "common/cp932.h"
#include "common/utf8.h"
#include "odbc_cursor.h"
#include "odbc_dsn.h"
#include "odbc_handle.h"
#include "odbc_query.h"
#include "source.h"

namespace tarn::db::detail {
namespace {

using namespace odbc;

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
