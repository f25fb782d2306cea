#include "editor/marks.h"

#include "common/sjis.h"
#include "contents/merge.h"

namespace tarn::editor {

std::vector<Mark> markLine(std::string_view sjis) {
    std::vector<Mark> marks;
    auto add = [&marks](std::size_t offset, std::size_t length, MarkKind kind) {
        if (!marks.empty() && marks.back().kind == kind &&
            marks.back().offset + marks.back().length == offset) {
            marks.back().length += length;
        } else {
            marks.push_back({offset, length, kind});
        }
    };
    for (std::size_t i = 0; i < sjis.size();) {
        if (sjis[i] == '&') {
            bool tagged = false;
            for (std::string_view tag : contents::MergeTagTable) {
                if (sjis.substr(i, tag.size()) == tag) {
                    marks.push_back({i, tag.size(), MarkKind::MergeTag});
                    i += tag.size();
                    tagged = true;
                    break;
                }
            }
            if (tagged) {
                continue;
            }
        }
        const std::size_t n = sjis::charLength(sjis, i);
        const auto lead = static_cast<unsigned char>(sjis[i]);
        if (n == 1 && sjis::isHalfWidthKana(lead)) {
            add(i, 1, MarkKind::HalfWidthKana);
        } else if (n == 2) {
            const unsigned code = lead << 8 | static_cast<unsigned char>(sjis[i + 1]);
            if (isPlatformDependentCode(code)) {
                add(i, 2, MarkKind::PlatformDependent);
            }
        }
        i += n;
    }
    return marks;
}

}  // namespace tarn::editor
