#include "ACommon/tags/MPEGHeader.h"

namespace {

// Kilobits per second by bit-rate index; index 0 is the free format, 15 is invalid.
constexpr int kBitRates[5][15] = {
    {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448}, // MPEG-1 Layer I
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},    // MPEG-1 Layer II
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},     // MPEG-1 Layer III
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},    // MPEG-2/2.5 Layer I
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},         // MPEG-2/2.5 Layer II and III
};

constexpr int kSampleRates[3][3] = {
    {44100, 48000, 32000}, // MPEG-1
    {22050, 24000, 16000}, // MPEG-2
    {11025, 12000, 8000},  // MPEG-2.5
};

} // namespace

MPEGHeader::MPEGHeader(std::uint8_t b0, std::uint8_t b1, std::uint8_t b2, std::uint8_t b3)
{
    const std::uint8_t bytes[4] = {b0, b1, b2, b3};
    if (!LooksValid(bytes))
        return;
    int versionField = (b1 >> 3) & 3;
    version = versionField == 3 ? kMPEG1 : (versionField == 2 ? kMPEG2 : kMPEG25);
    layer = 4 - ((b1 >> 1) & 3);
    bitRateIndex = b2 >> 4;
    sampleRateIndex = (b2 >> 2) & 3;
    padding = (b2 & 0x02) != 0;
    mono = (b3 >> 6) == 3;
    valid = true;
}

bool MPEGHeader::LooksValid(const std::uint8_t* bytes)
{
    return bytes[0] == 0xFF && (bytes[1] & 0xE0) == 0xE0 && ((bytes[1] >> 3) & 3) != 1 &&
           ((bytes[1] >> 1) & 3) != 0 && (bytes[2] >> 4) != 15 && ((bytes[2] >> 2) & 3) != 3 &&
           (bytes[3] & 3) != 2;
}

int MPEGHeader::BitRate() const
{
    if (!valid)
        return 0;
    int row = version == kMPEG1 ? layer - 1 : (layer == 1 ? 3 : 4);
    return kBitRates[row][bitRateIndex] * 1000;
}

int MPEGHeader::SampleRate() const
{
    if (!valid)
        return 0;
    return kSampleRates[version][sampleRateIndex];
}

int MPEGHeader::SamplesPerFrame() const
{
    if (layer == 1)
        return 384;
    if (layer == 3 && version != kMPEG1)
        return 576;
    return 1152;
}

int MPEGHeader::FrameLength() const
{
    int rate = BitRate();
    int samples = SampleRate();
    if (rate == 0 || samples == 0)
        return 0;
    if (layer == 1)
        return (12 * rate / samples + (padding ? 1 : 0)) * 4;
    return BytesPerFrameFactor() * rate / samples + (padding ? 1 : 0);
}

int MPEGHeader::XingOffset() const
{
    if (version == kMPEG1)
        return mono ? 21 : 36;
    return mono ? 13 : 21;
}
