#pragma once
// FileWindow: reads an open file for a parser that looks at many small pieces close together (atom
// and chunk headers, frame headers). Small reads are served from one cached block, so a walk over a
// file's structure costs a few system calls instead of one per header; large reads go straight to
// the file. Every read is bounded by the file size given at construction.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

class AFile;

class FileWindow {
public:
    static constexpr std::size_t kBlockSize = 8192;

    FileWindow(AFile& file, std::uint64_t fileSize);

    std::uint64_t FileSize() const { return fileSize; }

    // Up to `n` bytes at `offset` (n at most kBlockSize): fewer at the end of the file, none past it
    // or after a read error. Valid until the next call.
    std::span<const std::uint8_t> View(std::uint64_t offset, std::size_t n);

    // The bytes from `offset` on that one block holds: what is cached already when that is at least
    // `minimum` bytes (or reaches the end of the file), else a fresh block read at `offset`. For
    // scanning forward without reading the same bytes twice.
    std::span<const std::uint8_t> ViewAtLeast(std::uint64_t offset, std::size_t minimum);

    // Exactly `n` bytes at `offset` into `out` (replacing its contents). kErrEndOfFile when the file
    // ends first, kErrIO on a read error, kErrOutOfMemory when the memory cannot be had.
    int ReadInto(std::uint64_t offset, std::size_t n, std::vector<std::uint8_t>& out);

    // Exactly `n` bytes at `offset` into `out`.
    int ReadExact(std::uint64_t offset, std::size_t n, void* out);

    // The first read error met by View (0 when none).
    int Error() const { return error; }

private:
    int Fill(std::uint64_t offset);

    AFile& file;
    std::uint64_t fileSize;
    std::unique_ptr<std::uint8_t[]> block; // left unfilled: only the bytes read are looked at
    std::uint64_t blockStart = 0;
    std::size_t blockFilled = 0;
    int error = 0;
};
