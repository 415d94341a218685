#include "ACommon/base/ByteWriter.h"

#include <gtest/gtest.h>

using Bytes = std::vector<std::uint8_t>;

TEST(ByteWriter, WritesEitherByteOrderInPlace)
{
    ByteWriter w;
    w.WriteU8(0xAB);
    w.WriteU16BE(0x0102);
    w.WriteU24BE(0x010203);
    w.WriteU32LE(0x01020304);
    w.WriteU32BE(0x01020304);
    w.WriteSynchsafe28(257);
    w.WriteBytes(nullptr, 5);
    w.PatchU32LE(1, 0x11223344);
    w.PatchU32LE(15, 0xFFFFFFFF); // would run past the end: ignored
    w.PatchU32LE(100, 0xFFFFFFFF);
    EXPECT_EQ(w.Bytes(), (Bytes{0xAB, 0x44, 0x33, 0x22, 0x11, 0x03, 0x04, 0x03, 0x02, 0x01, 0x01, 0x02, 0x03,
                                0x04, 0, 0, 2, 1}));
}
