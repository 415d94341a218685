#include "ACommon/CRC32.h"

#include "ACommon/AString.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::uint32_t CrcOf(const std::string& bytes)
{
    CRC32 crc;
    crc.Update(reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
    return crc.GetValue();
}

} // namespace

TEST(CRC32, KnownVectorsOfIsoHdlc)
{
    struct Case {
        std::string bytes;
        std::uint32_t expected;
    };
    const Case cases[] = {
        {"", 0x00000000u},
        {"a", 0xE8B7BE43u},
        {"abc", 0x352441C2u},
        {"123456789", 0xCBF43926u},
        {"The quick brown fox jumps over the lazy dog", 0x414FA339u},
        {std::string(32, '\0'), 0x190A55ADu},
        {std::string(32, '\xFF'), 0xFF6CAB0Bu},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CrcOf(c.bytes), c.expected) << '"' << c.bytes << '"';
}

TEST(CRC32, UpdatesInPiecesEqualOneUpdate)
{
    const std::string text = "The quick brown fox jumps over the lazy dog";
    CRC32 crc;
    for (size_t at = 0; at < text.size(); at += 5) {
        std::string piece = text.substr(at, 5);
        crc.Update(reinterpret_cast<const unsigned char*>(piece.data()), static_cast<int>(piece.size()));
    }
    EXPECT_EQ(crc.GetValue(), CrcOf(text));
    crc.Reset();
    EXPECT_EQ(crc.GetValue(), 0u);
    crc.Update(reinterpret_cast<const unsigned char*>("abc"), 3);
    EXPECT_EQ(crc.GetValue(), 0x352441C2u);
}

TEST(CRC32, StringsFeedEachUnitLowByteFirst)
{
    CRC32 crc;
    crc.Update(AString("A"));
    EXPECT_EQ(crc.GetValue(), CrcOf(std::string("A\0", 2)));
    EXPECT_EQ(CRC32::Of(AString("\u00E9b")), CrcOf(std::string("\xE9\0b\0", 4)));
    EXPECT_EQ(CRC32::Of(AString("\xE2\x82\xAC")), CrcOf(std::string("\xAC\x20", 2))); // U+20AC
}
