#include "APlatform/FileSystem.h"

#include <atomic>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#ifdef __linux__
#include <linux/magic.h>
#include <linux/msdos_fs.h>
#include <sys/ioctl.h>
#include <sys/vfs.h>
#endif

namespace platform {
namespace {
std::atomic<std::uint64_t> gFreeSpaceOverride{UINT64_MAX};
std::mutex gCaseOverrideLock;
std::string gIgnoreCaseRoot;
} // namespace

void OverrideFreeSpaceForTesting(std::uint64_t freeBytes) { gFreeSpaceOverride.store(freeBytes); }

void TreatNamesAsIgnoringCaseForTesting(const std::string& root)
{
    std::lock_guard<std::mutex> hold(gCaseOverrideLock);
    gIgnoreCaseRoot = root;
}

bool VolumeFreeSpace(const std::string& path, std::uint64_t& freeBytes)
{
    std::uint64_t forced = gFreeSpaceOverride.load();
    if (forced != UINT64_MAX) {
        freeBytes = forced;
        return true;
    }
    struct statvfs info {};
    if (statvfs(path.c_str(), &info) != 0)
        return false;
    freeBytes = static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
    return true;
}

namespace {

#ifdef __linux__
constexpr long kExfatMagic = 0x2011BAB0;
constexpr long kHfsPlusMagic = 0x482B;

long VolumeType(const std::string& path)
{
    struct statfs volume {};
    if (statfs(path.c_str(), &volume) != 0)
        return 0;
    return static_cast<long>(volume.f_type);
}
#endif

} // namespace

bool NamesIgnoreCase(const std::string& path)
{
    {
        std::lock_guard<std::mutex> hold(gCaseOverrideLock);
        if (!gIgnoreCaseRoot.empty() && path.compare(0, gIgnoreCaseRoot.size(), gIgnoreCaseRoot) == 0)
            return true;
    }
#ifdef __linux__
    const long type = VolumeType(path);
    return type == MSDOS_SUPER_MAGIC || type == kExfatMagic || type == kHfsPlusMagic;
#else
    (void)path;
    return true; // macOS volumes ignore case unless formatted otherwise
#endif
}

bool HasCoarseDates(const std::string& path)
{
#ifdef __linux__
    const long type = VolumeType(path);
    return type == MSDOS_SUPER_MAGIC || type == kExfatMagic;
#else
    (void)path;
    return false;
#endif
}

std::string FolderIdentity(const std::string& path)
{
    struct stat folder {};
    if (stat(path.c_str(), &folder) != 0 || !S_ISDIR(folder.st_mode))
        return std::string();
    std::string volume =
        "device " + std::to_string(major(folder.st_dev)) + ":" + std::to_string(minor(folder.st_dev));
    // Device numbers of removable volumes are handed out afresh; the UUID stays with the volume.
    if (DIR* uuids = opendir("/dev/disk/by-uuid")) {
        while (dirent* entry = readdir(uuids)) {
            struct stat device {};
            const std::string link = std::string("/dev/disk/by-uuid/") + entry->d_name;
            if (entry->d_name[0] != '.' && stat(link.c_str(), &device) == 0 && S_ISBLK(device.st_mode) &&
                device.st_rdev == folder.st_dev) {
                volume = std::string("volume ") + entry->d_name;
                break;
            }
        }
        closedir(uuids);
    }
    return volume + ", folder " + std::to_string(folder.st_ino);
}

int SetHidden(const std::string& path, bool hidden)
{
#ifdef __linux__
    struct statfs volume {};
    if (statfs(path.c_str(), &volume) != 0)
        return errno;
    if (volume.f_type != MSDOS_SUPER_MAGIC)
        return 0;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    std::uint32_t attributes = 0;
    int result = 0;
    if (ioctl(fd, FAT_IOCTL_GET_ATTRIBUTES, &attributes) != 0) {
        result = errno;
    } else {
        attributes =
            hidden ? (attributes | ATTR_HIDDEN) : (attributes & ~static_cast<std::uint32_t>(ATTR_HIDDEN));
        if (ioctl(fd, FAT_IOCTL_SET_ATTRIBUTES, &attributes) != 0)
            result = errno;
    }
    close(fd);
    return result;
#else
    (void)path;
    (void)hidden;
    return 0;
#endif
}

int CopyAttributes(const std::string& from, int toFd)
{
    // Followed through a symbolic link: the copy holds what the link points to, so it takes that
    // file's permissions and dates, not the link's.
    struct stat info {};
    if (stat(from.c_str(), &info) != 0)
        return errno;
    if (fchmod(toFd, info.st_mode & 07777) != 0 && errno != EPERM)
        return errno;
    timespec times[2] = {info.st_atim, info.st_mtim};
    if (futimens(toFd, times) != 0)
        return errno;
    return 0;
}

int SyncFolder(const std::string& folder)
{
    int fd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    int result = fsync(fd) == 0 ? 0 : errno;
    close(fd);
    // Some file systems (FAT through FUSE, for one) cannot sync a directory; the rename is done.
    return (result == EINVAL || result == EROFS) ? 0 : result;
}

} // namespace platform
