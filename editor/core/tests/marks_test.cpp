#include "editor/marks.h"

#include <gtest/gtest.h>

#include "common/cp932.h"

using tarn::editor::Mark;
using tarn::editor::MarkKind;
using tarn::editor::markLine;

namespace {

std::string sj(std::string_view utf8) {
    return *tarn::cp932::fromUtf8(utf8);
}

}  // namespace

TEST(Marks, TagsAreMatchedExactly) {
    const std::string line = sj("&[会社名]&[名前]様 &[Freefield10] &[freefield1] &[名前 &[Other]");
    const std::size_t tag1 = sj("&[会社名]").size();
    const std::size_t tag2 = sj("&[名前]").size();
    const std::size_t free10 = sj("&[会社名]&[名前]様 ").size();
    EXPECT_EQ(markLine(line), (std::vector<Mark>{{0, tag1, MarkKind::MergeTag},
                                                 {tag1, tag2, MarkKind::MergeTag},
                                                 {free10, 14, MarkKind::MergeTag}}));
}

TEST(Marks, RedRunsAreOneMarkEach) {
    // ｶﾞｷﾞ is four single bytes; ①② are two NEC specials.
    const std::string line = sj("aｶﾞｷﾞb①②c");
    EXPECT_EQ(markLine(line), (std::vector<Mark>{{1, 4, MarkKind::HalfWidthKana},
                                                 {6, 4, MarkKind::PlatformDependent}}));
}

TEST(Marks, PlatformDependentRangesAndTheirNeighbours) {
    auto kinds = [](unsigned code) {
        const char bytes[2] = {static_cast<char>(code >> 8), static_cast<char>(code & 0xFF)};
        return markLine(std::string_view(bytes, 2));
    };
    const std::vector<Mark> red{{0, 2, MarkKind::PlatformDependent}};
    for (unsigned code : {0x849Fu, 0x8740u, 0x889Eu, 0xEA9Fu, 0xED40u, 0xEFFCu}) {
        EXPECT_EQ(kinds(code), red) << std::hex << code;
    }
    // Just outside: 0x849E (below ─), 0x889F (亜), 0xEA9E (龠), 0xF040 (the
    // first user-defined code); and あ.
    for (unsigned code : {0x849Eu, 0x889Fu, 0xEA9Eu, 0xF040u, 0x82A0u}) {
        EXPECT_TRUE(kinds(code).empty()) << std::hex << code;
    }
}

TEST(Marks, TrailBytesAreNeverTakenForHalfWidthKana) {
    // 鯵 (0x88 0xB1) and 衣 (0x88 0xDF): trail bytes in 0xA1-0xDF belong to
    // their double-byte character.
    EXPECT_TRUE(markLine("\x88\xb1\x88\xdf").empty());
    EXPECT_TRUE(markLine(sj("漢字とかな、ABC。")).empty());
    // A lead byte cut off at the end is one byte, not a mark.
    EXPECT_TRUE(markLine("a\x84").empty());
}
