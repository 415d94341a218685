#pragma once
// What `pelorin demo` makes for trying Pelorin out: small, valid, tagged music files that play as
// silence (MP3: MPEG-1 Layer III frames; M4A: AAC-LC frames in an MP4 file with a sample table),
// and the folder tree of an iPod with an empty database.

#include <cstdint>
#include <string>
#include <vector>

namespace cli::demo {

struct DemoSong {
    std::string title, artist, album, genre; // UTF-8
    int track = 0;
    int trackCount = 0;
    int year = 0;
    int seconds = 3;
    std::string extension = "mp3"; // "mp3" or "m4a"
};

// The demonstration catalogue: a few dozen songs by several artists, on several albums, in
// several genres, some of them M4A.
std::vector<DemoSong> Catalogue();

// The bytes of a song file: 128 kbit/s, 44.1 kHz, mono, silent; the bytes that decoders skip carry
// the song's title, so that no two songs have the same music bytes.
std::vector<std::uint8_t> Mp3Bytes(const DemoSong& song);
std::vector<std::uint8_t> M4aBytes(const DemoSong& song);

// The file name a song is written under inside its artist and album folders: "03 Title.mp3".
std::string SongFileName(const DemoSong& song);

// Writes the catalogue below `folder` as Artist/Album/NN Title.ext. False (with `problem`) when a
// file cannot be written.
bool WriteSongs(const std::string& folder, std::string& problem);

// Makes the folder tree of an iPod called `name` at `root`: iPod_Control/Device/SysInfo with the
// model number `model` and a FireWire GUID of its own, iTunesPrefs with automatic update off, an empty
// database whose library playlist carries the name, and the music folders F00-F19.
bool MakeIPod(const std::string& root, const std::string& name, const std::string& model,
              std::string& problem);

} // namespace cli::demo
