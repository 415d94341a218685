// The advisory lock on an iPod's database, and the database's knowledge of whether the file on the
// iPod is still the one it read.

#include "ACommon/itunesdb/IPodLock.h"
#include "ACommon/base/AError.h"
#include "ACommon/itunesdb/IPodDB.h"
#include "fixtures/IPodDatabase.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

namespace {

class IPodLockTest : public ::testing::Test {
protected:
    // Loads the iPod with its playlists and adds one song called `name`.
    void LoadAndAdd(IPodDB& db, const std::string& name)
    {
        ASSERT_EQ(pod.Load(db), 0);
        pod.Add(db, name, "A.mp3");
    }

    fixtures::TestIPod pod;
    AString root = pod.Root();
};

} // namespace

// A second writer waits for the first. A holder that outlasts one wait is changing the iPod at
// length: from then on the same lock is only tried (a wait of an hour would hang the test), naming the
// holder, until it is released.
TEST_F(IPodLockTest, AfterAWaitRanOutTheLockIsOnlyTriedUntilReleased)
{
    constexpr int kHour = 3600 * 1000;
    IPodLock holder, waiter;
    ASSERT_EQ(holder.Acquire(root, 0), 0);
    EXPECT_EQ(holder.Acquire(root, 0), 0); // held already
    const std::string expected = "another sync is running on this iPod (process " + std::to_string(getpid()) +
                                 "); try again when it has finished. Nothing was changed.";
    EXPECT_EQ(waiter.Acquire(root, 20), kErrBusy);
    EXPECT_FALSE(waiter.IsHeld());
    EXPECT_EQ(AError::FailureDetail(kErrBusy).ToStdString(), expected);
    AError::ClearFailure();
    EXPECT_EQ(waiter.Acquire(root, kHour), kErrBusy);
    EXPECT_EQ(AError::FailureDetail(kErrBusy).ToStdString(), expected);
    holder.Release();
    EXPECT_EQ(waiter.Acquire(root, kHour), 0);
    EXPECT_TRUE(waiter.IsHeld());
}

TEST_F(IPodLockTest, LockOfAProcessThatDiedIsFree)
{
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        IPodLock held;
        // Dies holding the lock, as a killed run would.
        _exit(held.Acquire(root, 0) == 0 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    IPodLock lock;
    EXPECT_EQ(lock.Acquire(root, 0), 0);
}

TEST_F(IPodLockTest, FolderThatIsNoIPodCannotBeLocked)
{
    IPodLock lock;
    EXPECT_EQ(lock.Acquire(pod.volumes.A("nothing"), 0), kErrFileNotFound);
    EXPECT_FALSE(lock.IsHeld());
}

TEST_F(IPodLockTest, DatabaseStoredByAnotherWriterIsNotOverwrittenButReloaded)
{
    IPodDB mine, theirs;
    LoadAndAdd(mine, "Mine");
    EXPECT_FALSE(mine.ChangedOnDisk());
    LoadAndAdd(theirs, "Theirs");
    ASSERT_EQ(theirs.Store(nullptr), 0);
    EXPECT_FALSE(theirs.ChangedOnDisk()); // its own store is what it knows

    EXPECT_TRUE(mine.ChangedOnDisk());
    EXPECT_EQ(mine.Store(nullptr), kErrUnknown);
    IPodDB check;
    ASSERT_EQ(pod.Load(check), 0);
    ASSERT_EQ(check.GetTrackCount(), 1);

    ASSERT_EQ(mine.ReloadIfChanged(nullptr, nullptr), 0);
    EXPECT_FALSE(mine.ChangedOnDisk());
    EXPECT_EQ(mine.GetTrackCount(), 1); // theirs, and no longer the song added before the reload
    ASSERT_NE(pod.Add(mine, "Mine", "B.mp3"), nullptr);
    ASSERT_EQ(mine.Store(nullptr), 0);
    ASSERT_EQ(pod.Load(check), 0);
    EXPECT_EQ(check.GetTrackCount(), 2);
}
