#include "ACommon/base/APLock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

TEST(APLock, WaitUntilFreeWaitsForTheRelease)
{
    APLock lock;
    ASSERT_TRUE(lock.TryLock());
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        finished = true;
        lock.Unlock(); // from another thread than the one that took it
    });
    lock.WaitUntilFree();
    EXPECT_TRUE(finished);
    EXPECT_FALSE(lock.IsLocked());
    worker.join();
}
