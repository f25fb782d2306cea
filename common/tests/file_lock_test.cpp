#include "common/file_lock.h"

#include <gtest/gtest.h>

#include <thread>

#include "testsupport.h"

using namespace tarn;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

TEST(FileLock, OneHolderPerFileWhicheverNameIsUsed) {
    test::TempDir dir;
    const fs::path book = dir / "book.tn2";
    test::writeFile(book, "x");
    fs::create_symlink("book.tn2", dir / "alias.tn2");

    FileLock first = FileLock::tryLock(book);
    ASSERT_TRUE(first.held()) << first.message();
    EXPECT_TRUE(fs::exists(dir / ".book.tn2.lock"));

    FileLock second = FileLock::tryLock(dir / "alias.tn2");
    EXPECT_EQ(second.outcome(), FileLock::Outcome::Busy);
    EXPECT_NE(second.message().find(".book.tn2.lock"), std::string::npos);
    // Another file in the same folder has a lock of its own.
    EXPECT_TRUE(FileLock::tryLock(dir / "other.tn2").held());

    first.release();
    EXPECT_FALSE(fs::exists(dir / ".book.tn2.lock")) << "released locks leave no file";
    EXPECT_TRUE(FileLock::tryLock(dir / "alias.tn2").held());

    // A folder we cannot write to: the reason, not a silent pass.
    FileLock nowhere = FileLock::tryLock(dir / "missing" / "book.tn2");
    EXPECT_EQ(nowhere.outcome(), FileLock::Outcome::Failed);
    EXPECT_NE(nowhere.message().find("missing"), std::string::npos);
}

TEST(FileLock, WaitingTakesTheLockWhenItIsReleasedAndGivesUpAfterTheLimit) {
    test::TempDir dir;
    const fs::path registry = dir / "registry";
    auto holder = std::make_unique<FileLock>(FileLock::tryLock(registry));
    ASSERT_TRUE(holder->held());
    EXPECT_EQ(FileLock::lock(registry, 50ms).outcome(), FileLock::Outcome::Busy);

    std::thread releaser([&] {
        std::this_thread::sleep_for(30ms);
        holder.reset();
    });
    FileLock waited = FileLock::lock(registry, 10s);
    releaser.join();
    EXPECT_TRUE(waited.held()) << waited.message();
}

// Many threads taking and releasing one lock: at no moment do two hold it,
// although each release removes the lock file that the others have open.
TEST(FileLock, NeverTwoHoldersAcrossRemovals) {
    test::TempDir dir;
    const fs::path file = dir / "registry";
    std::atomic<int> inside{0};
    std::atomic<int> overlaps{0};
    std::atomic<int> entries{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 200; ++i) {
                FileLock l = FileLock::lock(file, 20s);
                if (!l.held()) {
                    continue;
                }
                if (inside.fetch_add(1) != 0) {
                    ++overlaps;
                }
                ++entries;
                inside.fetch_sub(1);
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(overlaps.load(), 0);
    EXPECT_EQ(entries.load(), 800);
}
