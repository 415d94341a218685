#pragma once
// MHLP: the list of playlists of a playlist dataset (type 2) or podcast dataset (type 3).
//
// mhlp: header (at least 12 bytes), then its mhyp playlists.
//   0 "mhlp"  4 header length  8 number of playlists (a count, not a length)  12 and on: kept
// The first playlist is the library playlist, which holds every track; its title is the iPod's
// name.

#include "ACommon/base/AFile.h"
#include "ACommon/base/AString.h"
#include "ACommon/base/ByteReader.h"
#include "ACommon/base/ByteWriter.h"
#include "ACommon/itunesdb/MHYP.h"

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

class AProgress;
class MHIT;

class MHLP {
public:
    MHLP(); // holds the library playlist, titled with the empty string

    // Appends an item for `track` to the library playlist. kErrInvalidElement when there is no playlist.
    int AddSong(MHIT* track);
    // Removes every item that plays `track`, from every playlist.
    void RemoveTrack(const MHIT* track);
    // The title of the library playlist: 0 (the name unchanged when it has no title), kErrInvalidElement
    // without playlists.
    int GetIPodName(AString& name) const;
    // Appends a playlist titled `name` and returns it.
    MHYP* AddPlaylist(const AString& name);
    int GetPlaylistCount() const { return static_cast<int>(playlists.size()); }
    MHYP* GetPlaylist(int index) const;
    // The place of `playlist` in the list; -1 when it is not there.
    int IndexOf(const MHYP* playlist) const;
    // Takes playlist `index` out of the list and hands it over (null for an index outside the list);
    // InsertPlaylist puts one back at `index` (at the end when past it).
    std::unique_ptr<MHYP> TakePlaylist(int index);
    void InsertPlaylist(int index, std::unique_ptr<MHYP> playlist);
    void ResolveItems(const std::unordered_map<std::uint32_t, MHIT*>& tracksById);

    int Load(ByteReader& in, CancelProc cancel, AProgress* progress, const MHOD::TextStore* texts = nullptr);
    int LoadName(AFile* f, std::uint64_t limit);
    // Writes the list; the items of all its playlists are numbered 1, 2, 3 ... as they are written.
    void Store(ByteWriter& out);
    std::uint32_t GetTotalSize() const;

private:
    std::vector<std::uint8_t> header;
    std::vector<std::unique_ptr<MHYP>> playlists;
};
