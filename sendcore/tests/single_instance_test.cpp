#include "sendcore/single_instance.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <map>
#include <string>

#include "testsupport.h"

namespace tarn {
namespace {

using Outcome = InstanceLock::Outcome;

TEST(SingleInstance, OneApplicationAtATime) {
    test::TempDir dir;
    {
        InstanceLock group = InstanceLock::acquire(Application::GroupSend, dir.path());
        ASSERT_TRUE(group.held()) << group.message();

        InstanceLock second = InstanceLock::acquire(Application::GroupSend, dir.path());
        EXPECT_EQ(second.outcome(), Outcome::SameApplication);
        EXPECT_EQ(second.message(), "ターノスは複数起動することはできません。");

        InstanceLock db = InstanceLock::acquire(Application::DatabaseSend, dir.path());
        EXPECT_EQ(db.outcome(), Outcome::OtherApplication);
        EXPECT_EQ(db.message(), "データベース送信とグループ送信を同時に起動することはできません。");

        InstanceLock moved = std::move(group);
        EXPECT_TRUE(moved.held());
    }
    {
        // The refused starts above left no lock behind.
        InstanceLock db = InstanceLock::acquire(Application::DatabaseSend, dir.path());
        ASSERT_TRUE(db.held());
        EXPECT_EQ(InstanceLock::acquire(Application::DatabaseSend, dir.path()).outcome(),
                  Outcome::SameApplication);
        EXPECT_EQ(InstanceLock::acquire(Application::GroupSend, dir.path()).outcome(),
                  Outcome::OtherApplication);
    }
    EXPECT_TRUE(InstanceLock::acquire(Application::GroupSend, dir.path()).held());
}

TEST(SingleInstance, UnusableLockFolderIsReported) {
    test::TempDir dir;
    InstanceLock lock = InstanceLock::acquire(Application::GroupSend, dir / "missing");
    EXPECT_EQ(lock.outcome(), Outcome::LockFolderUnusable);
    EXPECT_NE(lock.message().find("missing"), std::string::npos);

    // A folder others may write to: anyone could plant the lock and keep us out.
    ::chmod(dir.path().c_str(), 0777);
    InstanceLock open = InstanceLock::acquire(Application::GroupSend, dir.path());
    EXPECT_EQ(open.outcome(), Outcome::LockFolderUnusable);
    EXPECT_NE(open.message().find("他のユーザー"), std::string::npos) << open.message();
    ::chmod(dir.path().c_str(), 0700);
}

// Without a runtime folder the locks go to a folder of the user's own in the
// temporary folder, so that another user's copy neither blocks nor is blocked.
TEST(SingleInstance, PerUserFolderWithoutARuntimeDirectory) {
    test::TempDir tmp;
    const std::map<std::string, const char*> env = {{"XDG_RUNTIME_DIR", nullptr},
                                                    {"TMPDIR", tmp.path().c_str()}};
    std::map<std::string, std::string> saved;
    for (const auto& [name, value] : env) {
        if (const char* old = std::getenv(name.c_str())) {
            saved[name] = old;
        }
        value != nullptr ? ::setenv(name.c_str(), value, 1) : ::unsetenv(name.c_str());
    }
    const std::filesystem::path folder = InstanceLock::lockFolder();
    EXPECT_EQ(folder, tmp / ("tarn-" + std::to_string(::geteuid())));
    {
        InstanceLock lock = InstanceLock::acquire(Application::DatabaseSend);
        EXPECT_TRUE(lock.held()) << lock.message();
        struct stat st {};
        ASSERT_EQ(::lstat(folder.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u);
        EXPECT_TRUE(std::filesystem::exists(folder / "TarnDBSendV2Instance"));
    }
    for (const auto& [name, value] : env) {
        auto it = saved.find(name);
        it != saved.end() ? ::setenv(name.c_str(), it->second.c_str(), 1)
                          : ::unsetenv(name.c_str());
    }
}

}  // namespace
}  // namespace tarn
