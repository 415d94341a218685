#pragma once
// MHOD: one data object of the iTunesDB, a string or an opaque payload.
//
// mhod: 24-byte header, then the payload up to the total length.
//   0 "mhod"  4 header length  8 total length  12 type  16, 20 kept as read
// String objects (types 1-5, 12, 13): payload = 16-byte sub-header + text without byte-order mark
// or terminator. Sub-header: 0 encoding (2 UTF-8, any other value UTF-16LE; objects made here
// write 1), 4 byte length of the text, 8 kept bytes. Bytes past the text's length are kept as read.
// Every other type (100 is the playlist item's object) is an opaque payload, written back byte for
// byte; so is a string object until its text is changed.
//
// An object read as part of a whole database keeps its bytes where the database keeps the bytes it
// was read from, and decodes its text when it is first asked for: a database holds many objects a
// track and a playlist item, and a copy or an allocation each would dominate loading and freeing it.
// Asking for the text of such an object changes it, so a database is used by one thread at a time
// (its playlists' titles, which any thread may show, are decoded when read).

#include "ACommon/base/AString.h"
#include "ACommon/base/ByteReader.h"
#include "ACommon/base/ByteWriter.h"
#include "ACommon/itunesdb/IPodRecord.h"

#include <cstdint>
#include <memory>
#include <span>
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
        kFileType = 6, // "MPEG audio file"
        kComposer = 12,
        kItemPosition = 100,
    };

    // The bytes a database was read from, held for as long as the database lives, so that its
    // objects can refer to them instead of copying them. Bytes once held never move.
    class TextStore {
    public:
        // Room for `size` bytes, to be filled through Data() before the database is read from them
        // (not cleared first: they are about to be overwritten). Throws std::bad_alloc.
        explicit TextStore(std::size_t bytes)
            : held(std::make_unique_for_overwrite<std::uint8_t[]>(bytes)), size(bytes)
        {
        }
        std::uint8_t* Data() { return held.get(); }
        std::span<const std::uint8_t> Bytes() const { return {held.get(), size}; }
        // True when `bytes` lie inside what is held.
        bool Holds(std::span<const std::uint8_t> bytes) const
        {
            return size > 0 && bytes.data() >= held.get() && bytes.data() + bytes.size() <= held.get() + size;
        }

    private:
        std::unique_ptr<std::uint8_t[]> held;
        std::size_t size;
    };

    MHOD() = default;
    MHOD(MHOD&&) noexcept = default;
    MHOD& operator=(MHOD&&) noexcept = default;

    // Makes this a string object: a fresh 16-byte sub-header (position 1, the byte length) and
    // `text`. The type changes only when `type` is not 0.
    void SetUnicodeString(const AString& text, unsigned type);
    // Makes this an opaque object with `data` as its payload.
    void SetData(std::vector<std::uint8_t> data, unsigned type);

    // 0 or kErrUnknown. When `store` holds the bytes being read, the object refers to them.
    int Load(ByteReader& in, const TextStore* store = nullptr);
    void Store(ByteWriter& out) const;
    std::uint32_t GetTotalSize() const
    {
        if (asRead)
            return 24 + static_cast<std::uint32_t>(AsRead().size());
        return 24 + static_cast<std::uint32_t>(payload.size() + (text ? text->Units().size() * 2 : 0));
    }

    std::uint32_t GetType() const { return type; }
    // The text of a string object (empty for other objects, and for UTF-8 that is not valid),
    // decoded on first use.
    const AString& GetString() const;
    // The text of a string object as stored, while it is not decoded yet: `unitSize` 2 for
    // UTF-16LE, 1 for UTF-8 that is all ASCII (a byte a character). Any other text, or text decoded
    // already, gives unit size 0: read it with GetString.
    struct StoredText {
        std::span<const std::uint8_t> bytes;
        unsigned unitSize = 0;
    };
    StoredText GetUndecodedText() const;
    // The payload after the 24-byte header; for a string object its 16-byte sub-header.
    std::span<const std::uint8_t> GetPayload() const;
    static bool IsStringType(std::uint32_t type)
    {
        return (type >= 1 && type <= 5) || type == 12 || type == 13;
    }

private:
    static constexpr std::uint32_t kEncodingUTF8 = 2;

    // The bytes after the header as read (the object is unchanged since).
    std::span<const std::uint8_t> AsRead() const { return kept.empty() ? std::span(payload) : kept; }
    // The text bytes of a string object as read, and its encoding.
    std::span<const std::uint8_t> StoredTextBytes(std::uint32_t* encoding) const;

    std::uint32_t headerLength = 24;
    std::uint32_t type = 0;
    std::uint32_t unknown16 = 0;
    std::uint32_t unknown20 = 0;
    // The bytes after the header as read, when they lie in the database's store.
    std::span<const std::uint8_t> kept;
    // Read outside a store: the bytes after the header as read. Made or changed here: the payload
    // (a string object: the sub-header, followed by `text` when written).
    std::vector<std::uint8_t> payload;
    // True while the object is as read: it is written back byte for byte, from `kept` or `payload`.
    bool asRead = false;
    mutable std::unique_ptr<AString> text;
};
