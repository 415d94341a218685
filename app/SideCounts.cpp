#include "app/SideCounts.h"

#include "ACommon/bridge/ASiTunes.h"
#include "ACommon/tags/AudioFormats.h"

#include <cctype>
#include <filesystem>
#include <string>

namespace sidecounts {

int LibrarySongs(const QString& playlist)
{
    ASiTunes bridge;
    bridge.SetPlaylistName(AString::FromUTF8(playlist.toStdString()));
    return bridge.LibCount();
}

int FolderSongs(const QString& folder)
{
    // The song types, as the sources list them: ":mp3:m4a:...:".
    const std::string types = AudioFormats::kSongTypes;
    int count = 0;
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(
             folder.toStdString(), std::filesystem::directory_options::skip_permission_denied, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        if (!it->is_regular_file(error))
            continue;
        std::string extension = it->path().extension().string();
        if (extension.size() < 2)
            continue;
        for (char& c : extension)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (types.find(":" + extension.substr(1) + ":") != std::string::npos)
            ++count;
    }
    return count;
}

QString SongsText(int count)
{
    if (count < 0)
        return QString();
    return count == 1 ? QStringLiteral("1 song") : QStringLiteral("%1 songs").arg(count);
}

} // namespace sidecounts
