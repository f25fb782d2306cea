#include "editor/texts.h"

#include <gtest/gtest.h>

#include "common/cp932.h"

using namespace tarn::editor;

namespace {

std::string sj(std::string_view utf8) {
    return *tarn::cp932::fromUtf8(utf8);
}

}  // namespace

TEST(EditorTexts, AttachmentSizesInDecimalUnits) {
    EXPECT_EQ(attachmentItemText("a.txt", 0), "a.txt (0 Byte)");
    EXPECT_EQ(attachmentItemText("a.txt", 999), "a.txt (999 Byte)");
    EXPECT_EQ(attachmentItemText("見積書.pdf", 1000), "見積書.pdf (1 KB)");
    EXPECT_EQ(attachmentItemText("b", 1400), "b (1 KB)");
    EXPECT_EQ(attachmentItemText("b", 1600), "b (2 KB)");
    EXPECT_EQ(attachmentItemText("b", 999999), "b (1000 KB)");
    EXPECT_EQ(attachmentItemText("c", 1000000), "c (1.00 MB)");
    EXPECT_EQ(attachmentItemText("c", 2500000), "c (2.50 MB)");
    // Past 4 GiB the size is still the file's, not its low 32 bits.
    EXPECT_EQ(attachmentItemText("d.iso", 5000000000ULL), "d.iso (5000.00 MB)");
    EXPECT_EQ(attachmentItemText("e.doc", std::nullopt), "e.doc (ファイルがありません)");
}

TEST(EditorTexts, EarlierTagsBecomeTodaysOnCharacterBoundaries) {
    std::string body = sj("&[Free field1] &[Free field2] &[Free field10] &[Free field3]");
    upgradeEarlierTags(body);
    EXPECT_EQ(body, sj("&[Freefield1] &[Freefield2] &[Freefield10] &[Free field3]"));
    // 0x83 0x46 is ェ: its trail byte is "F" but no pattern starts inside it.
    std::string trail =
        "\x83"
        "Free field1";
    upgradeEarlierTags(trail);
    EXPECT_EQ(trail,
              "\x83"
              "Free field1");
}
