#include "samples/Pictures.h"

#include "samples/Noise.h"

#include <algorithm>

namespace samples {

Bytes FakeJpeg(std::size_t size, std::uint32_t seed)
{
    Bytes out = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00};
    const std::size_t body = std::max(size, out.size() + 2) - 2;
    Noise noise(seed + 77);
    while (out.size() < body) {
        std::uint8_t byte = noise.Next();
        if (byte != 0xFF) {
            out.push_back(byte);
        } else if (out.size() + 2 <= body) {
            // Entropy-coded data stuffs a zero after 0xFF; markers follow it with 0xE0 and above.
            out.push_back(0xFF);
            out.push_back((noise.Next() & 1) ? 0x00 : 0xE1);
        }
    }
    out.push_back(0xFF);
    out.push_back(0xD9);
    return out;
}

Bytes FakePng(std::size_t size, std::uint32_t seed)
{
    Bytes out = {137, 'P', 'N', 'G', 13, 10, 26, 10};
    Noise noise(seed + 99);
    while (out.size() < size)
        out.push_back(noise.Next());
    return out;
}

bool IsPng(const Bytes& picture) { return picture.size() >= 8 && picture[1] == 'P'; }

} // namespace samples
