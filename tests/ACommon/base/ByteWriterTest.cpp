#include "ACommon/base/ByteWriter.h"

#include <gtest/gtest.h>

using Bytes = std::vector<std::uint8_t>;

TEST(ByteWriter, WritesBothByteOrdersAtEveryWidth)
{
    ByteWriter w;
    w.WriteU8(0xAB);
    w.WriteU16LE(0x0102);
    w.WriteU16BE(0x0102);
    w.WriteU24LE(0x010203);
    w.WriteU24BE(0x010203);
    w.WriteU32LE(0x01020304);
    w.WriteU32BE(0x01020304);
    EXPECT_EQ(w.Bytes(), (Bytes{0xAB, 0x02, 0x01, 0x01, 0x02, 0x03, 0x02, 0x01, 0x01, 0x02, 0x03, 0x04, 0x03,
                                0x02, 0x01, 0x01, 0x02, 0x03, 0x04}));
    w.Clear();
    w.WriteU64LE(0x0102030405060708ull);
    w.WriteU64BE(0x0102030405060708ull);
    EXPECT_EQ(w.Bytes(), (Bytes{8, 7, 6, 5, 4, 3, 2, 1, 1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST(ByteWriter, SynchsafeAndPatchesThatStayInsideWhatWasWritten)
{
    ByteWriter w;
    w.WriteSynchsafe28(257);
    w.WriteSynchsafe28(0x0FFFFFFF);
    w.WriteU32LE(0);
    w.WriteBytes(nullptr, 5);
    w.PatchU32BE(8, 0x11223344);
    w.PatchU32LE(9, 0xFFFFFFFF); // would run past the end: ignored
    w.PatchU32LE(100, 0xFFFFFFFF);
    EXPECT_EQ(w.Bytes(), (Bytes{0, 0, 2, 1, 0x7F, 0x7F, 0x7F, 0x7F, 0x11, 0x22, 0x33, 0x44}));
}
