#pragma once
// MHBD: the whole iTunesDB, the root record of the file.
//
// mhbd: header (at least 24 bytes), then its datasets.
//   0 "mhbd"  4 header length  8 total length (the whole file)  12 1  16 15 (the database version)
//   20 number of datasets  24 the database id (8 bytes)  48 signing scheme (16 bits)
//   88, 114, 171 signatures of the schemes later iPods check  32 and on: kept
// New records of every kind get the header lengths of version 15: mhbd 104, mhsd 96, mhlt and mhlp
// 92, mhit 244, mhyp 108, mhip 76, mhod 24.
// The first track dataset (type 1) holds the tracks; every playlist (2) and podcast (3) dataset
// holds the playlists, each starting with the library playlist. Every other dataset is kept as
// opaque bytes in its place.

#include "ACommon/base/AFile.h"
#include "ACommon/base/AString.h"
#include "ACommon/base/ByteReader.h"
#include "ACommon/base/ByteWriter.h"
#include "ACommon/itunesdb/MHSD.h"

#include <cstdint>
#include <memory>
#include <vector>

class AProgress;
class MHIT;
struct SongInfoStruct;

class MHBD {
public:
    MHBD(); // an empty database: a track dataset, a podcast and a playlist dataset, in that order
    ~MHBD();

    // Reads the database from `in`. Without `withPlaylists` only the tracks are decoded (the other
    // datasets are kept as bytes, and the playlists' items are not tied to tracks). 0, kErrUnknown for
    // a damaged or foreign file, kErrOutOfMemory without the memory, or kErrUserCancel when cancelled. The
    // database keeps a copy of the bytes it was read from, which its objects refer to.
    int Load(ByteReader& in, signed char withPlaylists, CancelProc cancel, AProgress* progress);
    // The same from bytes the database takes over (a whole file beginning with the record).
    int Load(std::shared_ptr<const MHOD::TextStore> bytes, signed char withPlaylists, CancelProc cancel,
             AProgress* progress);
    // The bytes the database was read from, unchanged by what was done to it since; null for a
    // database not read from bytes.
    const std::shared_ptr<const MHOD::TextStore>& GetReadBytes() const { return texts; }
    // The same from the file's position (the record's total length is read into memory first).
    int Load(AFile* f, signed char withPlaylists, CancelProc cancel, AProgress* progress);
    // Reads only the playlist titles and the track count, straight from the file.
    int LoadName(AFile* f);
    // Writes the database. When the playlists were decoded, the tracks first get the ids 1 to N and
    // the playlist items are written with them.
    void Store(ByteWriter& out);
    int Store(AFile* f);
    std::uint32_t GetTotalSize() const;

    // Adds a track for the song to the track list and an item for it to the library playlist of
    // every playlist dataset (kErrDuplicate for a duplicate, kErrInvalidElement without a track list).
    int AddSong(SongInfoStruct& song, MHIT** added, signed char add);
    // Removes the track a virtual path names from the track list and from every playlist.
    int RemoveSong(const AString& virtualPath, signed char withExtension, signed char withGenre,
                   signed char withAlbum);
    // Removes `track` from every playlist and from the track list.
    void RemoveTrack(MHIT* track);
    // The title of the library playlist of the first playlist dataset; kErrInvalidElement without one.
    int GetIPodName(AString& name) const;
    // Adds a playlist titled `name` to every playlist dataset (the peer reads one or the other).
    // Returns the playlists made.
    std::vector<MHYP*> AddPlaylist(const AString& name);

    MHLT* GetTrackList() const;
    std::vector<MHLP*> GetPlaylistLists() const;
    int GetDatasetCount() const { return static_cast<int>(datasets.size()); }
    MHSD* GetDataset(int index) const;
    // The 64-bit id of the database (header offset 24), which the application that made the
    // database chose; 0 when the header is too short to hold it.
    std::uint64_t GetDatabaseId() const;
    // The signing scheme the header names (offset 48, 16 bits; 0 for none).
    std::uint32_t GetHashingScheme() const;
    // True when the header names a signing scheme and carries a signature (any byte of offsets 88
    // to 107, 114 to 159 or 171 to 227 set): the iPod that reads it checks the signature and
    // shows no songs when it does not match the database.
    bool IsSigned() const;
    // The track count the header of the track list gave, for a database read with LoadName.
    std::uint32_t GetDeclaredTrackCount() const;

private:
    int Parse(ByteReader& in, signed char withPlaylists, CancelProc cancel, AProgress* progress);
    void ResolvePlaylistItems();

    std::vector<std::uint8_t> header;
    // The bytes the database was read from; declared before the datasets, so that it outlives them.
    // Shared with whoever keeps the bytes a database was read from (IPodDB::SetAside).
    std::shared_ptr<const MHOD::TextStore> texts;
    std::vector<std::unique_ptr<MHSD>> datasets;
    std::vector<std::uint8_t> rest; // bytes after the datasets inside the total length
    bool playlistsDecoded = true;
};
