#pragma once
// Stand-ins for album art: bytes that begin and end as pictures do.

#include "samples/SampleBytes.h"

#include <cstddef>
#include <cstdint>

namespace samples {

// Bytes that begin like a JPEG file (0xFF 0xD8 0xFF 0xE0 ...) and end with 0xFF 0xD9; the middle is
// pseudo-random and holds 0xFF 0x00 and 0xFF 0xE0 pairs, as real pictures do.
Bytes FakeJpeg(std::size_t size, std::uint32_t seed = 0);
// The PNG signature followed by pseudo-random bytes.
Bytes FakePng(std::size_t size, std::uint32_t seed = 0);
// Whether `picture` begins with the PNG signature's letters (else it is taken for a JPEG).
bool IsPng(const Bytes& picture);

} // namespace samples
