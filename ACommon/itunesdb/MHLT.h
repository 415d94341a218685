#pragma once
// MHLT: the track list of the track dataset, with the lookups and the sorted view that the iPod
// database source asks for.
//
// mhlt: header (at least 12 bytes), then its mhit tracks.
//   0 "mhlt"  4 header length  8 number of tracks (a count, not a length)  12 and on: kept
// Tracks live in 100 buckets chosen by their name key (MHIT::NameKeyOf) and are written bucket by
// bucket, each bucket in the order its tracks came, with track ids 1 to N. A lookup by virtual path
// or a duplicate test goes through an index by the whole key, so it touches only the tracks whose
// titles share that key, however many tracks the iPod holds.

#include "ACommon/base/AFile.h"
#include "ACommon/base/AString.h"
#include "ACommon/base/ByteReader.h"
#include "ACommon/base/ByteWriter.h"
#include "ACommon/itunesdb/MHIT.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

class AProgress;
struct SongInfoStruct;

class MHLT {
public:
    static constexpr int kBucketCount = 100;
    // Decides which tracks the sorted view lists.
    using TrackFilter = std::function<bool(const MHIT&)>;

    MHLT();
    ~MHLT();

    int Load(ByteReader& in, CancelProc cancel, AProgress* progress, const MHOD::TextStore* texts = nullptr);
    // Reads the header only (the track count), for the quick walk that reads titles.
    int LoadHeader(AFile* f, std::uint64_t limit);
    void Store(ByteWriter& out);
    std::uint32_t GetTotalSize() const;
    // Gives the tracks the ids 1 to N in the order Store writes them.
    void AssignTrackIds();

    // kErrDuplicate when a track with the song's name key has the song's genre, artist, album, name and
    // extension; with `add` unset that is all (a duplicate test). Otherwise a new track made from
    // the song record is added and returned in `added`.
    int AddSong(SongInfoStruct& song, MHIT** added, signed char add);
    // The track a virtual path names by its handle (after the last "?"), provided the path's name
    // component selects that track's bucket; none otherwise.
    MHIT* FindSong(const AString& virtualPath, signed char withExtension, signed char withGenre,
                   signed char withAlbum) const;
    // Removes and destroys `track`. Entries of the sorted view that named it then find nothing.
    void RemoveTrack(MHIT* track);
    int RemoveSong(const AString& virtualPath, signed char withExtension, signed char withGenre,
                   signed char withAlbum);
    MHIT* GetSong(int index) const; // counting through the buckets in order
    MHIT* FindByHandle(std::uint64_t handle) const;
    int GetTrackCount() const { return trackCount; }
    // The track count the header read by LoadHeader gave.
    std::uint32_t GetDeclaredTrackCount() const;
    // Every track, bucket by bucket.
    void ForEachTrack(const std::function<void(MHIT&)>& visit) const;

    // The iPod's mount point, under which the files of untagged tracks are measured.
    void SetRoot(const AString& newRoot) { root = newRoot; }

    // Lookups (1 found, 0 not found).
    int GetSongInfo(MHIT** track, const AString& virtualPath, signed char exact) const;
    int GetSongPath(AString& filePath, const AString& virtualPath, signed char sizeBased,
                    signed char withExtension, signed char withGenre, signed char withAlbum) const;
    int GetSongExt(AString* extension, const AString& virtualPath, AString* filePath,
                   signed char withExtension, signed char withGenre, signed char withAlbum) const;

    // The sorted view: the virtual paths (with handles) of the tracks that `filter` passes (every
    // track without one), sorted ignoring case. Built once; later calls sort it again as it is.
    void Sort(signed char ascending, const TrackFilter& filter, signed char withExtension,
              signed char withGenre, signed char withAlbum);
    int CountSortedSongs() const;
    MHIT* GetSortedSong(int index) const;
    const AString* GetSortedPath(int index) const;
    void RemoveSortedSongEntry(int index);
    void DeleteSortedList() { sorted.reset(); }
    bool HasSortedList() const { return sorted.has_value(); }
    static int CompareAscending(const AString& a, const AString& b) { return a.CompareNoCase(b); }
    static int CompareDescending(const AString& a, const AString& b) { return b.CompareNoCase(a); }

private:
    struct SortedEntry {
        AString path;
        std::uint64_t handle = 0;
    };

    void AddTrack(std::unique_ptr<MHIT> track);
    std::vector<std::unique_ptr<MHIT>>& BucketOf(std::uint32_t key) { return buckets[key % kBucketCount]; }
    const std::vector<MHIT*>& TracksWithKey(std::uint32_t key) const;

    std::vector<std::uint8_t> header;
    int trackCount = 0;
    std::array<std::vector<std::unique_ptr<MHIT>>, kBucketCount> buckets;
    // The tracks of each name key, in the order they came.
    std::unordered_map<std::uint32_t, std::vector<MHIT*>> byNameKey;
    // (handle, track) in handle order: tracks are made, and so numbered, in the order they come;
    // a removed track leaves its entry with no track.
    std::vector<std::pair<std::uint64_t, MHIT*>> byHandle;
    std::optional<std::vector<SortedEntry>> sorted;
    AString root;
};
