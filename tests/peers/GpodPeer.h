#pragma once
// libgpod as an independent peer: reads an iPod's database into plain records, and writes one
// from plain records, so the tests can check that both programs agree on the file.

#include <cstdint>
#include <string>
#include <vector>

namespace peers {

struct PeerTrack {
    std::string title, artist, album, genre;
    std::string path; // the iPod's form, ":iPod_Control:Music:F00:ABCD.mp3"
    std::uint32_t size = 0;
    std::int32_t lengthMs = 0;
    std::int32_t bitrate = 0;
    // As libgpod reads them, with the iPod's play count file taken in (not written by WriteWithGpod).
    std::uint32_t playCount = 0, skipCount = 0, rating = 0;
    std::int64_t lastPlayed = 0; // seconds since 1970
    bool podcast = false;        // written into the podcasts playlist, after the library playlist
    bool operator==(const PeerTrack&) const = default;
};

struct PeerPlaylist {
    std::string name;
    bool library = false;
    std::vector<std::string> titles; // the members' titles, in order
    bool operator==(const PeerPlaylist&) const = default;
};

struct PeerDatabase {
    bool ok = false;
    std::string error;
    std::vector<std::string> warnings; // what libgpod logged as a warning or worse while reading
    std::vector<PeerTrack> tracks;     // in file order
    std::vector<PeerPlaylist> playlists;
};

// Three tracks as libgpod would be given them: "One" and "Two" by Ann, "Three" by Bob.
std::vector<PeerTrack> ThreeTracks();

// itdb_parse of the iPod mounted at `root`, with the warnings it logged. A failed read is a test
// failure (and `ok` false).
PeerDatabase ReadWithGpod(const std::string& root);

// Writes a new database with itdb_write into the iPod at `root` (whose iPod_Control/iTunes folder
// exists): the library playlist `name` holding every track, and `playlists` (name and the indices
// of their members in `tracks`). A track with a picture in `covers` (by index) gets thumbnails of it.
// A failure (of the write, or of a track's thumbnails) is a test failure: false.
bool WriteWithGpod(const std::string& root, const std::string& name, const std::vector<PeerTrack>& tracks,
                   const std::vector<std::pair<std::string, std::vector<int>>>& playlists = {},
                   const std::vector<std::vector<std::uint8_t>>& covers = {});

// The tracks in the order of their titles.
std::vector<PeerTrack> ByTitle(std::vector<PeerTrack> tracks);
// The playlist named `name`; null when there is none.
const PeerPlaylist* FindPlaylist(const PeerDatabase& database, const std::string& name);
// The file of a track on the iPod at `root`: `root` + its path (":iPod_Control:Music:F00:ABCD.mp3")
// with "/" for ":".
std::string FileOf(const std::string& root, std::string ipodPath);

} // namespace peers
