#pragma once
// IPodLock: the advisory lock that keeps two writers of one iPod's database apart, whatever
// process they run in: an exclusive flock on iPod_Control/iTunes/iTunesDB.lock. The lock file
// itself is never removed (another process may be waiting on it).

#include "ACommon/base/AString.h"

#include <memory>

class IPodLock {
public:
    ~IPodLock();
    IPodLock(const IPodLock&) = delete;
    IPodLock& operator=(const IPodLock&) = delete;

    // Takes the lock of the iPod mounted at `root`, waiting up to `timeoutMs` for another holder.
    // 0 and the lock; -102390 when it stays held, or the error of opening the lock file.
    static int Acquire(const AString& root, int timeoutMs, std::unique_ptr<IPodLock>& out);

private:
    explicit IPodLock(int fd) : fd(fd) {}
    int fd;
};
