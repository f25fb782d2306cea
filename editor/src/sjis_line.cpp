#include "sjis_line.h"

#include "common/sjis.h"
#include "ui/sjis_text.h"

namespace tarn::editor {

SjisLine toSjisLine(const QString& text) {
    SjisLine line;
    int position = 0;
    auto append = [&line](std::string_view sjis, int at) {
        line.bytes.append(sjis);
        line.positionOfByte.insert(line.positionOfByte.end(), sjis.size(), at);
    };
    auto units = [&text](int at) {
        return text.at(at).isHighSurrogate() && at + 1 < text.size() ? 2 : 1;
    };
    if (auto whole = ui::toSjis(text)) {
        // Every Shift_JIS character is one code point of the Basic
        // Multilingual Plane, so the two walk side by side.
        const std::string& s = *whole;
        for (std::size_t i = 0; i < s.size();) {
            const std::size_t n = sjis::charLength(s, i);
            append(std::string_view(s).substr(i, n), position);
            position += units(position);
            i += n;
        }
    } else {
        // Character by character: only lines holding a foreign character pay.
        while (position < text.size()) {
            const int n = units(position);
            if (auto one = ui::toSjis(text.mid(position, n))) {
                append(*one, position);
            } else {
                line.foreign.emplace_back(position, n);
                append("?", position);
            }
            position += n;
        }
    }
    line.positionOfByte.push_back(static_cast<int>(text.size()));
    return line;
}

}  // namespace tarn::editor
