#include "ACommon/base/CRC32.h"

#include "ACommon/base/AString.h"

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

TEST(CRC32, KnownVectorsAlsoWhenFedInPieces)
{
    const std::pair<std::string, std::uint32_t> cases[] = {
        {"", 0x00000000u},
        {"123456789", 0xCBF43926u},
        {"The quick brown fox jumps over the lazy dog", 0x414FA339u},
        {std::string(32, '\xFF'), 0xFF6CAB0Bu},
    };
    for (const auto& [bytes, expected] : cases) {
        EXPECT_EQ(CrcOf(bytes), expected) << '"' << bytes << '"';
        CRC32 crc;
        for (size_t at = 0; at < bytes.size(); at += 5) {
            std::string piece = bytes.substr(at, 5);
            crc.Update(reinterpret_cast<const unsigned char*>(piece.data()), static_cast<int>(piece.size()));
        }
        EXPECT_EQ(crc.GetValue(), expected) << '"' << bytes << '"';
        crc.Reset();
        EXPECT_EQ(crc.GetValue(), 0u);
    }
}

TEST(CRC32, StringsFeedEachUnitLowByteFirst)
{
    CRC32 crc;
    crc.Update(AString("A"));
    EXPECT_EQ(crc.GetValue(), CrcOf(std::string("A\0", 2)));
    EXPECT_EQ(CRC32::Of(AString("\u00E9b")), CrcOf(std::string("\xE9\0b\0", 4)));
    EXPECT_EQ(CRC32::Of(AString("\xE2\x82\xAC")), CrcOf(std::string("\xAC\x20", 2))); // U+20AC
}
