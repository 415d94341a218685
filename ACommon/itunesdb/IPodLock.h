#pragma once
// IPodLock: the advisory lock on one iPod's database, shared by every writer of this program (the
// database source, the music library's iPod source, another Pelorin process).
//
// Whoever changes an iPod's database takes the lock first, makes sure the database in memory is
// the one on the iPod, and holds the lock until the changed database is stored (or given up):
//
//     IPodLock lock;
//     if (int err = lock.Acquire(root, IPodLock::kDefaultWaitMs); err != 0)
//         return err;                            // kErrBusy: another writer holds it
//     if (int err = db.ReloadIfChanged(cancel, progress); err != 0)
//         return err;                            // written by someone else since it was loaded
//     ... AddSong / RemoveSong ...
//     int err = db.Store(nullptr);
//     lock.Release();                            // or let `lock` go out of scope
//
// The lock is flock(2) on the iPod's iPod_Control/iTunes folder: nothing is written to the iPod
// for it, the kernel drops it when its holder dies (a crashed run never leaves the iPod locked),
// and two IPodLock objects exclude each other within one process as between processes. It is
// advisory: a program that does not take it is not kept out, which is why IPodDB::Store also
// refuses to overwrite a database that changed on disk since it was loaded.

#include "ACommon/base/AString.h"

class IPodLock {
public:
    // How long Acquire waits by default for another writer to finish a store.
    static constexpr int kDefaultWaitMs = 10000;

    IPodLock() = default;
    ~IPodLock();
    IPodLock(const IPodLock&) = delete;
    IPodLock& operator=(const IPodLock&) = delete;

    // Takes the lock of the iPod mounted at `root`, waiting up to `waitMs` milliseconds while
    // another writer holds it. 0 (also when already held by this object), kErrBusy when the wait
    // ran out, kErrFileNotFound when the iPod has no iPod_Control/iTunes folder. On a volume that offers no
    // locking at all, the lock counts as taken.
    int Acquire(const AString& root, int waitMs = kDefaultWaitMs);
    void Release();
    bool IsHeld() const { return fd >= 0; }

private:
    int fd = -1;
};
