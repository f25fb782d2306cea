#include "contents/desktop.h"

#include <gtest/gtest.h>

#include "testsupport.h"

using namespace tarn::contents;

TEST(DesktopOpen, ProgramsRunThemselvesDocumentsOpenWithTheDesktop) {
    EXPECT_EQ(desktopOpenCommand("/bin/true", "-a \"b c\"  d"),
              (std::vector<std::string>{"/bin/true", "-a", "b c", "d"}));
    tarn::test::TempDir dir;
    const std::string doc = (dir / "letter.txt").string();
    tarn::test::writeFile(doc, "x");  // mode 0644: a document, not a program
    EXPECT_EQ(desktopOpenCommand(doc, "ignored"), (std::vector<std::string>{"xdg-open", doc}));
}

TEST(DesktopOpen, StartDetachedReportsWhetherTheProgramStarted) {
    tarn::test::TempDir dir;
    const auto marker = dir / "started";
    EXPECT_TRUE(startDetached({"/bin/sh", "-c", "echo ok > '" + marker.string() + "'"}));
    EXPECT_TRUE(tarn::test::waitUntil([&] { return tarn::test::readFile(marker) == "ok\n"; }));
    EXPECT_FALSE(startDetached({(dir / "no-such-program").string()}));
    EXPECT_FALSE(startDetached({}));
}
