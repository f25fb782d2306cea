#include "texts.h"

#include <map>
#include <mutex>

#include "common/cp932.h"

namespace tarn::driver {

const std::string& sjisText(const char* utf8Literal) {
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

namespace {

// UTF-8 never uses an ASCII byte inside a multi-byte character, so the fields
// of a format are exactly its ASCII part; only the other runs are converted.
std::string convertFormat(std::string_view utf8) {
    std::string out;
    std::size_t i = 0;
    while (i < utf8.size()) {
        std::size_t end = i;
        const bool ascii = static_cast<unsigned char>(utf8[i]) < 0x80;
        while (end < utf8.size() && (static_cast<unsigned char>(utf8[end]) < 0x80) == ascii) {
            ++end;
        }
        const std::string_view run = utf8.substr(i, end - i);
        if (ascii) {
            out += run;
        } else {
            auto converted = cp932::fromUtf8(run);
            // As for sjisText(): all our formats are CP932 text.
            for (char c : converted ? *converted : std::string(run)) {
                out += c;
                if (c == '{' || c == '}') {
                    out += c;
                }
            }
        }
        i = end;
    }
    return out;
}

}  // namespace

const std::string& sjisFormatText(std::string_view utf8Format) {
    static std::mutex mutex;
    static std::map<std::string, std::string, std::less<>> cache;
    std::lock_guard lock(mutex);
    auto it = cache.find(utf8Format);
    if (it == cache.end()) {
        it = cache.emplace(std::string(utf8Format), convertFormat(utf8Format)).first;
    }
    return it->second;
}

std::string elapsedText(long long seconds) {
    return fmt::format("{:02d}:{:02d}:{:02d}", seconds / 3600, (seconds / 60) % 60, seconds % 60);
}

}  // namespace tarn::driver
