// The library tools on an iPod, from the terminal and from the core, checked with libgpod: what the
// tools leave is a database libgpod reads without a warning, holding exactly the songs expected.

#include "ACommon/base/AError.h"
#include "ACommon/sources/ADirPodDB.h"
#include "ACommon/sync/LibraryTools.h"
#include "GpodPeer.h"
#include "fixtures/IPodFixture.h"
#include "fixtures/MusicFiles.h"
#include "fixtures/RecordingFrontend.h"
#include "fixtures/RunCommand.h"
#include "fixtures/TempDir.h"
#include "fixtures/Text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>

using fixtures::Exists;
using fixtures::Has;

namespace {

std::set<std::string> Titles(const peers::PeerDatabase& database)
{
    EXPECT_TRUE(database.warnings.empty());
    std::set<std::string> titles;
    for (const peers::PeerTrack& track : database.tracks)
        titles.insert(track.title);
    return titles;
}

std::string FileOf(const std::string& root, const peers::PeerDatabase& database, const std::string& title)
{
    for (const peers::PeerTrack& track : database.tracks)
        if (track.title == title)
            return peers::FileOf(root, track.path);
    return std::string();
}

class LibraryToolsPeer : public ::testing::Test {
protected:
    void SetUp() override
    {
        root = fixtures::MakeIPod(tmp / "Volumes", "POD");
        for (const char* title : {"Alpha", "Beta", "Gamma"})
            fixtures::WriteSong(tmp / (std::string("Songs/") + title + ".mp3"),
                                fixtures::SongSpecOf(title, title[0]));
        fixtures::WriteFile(tmp / "Songs/._Alpha.mp3", fixtures::Bytes(64, 0));
        fixtures::WriteFile(tmp / "Songs/notes.txt", fixtures::Bytes(10, 'x'));
    }
    fixtures::CommandResult Run(const std::vector<std::string>& args) const
    {
        return fixtures::RunPelorin(args, "", fixtures::EnvironmentIn(tmp.Path()));
    }

    fixtures::TempDir tmp;
    std::string root;
};

// The music folder of the iPod under test: the cancel is asked for once a song's file is there.
std::string gMusicFolder;
signed char CancelOnceASongIsCopied() { return fixtures::ListFiles(gMusicFolder).empty() ? 0 : 1; }

} // namespace

TEST_F(LibraryToolsPeer, EveryToolFromTheTerminalLeavesADatabaseLibgpodReads)
{
    fixtures::CommandResult added = Run({"add", "--to", "ipod", tmp / "Songs", "--yes"});
    ASSERT_EQ(added.exitStatus, 0) << added.err;
    EXPECT_TRUE(Has(added.out, "All files added.")) << added.out;
    EXPECT_TRUE(Has(added.err, "1 file skipped: not a song type this side takes")) << added.err;
    EXPECT_TRUE(Has(added.err, "1 file skipped: hidden")) << added.err;
    peers::PeerDatabase database = peers::ReadWithGpod(root);
    EXPECT_EQ(Titles(database), (std::set<std::string>{"Alpha", "Beta", "Gamma"}));

    // An orphan, and a song file in the music folder that the database does not list.
    std::filesystem::remove(FileOf(root, database, "Beta"));
    fixtures::WriteSong(root + "/iPod_Control/Music/F03/LOOS.mp3", fixtures::SongSpecOf("Loose", 9));
    for (const char* tool : {"orphans", "disconnected", "duplicates", "album-art"}) {
        fixtures::CommandResult result = Run({"tool", tool, "--side", "ipod", "--yes"});
        EXPECT_EQ(result.exitStatus, 0) << tool << result.err;
    }
    database = peers::ReadWithGpod(root);
    EXPECT_EQ(Titles(database), (std::set<std::string>{"Alpha", "Gamma", "Loose"}));
    EXPECT_FALSE(Exists(root + "/iPod_Control/Music/F03/LOOS.mp3"));
    EXPECT_TRUE(Exists(FileOf(root, database, "Loose")));

    // Without a store account of the user's, the scan for music not owned does not run.
    fixtures::CommandResult notOwned = Run({"tool", "not-owned", "--side", "ipod", "--yes"});
    EXPECT_EQ(notOwned.exitStatus, 1);
    EXPECT_TRUE(Has(notOwned.err, "pelorin library account set")) << notOwned.err;
}

TEST_F(LibraryToolsPeer, AnAddStoppedAfterItsFirstSongStillEntersThatSongIntoTheDatabase)
{
    fixtures::RecordingFrontend frontend;
    ADirPodDB pod;
    AString mount = AString::FromUTF8(root);
    pod.SetRootPath(&mount);
    LibraryTools::Options options;
    options.paths = {tmp.A("Songs")};
    gMusicFolder = root + "/iPod_Control/Music";
    const LibraryTools::Outcome outcome = LibraryTools::Run(
        LibraryTools::Tool::kAddFiles, LibraryTools::Side::kIPod, pod, options, CancelOnceASongIsCopied);
    EXPECT_EQ(outcome.result, kErrUserCancel);
    EXPECT_EQ(outcome.changed, 1);
    EXPECT_TRUE(Has(frontend.Log(), "Some files added. User Cancelled."));
    EXPECT_EQ(Titles(peers::ReadWithGpod(root)).size(), 1u);
}
