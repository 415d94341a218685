#pragma once
// MHYP: one playlist, its data objects (the title among them) and its items.
//
// mhyp: header (at least 24 bytes), then its mhod children, then its mhip items.
//   0 "mhyp"  4 header length  8 total length  12 number of mhods  16 number of mhips
//   20 library-playlist flag (1 for the playlist that holds every track)  24 and on: kept
// The sorted index objects of the library playlist (types 52 and 53) list tracks by their place
// in the track list; every store renumbers and reorders the tracks, so those objects are not kept
// (the iPod works without them, and stale ones would point at the wrong songs).

#include "ACommon/base/AFile.h"
#include "ACommon/base/AString.h"
#include "ACommon/base/ByteReader.h"
#include "ACommon/base/ByteWriter.h"
#include "ACommon/itunesdb/MHIP.h"
#include "ACommon/itunesdb/MHOD.h"

#include <cstdint>
#include <unordered_map>
#include <vector>

class AProgress;
class MHIT;

class MHYP {
public:
    MHYP();                         // a 108-byte header, no title, no items
    explicit MHYP(int libraryFlag); // the same with the library-playlist flag set to `libraryFlag`

    void SetName(const AString& text);
    int GetName(AString& name) const; // 0, or kErrInvalidElement when the playlist has no title object
    int GetLibraryFlag() const;

    void AddSong(MHIT* track, int index); // an index below 0 (or past the end) appends
    void RemoveSong(int index);
    MHIT* GetSong(int index) const;
    int GetSongCount() const { return static_cast<int>(items.size()); }
    // Removes every item that plays `track`.
    void RemoveTrack(const MHIT* track);
    // Makes the playlist hold each of `tracks` exactly once: members keep their order, a repeated
    // member or one whose track is unknown goes, a track it lacks is appended. For the library
    // playlist, which the iPod lists as "every song".
    void HoldExactly(const std::vector<MHIT*>& tracks);
    // Points every item at the track its track id names (ids without a track stay unresolved).
    void ResolveItems(const std::unordered_map<std::uint32_t, MHIT*>& tracksById);

    int Load(ByteReader& in, CancelProc cancel, AProgress* progress, const MHOD::TextStore* texts = nullptr);
    // Reads the header and the data objects and skips the items.
    int LoadName(AFile* f, std::uint64_t limit);
    void Store(ByteWriter& out, std::uint32_t* itemCounter);
    std::uint32_t GetTotalSize() const;

private:
    static bool IsTrackIndexObject(std::uint32_t type) { return type == 52 || type == 53; }

    std::vector<std::uint8_t> header;
    std::vector<MHOD> objects;
    std::vector<MHIP> items;
    std::vector<std::uint8_t> trailing;
};
