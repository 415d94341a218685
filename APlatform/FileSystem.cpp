#include "APlatform/FileSystem.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <unordered_map>

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
std::atomic<int> gAttributeFailure{0};
} // namespace

void FailAttributeCallsForTesting(int error) { gAttributeFailure.store(error); }

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

bool RoomToSpare(const std::string& folder, std::uint64_t bytes)
{
    if (gFreeSpaceOverride.load() != UINT64_MAX)
        return false;
    struct Measure {
        std::uint64_t freeBytes = 0;
        std::uint64_t spentAtMeasure = 0;
        std::chrono::steady_clock::time_point measured;
    };
    static std::mutex guard;
    // By folder, not by the volume's number: some file systems give every volume the same one. A
    // folder is measured on its own; `spent` counts what every folder was granted, so what one folder
    // of a volume took is counted against the others too.
    static std::unordered_map<std::string, Measure> measures;
    static std::uint64_t spent = 0; // every byte answered yes, on any volume
    constexpr auto kLongest = std::chrono::seconds(1);
    // What a file takes beyond its bytes: its last block and its entry in the folder.
    constexpr std::uint64_t kBlock = 4096;
    std::lock_guard<std::mutex> hold(guard);
    const auto now = std::chrono::steady_clock::now();
    auto known = measures.find(folder);
    if (known == measures.end() || now - known->second.measured > kLongest ||
        spent - known->second.spentAtMeasure >= kRecountBytes) {
        struct statvfs info {};
        if (statvfs(folder.c_str(), &info) != 0)
            return false;
        if (measures.size() > 4096)
            measures.clear();
        const std::uint64_t freeBytes = static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
        known = measures.insert_or_assign(folder, Measure{freeBytes, spent, now}).first;
    }
    const Measure& measure = known->second;
    const std::uint64_t needed = (bytes + 2 * kBlock - 1) / kBlock * kBlock;
    const std::uint64_t since = spent - measure.spentAtMeasure;
    if (measure.freeBytes < since + needed + kRecountBytes)
        return false;
    spent += needed;
    return true;
}

unsigned CreatedMode(unsigned mode)
{
    static const unsigned mask = [] {
        // Read rather than set and set back: another thread may be creating a file meanwhile.
        std::ifstream status("/proc/self/status");
        std::string line;
        while (std::getline(status, line))
            if (line.rfind("Umask:", 0) == 0)
                return static_cast<unsigned>(std::stoul(line.substr(6), nullptr, 8));
        return 07777u; // unknown: no bit is taken to be let through
    }();
    return mode & 0777 & ~mask;
}

bool VolumeSpaceOf(const std::string& path, VolumeSpace& space)
{
    struct statvfs info {};
    if (statvfs(path.c_str(), &info) != 0)
        return false;
    const std::uint64_t unit = info.f_frsize ? info.f_frsize : info.f_bsize;
    space.total = static_cast<std::uint64_t>(info.f_blocks) * unit;
    space.used = static_cast<std::uint64_t>(info.f_blocks - std::min(info.f_bfree, info.f_blocks)) * unit;
    space.available = static_cast<std::uint64_t>(info.f_bavail) * unit;
    if (std::uint64_t forced = gFreeSpaceOverride.load(); forced != UINT64_MAX) {
        space.available = forced;
        space.total = std::max(space.total, space.used + forced);
    }
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

std::mutex gMountTableLock;
std::string gMountTableOverride;

// A mount point as the mount table writes it: space, tab, line feed and backslash as octal escapes.
std::string Unescaped(const std::string& field)
{
    std::string text;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() &&
            std::isdigit(static_cast<unsigned char>(field[i + 1])) &&
            std::isdigit(static_cast<unsigned char>(field[i + 2])) &&
            std::isdigit(static_cast<unsigned char>(field[i + 3]))) {
            text += static_cast<char>(std::stoi(field.substr(i + 1, 3), nullptr, 8));
            i += 3;
        } else {
            text += field[i];
        }
    }
    return text;
}

