#pragma once
// AudioTranscoder: turns one music file into an M4A file of Apple Lossless or AAC-LC, in-process
// with FFmpeg's libraries (the native AAC encoder), carrying the tags and the first picture. The
// only file of the program that sees FFmpeg.

#include <functional>
#include <string>

class AudioTranscoder {
public:
    enum class Codec { kALAC, kAAC };

    // Converts `input` into `output` (a new file; an existing one is replaced). `aacKbps` is the
    // AAC bit rate; `cancelled` (may be empty) is asked between packets; `progress` (may be empty)
    // hears the fraction done. 0; 123456 when cancelled; kErrFileType (-11159) for a file without
    // audio FFmpeg can decode; -36 for other failures. On any failure `output` is removed.
    static int Convert(const std::string& input, const std::string& output, Codec codec, int aacKbps,
                       const std::function<bool()>& cancelled, const std::function<void(double)>& progress);
};
