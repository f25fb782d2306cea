#include "sendcore/single_instance.h"

#include <gtest/gtest.h>

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
}

}  // namespace
}  // namespace tarn
