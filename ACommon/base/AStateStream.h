#pragma once
// The state stream in which every persistent class saves itself: the plain bytes of one file, read
// and written in order through one open AFile. Integers are little-endian, a flag is one byte, a
// record begins with the 4-byte mark of its class. No header, no length, no checksum.

#include <cstdint>

class AFile;

class AStateStream {
public:
    static int WriteU32(AFile* f, std::uint32_t value);
    static int WriteFlag(AFile* f, signed char flag);
    static int ReadU32(AFile* f, std::uint32_t* value);
    static int ReadI32(AFile* f, int* value);
    static int ReadU64(AFile* f, std::uint64_t* value);
    static int ReadFlag(AFile* f, signed char* flag);
    // Reads a class mark; any value but `expected` gives kErrVersion.
    static int ReadMark(AFile* f, std::uint32_t expected);
};
