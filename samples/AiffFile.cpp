#include "samples/AiffFile.h"

#include <cmath>

namespace samples {
namespace {

// The 80-bit IEEE extended form of `value` (positive values only).
Bytes Extended80(double value)
{
    Bytes out(10, 0);
    if (value <= 0)
        return out;
    int exponent = 0;
    double mantissa = std::frexp(value, &exponent); // value = mantissa x 2^exponent, mantissa in [0.5, 1)
    auto bits = static_cast<std::uint64_t>(std::ldexp(mantissa, 64));
    std::uint32_t field = static_cast<std::uint32_t>(exponent - 1 + 16383);
    out[0] = static_cast<std::uint8_t>(field >> 8);
    out[1] = static_cast<std::uint8_t>(field);
    for (int i = 0; i < 8; ++i)
        out[2 + i] = static_cast<std::uint8_t>(bits >> (56 - 8 * i));
    return out;
}

void AppendChunk(Bytes& out, const std::string& id, const Bytes& data)
{
    AppendText(out, id);
    AppendU32BE(out, static_cast<std::uint32_t>(data.size()));
    Append(out, data);
    if (data.size() % 2 == 1)
        out.push_back(0); // IFF pads chunks to an even length
}

} // namespace

Bytes AiffFile(const AiffSpec& aiff)
{
    Bytes comm;
    AppendU16BE(comm, static_cast<std::uint32_t>(aiff.channels));
    AppendU32BE(comm, aiff.sampleFrames);
    AppendU16BE(comm, static_cast<std::uint32_t>(aiff.sampleBits));
    Append(comm, Extended80(aiff.sampleRate));
    if (aiff.aifc) {
        AppendText(comm, "NONE");
        comm.push_back(14);
        AppendText(comm, "not compressed");
        comm.push_back(0);
    }
    Bytes ssnd;
    AppendU32sBE(ssnd, {0, 0}); // offset, block size
    Append(ssnd, aiff.sound);

    Bytes chunks;
    AppendChunk(chunks, "COMM", comm);
    for (const auto& [id, data] : aiff.extraChunks)
        AppendChunk(chunks, id, data);
    if (aiff.id3Tag && aiff.id3BeforeSound)
        AppendChunk(chunks, "ID3 ", *aiff.id3Tag);
    AppendChunk(chunks, "SSND", ssnd);
    if (aiff.id3Tag && !aiff.id3BeforeSound)
        AppendChunk(chunks, "ID3 ", *aiff.id3Tag);

    Bytes out;
    AppendText(out, "FORM");
    AppendU32BE(out, static_cast<std::uint32_t>(chunks.size() + 4));
    AppendText(out, aiff.aifc ? "AIFC" : "AIFF");
    Append(out, chunks);
    return out;
}

} // namespace samples
