#include "APlatform/BinarySemaphore.h"

namespace platform {

bool BinarySemaphore::TryTake()
{
    std::lock_guard lock(mutex);
    if (taken)
        return false;
    taken = true;
    return true;
}

void BinarySemaphore::Take()
{
    std::unique_lock lock(mutex);
    freed.wait(lock, [this] { return !taken; });
    taken = true;
}

void BinarySemaphore::Release()
{
    {
        std::lock_guard lock(mutex);
        taken = false;
    }
    freed.notify_one();
}

bool BinarySemaphore::IsTaken() const
{
    std::lock_guard lock(mutex);
    return taken;
}

} // namespace platform
