// The room a planned sync takes on the volume that receives it, the refusal of a plan that does not
// fit before anything is copied, and how far a run's copies have come (in bytes, and the time left
// at the rate seen so far).

#include "ACommon/sync/SyncSpace.h"

#include "ACommon/base/AError.h"
#include "ACommon/sync/ASyncGroup.h"
#include "ACommon/sync/SyncSession.h"
#include "ACommon/sync/TransferMeter.h"
#include "APlatform/FileSystem.h"
#include "SongsAndIPods.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

using fixtures::TempDir;

// Puts the real free space back when a test ends.
struct FreeSpaceOverride {
    explicit FreeSpaceOverride(std::uint64_t bytes) { platform::OverrideFreeSpaceForTesting(bytes); }
    ~FreeSpaceOverride() { platform::OverrideFreeSpaceForTesting(UINT64_MAX); }
};

int MusicFilesOn(const std::string& root)
{
    int count = 0;
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(root + "/iPod_Control/Music", error);
         it != std::filesystem::recursive_directory_iterator(); ++it)
        count += it->is_regular_file() ? 1 : 0;
    return count;
}

// Three songs of 80 kB in a folder and an empty iPod; one run copies them onto it through its
// database.
struct SongsOntoIPod : syncruns::SongsAndIPods {
    SongsOntoIPod() : SongsAndIPods({Long("One"), Long("Two"), Long("Three")}), pod(IPod("POD")) {}
    static fixtures::SongSpec Long(const char* title)
    {
        fixtures::SongSpec song = fixtures::SongSpecOf(title);
        song.seconds = 20;
        return song;
    }
    std::uint64_t SongBytes() const
    {
        std::uint64_t total = 0;
        for (const auto& entry : std::filesystem::directory_iterator(tmp / "Songs"))
            total += entry.file_size();
        return total;
    }
    SyncSession::Outcome Run() { return SongsAndIPods::Run(session, pod); }

    MountedIPod pod;
    SyncSession session;
};

TEST(SyncSpace, APlanThatDoesNotFitIsRefusedBeforeAnySongIsCopied)
{
    SongsOntoIPod setup;
    FreeSpaceOverride full(setup.SongBytes() / 2);
    const SyncSession::Outcome outcome = setup.Run();
    EXPECT_EQ(outcome.result, kErrNoSpace);
    EXPECT_EQ(MusicFilesOn(setup.pod.mountPoint.ToStdString()), 0);
    MountedIPod after;
    ASSERT_TRUE(MountedIPod::Read(setup.pod.mountPoint, &after));
    EXPECT_EQ(after.songs, 0);
    ASSERT_EQ(setup.frontend.questions.Informed().size(), 1u);
    const std::string said = setup.frontend.questions.Informed()[0];
    EXPECT_NE(said.find("Not enough space on"), std::string::npos) << said;
    EXPECT_NE(said.find("Nothing was copied."), std::string::npos) << said;
    EXPECT_NE(setup.frontend.Log().find("Not enough space on"), std::string::npos);
}

TEST(SyncSpace, APlanThatFitsIsCopiedWhole)
{
    SongsOntoIPod setup;
    FreeSpaceOverride room(setup.SongBytes() + (8u << 20));
    EXPECT_EQ(setup.Run().result, 0);
    EXPECT_EQ(MusicFilesOn(setup.pod.mountPoint.ToStdString()), 3);
    // The meter counted every song it copied against what the plan copies.
    const TransferMeter::Reading reading = setup.session.GetSync()->GetTransfer().Read();
    EXPECT_FALSE(reading.running);
    EXPECT_EQ(reading.total, setup.SongBytes());
    EXPECT_EQ(reading.done, setup.SongBytes());
}

TEST(SyncSpace, FiguresOfAPlanAgainstTheRoomOnItsVolume)
{
    const std::uint64_t MB = 1000000;
    struct Case {
        const char* what;
        std::uint64_t free, adds, estimated, frees; // free 0: a volume whose room is unknown
        bool fits;
        const char* described;
    };
    for (const Case& c : {
             Case{"plenty of room", 100 * MB, 20 * MB, 0, 0, true,
                  "50 MB used, 100 MB free; 80 MB free after the sync"},
             Case{"too big", 10 * MB, 20 * MB, 0, 0, false,
                  "50 MB used, 10 MB free; the sync needs 10 MB more"},
             Case{"fits once removals give room back", 10 * MB, 20 * MB, 0, 15 * MB, true,
                  "50 MB used, 10 MB free; 5.0 MB free after the sync"},
             Case{"only converted songs overflow", 10 * MB, 20 * MB, 15 * MB, 0, true,
                  "50 MB used, 10 MB free; the sync needs 10 MB more"},
             Case{"the database needs a little room too", 20 * MB, 20 * MB, 0, 0, false,
                  "50 MB used, 20 MB free; 0 bytes free after the sync"},
             Case{"an unknown volume never refuses", 0, 1ull << 50, 0, 0, true, "space unknown"},
         }) {
        SyncSpace::Volume volume{c.free > 0, 150 * MB, 50 * MB, c.free};
        SyncSpace::Change change{c.adds, c.estimated, c.frees, 3};
        EXPECT_EQ(SyncSpace::Fits(volume, change), c.fits) << c.what;
        EXPECT_EQ(SyncSpace::Describe(volume, &change).ToStdString(), c.described) << c.what;
    }
}

TEST(SyncSpace, AFolderNotMadeYetIsMeasuredOnTheVolumeAboveIt)
{
    TempDir tmp;
    FreeSpaceOverride room(123456789);
    const SyncSpace::Volume volume = SyncSpace::Measure(tmp.A("not/made/yet"));
    EXPECT_TRUE(volume.known);
    EXPECT_EQ(volume.free, 123456789u);
    EXPECT_GE(volume.total, volume.used + volume.free);
}

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
