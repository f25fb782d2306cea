#include <gtest/gtest.h>

#include "command.h"

namespace tarn::cli {
namespace {

TEST(Args, ValuesFlagsAndPositionalsInAnyOrder) {
    const Args a({"book.tn2", "--to", "a@example.jp", "--dry-run", "--to=b@example.jp", "out.txt",
                  "--subject=", "--note", "--x"},
                 {"to", "subject", "note"}, {"dry-run"});
    ASSERT_TRUE(a.ok()) << a.error();
    EXPECT_EQ(a.positional(), (std::vector<std::string>{"book.tn2", "out.txt"}));
    EXPECT_EQ(a.values("to"), (std::vector<std::string>{"a@example.jp", "b@example.jp"}));
    EXPECT_EQ(a.value("to"), "b@example.jp");  // the last one given wins
    EXPECT_TRUE(a.has("dry-run"));
    EXPECT_EQ(a.value("dry-run"), std::nullopt);  // a flag carries no value
    EXPECT_EQ(a.value("subject"), "");            // "--name=" is an empty value, not a missing one
    EXPECT_EQ(a.value("note"), "--x");            // the next word is the value, whatever it is
    EXPECT_FALSE(a.has("absent"));
    EXPECT_EQ(a.value("absent"), std::nullopt);
    EXPECT_TRUE(a.values("absent").empty());
}

TEST(Args, DoubleDashEndsTheOptions) {
    const Args a({"--flag", "--", "--flag", "--", "-", "--to=x"}, {"to"}, {"flag"});
    ASSERT_TRUE(a.ok()) << a.error();
    EXPECT_EQ(a.positional(), (std::vector<std::string>{"--flag", "--", "-", "--to=x"}));
    EXPECT_FALSE(a.has("to"));
}

TEST(Args, MistakesAreNamed) {
    const Args unknown({"--to", "x", "--bcc", "y"}, {"to"}, {});
    EXPECT_FALSE(unknown.ok());
    EXPECT_EQ(unknown.error(), "不明なオプションです: --bcc");

    const Args missing({"file", "--to"}, {"to"}, {});
    EXPECT_FALSE(missing.ok());
    EXPECT_EQ(missing.error(), "--to には値が必要です");

    // A flag does not take a value, so "--flag=1" is not the flag.
    const Args flagValue({"--dry-run=1"}, {}, {"dry-run"});
    EXPECT_FALSE(flagValue.ok());
    EXPECT_EQ(flagValue.error(), "不明なオプションです: --dry-run=1");
}

}  // namespace
}  // namespace tarn::cli
