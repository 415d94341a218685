#pragma once
// SongInfoStruct: one song's metadata, as the sources, the sync engine and the iPod database
// exchange it. ID3::GetSongInfo fills the tag fields; the caller fills the file path and time.

#include "ACommon/base/AString.h"

#include <cstdint>

struct SongInfoStruct {
    AString name;
    AString album;
    AString artist;
    AString tvShow;
    AString genre;
    AString composer;
    int trackNumber = 0;
    int discNumber = 0;
    int discCount = 0;
    int year = 0;
    int compilation = 0;
    int mediaKind = -1;
    int podcast = 0;
    int bitRate = 0;    // kbit/s
    int duration = 0;   // seconds
    int sampleRate = 0; // Hz; 0 when not known
    int size = 0;       // bytes
    // Gapless playback, when the file tells (sampleCount 0: not known): the samples a decoder gives
    // before the music (pregap) and after it (postgap), the music's own samples, and for MP3 the
    // bytes from the first frame up to the last eight frames, where a player prepares the next song.
    std::uint32_t pregap = 0;
    std::uint32_t postgap = 0;
    std::uint64_t sampleCount = 0;
    std::uint32_t gaplessData = 0;
    std::uint64_t modTime = 0; // file time (AFile::FileModTime)
    AString filePath;
    AString fileExtension; // without the dot
    AString appleID;
    AString modifiedName; // the name, or the file's base name when it has none
};
