#pragma once
// MHSD: one dataset of the iTunesDB.
//
// mhsd: header (at least 16 bytes), then its one list.
//   0 "mhsd"  4 header length  8 total length  12 dataset type  16 and on: kept
// Type 1 holds the track list (mhlt), types 2 (playlists) and 3 (podcasts) a playlist list
// (mhlp). Current databases hold more datasets (album lists, artist lists, smart playlist data and
// more); every dataset this program does not decode is kept as opaque bytes in its place and
// written back unchanged, so the written file agrees with its own counts and lengths.

#include "ACommon/base/AFile.h"
#include "ACommon/base/ByteReader.h"
#include "ACommon/base/ByteWriter.h"
#include "ACommon/itunesdb/MHLP.h"
#include "ACommon/itunesdb/MHLT.h"
#include "ACommon/itunesdb/MHOD.h"

#include <cstdint>
#include <memory>
#include <vector>

class AProgress;

class MHSD {
public:
    enum : std::uint32_t { kTracks = 1, kPlaylists = 2, kPodcasts = 3 };

    // A new dataset of `type`: an empty track list (1), or a playlist list holding the untitled
    // library playlist (2, 3).
    explicit MHSD(std::uint32_t type = kTracks);
    ~MHSD();

    // With `decode` unset, or for a type other than 1 to 3, the dataset is kept as opaque bytes.
    // Objects refer to the bytes `texts` holds when one is given.
    int Load(ByteReader& in, bool decode, CancelProc cancel, AProgress* progress,
             const MHOD::TextStore* texts = nullptr);
    // Reads the titles of a playlist dataset and the track count of a track dataset; skips the rest.
    int LoadName(AFile* f, std::uint64_t limit);
    void Store(ByteWriter& out);
    std::uint32_t GetTotalSize() const;

    std::uint32_t GetType() const;
    MHLT* GetTrackList() const { return trackList.get(); }
    MHLP* GetPlaylistList() const { return playlistList.get(); }

private:
    std::vector<std::uint8_t> header;
    std::unique_ptr<MHLT> trackList;
    std::unique_ptr<MHLP> playlistList;
    // After a decoded list: the bytes that follow it inside the dataset; for an opaque dataset
    // everything after the header.
    std::vector<std::uint8_t> rest;
};
