#pragma once
// What `pelorin demo` makes for trying Pelorin out: a catalogue of small, valid, tagged songs that
// play as silence, written with the sample writers, and the identity of a demonstration iPod.

#include "samples/SongFile.h"

#include <string>
#include <vector>

namespace cli::demo {

// A song of the demonstration and the file type it is written as ("mp3" or "m4a").
struct DemoSong : samples::SongSpec {
    std::string extension = "mp3";
};

// The demonstration catalogue: a few dozen songs by several artists, on several albums, in
// several genres, some of them M4A; 128 kbit/s, silent, the bytes that decoders skip carrying the
// song's title so that no two MP3 songs have the same music bytes.
std::vector<DemoSong> Catalogue();

// The file name a song is written under inside its artist and album folders: "03 Title.mp3".
std::string SongFileName(const DemoSong& song);

// Writes the catalogue below `folder` as Artist/Album/NN Title.ext. False (with `problem`) when a
// file cannot be written.
bool WriteSongs(const std::string& folder, std::string& problem);

// A FireWire GUID of its own for a demonstration iPod (Apple's prefix, then random digits), by
// which a sync tells it from another iPod of the same name.
std::string NewFirewireGuid();

} // namespace cli::demo
