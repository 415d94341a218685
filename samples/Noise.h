#pragma once
// A small deterministic generator of bytes, so that the same seed always gives the same samples.

#include <cstdint>

namespace samples {

class Noise {
public:
    explicit Noise(std::uint32_t seed) : state(seed * 2654435761u + 0x9E3779B9u) {}
    std::uint8_t Next()
    {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return static_cast<std::uint8_t>(state >> 7);
    }

private:
    std::uint32_t state;
};

} // namespace samples
