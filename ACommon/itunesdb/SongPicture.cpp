#include "ACommon/itunesdb/SongPicture.h"

#include "ACommon/tags/ID3.h"

#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>

namespace {

const char* const kNames[] = {"cover", "folder", "front"};
const char* const kExtensions[] = {"jpg", "jpeg", "png"};

// Whether `text` is `lower` but for the case of its ASCII letters.
bool SameLetters(std::string_view text, std::string_view lower)
{
    if (text.size() != lower.size())
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i] >= 'A' && text[i] <= 'Z' ? static_cast<char>(text[i] - 'A' + 'a') : text[i];
        if (c != lower[i])
            return false;
    }
    return true;
}

// The rank of `name` among the image names looked for (0 the best), or -1 for any other name.
int RankOfName(std::string_view name)
{
    const std::size_t dot = name.find('.');
    if (dot == std::string_view::npos)
        return -1;
    for (int n = 0; n < 3; ++n)
        if (SameLetters(name.substr(0, dot), kNames[n]))
            for (int e = 0; e < 3; ++e)
                if (SameLetters(name.substr(dot + 1), kExtensions[e]))
                    return n * 3 + e;
    return -1;
}

} // namespace

std::filesystem::path SongPicture::FolderImage(const std::filesystem::path& folder)
{
    // Looked at for every album folder a store takes pictures from: the names are read and ranked
    // as they are, and only a better-named one is looked at further.
    DIR* listing = opendir(folder.c_str());
    if (!listing)
        return {};
    std::string best;
    int bestRank = 1 << 30;
    while (const dirent* entry = readdir(listing)) {
        const int rank = RankOfName(entry->d_name);
        struct stat info {};
        // Of names alike but for case, the first in byte order: the same choice whatever order the
        // folder lists them in.
        const bool better = rank >= 0 && (rank < bestRank || (rank == bestRank && best > entry->d_name));
        if (better && fstatat(dirfd(listing), entry->d_name, &info, 0) == 0 && S_ISREG(info.st_mode)) {
            best = entry->d_name;
            bestRank = rank;
        }
    }
    closedir(listing);
    return best.empty() ? std::filesystem::path() : folder / best;
}

bool SongPicture::Find(const AString& path, std::vector<std::uint8_t>& bytes)
{
    return FindEmbedded(path, bytes) ||
           ReadFolderImage(std::filesystem::path(path.ToStdString()).parent_path(), bytes);
}

bool SongPicture::FindEmbedded(const AString& path, std::vector<std::uint8_t>& bytes)
{
    bytes.clear();
    ID3 tags;
    if (tags.SetFilePath(path) == 0) {
        for (int i = 0; i < tags.GetImageCount(); ++i) {
            if (tags.GetImages()[static_cast<std::size_t>(i)].length > kMaxBytes)
                continue;
            if (tags.ReadImageData(i, bytes) == 0 && !bytes.empty())
                return true;
        }
    }
    bytes.clear();
    return false;
}

bool SongPicture::ReadFolderImage(const std::filesystem::path& folder, std::vector<std::uint8_t>& bytes)
{
    bytes.clear();
    const std::filesystem::path best = FolderImage(folder);
    std::error_code error;
    if (best.empty())
        return false;
    const std::uintmax_t size = std::filesystem::file_size(best, error);
    if (error || size == 0 || size > kMaxBytes)
        return false;
    std::ifstream in(best, std::ios::binary);
    bytes.resize(static_cast<std::size_t>(size));
    if (!in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size))) {
        bytes.clear();
        return false;
    }
    return true;
}
