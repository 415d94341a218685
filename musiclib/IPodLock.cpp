#include "musiclib/IPodLock.h"

#include "ACommon/base/AError.h"
#include "ACommon/itunesdb/IPodDB.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

IPodLock::~IPodLock()
{
    flock(fd, LOCK_UN);
    close(fd);
}

int IPodLock::Acquire(const AString& root, int timeoutMs, std::unique_ptr<IPodLock>& out)
{
    out.reset();
    AString path = IPodDB::ResolveIPodPath(root, "iPod_Control/iTunes");
    path.AppendPathComponent("iTunesDB.lock");
    const int fd = open(path.CStr(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return kErrIO;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() >= deadline) {
            close(fd);
            return kErrBusy;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    out.reset(new IPodLock(fd));
    return 0;
}
