// The custom header file as the dialog lists and rewrites it.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/cp932.h"
#include "options/custom_headers.h"
#include "options/texts.h"
#include "testsupport.h"

using namespace tarn;
using namespace tarn::options;
using tarn::test::readFile;
using tarn::test::TempDir;
using tarn::test::writeFile;

namespace {

std::string sj(const std::string& utf8) {
    return *cp932::fromUtf8(utf8);
}

TEST(CustomHeaders, LinesAreSplitAtTheFirstColonAsTheEngineReadsThem) {
    const std::string file =
        "# written by hand\r\n"
        "X-Mailer : Tarn\r\n"
        "\r\n"
        "Reply-To:  info@example.jp  \n"
        "X-Note: a: b\n"
        "To\n" +
        sj("X-Japanese: 表示") + "\n";
    const std::vector<HeaderRow> rows = parseCustomHeaders(file);
    const std::vector<HeaderRow> expected = {
        {"X-Mailer", "Tarn"}, {"Reply-To", "info@example.jp"}, {"X-Note", "a: b"},
        {"To", ""},           {"X-Japanese", sj("表示")},
    };
    EXPECT_EQ(rows, expected);
    // Written in list order as "item : value", the file reads back as the same rows.
    const std::string written = serializeCustomHeaders(rows);
    EXPECT_EQ(written, "X-Mailer : Tarn\nReply-To : info@example.jp\nX-Note : a: b\nTo : \n" +
                           sj("X-Japanese : 表示") + "\n");
    EXPECT_EQ(parseCustomHeaders(written), rows);
}

TEST(CustomHeaders, FileIsReplacedWholeAndAMissingFileIsAnEmptyList) {
    TempDir dir;
    const auto path = dir / "CustmHeader.hdr";
    CustomHeaderFile missing = readCustomHeaderFile(path);
    EXPECT_TRUE(missing.rows.empty());
    EXPECT_FALSE(missing.problem);

    const std::vector<HeaderRow> rows = {{"B", "2"}, {"A", "1"}};
    ASSERT_TRUE(writeCustomHeaderFile(path, rows).ok());
    EXPECT_EQ(readFile(path), "B : 2\nA : 1\n");
    EXPECT_EQ(readCustomHeaderFile(path).rows, rows);

    // A file that exists but cannot be read says so (the dialog then keeps it).
    const auto folder = dir / "folder.hdr";
    std::filesystem::create_directory(folder);
    CustomHeaderFile unreadable = readCustomHeaderFile(folder);
    EXPECT_TRUE(unreadable.problem);
    EXPECT_TRUE(unreadable.rows.empty());

    // A file that cannot be created is reported, not ignored.
    EXPECT_FALSE(writeCustomHeaderFile(folder / "missing" / "x.hdr", rows).ok());
}

TEST(CustomHeaders, ItemDialogRefusesWhatWouldNotReadBackOrWouldAddAHeader) {
    struct Row {
        std::string item, value;
        std::string_view message;  // empty: accepted
        bool aboutValue;
    };
    const Row rows[] = {
        {"", "v", text::kNoHeaderItem, false},
        {"X-A", "", text::kNoHeaderValue, true},
        {"X-A", sj("値 です"), {}, false},
        {"X:A", "v", "項目には、「:」と空白を除く半角の英数字と記号だけが使えます。", false},
        {"X A", "v", "項目には、「:」と空白を除く半角の英数字と記号だけが使えます。", false},
        {sj("項目"), "v", "項目には、「:」と空白を除く半角の英数字と記号だけが使えます。", false},
        {"#X", "v", "項目の先頭に「#」は使えません。", false},
        {"X-A", "v\r\nBcc: x@evil.test", "内容に改行や制御文字は使えません。", true},
    };
    for (const Row& row : rows) {
        const auto problem = headerRowProblem(row.item, row.value);
        if (row.message.empty()) {
            EXPECT_FALSE(problem) << row.item;
            continue;
        }
        ASSERT_TRUE(problem) << row.item;
        EXPECT_EQ(problem->message, row.message) << row.item;
        EXPECT_EQ(problem->aboutValue, row.aboutValue) << row.item;
    }
}

TEST(CustomHeaders, RowsMoveOnlyWhereThereIsANeighbour) {
    std::vector<HeaderRow> rows = {{"A", "1"}, {"B", "2"}, {"C", "3"}};
    EXPECT_FALSE(moveRowUp(rows, 0));
    EXPECT_FALSE(moveRowDown(rows, 2));
    EXPECT_FALSE(moveRowUp(rows, 3));
    EXPECT_FALSE(moveRowDown(rows, -1));
    EXPECT_TRUE(moveRowDown(rows, 0));
    EXPECT_TRUE(moveRowUp(rows, 2));
    const std::vector<HeaderRow> expected = {{"B", "2"}, {"C", "3"}, {"A", "1"}};
    EXPECT_EQ(rows, expected);
    std::vector<HeaderRow> one = {{"A", "1"}};
    EXPECT_FALSE(moveRowUp(one, 0));
    EXPECT_FALSE(moveRowDown(one, 0));
}

}  // namespace