// The mount that holds `path`, from the mount table (the last of several at one place is in use).
bool FindMount(const std::string& path, MountEntry& entry)
{
    std::string table;
    {
        std::lock_guard<std::mutex> hold(gMountTableLock);
        table = gMountTableOverride;
    }
    if (table.empty()) {
        std::ifstream in("/proc/self/mountinfo");
        std::ostringstream all;
        all << in.rdbuf();
        table = all.str();
    }
    char resolved[PATH_MAX];
    const std::string full = realpath(path.c_str(), resolved) ? std::string(resolved) : path;
    std::istringstream lines(table);
    bool found = false;
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string id, parent, device, root, point;
        if (!(fields >> id >> parent >> device >> root >> point))
            continue;
        std::string field, type, source;
        while (fields >> field && field != "-") {
        }
        if (!(fields >> type))
            continue;
        fields >> source;
        point = Unescaped(point);
        const bool holds = point == "/" || full == point ||
                           (full.size() > point.size() && full.compare(0, point.size(), point) == 0 &&
                            full[point.size()] == '/');
        if (holds && (!found || point.size() >= entry.mountPoint.size())) {
            found = true;
            entry.mountPoint = point;
            entry.type = type;
            entry.source = Unescaped(source);
        }
    }
    return found;
}

// The file-system type the mount table gives for the mount that holds `path` ("fuseblk.exfat",
// "fuse.fusefat", "vfat"...); empty when unknown.
std::string MountType(const std::string& path)
{
    MountEntry entry;
    return FindMount(path, entry) ? entry.type : std::string();
}

// FAT and exFAT mounted through FUSE (exfat-fuse, fusefat): the kernel knows them only as FUSE
// mounts, "fuse" or "fuseblk" with the driver's subtype after a dot.
bool FatThroughFuse(const std::string& path)
{
    const std::string type = MountType(path);
    const size_t dot = type.find('.');
    if (dot == std::string::npos)
        return false;
    const std::string base = type.substr(0, dot), subtype = type.substr(dot + 1);
    if (base != "fuse" && base != "fuseblk")
        return false;
    for (const char* fat : {"exfat", "fusefat", "fat", "vfat", "msdos", "fat32"})
        if (subtype == fat)
            return true;
    return false;
}

} // namespace

bool MountOf(const std::string& path, MountEntry& entry) { return FindMount(path, entry); }

void SetMountTableForTesting(const std::string& text)
{
    std::lock_guard<std::mutex> hold(gMountTableLock);
    gMountTableOverride = text;
}

bool NamesIgnoreCase(const std::string& path)
{
    {
        std::lock_guard<std::mutex> hold(gCaseOverrideLock);
        if (!gIgnoreCaseRoot.empty() && path.compare(0, gIgnoreCaseRoot.size(), gIgnoreCaseRoot) == 0)
            return true;
    }
#ifdef __linux__
    const long type = VolumeType(path);
    return type == MSDOS_SUPER_MAGIC || type == kExfatMagic || type == kHfsPlusMagic || FatThroughFuse(path);
#else
    (void)path;
    return true; // macOS volumes ignore case unless formatted otherwise
#endif
}

bool HasCoarseDates(const std::string& path)
{
#ifdef __linux__
    const long type = VolumeType(path);
    return type == MSDOS_SUPER_MAGIC || type == kExfatMagic || FatThroughFuse(path);
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

bool AttributeUnsupported(int error)
{
    return error == ENOSYS || error == ENOTSUP || error == EOPNOTSUPP || error == EPERM;
}

int SetAttributes(int toFd, unsigned mode, const struct timespec& accessed, const struct timespec& modified,
                  bool* datesKept, bool modeSet)
{
    if (datesKept)
        *datesKept = false;
    // A volume that refuses attribute calls, as tests make one.
    if (const int injected = gAttributeFailure.load(); injected != 0)
        return AttributeUnsupported(injected) ? 0 : injected;
    if (!modeSet && fchmod(toFd, mode & 07777) != 0 && !AttributeUnsupported(errno))
        return errno;
    timespec times[2] = {accessed, modified};
    if (futimens(toFd, times) != 0)
        return AttributeUnsupported(errno) ? 0 : errno;
    if (datesKept)
        *datesKept = true;
    return 0;
}

int CopyAttributes(const std::string& from, int toFd)
{
    // Followed through a symbolic link: the copy holds what the link points to, so it takes that
    // file's permissions and dates, not the link's.
    struct stat info {};
    if (stat(from.c_str(), &info) != 0)
        return errno;
    return SetAttributes(toFd, info.st_mode, info.st_atim, info.st_mtim);
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
