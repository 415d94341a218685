#include "ACommon/itunesdb/IPodLock.h"

#include "ACommon/base/AError.h"
#include "ACommon/itunesdb/IPodDB.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <thread>
#include <unistd.h>

namespace {

// The process holding an flock on the file open as `fd`, from the kernel's list of locks; 0 when
// it is not found. Lines read "1: FLOCK  ADVISORY  WRITE 4242 08:01:1234 0 EOF"; waiters are
// marked "->" and skipped.
long FlockHolder(int fd)
{
    struct stat info {};
    if (fstat(fd, &info) != 0)
        return 0;
    char device[64];
    std::snprintf(device, sizeof device, "%02x:%02x:%llu", major(info.st_dev), minor(info.st_dev),
                  static_cast<unsigned long long>(info.st_ino));
    std::ifstream locks("/proc/locks");
    std::string line;
    while (std::getline(locks, line)) {
        std::istringstream fields(line);
        std::string number, kind, mode, access, where;
        long pid = 0;
        if (!(fields >> number >> kind) || kind == "->" || kind != "FLOCK")
            continue;
        if (fields >> mode >> access >> pid >> where && where == device && pid > 0)
            return pid;
    }
    return 0;
}

} // namespace

IPodLock::~IPodLock() { Release(); }

AString IPodLock::BusyMessage(long pid)
{
    AString text("another sync is running on this iPod");
    if (pid > 0) {
        text += " (process ";
        text += AString::FromUTF8(std::to_string(pid));
        text += ")";
    }
    text += "; try again when it has finished. Nothing was changed.";
    return text;
}

int IPodLock::Acquire(const AString& root, int waitMs)
{
    if (fd >= 0)
        return 0;
    // A wait that ran out is not repeated.
    const bool waiting = waitMs > 0 && refusedPid == 0;
    if (!waiting)
        waitMs = 0;
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
            const long holder = FlockHolder(handle);
            close(handle);
            // A mere try (no wait) is no wait that ran out: the next Acquire may wait.
            if (waiting || refusedPid != 0)
                refusedPid = holder > 0 ? holder : -1;
            AError::NoteFailure(kErrBusy, BusyMessage(holder));
            return kErrBusy;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    fd = handle;
    return 0;
}

void IPodLock::Release()
{
    refusedPid = 0;
    if (fd < 0)
        return;
    // Closing the only descriptor of the open folder drops its lock.
    close(fd);
    fd = -1;
}
