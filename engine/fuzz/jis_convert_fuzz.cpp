// Random Shift_JIS through the three conversion steps. The first input byte
// chooses the options; the rest is the text.
//
// What must hold whatever the input:
// - the output is 7-bit;
// - a "." at the start of an output line is always doubled, so the text can
//   never form the DATA terminator, and the line-start flag afterwards says
//   whether the output ends a line;
// - no half-width katakana survives step 1;
// and, for text without ESC or 0x03 bytes of its own (nor any that the SO/SI
// form of invalid input makes):
// - JIS mode is always left again at the end;
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
    const bool clean = input.find('\x1B') == std::string_view::npos &&
                       input.find('\x03') == std::string_view::npos;

    std::string wide;
    zeph::jis::widenHalfWidthKana(input, wide);
    check(!zeph::jis::hasHalfWidthKana(wide));

    std::string out;
    bool lineStart = lineStartBefore;
    zeph::jis::toIso2022Jp(wide, fold, lineStart, out);
    check(sevenBit(out));
    // Fold marks never reach the wire; dot-stuffing is judged without them
    // (which needs the input's own 0x03 bytes to be told apart from them).
    if (!fold) {
        check(dotsStuffed(out, lineStartBefore));
    } else if (clean) {
        check(dotsStuffed(removeAll(out, zeph::jis::kFoldMark), lineStartBefore));
    }
    check(lineStart ==
          (out.empty() ? lineStartBefore : (out.back() == '\r' || out.back() == '\n')));

    if (clean) {
        // (A bare ESC may appear: 0x9B masked by the SO/SI form.)
        const std::size_t lastEnter = out.rfind(zeph::jis::kEnterJis);
        check(lastEnter == std::string::npos || out.rfind(zeph::jis::kLeaveJis) > lastEnter);
        std::string plain;
        bool ls = lineStartBefore;
        zeph::jis::toIso2022Jp(wide, false, ls, plain);
        if (plain.find('\x03') != std::string::npos) {
            return 0;  // 0x83 masked by the SO/SI form: fold marks become ambiguous
        }
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
