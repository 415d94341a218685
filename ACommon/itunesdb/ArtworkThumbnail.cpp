#include "ACommon/itunesdb/ArtworkThumbnail.h"

#include "ACommon/base/AError.h"
#include "ACommon/itunesdb/IPodInfo.h"

#include <algorithm>

// The decoder and the scaler stay private to this file.
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_ONLY_JPEG
#define STBI_ONLY_PNG
#define STBI_NO_STDIO
#define STBI_MAX_DIMENSIONS 8000
#define STB_IMAGE_RESIZE_IMPLEMENTATION
#define STB_IMAGE_RESIZE_STATIC
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#endif
#include <stb/stb_image.h>
#include <stb/stb_image_resize.h>
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace {

using Format = ArtworkThumbnail::Format;

const std::vector<Format> kVideo = {{1028, 100, 100}, {1029, 200, 200}};
const std::vector<Format> kNano = {{1031, 42, 42}, {1027, 100, 100}};
const std::vector<Format> kPhoto = {{1017, 56, 56}, {1016, 140, 140}};
const std::vector<Format> kClassic = {{1061, 56, 56}, {1055, 128, 128}, {1068, 128, 128}, {1060, 320, 320}};
const std::vector<Format> kNano4 = {{1055, 128, 128}, {1068, 128, 128}, {1071, 240, 240},
                                    {1074, 50, 50},   {1078, 80, 80},   {1084, 240, 240}};

} // namespace

std::vector<Format> ArtworkThumbnail::FormatsOf(const IPodInfo& info, const std::vector<Format>& extended)
{
    if (!extended.empty())
        return extended;
    switch (info.family) {
    case 4:
        return kVideo;
    case 5:
        return kNano;
    case 9:
        return kPhoto;
    case 10: // the U2 editions: a colour one of the photo's time, and the video's
        if (info.model == AString("A127"))
            return kPhoto;
        if (info.model == AString("A452") || info.model == AString("A664"))
            return kVideo;
        return {};
    case IPodInfo::kFamilyClassic:
    case IPodInfo::kFamilyNano3:
        return kClassic;
    case IPodInfo::kFamilyNano4:
    case IPodInfo::kFamilyNano5:
        return kNano4;
    default:
        return {};
    }
}

int ArtworkThumbnail::Decode(std::span<const std::uint8_t> picture, std::vector<std::uint8_t>& rgb,
                             int& width, int& height)
{
    if (picture.empty() || picture.size() > (64u << 20))
        return kErrFileType;
    int components = 0;
    stbi_uc* pixels = stbi_load_from_memory(picture.data(), static_cast<int>(picture.size()), &width, &height,
                                            &components, 3);
    if (!pixels)
        return kErrFileType;
    try {
        rgb.assign(pixels, pixels + static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3);
    } catch (const std::bad_alloc&) {
        stbi_image_free(pixels);
        return kErrOutOfMemory;
    }
    stbi_image_free(pixels);
    return 0;
}

std::vector<std::uint8_t> ArtworkThumbnail::Make(const std::vector<std::uint8_t>& rgb, int width, int height,
                                                 const Format& format)
{
    std::vector<std::uint8_t> out(format.ImageSize(), 0);
    if (width <= 0 || height <= 0 || format.width <= 0 || format.height <= 0 ||
        rgb.size() < static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3)
        return out;
    // Fit inside the format, keeping the aspect ratio.
    int scaledWidth = format.width, scaledHeight = format.height;
    if (static_cast<long long>(width) * format.height > static_cast<long long>(height) * format.width)
        scaledHeight = std::max(1, static_cast<int>(static_cast<long long>(height) * format.width / width));
    else
        scaledWidth = std::max(1, static_cast<int>(static_cast<long long>(width) * format.height / height));
    std::vector<std::uint8_t> scaled(static_cast<std::size_t>(scaledWidth) * scaledHeight * 3);
    stbir_resize_uint8_srgb_edgemode(rgb.data(), width, height, 0, scaled.data(), scaledWidth, scaledHeight,
                                     0, 3, STBIR_ALPHA_CHANNEL_NONE, 0, STBIR_EDGE_CLAMP);
    const int left = (format.width - scaledWidth) / 2;
    const int top = (format.height - scaledHeight) / 2;
    for (int y = 0; y < scaledHeight; ++y) {
        for (int x = 0; x < scaledWidth; ++x) {
            const std::uint8_t* p = &scaled[(static_cast<std::size_t>(y) * scaledWidth + x) * 3];
            const unsigned value = (p[0] >> 3) << 11 | (p[1] >> 2) << 5 | p[2] >> 3;
            const std::size_t at = static_cast<std::size_t>(top + y) * format.RowBytes() + (left + x) * 2;
            out[at] = static_cast<std::uint8_t>(value);
            out[at + 1] = static_cast<std::uint8_t>(value >> 8);
        }
    }
    return out;
}

void ArtworkThumbnail::PixelAt(std::span<const std::uint8_t> bytes, const Format& format, int x, int y,
                               std::uint8_t rgb[3])
{
    const std::size_t at = static_cast<std::size_t>(y) * format.RowBytes() + static_cast<std::size_t>(x) * 2;
    const unsigned value = at + 1 < bytes.size() ? bytes[at] | bytes[at + 1] << 8 : 0;
    rgb[0] = static_cast<std::uint8_t>((value >> 11 & 0x1F) * 255 / 31);
    rgb[1] = static_cast<std::uint8_t>((value >> 5 & 0x3F) * 255 / 63);
    rgb[2] = static_cast<std::uint8_t>((value & 0x1F) * 255 / 31);
}
