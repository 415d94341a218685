#include "ACommon/base/ByteReader.h"

#include <cstring>

bool ByteReader::Take(std::size_t n)
{
    if (failed || n > Remaining()) {
        failed = true;
        return false;
    }
    return true;
}

std::uint8_t ByteReader::ReadU8()
{
    if (!Take(1))
        return 0;
    return data[position++];
}

std::uint16_t ByteReader::ReadU16BE()
{
    if (!Take(2))
        return 0;
    std::uint16_t v = static_cast<std::uint16_t>(data[position] << 8 | data[position + 1]);
    position += 2;
    return v;
}

std::uint16_t ByteReader::ReadU16LE()
{
    if (!Take(2))
        return 0;
    std::uint16_t v = static_cast<std::uint16_t>(data[position] | data[position + 1] << 8);
    position += 2;
    return v;
}

std::uint32_t ByteReader::ReadU24BE()
{
    if (!Take(3))
        return 0;
    std::uint32_t v = data[position] << 16 | data[position + 1] << 8 | data[position + 2];
    position += 3;
    return v;
}

std::uint32_t ByteReader::ReadU32LE()
{
    if (!Take(4))
        return 0;
    std::uint32_t v = static_cast<std::uint32_t>(data[position]) |
                      static_cast<std::uint32_t>(data[position + 1]) << 8 |
                      static_cast<std::uint32_t>(data[position + 2]) << 16 |
                      static_cast<std::uint32_t>(data[position + 3]) << 24;
    position += 4;
    return v;
}

std::uint32_t ByteReader::ReadU32BE()
{
    if (!Take(4))
        return 0;
    std::uint32_t v = static_cast<std::uint32_t>(data[position]) << 24 |
                      static_cast<std::uint32_t>(data[position + 1]) << 16 |
                      static_cast<std::uint32_t>(data[position + 2]) << 8 |
                      static_cast<std::uint32_t>(data[position + 3]);
    position += 4;
    return v;
}

std::uint64_t ByteReader::ReadU64BE()
{
    std::uint64_t high = ReadU32BE();
    std::uint64_t low = ReadU32BE();
    return Ok() ? (high << 32 | low) : 0;
}

std::uint32_t ByteReader::ReadSynchsafe28()
{
    if (!Take(4))
        return 0;
    std::uint32_t v = 0;
    lastSynchsafeClean = true;
    for (int i = 0; i < 4; ++i) {
        std::uint8_t b = data[position + i];
        if (b & 0x80)
            lastSynchsafeClean = false;
        v = v << 7 | (b & 0x7F);
    }
    position += 4;
    return v;
}

std::span<const std::uint8_t> ByteReader::ReadSpan(std::size_t n)
{
    if (!Take(n))
        return {};
    auto span = data.subspan(position, n);
    position += n;
    return span;
}

bool ByteReader::ReadBytes(void* out, std::size_t n)
{
    if (!Take(n))
        return false;
    if (n > 0)
        std::memcpy(out, data.data() + position, n);
    position += n;
    return true;
}

std::string ByteReader::ReadTag(std::size_t n)
{
    if (!Take(n))
        return std::string();
    std::string tag(reinterpret_cast<const char*>(data.data() + position), n);
    position += n;
    return tag;
}

bool ByteReader::Skip(std::size_t n)
{
    if (!Take(n))
        return false;
    position += n;
    return true;
}

bool ByteReader::Seek(std::size_t offset)
{
    if (failed || offset > data.size()) {
        failed = true;
        return false;
    }
    position = offset;
    return true;
}

std::uint8_t ByteReader::PeekU8(std::size_t ahead) const
{
    return ahead < Remaining() ? data[position + ahead] : 0;
}

ByteReader ByteReader::Sub(std::size_t n)
{
    ByteReader sub;
    if (!Take(n)) {
        sub.failed = true;
        return sub;
    }
    sub.data = data.subspan(position, n);
    position += n;
    return sub;
}
