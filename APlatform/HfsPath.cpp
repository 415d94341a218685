#include "APlatform/HfsPath.h"

#include "APlatform/KnownFolders.h"

namespace platform {
namespace {

constexpr const char* kRootVolume = "Root";

// ":" and "/" trade places: the one separates components in the other's notation.
std::string Swapped(std::string text)
{
    for (char& c : text) {
        if (c == '/')
            c = ':';
        else if (c == ':')
            c = '/';
    }
    return text;
}

} // namespace

std::string PosixToHfsPath(const std::string& posixPath)
{
    if (posixPath.empty() || posixPath.front() != '/')
        return std::string();
    const std::string volumes = VolumesRoot() + "/";
    if (volumes != "/" && posixPath.size() > volumes.size() &&
        posixPath.compare(0, volumes.size(), volumes) == 0) {
        const std::size_t end = posixPath.find('/', volumes.size());
        const std::string volume = posixPath.substr(volumes.size(), end - volumes.size());
        if (volume != kRootVolume) {
            const std::string rest = end == std::string::npos ? std::string() : posixPath.substr(end);
            return Swapped(volume) + Swapped(rest);
        }
    }
    return kRootVolume + Swapped(posixPath);
}

std::optional<std::string> HfsToPosixPath(const std::string& hfsPath)
{
    const std::size_t colon = hfsPath.find(':');
    const std::string volume = Swapped(hfsPath.substr(0, colon));
    const std::string rest = colon == std::string::npos ? std::string() : Swapped(hfsPath.substr(colon));
    if (volume.empty())
        return std::nullopt;
    if (volume == kRootVolume) {
        if (rest.empty())
            return std::nullopt;
        return rest;
    }
    return VolumePath(volume) + rest;
}

} // namespace platform
