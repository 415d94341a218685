#pragma once
// ArtworkThumbnail: the pictures an iPod shows for a cover, in the formats its screen uses. A
// picture is decoded (JPEG or PNG), scaled to fit the format with a smooth filter keeping its
// aspect ratio, centred on black (letterboxed), and stored as RGB565 little-endian, each row
// padded to a multiple of four bytes.

#include "ACommon/base/AString.h"

#include <cstdint>
#include <span>
#include <vector>

class IPodInfo;

class ArtworkThumbnail {
public:
    struct Format {
        std::uint32_t id = 0;
        int width = 0, height = 0;
        bool operator==(const Format&) const = default;
        // Bytes of one row and of one picture in the ithmb file.
        int RowBytes() const { return (width * 2 + 3) / 4 * 4; }
        std::uint32_t ImageSize() const { return static_cast<std::uint32_t>(RowBytes() * height); }
    };

    // The cover formats of an iPod: `extended` (SysInfoExtended's list) when it names any, else
    // those of the model `info` names; none for a model without a colour screen.
    static std::vector<Format> FormatsOf(const IPodInfo& info, const std::vector<Format>& extended);

    // Decodes `picture` into 8-bit RGB. 0, or kErrFileType for bytes that are no picture it can
    // decode (or one over 8000 pixels a side).
    static int Decode(std::span<const std::uint8_t> picture, std::vector<std::uint8_t>& rgb, int& width,
                      int& height);
    // The ithmb bytes of decoded RGB pixels in `format`.
    static std::vector<std::uint8_t> Make(const std::vector<std::uint8_t>& rgb, int width, int height,
                                          const Format& format);
    // The RGB value of the pixel at (x, y) of ithmb bytes in `format`, for checks.
    static void PixelAt(std::span<const std::uint8_t> bytes, const Format& format, int x, int y,
                        std::uint8_t rgb[3]);
};
