#include "app/DropChecks.h"

#include "ACommon/sync/ASyncLib.h"

#include <algorithm>
#include <filesystem>

namespace drops {

namespace fs = std::filesystem;

bool AcceptsMusicFile(const ADir& side, const std::string& path)
{
    const std::string extension = fs::path(path).extension().string();
    if (extension.size() < 2)
        return false;
    std::string key = ":" + extension.substr(1) + ":";
    std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return std::tolower(c); });
    const std::string songs = ASyncLib::kSongExtensions;
    const std::string video = ":m4v:mp4:ipg:";
    const bool videoTaken = side.GetTypeFilter() & 0x1 &&
                            side.GetTypeIncludeFilter().ToStdString().find(key) != std::string::npos;
    if (songs.find(key) == std::string::npos && !(video.find(key) != std::string::npos && videoTaken))
        return false;
    AString full = AString::FromUTF8(path);
    return side.TypeFilterCheck(&full);
}

bool FolderHoldsMusicFile(const ADir& side, const std::string& folder, int maxEntries)
{
    std::error_code error;
    fs::recursive_directory_iterator walk(folder, fs::directory_options::skip_permission_denied, error);
    int seen = 0;
    for (; !error && walk != fs::recursive_directory_iterator(); walk.increment(error)) {
        if (++seen > maxEntries)
            return false;
        if (walk->is_symlink(error))
            continue;
        if (walk->is_regular_file(error) && AcceptsMusicFile(side, walk->path().string()))
            return true;
    }
    return false;
}

} // namespace drops
