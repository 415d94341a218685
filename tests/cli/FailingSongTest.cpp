// A song that can never be synced delays only itself: the saved lists of a two-way sync through
// the iPod's own database take in what every other action did, so a deletion made after such a
// run is carried over by the next one instead of being undone.

#include "fixtures/IPodFixture.h"
#include "fixtures/MusicFiles.h"
#include "fixtures/RunCommand.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

TEST(FailingSong, ADeletionAfterARunWithASongThatAlwaysFailsIsCarriedOver)
{
    fixtures::TempDir tmp;
    const std::vector<std::string> env = fixtures::EnvironmentIn(tmp.Path());
    const std::string pod = fixtures::MakeIPod(tmp / "Volumes", "POD");
    // X is on the iPod only; its artist's folder in the song folder is taken by a file, so copying
    // it into the folder fails on every run.
    fixtures::WriteSong(tmp / "other/X.mp3", fixtures::SongSpecOf("X", 0, 0, "Zed"));
    ASSERT_EQ(
        fixtures::RunPelorin({"sync", "--from", tmp / "other", "--type", "copy-to-ipod", "--yes"}, "", env)
            .exitStatus,
        0);
    fixtures::WriteSong(tmp / "Songs/A.mp3", fixtures::SongSpecOf("A"));
    fixtures::WriteFile(tmp / "Songs/Zed", std::string("not a folder"));
    const std::vector<std::string> sync = {"sync", "--from", tmp / "Songs", "--type", "synchronize", "--yes"};

    const fixtures::CommandResult first = fixtures::RunPelorin(sync, "", env);
    EXPECT_EQ(first.exitStatus, 1) << first.err;
    ASSERT_EQ(fixtures::IPodTitles(pod), (std::vector<std::string>{"A", "X"}));
    std::filesystem::remove(tmp / "Songs/A.mp3");

    const fixtures::CommandResult second = fixtures::RunPelorin(sync, "", env);
    EXPECT_EQ(second.exitStatus, 1) << second.err;
    EXPECT_EQ(fixtures::IPodTitles(pod), (std::vector<std::string>{"X"}));
    for (const std::string& file : fixtures::ListFiles(tmp / "Songs"))
        EXPECT_EQ(file.find("A.mp3"), std::string::npos) << file << " came back";
}
