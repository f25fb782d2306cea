// One line of a field as Shift_JIS, with the position in the QString of every
// byte, so that rules found on the bytes (marks, replacements) land on the
// right characters in the window.
#pragma once

#include <QString>

#include <string>
#include <utility>
#include <vector>

namespace tarn::editor {

struct SjisLine {
    std::string bytes;
    std::vector<int> positionOfByte;  // one more entry than bytes: the end
    // Characters Shift_JIS cannot hold: position and length in UTF-16 units.
    // Each stands as "?" in `bytes`, which no rule looks at.
    std::vector<std::pair<int, int>> foreign;

    // The characters from byte `offset`, `length` bytes long: position and length.
    std::pair<int, int> span(std::size_t offset, std::size_t length) const {
        const int from = positionOfByte[offset];
        return {from, positionOfByte[offset + length] - from};
    }
};

SjisLine toSjisLine(const QString& text);

}  // namespace tarn::editor
