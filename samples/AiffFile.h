#pragma once
// AIFF and AIFC files: COMM, SSND and, where asked, an "ID3 " chunk.

#include "samples/SampleBytes.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace samples {

struct AiffSpec {
    int channels = 1;
    int sampleBits = 16;
    double sampleRate = 8000;
    std::uint32_t sampleFrames = 0;
    Bytes sound;                 // the SSND sound data
    std::optional<Bytes> id3Tag; // an "ID3 " chunk holding these bytes
    bool id3BeforeSound = false;
    std::vector<std::pair<std::string, Bytes>> extraChunks; // written after COMM
    bool aifc = false;                                      // FORM type "AIFC" with compression "NONE"
};
Bytes AiffFile(const AiffSpec& aiff);

} // namespace samples
