#pragma once
// CRC-32 of ISO-HDLC (the one of zlib and Ethernet): the CRC of "abc" is 0x352441C2.

#include <cstdint>

class AString;

class CRC32 {
public:
    CRC32() = default;
    void Reset() { value = 0xFFFFFFFFu; }
    void Update(const unsigned char* data, int n);
    void Update(const AString& s); // each UTF-16 unit as two bytes, low byte first
    std::uint32_t GetValue() const { return ~value; }

    // The CRC of the UTF-16 units of `s` alone (a fresh accumulator).
    static std::uint32_t Of(const AString& s);

private:
    std::uint32_t value = 0xFFFFFFFFu;
};
