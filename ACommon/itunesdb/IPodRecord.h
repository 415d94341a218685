#pragma once
// IPodRecord: the reading and writing rules that every iTunesDB record shares.
//
// Every record begins with a four-letter tag and its header length at offset 4. Offset 8 holds the
// record's total length (header and children) for mhbd, mhsd, mhit, mhod, mhyp and mhip, and the
// number of children for mhlt and mhlp. Every length comes from the file, so each one is checked
// against what its parent still holds before anything is read or allocated for it.

#include "ACommon/base/ByteReader.h"
#include "ACommon/base/ByteWriter.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

class AFile;

class IPodRecord {
public:
    // Bytes kept as read, held inside the object when they are few (the sub-header of a string
    // object, a playlist item's header and object): a database holds hundreds of thousands of them,
    // and one allocation each would dominate loading and freeing it.
    template <std::size_t kInline> class SmallBytes {
    public:
        void Assign(std::span<const std::uint8_t> bytes)
        {
            size = bytes.size();
            if (size <= kInline) {
                heap = std::vector<std::uint8_t>();
                std::copy(bytes.begin(), bytes.end(), held.begin());
            } else {
                heap.assign(bytes.begin(), bytes.end());
            }
        }
        std::size_t Size() const { return size; }
        const std::uint8_t* Data() const { return size <= kInline ? held.data() : heap.data(); }
        std::uint8_t* Data() { return size <= kInline ? held.data() : heap.data(); }
        std::span<const std::uint8_t> Span() const { return {Data(), size}; }
        std::span<std::uint8_t> Span() { return {Data(), size}; }

    private:
        std::array<std::uint8_t, kInline> held{};
        std::size_t size = 0;
        std::vector<std::uint8_t> heap;
    };

    // Opens a record that carries a total length at offset 8: checks the tag, that the header holds
    // at least `minHeader` bytes, that the header fits in the record and that the record fits in
    // what `in` still holds. On success `header` holds the header bytes (offset 0 to the header
    // length), `body` reads the bytes after the header up to the total length, and `in` has moved
    // past the record. A format error gives kErrUnknown and leaves `in` where it was.
    static int OpenRecord(ByteReader& in, const char* tag, std::uint32_t minHeader,
                          std::vector<std::uint8_t>& header, ByteReader& body);
    // The same, with the header left in `in` for the caller to keep: `header` views it.
    static int OpenRecord(ByteReader& in, const char* tag, std::uint32_t minHeader,
                          std::span<const std::uint8_t>& header, ByteReader& body);
    // Opens a list record (mhlt, mhlp) whose offset 8 is a child count: the header is read into
    // `header` and `in` moves past it; the children follow in `in`.
    static int OpenList(ByteReader& in, const char* tag, std::vector<std::uint8_t>& header);

    static std::uint32_t GetU32(std::span<const std::uint8_t> header, std::size_t offset)
    {
        if (offset + 4 > header.size())
            return 0;
        return static_cast<std::uint32_t>(header[offset]) |
               static_cast<std::uint32_t>(header[offset + 1]) << 8 |
               static_cast<std::uint32_t>(header[offset + 2]) << 16 |
               static_cast<std::uint32_t>(header[offset + 3]) << 24;
    }
    static void SetU32(std::span<std::uint8_t> header, std::size_t offset, std::uint32_t value);
    // A header of `length` bytes that begins with `tag` and its length, zero elsewhere.
    static std::vector<std::uint8_t> NewHeader(const char* tag, std::uint32_t length);

    // Writes `header` with the value of offset 8 replaced by `third` (a total length or a count).
    static void WriteHeader(ByteWriter& out, std::span<const std::uint8_t> header, std::uint32_t third);
    // UTF-16 little-endian, without byte-order mark or terminator.
    static void WriteUTF16LE(ByteWriter& out, const std::u16string& units);

    // Reading single records straight from a file (for the quick walks that read only titles):
    // the header, or the whole record (up to its total length), of the record at the file's
    // position, which must end at or before `limit`. The file moves past what was read.
    static int ReadHeaderAt(AFile* f, std::uint64_t limit, std::vector<std::uint8_t>& header);
    static int ReadRecordAt(AFile* f, std::uint64_t limit, std::vector<std::uint8_t>& record);

    // A record whose counts and lengths do not add up (a track list that counts 10 tracks while 50
    // follow, a track whose length holds more than the objects it counts) is a damaged database:
    // read as its counts say, the rest would be carried along as bytes that no longer belong to
    // anything, and the playlists would lose the songs they name. Gives -10000 when `body`, what is
    // left of a record after its children, is not empty, and notes `what` as the reason.
    static int CheckNothingLeft(const ByteReader& body, const std::string& what);
    // Notes why the database being read is damaged and returns -10000.
    static int Damaged(const std::string& why);
    // The reason noted last on this thread (empty when none), and forgetting it.
    static std::string DamageReason();
    static void ClearDamage();
};
