// The editor's rules meet whatever a body or a text file holds: re-wrapping
// only ever adds line breaks, marks stay inside their line and in order, and
// a text file decodes without a crash.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/utf8.h"
#include "editor/files.h"
#include "editor/marks.h"
#include "editor/rewrap.h"

namespace {

std::string withoutLineBreaks(std::string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n') {
            ++i;
            continue;
        }
        out.push_back(s[i]);
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const int columns = static_cast<int>(data[0] % 80) - 2;  // -2 .. 77
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);

    const std::string wrapped = tarn::editor::rewrapBody(text, columns);
    if (columns < 1 ? wrapped != text : withoutLineBreaks(wrapped) != withoutLineBreaks(text)) {
        __builtin_trap();
    }

    std::size_t end = 0;
    for (const auto& mark : tarn::editor::markLine(text)) {
        if (mark.length == 0 || mark.offset < end || mark.offset + mark.length > text.size()) {
            __builtin_trap();
        }
        end = mark.offset + mark.length;
    }

    const auto imported = tarn::editor::decodeTextFile(text);
    if (imported.wasUtf8 && !tarn::utf8::isValid(imported.utf8)) {
        __builtin_trap();
    }
    return 0;
}
