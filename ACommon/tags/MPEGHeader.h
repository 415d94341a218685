#pragma once
// MPEGHeader: the 4-byte header that begins every MPEG audio frame, and what follows from it.
//   b0: sync 0xFF   b1: 111 sync, 2 bits version, 2 bits layer, 1 bit protection
//   b2: 4 bits bit-rate index, 2 bits sample-rate index, padding, private
//   b3: 2 bits channel mode (3 mono), mode extension, copyright, original, 2 bits emphasis
// Version field: 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5, 1 reserved. Layer field: 1 III, 2 II, 3 I, 0 reserved.

#include <cstdint>

class MPEGHeader {
public:
    enum Version { kMPEG1, kMPEG2, kMPEG25 };

    MPEGHeader() = default;
    MPEGHeader(std::uint8_t b0, std::uint8_t b1, std::uint8_t b2, std::uint8_t b3);

    // True for a frame header: the sync bits, no reserved version or layer, a bit-rate index other
    // than 15, a sample-rate index other than 3 and an emphasis other than 2.
    static bool LooksValid(const std::uint8_t* bytes);

    Version GetVersion() const { return version; }
    // Bits per second; 0 for the free format.
    int BitRate() const;
    int SampleRate() const;
    int SamplesPerFrame() const;
    // Bytes per frame for one bit per second of bit rate and one sample per second, times the sample
    // rate: samples per frame / 8. Layer I frames count 384 samples (48), Layer II and MPEG-1 Layer
    // III 1152 (144), MPEG-2 and 2.5 Layer III 576 (72).
    int BytesPerFrameFactor() const { return SamplesPerFrame() / 8; }
    // The length of the frame in bytes, header included; 0 for the free format.
    int FrameLength() const;
    // Where a Xing header would start, counted from the frame start: after the 4 header bytes and
    // the Layer III side information.
    int XingOffset() const;
    // Where a VBRI header starts, counted from the frame start; the same for every kind of frame.
    static constexpr int kVBRIOffset = 36;

private:
    bool valid = false;
    Version version = kMPEG1;
    int layer = 3;
    int bitRateIndex = 0;
    int sampleRateIndex = 0;
    bool padding = false;
    bool mono = false;
};
