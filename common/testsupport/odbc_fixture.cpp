#include "odbc_fixture.h"

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>
#include <unistd.h>

#include <array>
#include <system_error>

namespace tarn::db::dbtest {
namespace {

const char* const kDriverFolder = "/usr/lib/x86_64-linux-gnu/odbc/";
const char* const kPgBin = "/usr/lib/postgresql/15/bin/";

std::u16string widen(const std::string& utf8) {
    std::u16string out;
    for (std::size_t i = 0; i < utf8.size();) {
        auto c = static_cast<unsigned char>(utf8[i]);
        char32_t cp = c;
        std::size_t len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        if (len > 1) {
            cp = c & (0xFF >> (len + 1));
            for (std::size_t k = 1; k < len && i + k < utf8.size(); ++k) {
                cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
            }
        }
        i += len;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return out;
}

std::string diag(SQLSMALLINT type, SQLHANDLE h) {
    std::array<SQLCHAR, 6> state{};
    std::array<SQLCHAR, 1024> text{};
    SQLINTEGER native = 0;
    SQLSMALLINT len = 0;
    if (SQL_SUCCEEDED(SQLGetDiagRec(type, h, 1, state.data(), &native, text.data(),
                                    static_cast<SQLSMALLINT>(text.size()), &len))) {
        return std::string(reinterpret_cast<char*>(state.data())) + " " +
               reinterpret_cast<char*>(text.data());
    }
    return "unknown ODBC error";
}

}  // namespace

std::string driverPath(const std::string& file) {
    std::error_code ec;
    std::string p = std::string(kDriverFolder) + file;
    return std::filesystem::exists(p, ec) ? p : std::string();
}

std::string execute(const std::string& connectionString, const std::vector<std::string>& statements,
                    bool wide) {
    SQLHANDLE env = SQL_NULL_HANDLE, dbc = SQL_NULL_HANDLE, stmt = SQL_NULL_HANDLE;
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
    std::string error;
    std::u16string cs = widen(connectionString);
    std::string narrow = connectionString;
    SQLRETURN rc = wide ? SQLDriverConnectW(dbc, nullptr, reinterpret_cast<SQLWCHAR*>(cs.data()),
                                            static_cast<SQLSMALLINT>(cs.size()), nullptr, 0,
                                            nullptr, SQL_DRIVER_NOPROMPT)
                        : SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(narrow.data()),
                                           static_cast<SQLSMALLINT>(narrow.size()), nullptr, 0,
                                           nullptr, SQL_DRIVER_NOPROMPT);
    if (!SQL_SUCCEEDED(rc)) {
        error = "connect: " + diag(SQL_HANDLE_DBC, dbc);
    } else {
        for (const auto& s : statements) {
            SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt);
            std::u16string w = widen(s);
            std::string n = s;
            rc = wide ? SQLExecDirectW(stmt, reinterpret_cast<SQLWCHAR*>(w.data()),
                                       static_cast<SQLINTEGER>(w.size()))
                      : SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(n.data()),
                                      static_cast<SQLINTEGER>(n.size()));
            if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA) {
                error = s + ": " + diag(SQL_HANDLE_STMT, stmt);
            }
            SQLFreeHandle(SQL_HANDLE_STMT, stmt);
            if (!error.empty()) {
                break;
            }
        }
        SQLDisconnect(dbc);
    }
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    return error;
}

std::string PostgresServer::runAsOwner(const std::vector<std::string>& argv) {
    std::vector<std::string> full;
    if (geteuid() == 0) {
        full = {"runuser", "-u", "postgres", "--"};
    }
    full.insert(full.end(), argv.begin(), argv.end());
    auto r = tarn::test::run(full, {}, {}, std::chrono::seconds(60));
    if (r.exitCode != 0) {
        return argv[0] + " failed (" + std::to_string(r.exitCode) + "): " + r.out + r.err;
    }
    return {};
}

PostgresServer::PostgresServer() {
    m_data = m_dir.path() / "data";
    if (geteuid() == 0) {
        // initdb refuses root: the server's folder belongs to `postgres`.
        auto r = tarn::test::run({"chown", "postgres:postgres", m_dir.path().string()});
        std::error_code ec;
        std::filesystem::permissions(m_dir.path(), std::filesystem::perms(0755), ec);
        if (r.exitCode != 0) {
            m_error = "chown: " + r.err;
            return;
        }
    }
    m_error = runAsOwner({std::string(kPgBin) + "initdb", "-D", m_data.string(), "-U", "tarn",
                          "--auth=trust", "-E", "UTF8", "--locale=C.UTF-8", "--no-sync"});
    if (!m_error.empty()) {
        return;
    }
    m_port = tarn::test::freePort();
    std::string options = "-p " + std::to_string(m_port) + " -k " + m_dir.path().string() +
                          " -c listen_addresses=127.0.0.1 -c fsync=off";
    m_error =
        runAsOwner({std::string(kPgBin) + "pg_ctl", "start", "-w", "-t", "60", "-D",
                    m_data.string(), "-l", (m_dir.path() / "server.log").string(), "-o", options});
    m_started = m_error.empty();
    if (!m_started) {
        m_error += tarn::test::readFile(m_dir.path() / "server.log");
    }
}

PostgresServer::~PostgresServer() {
    if (m_started) {
        runAsOwner({std::string(kPgBin) + "pg_ctl", "stop", "-w", "-m", "immediate", "-D",
                    m_data.string()});
    }
}

std::string PostgresServer::connectionString() const {
    return "DRIVER=" + driverPath("psqlodbcw.so") +
           ";Servername=127.0.0.1;Port=" + std::to_string(m_port) +
           ";Database=postgres;Username=tarn;Password=;"
           // Booleans as booleans rather than the driver's default "1"/"0" text.
           "BoolsAsChar=0;";
}

}  // namespace tarn::db::dbtest
