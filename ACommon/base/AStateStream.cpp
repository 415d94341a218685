#include "ACommon/base/AStateStream.h"

#include "ACommon/base/AError.h"
#include "ACommon/base/AFile.h"

int AStateStream::WriteU32(AFile* f, std::uint32_t value)
{
    unsigned char bytes[4];
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<unsigned char>(value >> (8 * i));
    return f->Write(bytes, 4);
}

int AStateStream::WriteFlag(AFile* f, signed char flag)
{
    unsigned char byte = static_cast<unsigned char>(flag);
    return f->Write(&byte, 1);
}

int AStateStream::ReadU32(AFile* f, std::uint32_t* value)
{
    unsigned char bytes[4];
    if (int err = f->Read(bytes, 4, nullptr); err != 0)
        return err;
    *value = static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
             static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
    return 0;
}

int AStateStream::ReadI32(AFile* f, int* value)
{
    std::uint32_t raw = 0;
    if (int err = ReadU32(f, &raw); err != 0)
        return err;
    *value = static_cast<int>(raw);
    return 0;
}

int AStateStream::ReadU64(AFile* f, std::uint64_t* value)
{
    unsigned char bytes[8];
    if (int err = f->Read(bytes, 8, nullptr); err != 0)
        return err;
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = v << 8 | bytes[i];
    *value = v;
    return 0;
}

int AStateStream::ReadFlag(AFile* f, signed char* flag)
{
    unsigned char byte = 0;
    if (int err = f->Read(&byte, 1, nullptr); err != 0)
        return err;
    *flag = static_cast<signed char>(byte);
    return 0;
}

int AStateStream::ReadMark(AFile* f, std::uint32_t expected)
{
    std::uint32_t mark = 0;
    if (int err = ReadU32(f, &mark); err != 0)
        return err;
    return mark == expected ? 0 : kErrVersion;
}
