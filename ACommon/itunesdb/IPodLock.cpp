#include "ACommon/itunesdb/IPodLock.h"

#include "ACommon/base/AError.h"
#include "ACommon/itunesdb/IPodDB.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

IPodLock::~IPodLock() { Release(); }

int IPodLock::Acquire(const AString& root, int waitMs)
{
    if (fd >= 0)
        return 0;
    const AString folder = IPodDB::ResolveIPodPath(root, "iPod_Control/iTunes");
    const int handle = open(folder.CStr(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (handle < 0) {
        AError::NoteFailure(kErrFileNotFound, "open", folder, errno);
        return kErrFileNotFound;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        if (flock(handle, LOCK_EX | LOCK_NB) == 0)
            break;
        const int error = errno;
        if (error == EINTR)
            continue;
        if (error != EWOULDBLOCK)
            break; // no locking on this volume: nothing to wait for
        if (std::chrono::steady_clock::now() >= deadline) {
            close(handle);
            AString why("another program is changing the iPod's database (");
            why += folder;
            why += " is locked)";
            AError::NoteFailure(kErrBusy, why);
            return kErrBusy;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    fd = handle;
    return 0;
}

void IPodLock::Release()
{
    if (fd < 0)
        return;
    // Closing the only descriptor of the open folder drops its lock.
    close(fd);
    fd = -1;
}
