#pragma once
// IPodRecord: the reading and writing rules that every iTunesDB record shares.
//
// Every record begins with a four-letter tag and its header length at offset 4. Offset 8 holds the
// record's total length (header and children) for mhbd, mhsd, mhit, mhod, mhyp and mhip, and the
// number of children for mhlt and mhlp. Every length comes from the file, so each one is checked
// against what its parent still holds before anything is read or allocated for it.

#include "ACommon/ByteReader.h"
#include "ACommon/ByteWriter.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class AFile;

class IPodRecord {
public:
    // Opens a record that carries a total length at offset 8: checks the tag, that the header holds
    // at least `minHeader` bytes, that the header fits in the record and that the record fits in
    // what `in` still holds. On success `header` holds the header bytes (offset 0 to the header
    // length), `body` reads the bytes after the header up to the total length, and `in` has moved
    // past the record. A format error gives -10000 and leaves `in` where it was.
    static int OpenRecord(ByteReader& in, const char* tag, std::uint32_t minHeader, std::vector<std::uint8_t>& header,
                          ByteReader& body);
    // Opens a list record (mhlt, mhlp) whose offset 8 is a child count: the header is read into
    // `header` and `in` moves past it; the children follow in `in`.
    static int OpenList(ByteReader& in, const char* tag, std::vector<std::uint8_t>& header);

    static std::uint32_t GetU32(const std::vector<std::uint8_t>& header, std::size_t offset);
    static void SetU32(std::vector<std::uint8_t>& header, std::size_t offset, std::uint32_t value);
    // A header of `length` bytes that begins with `tag` and its length, zero elsewhere.
    static std::vector<std::uint8_t> NewHeader(const char* tag, std::uint32_t length);

    // Writes `header` with the value of offset 8 replaced by `third` (a total length or a count).
    static void WriteHeader(ByteWriter& out, const std::vector<std::uint8_t>& header, std::uint32_t third);
    // UTF-16 little-endian, without byte-order mark or terminator.
    static void WriteUTF16LE(ByteWriter& out, const std::u16string& units);

    // Reading single records straight from a file (for the quick walks that read only titles):
    // the header, or the whole record (up to its total length), of the record at the file's
    // position, which must end at or before `limit`. The file moves past what was read.
    static int ReadHeaderAt(AFile* f, std::uint64_t limit, std::vector<std::uint8_t>& header);
    static int ReadRecordAt(AFile* f, std::uint64_t limit, std::vector<std::uint8_t>& record);
};
