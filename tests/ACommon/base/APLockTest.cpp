#include "ACommon/base/APLock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

TEST(APLock, WaitersWaitForTheRelease)
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
