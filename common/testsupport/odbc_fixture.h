// Real ODBC drivers for the tests: SQLite on a database file, and PostgreSQL on
// a private server this fixture starts on loopback and stops again.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "testsupport.h"

namespace tarn::db::dbtest {

// The installed driver library, or empty when the package is missing.
std::string driverPath(const std::string& file);

// Runs statements (UTF-8) on a connection string; the failure text or empty.
// `wide` for a Unicode driver; a narrow one (SQLite) takes UTF-8 unchanged.
std::string execute(const std::string& connectionString, const std::vector<std::string>& statements,
                    bool wide);

// A PostgreSQL server in a temporary folder, on a free loopback port. Running
// as root it runs as the `postgres` user, as initdb refuses root.
class PostgresServer {
public:
    PostgresServer();
    ~PostgresServer();
    PostgresServer(const PostgresServer&) = delete;
    PostgresServer& operator=(const PostgresServer&) = delete;
    bool ok() const { return m_error.empty(); }
    const std::string& error() const { return m_error; }
    std::string connectionString() const;

private:
    std::string runAsOwner(const std::vector<std::string>& argv);
    tarn::test::TempDir m_dir;
    std::filesystem::path m_data;
    int m_port = 0;
    bool m_started = false;
    std::string m_error;
};

}  // namespace tarn::db::dbtest
