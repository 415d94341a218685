#pragma once
// AudioTranscoder: turns one music file into an M4A file of Apple Lossless or AAC-LC, in-process
// with FFmpeg's libraries (the native AAC encoder), carrying the tags and the first picture. The
// only file of the program that sees FFmpeg, whose libraries it loads at the first conversion: a run
// that converts nothing never loads them, and a system without them converts nothing but runs.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class AudioTranscoder {
public:
    enum class Codec { kALAC, kAAC };

    // Converts `input` into `output` (a new file; an existing one is replaced). `aacKbps` is the
    // AAC bit rate; `sourceSamples` (0: not known) the music's exact length in samples of the input's
    // rate, where a decoder would give more (the padding of the last Ogg page); the output ends
    // there and says so in its gapless item. `cancelled` (may be empty) is asked between packets; `progress`
    // (may be empty) hears the fraction done. 0; 123456 when cancelled; kErrFileType (-11159) for a file
    // without audio FFmpeg can decode; kErrNotSupported (-11167) when FFmpeg's libraries cannot be
    // loaded, with the missing one named in the failure noted (AError::FailureDetail); -36 for other
    // failures. On any failure `output` is removed.
    static int Convert(const std::string& input, const std::string& output, Codec codec, int aacKbps,
                       std::uint64_t sourceSamples, const std::function<bool()>& cancelled,
                       const std::function<void(double)>& progress);

    // The libraries (avformat, avcodec, swresample, avutil) the first conversion loads, in place of
    // the ones the program was built against: for tests of a system without them. Called before any
    // conversion; later it changes nothing.
    static void UseLibraries(std::vector<std::string> sonames);
};
