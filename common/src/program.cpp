#include "common/program.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "tarn_version.h"

namespace tarn {

std::filesystem::path programFolder() {
    const char* home = std::getenv("TARN_HOME");
    if (home != nullptr && *home != '\0') {
        return home;
    }
    std::vector<char> buf(4096);
    ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n <= 0) {
        return {};
    }
    return std::filesystem::path(std::string(buf.data(), static_cast<std::size_t>(n)))
        .parent_path();
}

std::filesystem::path besideProgram(std::string_view name) {
    if (name.find('/') != std::string_view::npos) {
        return std::filesystem::path(name);
    }
    return programFolder() / std::filesystem::path(name);
}

std::string formatTimestamp(const std::tm& t) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", t.tm_year + 1900, t.tm_mon + 1,
                  t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    return buf;
}

std::tm localNow() {
    std::time_t now = std::time(nullptr);
    std::tm t{};
    localtime_r(&now, &t);
    return t;
}

std::string nowTimestamp() {
    return formatTimestamp(localNow());
}

Version programVersion() {
    return {TARN_VERSION_MAJOR, TARN_VERSION_MINOR, TARN_VERSION_PATCH, TARN_VERSION_TWEAK};
}

std::string programVersionText() {
    Version v = programVersion();
    return std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.patch) +
           "." + std::to_string(v.tweak);
}

}  // namespace tarn
