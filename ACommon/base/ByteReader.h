#pragma once
// Bounds-checked reading and writing of binary data. Every parser of bytes from a file goes through
// ByteReader: a read past the end yields zeros and marks the reader failed (checked with Ok()), so
// no length taken from a file is used before it is checked against what remains.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

class ByteReader {
public:
    ByteReader() = default;
    explicit ByteReader(std::span<const std::uint8_t> bytes) : data(bytes) {}
    ByteReader(const void* bytes, std::size_t size) : data(static_cast<const std::uint8_t*>(bytes), size) {}

    bool Ok() const { return !failed; }
    std::size_t Position() const { return position; }
    std::size_t Size() const { return data.size(); }
    std::size_t Remaining() const { return data.size() - position; }
    bool Has(std::size_t n) const { return n <= Remaining(); }

    std::uint8_t ReadU8();
    std::uint16_t ReadU16BE();
    std::uint16_t ReadU16LE();
    std::uint32_t ReadU24BE();
    std::uint32_t ReadU32LE();
    std::uint32_t ReadU32BE();
    std::uint64_t ReadU64BE();
    // Four bytes of seven bits each, most significant first (the ID3v2 size form). A byte with its
    // high bit set is not synchsafe: the value is still computed from the low seven bits and
    // SynchsafeWasClean() reports false.
    std::uint32_t ReadSynchsafe28();
    bool SynchsafeWasClean() const { return lastSynchsafeClean; }

    // The next `n` bytes as a span (empty and failed when fewer remain), and the position moves on.
    std::span<const std::uint8_t> ReadSpan(std::size_t n);
    // Copies the next `n` bytes into `out`; false (and failed) when fewer remain.
    bool ReadBytes(void* out, std::size_t n);
    // The next `n` bytes as text (no decoding), for four-letter tags and the like.
    std::string ReadTag(std::size_t n);
    bool Skip(std::size_t n);
    bool Seek(std::size_t offset);

    // Looks without moving: the byte `ahead` positions from here, or 0 when out of range.
    std::uint8_t PeekU8(std::size_t ahead = 0) const;
    std::span<const std::uint8_t> Rest() const { return data.subspan(position); }
    // A reader over the next `n` bytes, which are skipped here (failed when fewer remain).
    ByteReader Sub(std::size_t n);

private:
    bool Take(std::size_t n);

    std::span<const std::uint8_t> data;
    std::size_t position = 0;
    bool failed = false;
    bool lastSynchsafeClean = true;
};
