#include "ACommon/tags/ID3Unsynchronisation.h"

#include <algorithm>

void ID3Unsynchronisation::Decode(std::span<const std::uint8_t> raw, std::vector<std::uint8_t>& out,
                                  DropList* drops)
{
    out.clear();
    out.reserve(raw.size());
    if (drops)
        drops->clear();
    for (std::size_t i = 0; i < raw.size(); ++i) {
        out.push_back(raw[i]);
        if (raw[i] == 0xFF && i + 1 < raw.size() && raw[i + 1] == 0x00) {
            ++i;
            if (drops)
                drops->push_back(static_cast<std::uint32_t>(out.size()));
        }
    }
}

std::vector<std::uint8_t> ID3Unsynchronisation::Encode(std::span<const std::uint8_t> data)
{
    std::vector<std::uint8_t> out;
    out.reserve(data.size() + data.size() / 64 + 1);
    for (std::uint8_t byte : data) {
        out.push_back(byte);
        if (byte == 0xFF)
            out.push_back(0x00);
    }
    return out;
}

std::uint64_t ID3Unsynchronisation::RawOffset(std::uint64_t decoded, const DropList& drops)
{
    // Every byte removed at or before `decoded` lies before it in the raw data.
    auto removed = std::upper_bound(drops.begin(), drops.end(), decoded) - drops.begin();
    return decoded + static_cast<std::uint64_t>(removed);
}
