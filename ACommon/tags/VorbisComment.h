#pragma once
// VorbisComment: the tag of FLAC, Ogg Vorbis and Opus files, and the FLAC picture record that those
// files carry (as a metadata block in FLAC, base64-encoded in a METADATA_BLOCK_PICTURE comment in
// Ogg). Parsing never trusts a length before it is checked against the bytes that remain.

#include "ACommon/base/AString.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

class VorbisComment {
public:
    // Where a picture's data lies: `offset` and `length` within the bytes given to ParsePicture.
    struct Picture {
        std::size_t offset = 0;
        std::size_t length = 0;
        std::uint32_t type = 0; // 3 front cover
    };

    // Reads a comment block: vendor length (32-bit little-endian), vendor, count, then `count`
    // times a length and a "NAME=value" field in UTF-8. Fields after a damaged one are left out;
    // false when not even the count could be read.
    bool Parse(std::span<const std::uint8_t> bytes);

    // Reads a FLAC picture record of `recordSize` bytes from `head`, its first bytes (the whole
    // record or a prefix that reaches the data):
    //   type (4)  MIME length (4)  MIME  description length (4)  description (UTF-8)
    //   width (4)  height (4)  colour depth (4)  colours used (4)  data length (4)  data
    // all big-endian. False when the record is damaged or holds no data.
    static bool ParsePicture(std::span<const std::uint8_t> head, std::uint64_t recordSize, Picture& picture);

    // Decodes base64 text (line breaks and padding allowed); false on any other character.
    static bool DecodeBase64(std::string_view text, std::vector<std::uint8_t>& out);

    AString title, artist, albumArtist, album, genre, composer;
    int trackNumber = 0, trackCount = 0, discNumber = 0, discCount = 0, year = 0;
    bool compilation = false;
    // The raw base64 texts of METADATA_BLOCK_PICTURE fields, in the order they stand.
    std::vector<std::string_view> encodedPictures;

private:
    void ApplyField(std::string_view field);
};
