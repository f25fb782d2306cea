#include "common/files.h"

#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>

#include <gtest/gtest.h>

#include "common/program.h"
#include "testsupport.h"

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

namespace {

unsigned modeOf(const fs::path& p) {
    struct stat st {};
    EXPECT_EQ(::stat(p.c_str(), &st), 0) << p;
    return st.st_mode & 07777;
}

std::vector<std::string> entriesOf(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) {
        names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

TEST(Files, ReplacingKeepsModeGroupAndLinksAndRefusesReadOnly) {
    test::TempDir dir;
    const fs::path book = dir / "book.tn2";
    ASSERT_TRUE(writeFileAtomically(book, "v1", 0600).ok());
    ASSERT_TRUE(writeFileAtomically(book, "v2").ok());  // default mode is for new files only
    EXPECT_EQ(modeOf(book), 0600u);
    ::chmod(book.c_str(), 0640);
    // The group a person gave the file stays (root may give any; others their own groups).
    const gid_t group = ::geteuid() == 0 ? 65534 : ::getegid();
    ASSERT_EQ(::chown(book.c_str(), static_cast<uid_t>(-1), group), 0);
    ASSERT_TRUE(writeFileAtomically(book, "v3").ok());
    struct stat st {};
    ASSERT_EQ(::stat(book.c_str(), &st), 0);
    EXPECT_EQ(st.st_gid, group);
    EXPECT_EQ(st.st_mode & 0777, 0640u);

    // forceMode: the registry is 0600 whatever the old file was.
    ::chmod(book.c_str(), 0644);
    AtomicWriteOptions secret;
    secret.mode = 0600;
    secret.forceMode = true;
    ASSERT_TRUE(writeFileAtomically(book, "v4", secret).ok());
    EXPECT_EQ(modeOf(book), 0600u);

    // Read-only: refused (also for root), bytes untouched.
    ::chmod(book.c_str(), 0400);
    auto refused = writeFileAtomically(book, "v5");
    ASSERT_FALSE(refused.ok());
    EXPECT_NE(refused.error().message.find("read-only"), std::string::npos);
    EXPECT_EQ(test::readFile(book), "v4");
    ::chmod(book.c_str(), 0600);

    // A symlink (relative, through a second link) is written through.
    fs::create_directory(dir / "real");
    ASSERT_TRUE(writeFileAtomically(dir / "real" / "target.tn2", "old", 0600).ok());
    fs::create_symlink("real/target.tn2", dir / "hop");
    fs::create_symlink("hop", dir / "link.tn2");
    ASSERT_TRUE(writeFileAtomically(dir / "link.tn2", "through the link").ok());
    EXPECT_TRUE(fs::is_symlink(dir / "link.tn2"));
    EXPECT_TRUE(fs::is_symlink(dir / "hop"));
    EXPECT_EQ(test::readFile(dir / "real" / "target.tn2"), "through the link");
    EXPECT_EQ(modeOf(dir / "real" / "target.tn2"), 0600u);
    // A dangling link gets its target made.
    fs::create_symlink("real/new.tn2", dir / "dangling");
    ASSERT_TRUE(writeFileAtomically(dir / "dangling", "fresh").ok());
    EXPECT_EQ(test::readFile(dir / "real" / "new.tn2"), "fresh");

    EXPECT_EQ(entriesOf(dir.path()),
              (std::vector<std::string>{"book.tn2", "dangling", "hop", "link.tn2", "real"}));
    EXPECT_EQ(entriesOf(dir / "real"), (std::vector<std::string>{"new.tn2", "target.tn2"}));
}

// A writer killed in the middle of a save: the next save leaves exactly one
// file, whole, and no temporary file of the dead writer.
//
// The child stops itself while its temporary file is half written: a file-size
// limit makes the kernel raise SIGXFSZ inside write(), and the handler reports
// through a pipe and waits there. Only then does the parent kill it, so the
// moment is the same on every run, however loaded the machine is.
namespace {
int g_reachedPipe = -1;

extern "C" void reportAndWait(int) {
    const char byte = 'x';
    (void)!::write(g_reachedPipe, &byte, 1);
    for (;;) {
        ::pause();
    }
}

// Forks a writer of `bytes` to `book`, waits until it is stopped in the middle
// of its temporary file, and kills it.
void killWriterMidSave(const fs::path& book, const std::string& bytes,
                       const AtomicWriteOptions& options) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(fds[0]);
        g_reachedPipe = fds[1];
        struct sigaction action {};
        action.sa_handler = reportAndWait;
        ::sigaction(SIGXFSZ, &action, nullptr);
        const rlimit noCore{0, 0};
        ::setrlimit(RLIMIT_CORE, &noCore);
        const rlim_t half = bytes.size() / 2;
        const rlimit sizeLimit{half, half};
        ::setrlimit(RLIMIT_FSIZE, &sizeLimit);
        (void)writeFileAtomically(book, bytes, options);
        ::_exit(1);  // the save went through: the limit did not hold
    }
    ::close(fds[1]);
    char byte = 0;
    ssize_t n = -1;
    pollfd ready{fds[0], POLLIN, 0};
    if (::poll(&ready, 1, 30000) == 1) {
        n = ::read(fds[0], &byte, 1);
    }
    ::close(fds[0]);
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_EQ(n, 1) << "the writer never reached the middle of its temporary file";
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
}
}  // namespace

