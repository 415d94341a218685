#pragma once
// APLock: the busy guard of long operations. Not recursive: a thread that holds it and tries again
// gets false. It may be released by another thread than the one that took it.

#include "APlatform/BinarySemaphore.h"

class APLock {
public:
    void Lock() { semaphore.Take(); }
    void Unlock() { semaphore.Release(); }
    bool TryLock() { return semaphore.TryTake(); }
    bool IsLocked() const { return semaphore.IsTaken(); }

    // Takes the lock without waiting and releases it on every way out:
    //   APLock::TryGuard guard(busyLock); if (!guard) return kErrBusy;
    class TryGuard {
    public:
        explicit TryGuard(APLock& guarded) : lock(guarded), held(guarded.TryLock()) {}
        ~TryGuard()
        {
            if (held)
                lock.Unlock();
        }
        TryGuard(const TryGuard&) = delete;
        TryGuard& operator=(const TryGuard&) = delete;
        explicit operator bool() const { return held; }

    private:
        APLock& lock;
        bool held;
    };

    // Waits for a running operation to finish (used by owners that are being destroyed).
    void WaitUntilFree()
    {
        Lock();
        Unlock();
    }

private:
    platform::BinarySemaphore semaphore;
};
