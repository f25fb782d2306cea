#include <gtest/gtest.h>

#include "testsupport.h"

using namespace tarn::test;

TEST(Tarn, HelpVersionAndUsageErrors) {
    auto help = run({tarnPath(), "--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("使い方"), std::string::npos);

    auto version = run({tarnPath(), "--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out.rfind("tarn ", 0), 0u);

    auto none = run({tarnPath()});
    EXPECT_EQ(none.exitCode, 2);
    auto unknown = run({tarnPath(), "frobnicate"});
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_NE(unknown.err.find("frobnicate"), std::string::npos);
}
