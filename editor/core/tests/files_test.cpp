#include "editor/files.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "common/cp932.h"
#include "editor/marks.h"
#include "testsupport.h"

using namespace tarn::editor;

namespace {

std::string sj(std::string_view utf8) {
    return *tarn::cp932::fromUtf8(utf8);
}

}  // namespace

TEST(EditorFiles, TextFilesAreShiftJisUnlessTheyAreUtf8) {
    const std::string text = "件名のない本文\r\nｶﾅ ①";
    ImportedText a = decodeTextFile(sj(text));
    EXPECT_FALSE(a.wasUtf8);
    EXPECT_EQ(a.utf8, text);
    EXPECT_EQ(a.badOffset, -1);

    ImportedText b = decodeTextFile(text);
    EXPECT_TRUE(b.wasUtf8);
    EXPECT_EQ(b.utf8, text);

    ImportedText c = decodeTextFile(
        "\xEF\xBB\xBF"
        "plain");
    EXPECT_TRUE(c.wasUtf8);
    EXPECT_EQ(c.utf8, "plain");

    ImportedText ascii = decodeTextFile("plain\r\n");
    EXPECT_FALSE(ascii.wasUtf8);
    EXPECT_EQ(ascii.utf8, "plain\r\n");
}

TEST(EditorFiles, BytesThatAreNeitherShowWhereTheyAre) {
    // 0x82 0x20: a lead byte followed by a space is no Shift_JIS character.
    const std::string bytes = sj("あいう") + "\x82\x20" + "end";
    ImportedText t = decodeTextFile(bytes);
    EXPECT_FALSE(t.wasUtf8);
    EXPECT_EQ(t.badOffset, 6);
    EXPECT_EQ(t.utf8.substr(0, 9), "あいう");
    EXPECT_NE(t.utf8.find("\uFFFD"), std::string::npos);
    EXPECT_NE(t.utf8.find("end"), std::string::npos);

    // A byte-order mark does not make the bytes behind it UTF-8.
    ImportedText marked = decodeTextFile(
        "\xEF\xBB\xBF"
        "ok\x81\xF0\xA8 end");
    EXPECT_TRUE(marked.wasUtf8);
    EXPECT_EQ(marked.badOffset, 5);
    EXPECT_EQ(marked.utf8, "ok\uFFFD\uFFFD\uFFFD end");
}

TEST(EditorFiles, HandedBackPathsFitTheBufferAndShiftJis) {
    const std::string dir = "/home/送信/";
    auto ok = handBackPath(dir + "案内.tnm");
    ASSERT_TRUE(ok.ok());
    EXPECT_EQ(*ok, sj(dir + "案内.tnm"));
    EXPECT_EQ(pathFromSjis(*ok), std::filesystem::path(dir + "案内.tnm"));

    const std::string longest = "/" + std::string(kPathBufferSize - 2, 'a');  // 259 bytes
    EXPECT_TRUE(handBackPath(longest).ok());
    auto tooLong = handBackPath(longest + "b");
    ASSERT_FALSE(tooLong.ok());
    EXPECT_NE(tooLong.error().message.find("260 バイト"), std::string::npos);

    auto sushi = handBackPath("/home/🍣.tnm");
    ASSERT_FALSE(sushi.ok());
    EXPECT_NE(sushi.error().message.find("🍣"), std::string::npos);
}

TEST(EditorFiles, AttachmentPathsRefuseTabsAndForeignCharacters) {
    auto ok = attachmentPath("/tmp/資料 1.pdf");
    ASSERT_TRUE(ok.ok());
    EXPECT_EQ(*ok, sj("/tmp/資料 1.pdf"));
    EXPECT_FALSE(attachmentPath("/tmp/a\tb.txt").ok());
    auto euro = attachmentPath("/tmp/€.txt");
    ASSERT_FALSE(euro.ok());
    EXPECT_NE(euro.error().message.find("€"), std::string::npos);
    // A Shift_JIS path that is not valid text is used as the bytes it is.
    EXPECT_EQ(pathFromSjis("/tmp/\x82"), std::filesystem::path("/tmp/\x82"));
}

TEST(EditorFiles, TheSixTemplatesLieBesideTheLibrary) {
    EXPECT_EQ(editorLibraryFolder(), std::filesystem::path(TARN_BIN_DIR));
    for (std::size_t i = 0; i < kMessageTemplates.size(); ++i) {
        SCOPED_TRACE(std::string(kMessageTemplates[i].fileName));
        tarn::contents::SendContents m;
        m.cc = "left over";
        m.attachments = "/tmp/x";
        ASSERT_EQ(loadTemplate(templateFile(editorLibraryFolder(), i), m), 0);
        EXPECT_FALSE(m.subject.empty());
        EXPECT_GT(m.body.size(), 200u);
        EXPECT_TRUE(m.cc.empty());
        EXPECT_TRUE(m.attachments.empty());
        // They greet the recipient through merge tags, store CR LF line ends,
        // and use no character that other systems may not show.
        EXPECT_NE(m.body.find(sj("&[名前]&[敬称]")), std::string::npos);
        EXPECT_EQ(tarn::contents::normaliseBodyLineEnds(m.body), m.body);
        std::size_t start = 0;
        while (start < m.body.size()) {
            const std::size_t end = std::min(m.body.find("\r\n", start), m.body.size());
            for (const auto& mark : markLine(std::string_view(m.body).substr(start, end - start))) {
                EXPECT_EQ(mark.kind, MarkKind::MergeTag);
            }
            start = end + 2;
        }
    }
    tarn::contents::SendContents m;
    EXPECT_EQ(loadTemplate(editorLibraryFolder() / "missing.tnm", m),
              tarn::contents::kContentsNotFound);
}
