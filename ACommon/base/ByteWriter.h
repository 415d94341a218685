#pragma once
// The twin of ByteReader: appends little- and big-endian values to an owned buffer (the widths the
// formats written here use).

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

class ByteWriter {
public:
    void WriteU8(std::uint8_t v) { bytes.push_back(v); }
    void WriteU24BE(std::uint32_t v);
    void WriteU32LE(std::uint32_t v);
    void WriteU32BE(std::uint32_t v);
    void WriteSynchsafe28(std::uint32_t v);           // the low 28 bits, seven to a byte
    void WriteBytes(const void* data, std::size_t n); // nothing when `data` is null
    void WriteBytes(std::span<const std::uint8_t> data) { WriteBytes(data.data(), data.size()); }
    void WriteTag(const char* tag); // the characters of `tag`, without a terminator
    void WriteZeros(std::size_t n) { bytes.insert(bytes.end(), n, 0); }
    // Overwrites four bytes at `offset`; nothing happens when they do not lie within what was written.
    void PatchU32LE(std::size_t offset, std::uint32_t v);

    std::size_t Size() const { return bytes.size(); }
    const std::vector<std::uint8_t>& Bytes() const { return bytes; }
    std::vector<std::uint8_t>& Bytes() { return bytes; }
    std::vector<std::uint8_t> Take() { return std::move(bytes); }
    void Clear() { bytes.clear(); }

private:
    std::vector<std::uint8_t> bytes;
};
