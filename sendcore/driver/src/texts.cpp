#include "texts.h"

#include <cstdarg>
#include <cstdio>
#include <map>
#include <mutex>

#include "common/cp932.h"

namespace tarn::driver {

const std::string& sj(const char* utf8Literal) {
    static std::mutex mutex;
    static std::map<const char*, std::string> cache;
    std::lock_guard lock(mutex);
    auto it = cache.find(utf8Literal);
    if (it == cache.end()) {
        auto converted = cp932::fromUtf8(utf8Literal);
        // Our literals are all CP932 text; a failure here is a programming error
        // caught by the tests, and we would rather show the raw text than nothing.
        it = cache.emplace(utf8Literal, converted ? *converted : std::string(utf8Literal)).first;
    }
    return it->second;
}

std::string format(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    std::string out;
    if (n > 0) {
        out.resize(static_cast<std::size_t>(n) + 1);
        std::vsnprintf(out.data(), out.size(), fmt, args);
        out.resize(static_cast<std::size_t>(n));
    }
    va_end(args);
    return out;
}

std::string elapsedText(long long seconds) {
    return format("%02lld:%02lld:%02lld", seconds / 3600, (seconds / 60) % 60, seconds % 60);
}

}  // namespace tarn::driver
