#include "musiclib/TrackArtwork.h"

#include "ACommon/base/AString.h"
#include "ACommon/itunesdb/SongPicture.h"
#include "ACommon/tags/ID3.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

// Only the header readers are used (stbi_info_from_memory). The functions stay private to this
// file, so another part of the program may include stb_image as well.
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_ONLY_JPEG
#define STBI_ONLY_PNG
#define STBI_NO_STDIO
#define STBI_MAX_DIMENSIONS 8000
// The library's PNG header reader trips an uninitialised-value warning that does not apply to the
// header-only use here.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <stb/stb_image.h>
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

namespace {

bool StartsWith(const std::vector<std::uint8_t>& bytes, std::initializer_list<std::uint8_t> start)
{
    return bytes.size() >= start.size() && std::equal(start.begin(), start.end(), bytes.begin());
}

void Accept(std::vector<std::uint8_t> bytes, std::vector<TrackPicture>& out)
{
    std::string format = TrackArtwork::Inspect(bytes);
    if (format.empty())
        return;
    out.push_back(TrackPicture{std::move(bytes), std::move(format)});
}

} // namespace

std::string TrackArtwork::Inspect(const std::vector<std::uint8_t>& bytes)
{
    if (bytes.size() > kMaxPictureBytes)
        return std::string();
    const bool jpeg = StartsWith(bytes, {0xFF, 0xD8, 0xFF});
    const bool png = StartsWith(bytes, {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A});
    if (!jpeg && !png)
        return std::string();
    int width = 0, height = 0, components = 0;
    if (stbi_info_from_memory(bytes.data(), static_cast<int>(bytes.size()), &width, &height, &components)) {
        if (width > kMaxPictureSide || height > kMaxPictureSide)
            return std::string();
    } else if (!jpeg || stbi_failure_reason() == std::string("too large")) {
        // A PNG would have to be decoded to become a JPEG; one whose header cannot be read cannot
        // be. A JPEG is handed on as it is.
        return std::string();
    }
    return jpeg ? "JPEG" : "PNG";
}

void TrackArtwork::Read(const std::string& path, bool folderImages, std::vector<TrackPicture>& out)
{
    ID3 tags;
    if (tags.SetFilePath(AString::FromUTF8(path)) == 0) {
        for (int i = 0; i < tags.GetImageCount(); ++i) {
            if (tags.GetImages()[static_cast<std::size_t>(i)].length > kMaxPictureBytes)
                continue;
            std::vector<std::uint8_t> bytes;
            if (tags.ReadImageData(i, bytes) == 0)
                Accept(std::move(bytes), out);
        }
    }
    if (!folderImages)
        return;
    const std::filesystem::path image = SongPicture::FolderImage(std::filesystem::path(path).parent_path());
    if (image.empty())
        return;
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(image, error);
    if (error || size > kMaxPictureBytes)
        return;
    std::ifstream in(image, std::ios::binary);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    if (in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size)))
        Accept(std::move(bytes), out);
}
