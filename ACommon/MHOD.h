#pragma once
// MHOD: one data object of the iTunesDB, a string or an opaque payload.
//
// mhod: 24-byte header, then the payload up to the total length.
//   0 "mhod"  4 header length  8 total length  12 type  16, 20 kept as read
// String objects (types 1-5, 12, 13): payload = 16-byte sub-header (position, byte length, 8 kept
// bytes) + UTF-16LE text without byte-order mark or terminator. Every other type (100 is the
// playlist item's object) is an opaque payload, written back byte for byte.

#include "ACommon/AString.h"
#include "ACommon/ByteReader.h"
#include "ACommon/ByteWriter.h"
#include "ACommon/IPodRecord.h"

#include <cstdint>
#include <vector>

class MHOD {
public:
    // Data object types the records decode.
    enum : std::uint32_t {
        kTitle = 1,
        kLocation = 2,
        kAlbum = 3,
        kArtist = 4,
        kGenre = 5,
        kComposer = 12,
        kItemPosition = 100,
    };

    MHOD() = default;

    // Makes this a string object: a fresh 16-byte sub-header (position 1, the byte length) and
    // `text`. The type changes only when `type` is not 0.
    void SetUnicodeString(const AString& text, unsigned type);
    // Makes this an opaque object with `data` as its payload.
    void SetData(std::vector<std::uint8_t> data, unsigned type);

    int Load(ByteReader& in); // 0 or -10000
    void Store(ByteWriter& out) const;
    std::uint32_t GetTotalSize() const
    {
        return 24 + static_cast<std::uint32_t>(payload.Size() + text.Units().size() * 2);
    }

    std::uint32_t GetType() const { return type; }
    const AString& GetString() const { return text; }
    std::span<const std::uint8_t> GetPayload() const { return payload.Span(); }
    static bool IsStringType(std::uint32_t type) { return (type >= 1 && type <= 5) || type == 12 || type == 13; }

private:
    std::uint32_t headerLength = 24;
    std::uint32_t type = 0;
    std::uint32_t unknown16 = 0;
    std::uint32_t unknown20 = 0;
    IPodRecord::SmallBytes<48> payload; // for a string object only its 16-byte sub-header
    AString text;
};
