#include "ACommon/itunesdb/SongPicture.h"

#include "ACommon/tags/ID3.h"

#include <filesystem>
#include <fstream>

namespace {

const char* const kNames[] = {"cover", "folder", "front"};
const char* const kExtensions[] = {"jpg", "jpeg", "png"};

std::string Lower(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

} // namespace

std::filesystem::path SongPicture::FolderImage(const std::filesystem::path& folder)
{
    std::error_code error;
    std::filesystem::path best;
    int bestRank = 1 << 30;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        const std::string name = Lower(it->path().filename().string());
        for (int n = 0; n < 3; ++n)
            for (int e = 0; e < 3; ++e)
                if (n * 3 + e < bestRank && name == std::string(kNames[n]) + "." + kExtensions[e] &&
                    it->is_regular_file(error)) {
                    best = it->path();
                    bestRank = n * 3 + e;
                }
    }
    return best;
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
