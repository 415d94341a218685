// Which library song takes in the plays of an iPod song when the library holds several songs of its
// name, artist and album: the one of its duration, else none, counted in the log line; and a run
// that cannot bring the plays back.

#include "fixtures/IPodFixture.h"
#include "fixtures/MusicFiles.h"
#include "fixtures/RunCommand.h"
#include "fixtures/TempDir.h"
#include "fixtures/Text.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using fixtures::Has;

class PlaysMatch : public ::testing::Test {
protected:
    // The iPod holds "Same" of 10 s, copied from the folder Short, and has recorded 3 plays of it;
    // the library imports the folders `imported` in their order. With `onTheGo`, the iPod holds an
    // On-The-Go playlist too; with `libraryRefuses`, the library has lost the table that records
    // which plays it took in, so it refuses to take any.
    fixtures::CommandResult SyncAfterImporting(const std::vector<std::string>& imported,
                                               const std::string& iPodName = "Pod", bool onTheGo = false,
                                               bool libraryRefuses = false)
    {
        fixtures::MakeIPod(dir / "Volumes", "POD", {.name = iPodName});
        for (auto [folder, seconds] :
             {std::pair<const char*, int>{"Short", 10}, {"Long", 20}, {"Copy", 10}}) {
            fixtures::SongSpec song = fixtures::SongSpecOf("Same");
            song.seconds = seconds;
            fixtures::WriteSong(dir / (std::string(folder) + "/Same.mp3"), song);
        }
        EXPECT_EQ(Pelorin({"sync", "--from", dir / "Short", "--type", "copy-to-ipod", "--yes"}).exitStatus,
                  0);
        EXPECT_EQ(Pelorin({"library", "init"}).exitStatus, 0);
        for (const std::string& folder : imported)
            EXPECT_EQ(Pelorin({"library", "import", dir / folder}).exitStatus, 0) << folder;
        fixtures::WriteFile(dir / "Volumes/POD/iPod_Control/iTunes/Play Counts",
                            fixtures::itdb::PlayCounts(0x1C, {{3, 3880000000u}}));
        if (onTheGo)
            fixtures::WriteFile(dir / "Volumes/POD/iPod_Control/iTunes/OTGPlaylistInfo",
                                fixtures::itdb::OnTheGo(4, {0}));
        if (libraryRefuses) {
            sqlite3* db = nullptr;
            EXPECT_EQ(sqlite3_open((dir / "Library/Library.sqlite").c_str(), &db), SQLITE_OK);
            EXPECT_EQ(sqlite3_exec(db, "DROP TABLE plays_brought_back", nullptr, nullptr, nullptr),
                      SQLITE_OK);
            sqlite3_close(db);
        }
        return Pelorin({"sync", "--type", "copy-to-ipod", "--yes"});
    }
    // The play counts of the library's songs called "Same", in the library's order, each with the
    // song's duration: "10:3".
    std::vector<std::string> PlayCounts()
    {
        const std::string json = Pelorin({"library", "tracks", "--json"}).out;
        std::vector<std::string> counts;
        for (std::size_t at = 0; (at = json.find("\"name\": \"Same\"", at)) != std::string::npos; ++at) {
            const std::size_t duration = json.find("\"duration\": ", at) + 12;
            const std::size_t plays = json.find("\"playCount\": ", at) + 13;
            counts.push_back(std::to_string(std::atoi(json.c_str() + duration)) + ":" +
                             std::to_string(std::atoi(json.c_str() + plays)));
        }
        return counts;
    }
    fixtures::CommandResult Pelorin(const std::vector<std::string>& args)
    {
        return fixtures::RunPelorin(args, "", fixtures::EnvironmentIn(dir.Path()));
    }

    fixtures::TempDir dir;
};

TEST_F(PlaysMatch, PlaysGoToTheLibrarySongOfTheIPodSongsDuration)
{
    const fixtures::CommandResult run = SyncAfterImporting({"Long", "Short"});
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_TRUE(Has(run.out + run.err, "Brought back 3 plays and 0 ratings from Pod")) << run.out << run.err;
    EXPECT_EQ(PlayCounts(), (std::vector<std::string>{"20:0", "10:3"}));
}

TEST_F(PlaysMatch, PlaysOfASongTheLibraryHoldsTwiceAlikeGoToNoSong)
{
    const fixtures::CommandResult run = SyncAfterImporting({"Short", "Copy"});
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_TRUE(Has(run.out + run.err, "; 1 song not found in the library")) << run.out << run.err;
    EXPECT_EQ(PlayCounts(), (std::vector<std::string>{"10:0", "10:0"}));
}

TEST_F(PlaysMatch, ARunThatCannotBringThePlaysBackLeavesThemOnTheIPod)
{
    const fixtures::CommandResult run = SyncAfterImporting({"Short"}, "Pod", true, true);
    EXPECT_NE(run.exitStatus, 0);
    EXPECT_TRUE(Has(run.out + run.err, "Nothing was synced, so that those plays are not lost"))
        << run.out << run.err;
    EXPECT_TRUE(fixtures::Exists(dir / "Volumes/POD/iPod_Control/iTunes/Play Counts"));
    EXPECT_EQ(PlayCounts(), (std::vector<std::string>{"10:0"}));
}

// A name the library could not take on one line would stop every sync of this iPod.
TEST_F(PlaysMatch, AnOnTheGoPlaylistOfAnIPodNamedOnTwoLinesIsNamedOnOne)
{
    const fixtures::CommandResult run = SyncAfterImporting({"Short"}, "Pod\nTwo", true);
    ASSERT_EQ(run.exitStatus, 0) << run.out << run.err;
    const std::string playlists = Pelorin({"library", "playlists"}).out;
    EXPECT_TRUE(Has(playlists, "On-The-Go 1 (Pod Two, ")) << playlists;
    EXPECT_EQ(PlayCounts(), (std::vector<std::string>{"10:3"}));
}

} // namespace
