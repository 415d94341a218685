#include "ACommon/base/ByteWriter.h"

#include <gtest/gtest.h>

using Bytes = std::vector<std::uint8_t>;

TEST(ByteWriter, WritesEitherByteOrderInPlace)
{
    ByteWriter w;
    w.WriteU8(0xAB);
    w.WriteU32LE(0); // patched below
    w.WriteU24BE(0x010203);
    w.WriteU32LE(0x01020304);
    w.WriteU32BE(0x01020304);
    w.WriteSynchsafe28(257);
    w.WriteBytes(nullptr, 5);
    w.PatchU32LE(1, 0x11223344);
    w.PatchU32LE(17, 0xFFFFFFFF); // would run past the end: ignored
    w.PatchU32LE(100, 0xFFFFFFFF);
    EXPECT_EQ(w.Bytes(), (Bytes{0xAB, 0x44, 0x33, 0x22, 0x11, 1, 2, 3, 4, 3, 2, 1, 1, 2, 3, 4, 0, 0, 2, 1}));
}
