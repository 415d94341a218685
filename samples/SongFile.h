#pragma once
// Whole song files made from a few tag values: MP3 (ID3v2, and ID3v1 when asked), MP4 (.m4a, .m4b,
// .m4p, .mp4, .m4v), AIFF (.aif, .aiff) and FLAC (.flac; its frames are noise, for reading tags
// only), the format following the extension. The files read
// back through the program's tag reader with exactly the values given, a duration of `seconds`
// and a bit rate of `bitRate`. Two songs of equal `seconds` and `bitRate` have music of equal
// length. A request that cannot be built throws.

#include "samples/SampleBytes.h"

#include <cstdint>
#include <string>

namespace samples {

struct SongSpec {
    std::string title, artist, album, genre, composer; // UTF-8; empty values are left out
    int track = 0, trackCount = 0, disc = 0, discCount = 0, year = 0;
    bool compilation = false;
    int seconds = 2;   // the duration that the tags read back
    int bitRate = 128; // kbit/s; MP3: a Layer III rate of its MPEG version; AIFF: 16 x the sample rate
    // Hz; 0: 44100 for MP3 and MP4, 8000 for AIFF. MP3: a rate of MPEG-1 (48000, 44100, 32000), MPEG-2
    // (24000, 22050, 16000) or MPEG-2.5 (12000, 11025, 8000), which picks the version. Silent songs
    // play at 44100.
    int sampleRate = 0;
    Bytes picture;                // embedded when given (JPEG or PNG bytes, e.g. FakeJpeg(30000))
    int id3Version = 3;           // MP3 and AIFF: 2, 3 or 4; 0 leaves the ID3v2 tag out
    std::size_t id3Padding = 256; // zeros after the ID3v2 tag's frames
    bool id3v1 = false;           // MP3: also an ID3v1.1 tag at the end
    // The music: noise from a generator seeded with `seed` (equal exactly when the seeds are), or
    // with `silent` a song that plays as silence: MP3 and M4A frames as encoders lay them out
    // (mono, 44.1 kHz; M4A with the sample table players need), whose bytes that decoders skip hold
    // `ancillary` (MP3 only) so that songs can differ in their music bytes.
    std::uint32_t seed = 0;
    bool silent = false;
    std::string ancillary;
};

// The bytes of a song file of the format of `extension` ("mp3", "m4a", "aif", ...).
Bytes SongBytes(const std::string& extension, const SongSpec& song);
// Writes a song file at `path` (creating its folders); the format follows the extension.
void WriteSong(const std::string& path, const SongSpec& song);

} // namespace samples
