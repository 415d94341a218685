#pragma once
// A lock that any thread may release: taken with TryTake (never waits) or Take (waits), released
// with Release by whichever thread is done with it. Holding it twice is not possible, not even from
// the same thread (a second TryTake gives false).

#include <condition_variable>
#include <mutex>

namespace platform {

class BinarySemaphore {
public:
    BinarySemaphore() = default;
    BinarySemaphore(const BinarySemaphore&) = delete;
    BinarySemaphore& operator=(const BinarySemaphore&) = delete;

    bool TryTake();
    void Take();
    void Release();
    bool IsTaken() const;

private:
    mutable std::mutex mutex;
    std::condition_variable freed;
    bool taken = false;
};

} // namespace platform
