// How far a run's copies have come, in bytes, and the time left at the rate seen so far.

#include "ACommon/sync/TransferMeter.h"

#include "ACommon/sync/ASyncGroup.h"
#include "ACommon/sync/SyncSession.h"
#include "fixtures/IPodFixture.h"
#include "fixtures/MusicFiles.h"
#include "fixtures/RecordingFrontend.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

TEST(TransferMeter, SaysWhatIsCopiedAndTheTimeLeftOnceTheRateCanBeJudged)
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

TEST(TransferMeter, ARunCountsEverySongItCopiesAgainstWhatItsPlanCopies)
{
    fixtures::RecordingFrontend frontend;
    fixtures::TempDir tmp;
    std::uint64_t bytes = 0;
    for (const char* title : {"One", "Two", "Three"}) {
        fixtures::WriteSong(tmp / (std::string("Songs/") + title + ".mp3"), fixtures::SongSpecOf(title));
        bytes += std::filesystem::file_size(tmp / (std::string("Songs/") + title + ".mp3"));
    }
    MountedIPod pod;
    ASSERT_TRUE(MountedIPod::Read(AString::FromUTF8(fixtures::MakeIPod(tmp / "Volumes", "POD", {})), &pod));
    SyncSession session;
    ASSERT_EQ(session.OpenIPod(ADir::kTypeSongFolder, tmp.A("Songs"), pod, tmp.A("state")), 0);
    session.Apply(SyncSession::Settings());
    ASSERT_EQ(session.Run(nullptr, nullptr).result, 0);
    const TransferMeter::Reading reading = session.GetSync()->GetTransfer().Read();
    EXPECT_FALSE(reading.running);
    EXPECT_EQ(reading.total, bytes);
    EXPECT_EQ(reading.done, bytes);
}

} // namespace
