#pragma once
// Hand-written iTunesDB records, for the shapes the program's own writer never produces (other
// header lengths, opaque datasets, damaged lengths and counts). Numbers are little-endian.

#include "samples/SampleBytes.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace samples::itdb {

using samples::Bytes;
using Fields = std::map<std::size_t, std::uint32_t>;

// A record whose offset 8 is its total length: `tag`, a header of `headerLength` bytes with
// `fields` set (offset -> value), then `children`.
Bytes Record(const char* tag, std::uint32_t headerLength, const Fields& fields,
             const std::vector<Bytes>& children);
// A list record (mhlt, mhlp) whose offset 8 is the number of children.
Bytes List(const char* tag, std::uint32_t headerLength, const std::vector<Bytes>& children);
Bytes StringObject(std::uint32_t type, const std::u16string& text);
Bytes DataObject(std::uint32_t type, const Bytes& payload);
// A track with an mhod count that matches `objects`.
Bytes Track(std::uint32_t headerLength, std::uint32_t id, const std::vector<Bytes>& objects,
            const Fields& fields = {});
// A playlist item for `trackId` numbered `itemNumber`, with the type-100 object unless `withObject`
// is false.
Bytes Item(std::uint32_t trackId, bool withObject = true, std::uint32_t itemNumber = 0);
Bytes Playlist(const std::u16string& title, bool library, const std::vector<Bytes>& items,
               std::uint32_t headerLength = 108, const std::vector<Bytes>& moreObjects = {});
Bytes Dataset(std::uint32_t type, const Bytes& child, std::uint32_t headerLength = 96);
Bytes Database(const std::vector<Bytes>& datasets, std::uint32_t headerLength = 104);
void PutU32(Bytes& bytes, std::size_t offset, std::uint32_t value);
std::uint32_t GetU32(const Bytes& bytes, std::size_t offset);

// One track's entry of the iPod's play count file, as the iPod writes it.
struct PlayCount {
    std::uint32_t plays = 0, lastPlayed = 0, bookmark = 0;
    std::uint32_t rating = 0;                 // written only into entries of 16 bytes or more
    std::uint32_t skips = 0, lastSkipped = 0; // written only into entries of 28 bytes or more
};
// A play count file ("mhdp", header of 0x60 bytes) with entries of `entryLength` bytes.
Bytes PlayCounts(std::uint32_t entryLength, const std::vector<PlayCount>& entries);
// An On-The-Go playlist file ("mhpo", header of 20 bytes) naming the tracks at `places`.
Bytes OnTheGo(std::uint32_t entryLength, const std::vector<std::uint32_t>& places);

} // namespace samples::itdb
