#include "common/files.h"

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>

#include <gtest/gtest.h>

#include "common/program.h"

using namespace tarn;
namespace fs = std::filesystem;

namespace {
fs::path tempDir() {
    std::string tmpl = (fs::temp_directory_path() / "tarn-common-XXXXXX").string();
    return fs::path(::mkdtemp(tmpl.data()));
}
}  // namespace

TEST(LineList, TrimsOneOfEachInOrderAndSkipsComments) {
    std::string bytes =
        "example.co.jp\r\n"
        "# comment\r\n"
        "\r\n"
        " spaced \r\n"
        "ctrlz\x1A\n"
        "cr-after-z\x1A\r\n"  // LF, then CR, then Ctrl-Z
        "last";
    auto lines = splitLineList(bytes);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], "example.co.jp");
    EXPECT_EQ(lines[1], " spaced ");
    EXPECT_EQ(lines[2], "ctrlz");
    EXPECT_EQ(lines[3], "cr-after-z");
    EXPECT_EQ(lines[4], "last");
}

TEST(LineList, LongLinesArriveInPiecesOf1023) {
    std::string longLine(2100, 'a');
    auto lines = splitLineList(longLine + "\n#x\n");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].size(), 1023u);
    EXPECT_EQ(lines[1].size(), 1023u);
    EXPECT_EQ(lines[2].size(), 54u);
    EXPECT_FALSE(readLineList("/nonexistent/list.txt").ok());
}

TEST(Files, AtomicWriteReplacesWholeAndKeepsOldOnFailure) {
    fs::path dir = tempDir();
    fs::path file = dir / "book.tn2";
    ASSERT_TRUE(writeFileAtomically(file, "old", 0600).ok());
    ASSERT_TRUE(writeFileAtomically(file, "new contents", 0600).ok());
    auto back = readWholeFile(file);
    ASSERT_TRUE(back.ok());
    EXPECT_EQ(*back, "new contents");
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    // No temporary file is left behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);

    // A write into a folder that does not exist fails and says where.
    auto bad = writeFileAtomically(dir / "missing" / "x.tnm", "data");
    ASSERT_FALSE(bad.ok());
    EXPECT_NE(bad.error().message.find("missing"), std::string::npos);

    EXPECT_FALSE(readWholeFile(file, 4).ok());  // larger than the cap
    fs::remove_all(dir);
}

TEST(Program, BesideProgramHonoursTarnHome) {
    ::setenv("TARN_HOME", "/opt/tarn", 1);
    EXPECT_EQ(besideProgram("SMTPAuth.txt"), fs::path("/opt/tarn/SMTPAuth.txt"));
    EXPECT_EQ(besideProgram("conf/SMTPAuth.txt"), fs::path("conf/SMTPAuth.txt"));
    ::unsetenv("TARN_HOME");
    EXPECT_FALSE(programFolder().empty());
    std::tm t{};
    t.tm_year = 101;
    t.tm_mon = 0;
    t.tm_mday = 2;
    t.tm_hour = 3;
    t.tm_min = 4;
    t.tm_sec = 5;
    EXPECT_EQ(formatTimestamp(t), "2001-01-02 03:04:05");
}
