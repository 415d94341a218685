// The readers of the iPod's play count and On-The-Go playlist files, on files made to the format.

#include "ACommon/itunesdb/IPodPlayCounts.h"
#include "fixtures/IPodFixture.h"

#include <gtest/gtest.h>

namespace {

using fixtures::itdb::PlayCount;
using fixtures::itdb::PutU32;
using Entry = IPodPlayCounts::Entry;

TEST(IPodPlayCounts, ParseReadsTheFieldsThatEachEntryLengthHolds)
{
    const PlayCount written{3, 0xC1000000u, 1234, 60, 2, 0xC1000100u};
    struct Case {
        std::uint32_t entryLength;
        Entry expected;
    };
    for (const Case& c :
         {Case{0x0C, {3, 0xC1000000u, 1234, IPodPlayCounts::kNoRating, 0, 0}},
          Case{0x10, {3, 0xC1000000u, 1234, 60, 0, 0}}, Case{0x14, {3, 0xC1000000u, 1234, 60, 0, 0}},
          Case{0x1C, {3, 0xC1000000u, 1234, 60, 2, 0xC1000100u}},
          Case{0x20, {3, 0xC1000000u, 1234, 60, 2, 0xC1000100u}}}) {
        std::vector<Entry> entries;
        const fixtures::Bytes file = fixtures::itdb::PlayCounts(c.entryLength, {{}, written, {1, 0, 0, 101}});
        ASSERT_EQ(IPodPlayCounts::Parse(file, entries), 0) << c.entryLength;
        ASSERT_EQ(entries.size(), 3u) << c.entryLength;
        EXPECT_EQ(entries[1], c.expected) << c.entryLength;
        EXPECT_EQ(entries[0].plays, 0u) << c.entryLength;
        EXPECT_EQ(entries[2].rating, IPodPlayCounts::kNoRating) << "a rating past five stars";
    }
}

TEST(IPodPlayCounts, ParseRefusesBytesThatAreNotAPlayCountFile)
{
    const fixtures::Bytes good = fixtures::itdb::PlayCounts(0x1C, {{1}, {2}});
    struct Case {
        const char* what;
        fixtures::Bytes bytes;
    };
    auto with = [&](std::size_t offset, std::uint32_t value) {
        fixtures::Bytes bytes = good;
        PutU32(bytes, offset, value);
        return bytes;
    };
    const std::vector<Case> cases{
        {"empty", {}},
        {"another tag", with(0, 0x7064686Eu)},
        {"cut inside the header", fixtures::Bytes(good.begin(), good.begin() + 10)},
        {"header shorter than its fields", with(4, 8)},
        {"header past the end", with(4, 0x1000)},
        {"entries too short for their fields", with(8, 8)},
        {"more entries than the file holds", with(12, 3)},
        {"an entry count past any iPod", with(12, 0xFFFFFFFFu)},
        {"an entry length past the file", with(8, 0x80000000u)},
        {"cut inside the last entry", fixtures::Bytes(good.begin(), good.end() - 1)},
    };
    for (const Case& c : cases) {
        std::vector<Entry> entries{{}};
        EXPECT_NE(IPodPlayCounts::Parse(c.bytes, entries), 0) << c.what;
        EXPECT_TRUE(entries.empty()) << c.what;
    }
}

// The places of a whole file, in their order and at both entry lengths, are checked through the
// On-The-Go playlists the iPod database makes of them.
TEST(IPodPlayCounts, ParseOnTheGoRefusesDamagedBytes)
{
    fixtures::Bytes tooMany = fixtures::itdb::OnTheGo(4, {1, 2});
    PutU32(tooMany, 12, 3);
    fixtures::Bytes shortEntries = fixtures::itdb::OnTheGo(4, {1});
    PutU32(shortEntries, 8, 2);
    for (const fixtures::Bytes& bytes :
         {fixtures::Bytes{'m', 'h', 'p', 'o'}, tooMany, shortEntries, fixtures::itdb::PlayCounts(0x1C, {})}) {
        std::vector<std::uint32_t> places;
        EXPECT_NE(IPodPlayCounts::ParseOnTheGo(bytes, places), 0);
    }
}

TEST(IPodPlayCounts, UnixTimeOfCountsFromTheMacEpochInLocalTime)
{
    setenv("TZ", "UTC", 1);
    tzset();
    EXPECT_EQ(IPodPlayCounts::UnixTimeOf(2082844800u), 0);
    EXPECT_EQ(IPodPlayCounts::UnixTimeOf(0), 0);
    setenv("TZ", "UTC-2", 1); // two hours east of Greenwich
    tzset();
    EXPECT_EQ(IPodPlayCounts::UnixTimeOf(2082844800u + 7200u), 0);
    unsetenv("TZ");
    tzset();
}

} // namespace
