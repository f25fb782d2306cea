// Random Shift_JIS through the three conversion steps. The first input byte
// chooses the options; the rest is the text.
//
// What must hold whatever the input:
// - the output is 7-bit, holds no SO or SI, and every ESC starts ESC $ B or
//   ESC ( B;
// - JIS mode is always left again at the end;
// - a "." at the start of an output line is always doubled, so the text can
//   never form the DATA terminator, and the line-start flag afterwards says
//   whether the output ends a line;
// - body text lines never exceed the SMTP limit;
// - no half-width katakana survives step 1;
// and, for text without 0x03 bytes of its own:
// - fold marks appear only when asked for, and removing them (with the mode
//   switches around them) gives exactly the unfolded conversion;
// - header encoding leaves no JIS run and no fold mark behind.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "jis.h"

namespace {

void check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

bool sevenBit(std::string_view s) {
    for (char c : s) {
        if ((static_cast<unsigned char>(c) & 0x80) != 0) {
            return false;
        }
    }
    return true;
}

bool dotsStuffed(std::string_view out, bool lineStartBefore) {
    for (std::size_t i = 0; i < out.size(); ++i) {
        bool atLineStart = i == 0 ? lineStartBefore : (out[i - 1] == '\r' || out[i - 1] == '\n');
        if (out[i] == '.' && atLineStart && (i + 1 >= out.size() || out[i + 1] != '.')) {
            return false;
        }
    }
    return true;
}

bool onlyOurEscapes(std::string_view s) {
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\x0E' || s[i] == '\x0F') {
            return false;
        }
        if (s[i] == '\x1B' && s.substr(i, 3) != zeph::jis::kEnterJis &&
            s.substr(i, 3) != zeph::jis::kLeaveJis) {
            return false;
        }
    }
    return true;
}

bool linesWithinLimit(std::string_view out, std::size_t firstColumn) {
    std::size_t column = firstColumn;
    for (char c : out) {
        if (c == '\n') {
            column = 0;
        } else if (c != '\r' && ++column > zeph::jis::kMaxLineBytes) {
            return false;
        }
    }
    return true;
}

std::string removeAll(std::string s, std::string_view what) {
    for (std::size_t p; (p = s.find(what)) != std::string::npos;) {
        s.erase(p, what.size());
    }
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const unsigned flags = data[0];
    const std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);
    const bool fold = (flags & 1) != 0;
    const bool lineStartBefore = (flags & 2) != 0;
    // A body chunk may start anywhere on a line.
    const std::size_t columnBefore = (flags & 4) != 0 ? 990 : 0;
    const bool clean = input.find('\x03') == std::string_view::npos;

    std::string wide;
    zeph::jis::widenHalfWidthKana(input, wide);
    check(!zeph::jis::hasHalfWidthKana(wide));

    using zeph::jis::JisMode;
    std::string out;
    zeph::jis::LinePosition position{lineStartBefore, columnBefore};
    zeph::jis::toIso2022Jp(wide, fold ? JisMode::kFolded : JisMode::kText, position, out);
    check(sevenBit(out));
    check(onlyOurEscapes(out));
    const std::size_t lastEnter = out.rfind(zeph::jis::kEnterJis);
    check(lastEnter == std::string::npos || out.rfind(zeph::jis::kLeaveJis) > lastEnter);
    // Fold marks never reach the wire; dot-stuffing is judged without them
    // (which needs the input's own 0x03 bytes to be told apart from them).
    if (!fold) {
        check(dotsStuffed(out, lineStartBefore));
        check(linesWithinLimit(out, columnBefore));
    } else if (clean) {
        check(dotsStuffed(removeAll(out, zeph::jis::kFoldMark), lineStartBefore));
    }
    check(position.lineStart ==
          (out.empty() ? lineStartBefore : (out.back() == '\r' || out.back() == '\n')));

    if (fold && clean) {
        std::string plain;
        zeph::jis::LinePosition header{lineStartBefore, 0};
        zeph::jis::toIso2022Jp(wide, JisMode::kHeader, header, plain);
        std::string unfolded = removeAll(out, "\x1B(B\x03\x03\x03\x1B$B");
        unfolded = removeAll(unfolded, zeph::jis::kFoldMark);
        check(unfolded == plain);

        std::string words;
        zeph::jis::encodePlainHeader(plain, words);
        check(sevenBit(words));
        check(words.find(zeph::jis::kEnterJis) == std::string::npos);
        zeph::jis::encodeFoldedHeader(out, flags >> 4, words);
        check(sevenBit(words));
        check(words.find('\x03') == std::string::npos);
    }
    return 0;
}
