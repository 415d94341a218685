#pragma once
// AudioFormats: which music files the song sources list, and what becomes of each type on its way
// to an iPod. Every classic iPod plays MP3, AAC, WAV and AIFF; most also play Apple Lossless; none
// plays FLAC, Ogg Vorbis or Opus: those are converted into an M4A file (Apple Lossless or AAC).

#include "ACommon/base/AString.h"

#include <string>

class ID3;

class AudioFormats {
public:
    // The extensions the song sources list, in the form of a type filter.
    static constexpr const char* kSongTypes = ":mp3:m4p:m4a:m4b:flac:ogg:oga:opus:wav:";
    // The list the song sources had before FLAC, Ogg, Opus and WAV files were read; a saved state
    // that still holds it is given kSongTypes.
    static constexpr const char* kOldSongTypes = ":mp3:m4p:m4a:m4b:";

    // True for a file type no iPod plays (by extension, case ignored).
    static bool NeedsConversion(const AString& extension);
    // The extension a file of `extension` has on an iPod: "m4a" for the types that are converted,
    // the extension itself for the others.
    static AString IPodExtension(const AString& extension);
    // The extension of the file at `path`, ASCII letters in lower case; empty when it has none.
    static std::string LowerExtension(const std::string& path);

    // What a song is converted into.
    enum class Target { kCopy, kALAC, kAAC };
    // The settings of the conversion: the AAC bit rate in kbit/s and whether every conversion gives
    // AAC (smaller files) instead of Apple Lossless for lossless music.
    static constexpr int kMinAACKbps = 64;
    static constexpr int kMaxAACKbps = 320;
    struct Settings {
        int aacKbps = 256;
        bool alwaysAAC = false;
    };
    // The target for a file read into `tags` going to an iPod that plays Apple Lossless or not:
    // a type the iPod plays is copied (Apple Lossless too, when the model plays it); lossless music
    // becomes Apple Lossless where the model plays it and `alwaysAAC` is off, else AAC; lossy music
    // becomes AAC.
    static Target TargetFor(const ID3& tags, bool modelPlaysALAC, const Settings& settings);
};
