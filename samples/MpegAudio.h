#pragma once
// MPEG audio frames: noise for readers to measure, Xing and VBRI headers, and playable silence.

#include "samples/SampleBytes.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace samples {

enum class MpegVersion { V1, V2, V25 };

struct MpegFrameSpec {
    MpegVersion version = MpegVersion::V1;
    int layer = 3;          // 1, 2 or 3
    int bitRate = 128;      // kbit/s, one of the table of the version and layer; 0 is the free format
    int sampleRate = 44100; // one of the table of the version
    bool mono = false;
    bool padding = false;
    bool original = false; // the header bit encoders set for original media
};

// The length of one frame of `frame` in bytes; 0 for the free format.
std::size_t MpegFrameLength(const MpegFrameSpec& frame);

// `count` frames of `frame`. The payload comes from a generator seeded with `seed` and never
// holds a 0xFF byte, so that nothing in it looks like a frame header.
Bytes MpegFrames(const MpegFrameSpec& frame, std::size_t count, std::uint32_t seed = 0);

// A Xing header: "Xing", flags, the counts that are given, a 100-byte table when asked for, a quality.
struct XingSpec {
    std::optional<std::uint32_t> frames;
    std::optional<std::uint32_t> bytes;
    bool table = true;
};
// One frame of `frame` that carries the Xing header where the version and channel mode put it.
Bytes XingFrame(const MpegFrameSpec& frame, const XingSpec& xing);
// One frame of `frame` that carries a VBRI header (32 bytes after the frame header).
Bytes VbriFrame(const MpegFrameSpec& frame, std::uint32_t frames, std::uint32_t bytes);

// MPEG-1 Layer III silence at `bitRate` kbit/s, 44.1 kHz, mono, laid out as an encoder does it: the
// padding bit keeps the exact rate, the side information is zero (granules without main data),
// and the rest of each frame is ancillary data, which decoders skip, filled with `ancillary`
// repeated (zeros when it is empty). As many frames as `seconds` need.
Bytes SilentMpegFrames(int bitRate, int seconds, const std::string& ancillary);

} // namespace samples
