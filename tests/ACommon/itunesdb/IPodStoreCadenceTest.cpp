// When a run stores the iPod's database on the way, on a clock the test moves.

#include "ACommon/itunesdb/IPodStoreCadence.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

constexpr std::uint64_t kMB = 1u << 20;

struct Cadence {
    std::int64_t now = 1'000'000;
    IPodStoreCadence cadence{[this] { return now; }, 64 * kMB};
};

TEST(IPodStoreCadence, NothingKeptIsNeverDue)
{
    Cadence c;
    c.cadence.Changed();
    c.cadence.Copied(100 * kMB);
    c.cadence.Stored(kMB);
    c.now += 3'600'000;
    EXPECT_FALSE(c.cadence.Due());
}

TEST(IPodStoreCadence, AStoreIsDueAMinuteAfterTheFirstChangeKept)
{
    struct Case {
        std::int64_t firstChangeMs, askedMs;
        bool due;
    };
    // A store at 0 s; changes kept from the given time.
    for (auto [firstChangeMs, askedMs, due] : {Case{1'000, 60'999, false}, Case{1'000, 61'000, true},
                                               Case{50'000, 100'000, false}, Case{50'000, 110'000, true}}) {
        Cadence c;
        const std::int64_t start = c.now;
        c.cadence.Stored(kMB);
        c.now = start + firstChangeMs;
        c.cadence.Changed();
        c.now = start + firstChangeMs / 2 + askedMs / 2;
        c.cadence.Changed(); // a later change keeps the first one's time
        c.now = start + askedMs;
        EXPECT_EQ(c.cadence.Due(), due) << firstChangeMs << " " << askedMs;
    }
}

// What counts is the bytes copied since the last store.
TEST(IPodStoreCadence, AStoreIsDueOnceTheCopiesOutgrowTheDatabase)
{
    struct Case {
        std::uint64_t copiedBefore, databaseBytes, copiedBytes;
        bool due;
    };
    const std::uint64_t times = IPodStoreCadence::kBytesPerDatabaseByte;
    for (auto [copiedBefore, databaseBytes, copiedBytes, due] :
         {Case{0, 0, 64 * kMB - 1, false}, Case{0, 0, 64 * kMB, true}, Case{0, kMB, 64 * kMB, true},
          Case{0, 20 * kMB, 64 * kMB, false}, Case{0, 20 * kMB, 20 * kMB * times - 1, false},
          Case{0, 20 * kMB, 20 * kMB * times, true}, Case{63 * kMB, kMB, 2 * kMB, false}}) {
        Cadence c;
        c.cadence.Copied(copiedBefore);
        c.cadence.Stored(databaseBytes);
        // In two copies.
        c.cadence.Copied(copiedBytes / 2);
        c.cadence.Copied(copiedBytes - copiedBytes / 2);
        EXPECT_EQ(c.cadence.Due(), due) << copiedBefore << " " << databaseBytes << " " << copiedBytes;
    }
}

} // namespace
