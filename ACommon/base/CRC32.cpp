#include "ACommon/base/CRC32.h"

#include "ACommon/base/AString.h"

#include <array>

namespace {

constexpr std::array<std::uint32_t, 256> MakeTable()
{
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t entry = i;
        for (int bit = 0; bit < 8; ++bit)
            entry = (entry & 1) ? (entry >> 1) ^ 0xEDB88320u : entry >> 1;
        table[i] = entry;
    }
    return table;
}

constexpr std::array<std::uint32_t, 256> kTable = MakeTable();

} // namespace

void CRC32::Update(const unsigned char* data, int n)
{
    std::uint32_t v = value;
    for (int i = 0; i < n; ++i)
        v = kTable[(v ^ data[i]) & 0xFF] ^ (v >> 8);
    value = v;
}

void CRC32::Update(const AString& s)
{
    std::uint32_t v = value;
    for (char16_t unit : s.Units()) {
        v = kTable[(v ^ (unit & 0xFF)) & 0xFF] ^ (v >> 8);
        v = kTable[(v ^ (unit >> 8)) & 0xFF] ^ (v >> 8);
    }
    value = v;
}

std::uint32_t CRC32::Of(const AString& s)
{
    CRC32 crc;
    crc.Update(s);
    return crc.GetValue();
}
