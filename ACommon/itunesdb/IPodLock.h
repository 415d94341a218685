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
    // How long Acquire waits by default for another writer to finish a store. A run waits once: a
    // holder that does not let go within this time is changing the iPod at length (a sync of its
    // own), and every later Acquire of the same lock object only tries, without waiting, until
    // Release starts afresh: a run that waited per song would take hours.
    static constexpr int kDefaultWaitMs = 10000;

    IPodLock() = default;
    ~IPodLock();
    IPodLock(const IPodLock&) = delete;
    IPodLock& operator=(const IPodLock&) = delete;

    // Takes the lock of the iPod mounted at `root`, waiting up to `waitMs` milliseconds while
    // another writer holds it (not at all once a wait ran out, see above). 0 (also when already
    // held by this object), kErrBusy when the lock is not free, kErrFileNotFound when the iPod has no
    // iPod_Control/iTunes folder. On a volume that offers no locking at all, the lock counts as
    // taken. A refusal notes BusyMessage as the reason (AError::FailureDetail).
    int Acquire(const AString& root, int waitMs = kDefaultWaitMs);
    // Lets go of the lock, and forgets a wait that ran out.
    void Release();
    bool IsHeld() const { return fd >= 0; }

    // "another sync is running on this iPod (process N); try again when it has finished. Nothing
    // was changed.", without "(process N)" when `pid` is not known (below 1).
    static AString BusyMessage(long pid);

private:
    int fd = -1;
    long refusedPid = 0; // -1 once a wait ran out against a holder not known, else its process
};
