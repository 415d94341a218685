#include "ACommon/base/ByteReader.h"

#include <gtest/gtest.h>

#include <vector>

namespace {
const std::vector<std::uint8_t> kBytes = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09};
}

TEST(ByteReader, ReadsBothByteOrdersAtEveryWidthWithoutSignExtension)
{
    // Every byte has its high bit set, so that a sign extension anywhere shows.
    const std::vector<std::uint8_t> bytes = {0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8};
    struct Case {
        const char* what;
        std::uint64_t (*read)(ByteReader&);
        std::uint64_t expected;
        size_t width;
    };
    const Case cases[] = {
        {"U8", [](ByteReader& r) -> std::uint64_t { return r.ReadU8(); }, 0xF1, 1},
        {"U16BE", [](ByteReader& r) -> std::uint64_t { return r.ReadU16BE(); }, 0xF1F2, 2},
        {"U24BE", [](ByteReader& r) -> std::uint64_t { return r.ReadU24BE(); }, 0xF1F2F3, 3},
        {"U32LE", [](ByteReader& r) -> std::uint64_t { return r.ReadU32LE(); }, 0xF4F3F2F1, 4},
        {"U32BE", [](ByteReader& r) -> std::uint64_t { return r.ReadU32BE(); }, 0xF1F2F3F4, 4},
        {"U64BE", [](ByteReader& r) -> std::uint64_t { return r.ReadU64BE(); }, 0xF1F2F3F4F5F6F7F8ull, 8},
    };
    for (const Case& c : cases) {
        ByteReader reader(bytes);
        EXPECT_EQ(c.read(reader), c.expected) << c.what;
        EXPECT_TRUE(reader.Ok()) << c.what;
        EXPECT_EQ(reader.Position(), c.width) << c.what;
        ByteReader tooShort(bytes.data(), c.width - 1);
        EXPECT_EQ(c.read(tooShort), 0u) << c.what << " past the end reads zero";
        EXPECT_FALSE(tooShort.Ok()) << c.what;
    }
}

TEST(ByteReader, SynchsafeIntegersTakeSevenBitsPerByte)
{
    const std::vector<std::uint8_t> clean = {0x00, 0x00, 0x02, 0x01, 0x7F, 0x7F, 0x7F, 0x7F};
    ByteReader r(clean);
    EXPECT_EQ(r.ReadSynchsafe28(), 257u);
    EXPECT_TRUE(r.SynchsafeWasClean());
    EXPECT_EQ(r.ReadSynchsafe28(), 0x0FFFFFFFu);
    const std::vector<std::uint8_t> dirty = {0x00, 0x00, 0x81, 0x00};
    ByteReader d(dirty);
    EXPECT_EQ(d.ReadSynchsafe28(), 128u);
    EXPECT_FALSE(d.SynchsafeWasClean()) << "a byte with its high bit set is not synchsafe";
    EXPECT_TRUE(d.Ok());
}

TEST(ByteReader, AFailureSticks)
{
    ByteReader r(kBytes);
    EXPECT_FALSE(r.Skip(100));
    EXPECT_FALSE(r.Ok());
    EXPECT_EQ(r.Position(), 0u) << "a refused skip does not move";
    EXPECT_EQ(r.ReadU8(), 0) << "after a failure every read gives zero";
    EXPECT_FALSE(r.Seek(0));
    ByteReader s(kBytes);
    EXPECT_FALSE(s.Seek(10));
    EXPECT_TRUE(s.Sub(100).Size() == 0);
    ByteReader t(kBytes);
    EXPECT_TRUE(t.ReadSpan(SIZE_MAX).empty());
    EXPECT_FALSE(t.Ok());
    ByteReader u(kBytes);
    u.Skip(4);
    EXPECT_FALSE(u.Has(SIZE_MAX - 2)) << "no overflow in the bounds check";
    EXPECT_FALSE(u.Skip(SIZE_MAX - 2));
}
