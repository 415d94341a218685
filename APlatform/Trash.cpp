#include "APlatform/Trash.h"

#include "APlatform/KnownFolders.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

std::string Parent(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

// The path as a URL path: every byte outside the unreserved set and "/" written as %XX.
std::string Escaped(const std::string& path)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : path) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                           c == '/' || c == '-' || c == '_' || c == '.' || c == '~';
        if (plain) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        }
    }
    return out;
}

bool IsRealFolder(const std::string& path, struct stat* info = nullptr)
{
    struct stat own {};
    if (lstat(path.c_str(), &own) != 0 || !S_ISDIR(own.st_mode))
        return false;
    if (info)
        *info = own;
    return true;
}

// Makes `folder` (and files/, info/ in it) when missing: 0700, never through a link.
bool MakeTrashFolders(const std::string& folder)
{
    for (const std::string& path : {folder, folder + "/files", folder + "/info"}) {
        if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
        if (!IsRealFolder(path))
            return false;
    }
    return true;
}

// The top folder of the volume that holds `path`: the highest folder on the same device.
std::string TopOfVolume(const std::string& path, dev_t device)
{
    std::string top = Parent(path);
    while (top != "/") {
        const std::string up = Parent(top);
        struct stat info {};
        if (stat(up.c_str(), &info) != 0 || info.st_dev != device)
            break;
        top = up;
    }
    return top;
}

// The device of the nearest existing folder of `path`.
bool DeviceOf(std::string path, dev_t* device)
{
    for (;;) {
        struct stat info {};
        if (stat(path.c_str(), &info) == 0) {
            *device = info.st_dev;
            return true;
        }
        if (path == "/" || path.empty())
            return false;
        path = Parent(path);
    }
}

// The Trash folder for an item on `device` at `path`, and the folder the info file's Path is
// relative to (empty: absolute). Empty when there is none fit to use.
std::string TrashFolderFor(const std::string& path, dev_t device, std::string* relativeTo)
{
    relativeTo->clear();
    const std::string home = ApplicationSupportFolder() + "/Trash";
    dev_t homeDevice{};
    if (DeviceOf(ApplicationSupportFolder(), &homeDevice) && homeDevice == device) {
        std::error_code error;
        std::filesystem::create_directories(ApplicationSupportFolder(), error);
        if (MakeTrashFolders(home))
            return home;
    }
    const std::string top = TopOfVolume(path, device);
    const std::string uid = std::to_string(getuid());
    const std::string base = top == "/" ? std::string() : top;
    // A shared ".Trash" counts only when it is a real folder with the sticky bit.
    struct stat shared {};
    if (IsRealFolder(base + "/.Trash", &shared) && (shared.st_mode & S_ISVTX)) {
        const std::string own = base + "/.Trash/" + uid;
        if (MakeTrashFolders(own)) {
            *relativeTo = top;
            return own;
        }
    }
    const std::string own = base + "/.Trash-" + uid;
    if (MakeTrashFolders(own)) {
        *relativeTo = top;
        return own;
    }
    return std::string();
}

std::string Now()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    return text;
}

} // namespace

int MoveToTrash(const std::string& path, std::string* trashed)
{
    struct stat item {};
    if (path.empty() || path[0] != '/' || lstat(path.c_str(), &item) != 0)
        return ENOENT;
    std::string relativeTo;
    const std::string trash = TrashFolderFor(path, item.st_dev, &relativeTo);
    if (trash.empty())
        return EXDEV;
    std::string shownPath = path;
    if (!relativeTo.empty() && relativeTo != "/" &&
        path.compare(0, relativeTo.size() + 1, relativeTo + "/") == 0)
        shownPath = path.substr(relativeTo.size() + 1);

    std::string name = path.substr(path.find_last_of('/') + 1);
    // A name as long as the volume allows leaves no room for ".trashinfo" (nor for a number that
    // tells two items of one name apart): the Trash keeps the item under a shortened name, keeping
    // its extension; its info file keeps the path it came from.
    constexpr size_t kNameMax = 255, kInfoSuffix = 10, kNumberRoom = 6;
    if (name.size() + kInfoSuffix + kNumberRoom > kNameMax) {
        const size_t dot = name.find_last_of('.');
        const std::string extension =
            dot != std::string::npos && dot > 0 && name.size() - dot <= 16 ? name.substr(dot) : "";
        size_t keep = kNameMax - kInfoSuffix - kNumberRoom - extension.size();
        while (keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80)
            --keep;
        name = name.substr(0, keep) + extension;
    }
    const std::string body = "[Trash Info]\nPath=" + Escaped(shownPath) + "\nDeletionDate=" + Now() + "\n";
    for (int attempt = 0; attempt < 10000; ++attempt) {
        std::string candidate = name;
        if (attempt > 0) {
            const size_t dot = name.find_last_of('.');
            const std::string suffix = " " + std::to_string(attempt + 1);
            candidate = dot == std::string::npos || dot == 0
                            ? name + suffix
                            : name.substr(0, dot) + suffix + name.substr(dot);
        }
        // The info file is made first, exclusively: it reserves the name against other programs.
        const std::string info = trash + "/info/" + candidate + ".trashinfo";
        const int fd = open(info.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return errno;
        }
        const bool written =
            write(fd, body.data(), body.size()) == static_cast<ssize_t>(body.size()) && fsync(fd) == 0;
        close(fd);
        const std::string target = trash + "/files/" + candidate;
        struct stat existing {};
        int failure = EIO;
        if (written) {
            if (lstat(target.c_str(), &existing) == 0)
                failure = EEXIST; // a file without its info file: leave it, take another name
            else if (rename(path.c_str(), target.c_str()) == 0) {
                if (trashed)
                    *trashed = target;
                return 0;
            } else
                failure = errno;
        }
        unlink(info.c_str());
        if (failure != EEXIST)
            return failure;
    }
    return EEXIST;
}

} // namespace platform
