// Data sources: the driver manager's DSNs and the file DSNs of a folder, the
// data-source name in a connection string, and a file DSN spelled out.
#include <algorithm>
#include <array>
#include <filesystem>
#include <system_error>

#include "common/files.h"
#include "common/sjis.h"
#include "database/db_connection.h"
#include "odbc_dsn.h"
#include "odbc_handle.h"

namespace tarn::db::detail::odbc {

// "FILEDSN=path" spelled out as the attributes of the file's [ODBC] section.
// unixODBC reads file DSNs only in its narrow SQLDriverConnect, and a narrow
// connection string reaches a Unicode driver through ISO-8859-1; expanding the
// file here lets both kinds of driver be reached the same way. Attributes
// given in the string itself win over the file's.
Result<std::string> expandFileDsn(const std::string& utf8) {
    auto choice = odbcChoiceFromConnectionString(utf8);
    if (!choice || !sjis::equalsIgnoreCase(std::string_view(choice->connectionString).substr(0, 8),
                                           "FILEDSN=")) {
        return utf8;
    }
    std::string path = choice->name;
    if (sjis::asciiLower(std::filesystem::path(path).extension().string()) != ".dsn") {
        path += ".dsn";
    }
    auto bytes = readWholeFile(path, std::size_t{64} << 10);
    if (!bytes) {
        return makeError("cannot read the file data source: " + bytes.error().message);
    }
    std::string rest;  // the string without its FILEDSN attribute
    for (std::size_t at = 0; at < utf8.size();) {
        std::size_t end = utf8.find(';', at);
        if (end == std::string::npos) {
            end = utf8.size();
        }
        std::string_view attr = std::string_view(utf8).substr(at, end - at);
        if (!attr.empty() && !sjis::equalsIgnoreCase(attr.substr(0, 8), "FILEDSN=")) {
            rest.append(attr).append(";");
        }
        at = end + 1;
    }
    const std::string given = ";" + sjis::asciiLower(rest);
    std::string out = rest;
    bool inOdbc = false;
    for (const auto& line : splitLineList(bytes.value())) {
        std::string_view l = line;
        if (!l.empty() && l.front() == '[') {
            inOdbc = sjis::equalsIgnoreCase(l, "[ODBC]");
            continue;
        }
        const auto eq = l.find('=');
        if (!inOdbc || eq == std::string_view::npos || eq == 0) {
            continue;
        }
        std::string key(l.substr(0, eq));
        std::string value(l.substr(eq + 1));
        if (given.find(";" + sjis::asciiLower(key).append("=")) != std::string::npos) {
            continue;
        }
        if (value.find(';') != std::string::npos && value.front() != '{') {
            value.insert(0, 1, '{').push_back('}');
        }
        out.append(key).append("=").append(value).append(";");
    }
    return out;
}

}  // namespace tarn::db::detail::odbc

namespace tarn::db {

std::vector<OdbcSourceEntry> listOdbcSources(const std::string& fileDsnFolder) {
    using namespace detail::odbc;
    std::vector<OdbcSourceEntry> out;
    auto env = newEnvironment();
    if (env) {
        SQLUSMALLINT direction = SQL_FETCH_FIRST;
        for (int guard = 0; guard < 10000; ++guard) {
            std::array<SQLWCHAR, 256> name{};
            std::array<SQLWCHAR, 512> description{};
            SQLSMALLINT nameLen = 0, descLen = 0;
            SQLRETURN rc = SQLDataSourcesW(
                env->get(), direction, name.data(), static_cast<SQLSMALLINT>(name.size()), &nameLen,
                description.data(), static_cast<SQLSMALLINT>(description.size()), &descLen);
            if (!SQL_SUCCEEDED(rc)) {
                break;
            }
            direction = SQL_FETCH_NEXT;
            OdbcSourceEntry e;
            e.name = toUtf8(name.data(), wideLength(name.data(), name.size()));
            e.description =
                toUtf8(description.data(), wideLength(description.data(), description.size()));
            e.connectionString = "DSN=" + e.name;
            out.push_back(std::move(e));
        }
    }
    namespace fs = std::filesystem;
    const fs::path folder =
        fileDsnFolder.empty() ? fs::path("/etc/ODBCDataSources") : fs::path(fileDsnFolder);
    std::error_code ec;
    std::vector<OdbcSourceEntry> files;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (sjis::asciiLower(it->path().extension().string()) == ".dsn") {
            OdbcSourceEntry e;
            e.name = it->path().stem().string();
            e.description = "File DSN";
            e.connectionString = "FILEDSN=" + it->path().string();
            e.fileDsn = true;
            files.push_back(std::move(e));
        }
    }
    std::sort(files.begin(), files.end(),
              [](const OdbcSourceEntry& a, const OdbcSourceEntry& b) { return a.name < b.name; });
    out.insert(out.end(), files.begin(), files.end());
    return out;
}

std::optional<OdbcChoice> odbcChoiceFromConnectionString(std::string_view s) {
    // A keyword counts only at the start of an attribute, so "DSN=" inside
    // "FILEDSN=" or inside a value is not taken for the data-source name.
    auto findKey = [&](std::string_view key) -> std::size_t {
        for (std::size_t at = 0; at + key.size() <= s.size(); ++at) {
            if ((at == 0 || s[at - 1] == ';') &&
                sjis::equalsIgnoreCase(s.substr(at, key.size()), key)) {
                return at;
            }
        }
        return std::string_view::npos;
    };
    std::size_t at = findKey("FILEDSN=");
    std::size_t keyLen = 8;
    if (at == std::string_view::npos) {
        at = findKey("DSN=");
        keyLen = 4;
    }
    if (at == std::string_view::npos) {
        return std::nullopt;
    }
    OdbcChoice c;
    c.connectionString = std::string(s.substr(at));
    std::string_view rest = s.substr(at + keyLen);
    c.name = std::string(rest.substr(0, rest.find(';')));
    return c;
}

}  // namespace tarn::db
