#include "samples/MpegAudio.h"

#include "samples/Noise.h"

#include <algorithm>
#include <stdexcept>

namespace samples {
namespace {

const int kBitRates[5][15] = {
    {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
};
const int kSampleRates[3][3] = {{44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};

int VersionRow(MpegVersion v) { return v == MpegVersion::V1 ? 0 : (v == MpegVersion::V2 ? 1 : 2); }

int BitRateIndex(const MpegFrameSpec& frame)
{
    int row = frame.version == MpegVersion::V1 ? frame.layer - 1 : (frame.layer == 1 ? 3 : 4);
    for (int i = 0; i < 15; ++i)
        if (kBitRates[row][i] == frame.bitRate)
            return i;
    throw std::invalid_argument("no such MPEG bit rate");
}

int SampleRateIndex(const MpegFrameSpec& frame)
{
    for (int i = 0; i < 3; ++i)
        if (kSampleRates[VersionRow(frame.version)][i] == frame.sampleRate)
            return i;
    throw std::invalid_argument("no such MPEG sample rate");
}

Bytes MpegHeader(const MpegFrameSpec& frame)
{
    if (frame.layer < 1 || frame.layer > 3)
        throw std::invalid_argument("no such MPEG layer");
    int versionBits = frame.version == MpegVersion::V1 ? 3 : (frame.version == MpegVersion::V2 ? 2 : 0);
    int layerBits = 4 - frame.layer;
    return {0xFF, static_cast<std::uint8_t>(0xE0 | versionBits << 3 | layerBits << 1 | 1),
            static_cast<std::uint8_t>(BitRateIndex(frame) << 4 | SampleRateIndex(frame) << 2 |
                                      (frame.padding ? 2 : 0)),
            static_cast<std::uint8_t>((frame.mono ? 0xC0 : 0x00) | (frame.original ? 0x04 : 0x00))};
}

// Bytes per frame for each bit per second of rate and sample per second: the samples of a frame
// over 8.
int MpegFactor(const MpegFrameSpec& frame)
{
    if (frame.layer == 1)
        return 48;
    if (frame.layer == 3 && frame.version != MpegVersion::V1)
        return 72;
    return 144;
}

// A frame of `length` bytes with its header and zeros.
Bytes FrameHeaderAndData(const MpegFrameSpec& frame, std::size_t length)
{
    Bytes out = MpegHeader(frame);
    out.resize(std::max<std::size_t>(length, 4), 0);
    return out;
}

} // namespace

std::size_t MpegFrameLength(const MpegFrameSpec& frame)
{
    const int rate = frame.bitRate * 1000;
    if (rate == 0)
        return 0;
    if (frame.layer == 1)
        return static_cast<std::size_t>((12 * rate / frame.sampleRate + (frame.padding ? 1 : 0)) * 4);
    return static_cast<std::size_t>(MpegFactor(frame) * rate / frame.sampleRate + (frame.padding ? 1 : 0));
}

Bytes MpegFrames(const MpegFrameSpec& frame, std::size_t count, std::uint32_t seed)
{
    const Bytes header = MpegHeader(frame);
    std::size_t length = MpegFrameLength(frame);
    if (length == 0)
        length = 417; // a free-format frame has no length of its own
    Noise noise(seed);
    Bytes out;
    out.reserve(count * length);
    for (std::size_t i = 0; i < count; ++i) {
        Append(out, header);
        for (std::size_t k = 4; k < length; ++k)
            out.push_back(std::min<std::uint8_t>(noise.Next(), 0xFE));
    }
    return out;
}

Bytes XingFrame(const MpegFrameSpec& frame, const XingSpec& xing)
{
    std::size_t offset = frame.version == MpegVersion::V1 ? (frame.mono ? 21 : 36) : (frame.mono ? 13 : 21);
    Bytes tag;
    AppendText(tag, "Xing");
    std::uint32_t flags = (xing.frames ? 1 : 0) | (xing.bytes ? 2 : 0) | (xing.table ? 4 : 0) | 8;
    AppendU32BE(tag, flags);
    if (xing.frames)
        AppendU32BE(tag, *xing.frames);
    if (xing.bytes)
        AppendU32BE(tag, *xing.bytes);
    if (xing.table)
        for (int i = 0; i < 100; ++i)
            tag.push_back(static_cast<std::uint8_t>(i * 255 / 100));
    AppendU32BE(tag, 78); // quality
    const std::size_t length = MpegFrameLength(frame);
    if (length < offset + tag.size())
        throw std::invalid_argument("the frame is too short for a Xing header");
    Bytes out = FrameHeaderAndData(frame, length);
    std::copy(tag.begin(), tag.end(), out.begin() + static_cast<std::ptrdiff_t>(offset));
    return out;
}

Bytes VbriFrame(const MpegFrameSpec& frame, std::uint32_t frames, std::uint32_t bytes)
{
    Bytes tag;
    AppendText(tag, "VBRI");
    AppendU16BE(tag, 1);  // version
    AppendU16BE(tag, 0);  // delay
    AppendU16BE(tag, 75); // quality
    AppendU32sBE(tag, {bytes, frames});
    AppendU16BE(tag, 0); // table entries
    AppendU16BE(tag, 1); // table scale
    AppendU16BE(tag, 2); // entry size
    AppendU16BE(tag, 0); // frames per entry
    const std::size_t length = MpegFrameLength(frame);
    if (length < 36 + tag.size())
        throw std::invalid_argument("the frame is too short for a VBRI header");
    Bytes out = FrameHeaderAndData(frame, length);
    std::copy(tag.begin(), tag.end(), out.begin() + 36);
    return out;
}

Bytes SilentMpegFrames(int bitRate, int seconds, const std::string& ancillary)
{
    constexpr std::uint64_t kSampleRate = 44100;
    constexpr std::size_t kSideInformation = 17; // of a mono MPEG-1 Layer III frame
    MpegFrameSpec frame;
    frame.bitRate = bitRate;
    frame.mono = true;
    frame.original = true;
    // Frame i ends at byte (i + 1) x 144 x rate / 44100, rounded down: the frames that round up
    // carry the padding byte.
    const std::uint64_t bytesPerFrameTimesRate = 144ULL * static_cast<std::uint64_t>(bitRate) * 1000;
    const std::size_t frames = (static_cast<std::size_t>(seconds) * kSampleRate + 1151) / 1152;
    Bytes out;
    std::size_t at = 0;
    for (std::size_t i = 0; i < frames; ++i) {
        const auto length = static_cast<std::size_t>((i + 1) * bytesPerFrameTimesRate / kSampleRate -
                                                     i * bytesPerFrameTimesRate / kSampleRate);
        frame.padding = length > bytesPerFrameTimesRate / kSampleRate;
        Append(out, MpegHeader(frame));
        out.insert(out.end(), kSideInformation, 0);
        for (std::size_t k = 4 + kSideInformation; k < length; ++k)
            out.push_back(ancillary.empty() ? 0
                                            : static_cast<std::uint8_t>(ancillary[at++ % ancillary.size()]));
    }
    return out;
}

} // namespace samples
