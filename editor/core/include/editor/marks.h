// What the editor colours in the subject and the body, found on the Shift_JIS
// text of one line: merge tags (blue) and characters other systems may not
// show (red).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace tarn::editor {

enum class MarkKind : std::uint8_t {
    MergeTag,           // one of the fifteen tags, matched exactly
    HalfWidthKana,      // single bytes 0xA1-0xDF
    PlatformDependent,  // double-byte codes 0x849F-0x889E and 0xEA9F-0xEFFC
};

struct Mark {
    std::size_t offset = 0;  // bytes into the line
    std::size_t length = 0;
    MarkKind kind = MarkKind::MergeTag;
    bool operator==(const Mark&) const = default;
};

// The double-byte codes that other systems may not show: the line-drawing
// and NEC special rows and the NEC-selected IBM extensions.
constexpr bool isPlatformDependentCode(unsigned code) {
    return (code >= 0x849F && code <= 0x889E) || (code >= 0xEA9F && code <= 0xEFFC);
}

// The marks of one line in order; neighbouring characters of the same kind
// form one mark.
std::vector<Mark> markLine(std::string_view sjis);

}  // namespace tarn::editor
