#pragma once
// ArtworkDB: the iPod's cover database, iPod_Control/Artwork/ArtworkDB, whose pictures lie in
// F<format>_<n>.ithmb files beside it as raw RGB565 little-endian pixels, one after the other.
//
// Every record starts "mh..", its header length at 4; at 8 either its total length or, for the
// lists (mhli, mhla, mhlf), the number of records that follow it.
//   mhfd (0x84)  16 2  20 number of mhsd  28 next image id
//   mhsd (0x60)  12 type (16 bits): 1 images (mhli), 2 albums (mhla), 3 files (mhlf)
//   mhii (0x98)  12 number of children  16 image id  20 the track's database id (8 bytes)
//                48 size of the picture it was made from
//   mhod (0x18)  12 type (16 bits); type 2 holds one mhni, type 3 a file name: length in bytes,
//                encoding (2: UTF-16LE), 4 kept bytes, the text, zeros to a multiple of 4
//   mhni (0x4C)  12 number of children  16 format id  20 offset in its ithmb  24 size in bytes
//                28 vertical padding  30 horizontal padding (16 bits each)  32 height  34 width
//                (16 bits each), then a type-3 mhod naming its ithmb (":F1028_1.ithmb")
//   mhif (0x7C)  16 format id  20 size in bytes of one picture
// Records this program does not know, and every header byte it does not set, are written back as
// they were read.

#include "ACommon/base/AString.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

class ArtworkDB {
public:
    // One picture of an image in one format.
    struct Thumb {
        std::uint32_t formatId = 0;
        std::string file; // ":F1028_1.ithmb": the name the iPod reads, relative to the Artwork folder
        std::uint32_t offset = 0;
        std::uint32_t size = 0;
        std::int16_t verticalPadding = 0, horizontalPadding = 0;
        std::uint16_t height = 0, width = 0;
    };
    // One image (mhii) and the pictures it is shown as.
    struct Image {
        std::uint32_t id = 0;
        std::uint64_t songId = 0;
        std::uint32_t sourceSize = 0;
        std::vector<Thumb> thumbs;
        // The record as read; kept records are written back as they were, but for the fields above.
        std::shared_ptr<const void> record;
    };
    struct Format {
        std::uint32_t id = 0;
        std::uint32_t imageSize = 0;
    };

    static constexpr std::uint32_t kFirstImageId = 100;

    ArtworkDB(); // an empty database
    ~ArtworkDB();
    ArtworkDB(ArtworkDB&&) noexcept;
    ArtworkDB& operator=(ArtworkDB&&) noexcept;

    // Reads the bytes of an ArtworkDB file: 0, or kErrUnknown for damaged bytes (the object is then
    // left empty).
    int Parse(std::span<const std::uint8_t> bytes);
    std::vector<std::uint8_t> Serialize() const;

    const std::vector<Image>& Images() const { return images; }
    std::vector<Image>& Images() { return images; }
    const std::vector<Format>& Formats() const { return formats; }
    // Sets the format list the file names (mhlf); a format used by a picture but not listed is added
    // when written.
    void SetFormats(std::vector<Format> list) { formats = std::move(list); }
    std::uint32_t NextImageId() const { return nextImageId; }
    // A new image id: above every id in use and the one the header names.
    std::uint32_t TakeImageId();

    // ":F1028_1.ithmb" as a name below the Artwork folder ("F1028_1.ithmb"); empty for a name that
    // is not a plain file name there.
    static std::string FileNameOf(const std::string& stored);
    // A file name in lower case: the iPod's disk ignores case, so names are compared this way.
    static std::string FileKey(std::string name);

    struct Node;

private:
    std::unique_ptr<Node> root; // the mhfd as read, or a fresh one
    std::vector<Image> images;
    std::vector<Format> formats;
    std::uint32_t nextImageId = kFirstImageId;
};
