#include "ACommon/base/ByteWriter.h"

void ByteWriter::WriteU24BE(std::uint32_t v)
{
    for (int shift = 16; shift >= 0; shift -= 8)
        bytes.push_back(static_cast<std::uint8_t>(v >> shift));
}

void ByteWriter::WriteU32LE(std::uint32_t v)
{
    for (int shift = 0; shift < 32; shift += 8)
        bytes.push_back(static_cast<std::uint8_t>(v >> shift));
}

void ByteWriter::WriteU32BE(std::uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        bytes.push_back(static_cast<std::uint8_t>(v >> shift));
}

void ByteWriter::WriteSynchsafe28(std::uint32_t v)
{
    for (int shift = 21; shift >= 0; shift -= 7)
        bytes.push_back(static_cast<std::uint8_t>((v >> shift) & 0x7F));
}

void ByteWriter::WriteBytes(const void* data, std::size_t n)
{
    if (!data || n == 0)
        return;
    const auto* p = static_cast<const std::uint8_t*>(data);
    bytes.insert(bytes.end(), p, p + n);
}

void ByteWriter::WriteTag(const char* tag)
{
    if (!tag)
        return;
    while (*tag)
        bytes.push_back(static_cast<std::uint8_t>(*tag++));
}

void ByteWriter::PatchU32LE(std::size_t offset, std::uint32_t v)
{
    if (offset > bytes.size() || bytes.size() - offset < 4)
        return;
    for (int i = 0; i < 4; ++i)
        bytes[offset + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
