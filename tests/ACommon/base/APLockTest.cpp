#include "ACommon/base/APLock.h"

#include "ACommon/base/AError.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

TEST(APLock, TryLockIsNotRecursiveAndAnotherThreadMayReleaseIt)
{
    APLock lock;
    EXPECT_TRUE(lock.TryLock());
    EXPECT_FALSE(lock.TryLock()) << "the holder's second try fails too";
    std::thread other([&] { lock.Unlock(); });
    other.join();
    EXPECT_FALSE(lock.IsLocked());
    EXPECT_TRUE(lock.TryLock());
    lock.Unlock();
}

TEST(APLock, LockAndWaitUntilFreeWaitForTheRelease)
{
    APLock lock;
    ASSERT_TRUE(lock.TryLock());
    std::atomic<bool> released{false};
    std::atomic<bool> acquired{false};
    std::thread waiter([&] {
        lock.Lock();
        // The waiter can only get here after the main thread let go.
        acquired = released.load();
        lock.Unlock();
    });
    released = true;
    lock.Unlock();
    waiter.join();
    EXPECT_TRUE(acquired);

    ASSERT_TRUE(lock.TryLock());
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        finished = true;
        lock.Unlock();
    });
    lock.WaitUntilFree();
    EXPECT_TRUE(finished);
    EXPECT_FALSE(lock.IsLocked());
    worker.join();
}

TEST(APLock, TryGuardRefusesABusyLockAndReleasesOnEveryWayOut)
{
    APLock busy;
    auto operation = [&busy](bool fail) {
        APLock::TryGuard guard(busy);
        if (!guard)
            return static_cast<int>(kErrBusy);
        if (fail)
            return static_cast<int>(kErrIO);
        return 0;
    };
    EXPECT_EQ(operation(false), 0);
    EXPECT_EQ(operation(true), kErrIO);
    EXPECT_FALSE(busy.IsLocked());
    ASSERT_TRUE(busy.TryLock());
    EXPECT_EQ(operation(false), kErrBusy);
    EXPECT_TRUE(busy.IsLocked()) << "a refused guard leaves the holder's lock alone";
    busy.Unlock();
}