class KilledSave : public ::testing::TestWithParam<bool> {};

TEST_P(KilledSave, LeavesNoStrayFileAfterTheNextSave) {
    const bool unnamed = GetParam();
    test::TempDir dir;
    const fs::path book = dir / "book.tn2";
    const std::string big(std::size_t{1} << 20, 'x');
    AtomicWriteOptions options;
    options.unnamedTemporary = unnamed;
    ASSERT_TRUE(writeFileAtomically(book, "before", 0600).ok());
    for (int round = 0; round < 3; ++round) {
        killWriterMidSave(book, big, options);
        // Each killed writer's save removed the stray of the one before it.
        const auto entries = entriesOf(dir.path());
        if (unnamed) {
            // A file with no name yet dies with its writer.
            EXPECT_EQ(entries, std::vector<std::string>{"book.tn2"});
        } else {
            ASSERT_EQ(entries.size(), 2u) << "round " << round;
            const std::string& stray = entries[0] == "book.tn2" ? entries[1] : entries[0];
            EXPECT_EQ(stray.rfind(".book.tn2.", 0), 0u) << stray;
            EXPECT_EQ(modeOf(dir / stray), 0600u) << "a stray keeps the book's mode";
        }
        EXPECT_EQ(test::readFile(book), "before");
    }

    ASSERT_TRUE(writeFileAtomically(book, "after", options).ok());
    EXPECT_EQ(entriesOf(dir.path()), std::vector<std::string>{"book.tn2"});
    EXPECT_EQ(test::readFile(book), "after");
    EXPECT_EQ(modeOf(book), 0600u);
}

INSTANTIATE_TEST_SUITE_P(Temporary, KilledSave, ::testing::Values(true, false),
                         [](const auto& param) { return param.param ? "Unnamed" : "Named"; });

TEST(Files, ReadersRefuseFifosAndDevicesAtOnce) {
    test::TempDir dir;
    const fs::path fifo = dir / "pipe.tn2";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const auto start = std::chrono::steady_clock::now();
    auto fromFifo = readWholeFile(fifo);  // would wait for a writer for ever
    auto fromDevice = readWholeFile("/dev/urandom");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    ASSERT_FALSE(fromFifo.ok());
    ASSERT_FALSE(fromDevice.ok());
    EXPECT_NE(fromDevice.error().message.find("not a regular file"), std::string::npos);
    EXPECT_FALSE(readWholeFile(dir.path()).ok());
    EXPECT_FALSE(readLineList(fifo).ok());
    EXPECT_FALSE(readFileStart(fifo, 16).ok());
    EXPECT_FALSE(readFileStart("/dev/zero", 16).ok());

    // A sample of a regular file is its start, however long the file.
    const fs::path text = dir / "long.csv";
    test::writeFile(text, std::string(100000, 'a') + "b");
    EXPECT_EQ(readFileStart(text, 5).value(), "aaaaa");
    EXPECT_EQ(readFileStart(text, 200000).value().size(), 100001u);
}
