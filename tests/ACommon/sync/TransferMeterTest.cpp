// How far a run's copies have come, in bytes, and the time left at the rate seen so far.

#include "ACommon/sync/TransferMeter.h"

#include <gtest/gtest.h>

namespace {

TEST(TransferMeter, DescribesHowFarTheCopiesHaveCome)
{
    const std::uint64_t MB = 1000000;
    struct Case {
        std::uint64_t done, total;
        double seconds;
        const char* said;
    };
    for (const Case& c : {
             Case{0, 80 * MB, 5, "0 bytes of 80 MB copied"},
             Case{12 * MB, 80 * MB, 1, "12 MB of 80 MB copied"}, // too soon to judge the rate
             Case{20 * MB, 80 * MB, 10, "20 MB of 80 MB copied, less than a minute left"},
             Case{10 * MB, 80 * MB, 20, "10 MB of 80 MB copied, about 2 min left"},
             Case{1 * MB, 80 * MB, 60, "1.0 MB of 80 MB copied, about 1 h 19 min left"},
             Case{80 * MB, 80 * MB, 60, "80 MB of 80 MB copied"},
         }) {
        TransferMeter::Reading reading{true, c.done, c.total, c.seconds};
        EXPECT_EQ(TransferMeter::Describe(reading).ToStdString(), c.said);
    }
}

} // namespace
