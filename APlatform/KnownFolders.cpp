#include "APlatform/KnownFolders.h"

#include <chrono>
#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

std::string Environment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

std::string WithoutTrailingSlash(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

bool IsDirectory(const std::string& path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string UserName()
{
    std::string user = Environment("USER");
    if (!user.empty())
        return user;
    if (const passwd* entry = getpwuid(getuid()))
        return entry->pw_name;
    return std::string();
}

} // namespace

std::string HomeFolder()
{
    std::string home = Environment("HOME");
    if (home.empty()) {
        if (const passwd* entry = getpwuid(getuid()))
            home = entry->pw_dir;
    }
    return WithoutTrailingSlash(home.empty() ? std::string("/") : home);
}

std::string ApplicationSupportFolder()
{
#ifdef __APPLE__
    return HomeFolder() + "/Library/Application Support";
#else
    std::string data = Environment("XDG_DATA_HOME");
    if (!data.empty() && data.front() == '/')
        return WithoutTrailingSlash(data);
    return HomeFolder() + "/.local/share";
#endif
}

std::string TemporaryFolder()
{
    std::string temp = Environment("TMPDIR");
    if (!temp.empty())
        return WithoutTrailingSlash(temp);
    return "/tmp";
}

namespace {

// Where this system mounts volumes, looked for: the folders that may hold them, one after another.
std::string FindVolumesRoot()
{
    if (IsDirectory("/Volumes"))
        return "/Volumes";
    const std::string user = UserName();
    const std::string media = "/media/" + user;
    const std::string runMedia = "/run/media/" + user;
    if (IsDirectory(media))
        return media;
    if (IsDirectory(runMedia))
        return runMedia;
    // Neither exists before the first volume is mounted: the mounter of this system creates its
    // own, so name the one whose parent is there (Debian's /media first).
    return IsDirectory("/run/media") && !IsDirectory("/media") ? runMedia : media;
}

} // namespace

std::string VolumesRoot()
{
    std::string configured = Environment("PELORIN_VOLUMES");
    if (!configured.empty())
        return WithoutTrailingSlash(configured);
    // A run asks for every song it adds through the library; the answer changes only when the
    // system's mounter first makes its folder. So each thread looks again at most once a second
    // (and for another user at once), sparing a song a handful of looks at the file system.
    thread_local std::string found, foundFor;
    thread_local std::chrono::steady_clock::time_point foundAt;
    const std::string user = Environment("USER");
    const auto now = std::chrono::steady_clock::now();
    if (found.empty() || user != foundFor || now - foundAt >= std::chrono::seconds(1)) {
        found = FindVolumesRoot();
        foundFor = user;
        foundAt = now;
    }
    return found;
}

std::string VolumePath(const std::string& name) { return VolumesRoot() + "/" + name; }

std::string LibraryFolder()
{
    std::string configured = Environment("PELORIN_LIBRARY");
    if (configured.empty())
        return HomeFolder() + "/Music/iTunes";
    if (configured.front() != '/') {
        char* here = getcwd(nullptr, 0);
        if (here) {
            configured = WithoutTrailingSlash(here) + "/" + configured;
            std::free(here);
        }
    }
    return WithoutTrailingSlash(configured);
}

std::string LibraryXmlPath() { return LibraryFolder() + "/iTunes Music Library.xml"; }

std::string LibraryPreferencesPath() { return LibraryFolder() + "/Preferences.plist"; }

} // namespace platform
