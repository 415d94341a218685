#pragma once
// IPodPlayCounts: what the iPod itself recorded since its database was last written.
//
// Play Counts (iPod_Control/iTunes/"Play Counts"), written by the iPod:
//   0 "mhdp"  4 header length  8 entry length (0x0C, 0x10, 0x14 or 0x1C)  12 entry count
//   then, from the header's end, one entry per track in the order of the database file:
//   0 plays since  4 last played (Mac time, local)  8 bookmark (ms)  12 rating (0-100; 0x10 and
//   longer)  16 unknown  20 skips since  24 last skipped (Mac time; 0x1C and longer)
// On-The-Go playlists ("OTGPlaylistInfo", then "OTGPlaylistInfo_1", "_2"... in that order):
//   0 "mhpo"  4 header length  8 entry length  12 entry count
//   then one entry per song, its first four bytes the place of the song's track in the database
//   file.
// Both refer to tracks by their places in the database as it was last written, so they mean
// something only with that database: a play count file whose entry count is not its track count
// belongs to another one.

#include "ACommon/base/AString.h"

#include <cstdint>
#include <span>
#include <vector>

class IPodPlayCounts {
public:
    static constexpr std::uint32_t kNoRating = 0xFFFFFFFFu;
    // No iPod holds more tracks than this, and no file of either kind comes near this size.
    static constexpr std::uint32_t kMaxEntries = 1u << 20;
    static constexpr std::uint64_t kMaxFileSize = 16u << 20;

    struct Entry {
        std::uint32_t plays = 0;
        std::uint32_t lastPlayed = 0; // Mac time; 0 when not played
        std::uint32_t bookmark = 0;
        std::uint32_t rating = kNoRating; // 0-100 (20 a star), kNoRating when the file has none
        std::uint32_t skips = 0;
        std::uint32_t lastSkipped = 0;
        bool operator==(const Entry&) const = default;
    };

    // The entries of a play count file's bytes: 0, or kErrUnknown for bytes that are not one (a
    // wrong tag, a header or entry length that cannot be, entries running past the end).
    static int Parse(std::span<const std::uint8_t> bytes, std::vector<Entry>& entries);
    // The track places of an On-The-Go playlist file's bytes: 0 or kErrUnknown, as Parse.
    static int ParseOnTheGo(std::span<const std::uint8_t> bytes, std::vector<std::uint32_t>& places);

    // The play count file of the iPod whose iTunes folder is `folder`.
    static AString PlayCountsPath(const AString& folder);
    // The On-The-Go playlist files in `folder`, in the iPod's order (names matched without regard
    // to case).
    static std::vector<AString> OnTheGoFiles(const AString& folder);
    // Seconds since 1970 (UTC) of a Mac time in local time, as the iPod writes; 0 stays 0.
    static std::int64_t UnixTimeOf(std::uint32_t macTime);
};
