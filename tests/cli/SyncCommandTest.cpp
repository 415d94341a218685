// `pelorin sync` end to end through the program: the iPod chosen, the route (through the library, or
// through the iPod's database from a folder), the review and the dry run, what it prints and its
// exit status. What each sync type does to the songs is checked on the core's syncs.

#include "cli/DemoFiles.h"
#include "fixtures/IPodFixture.h"
#include "fixtures/MusicFiles.h"
#include "fixtures/RunCommand.h"
#include "fixtures/TempDir.h"
#include "fixtures/Text.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

using fixtures::Exists;
using fixtures::ListFiles;
using fixtures::ReadFile;
using fixtures::RunPelorin;

namespace {

using fixtures::Has;

// A demonstration made by `pelorin demo`, with its volumes root and a private application support
// folder, so that no test writes into the real one.
class Demo {
public:
    Demo() { made = RunPelorin({"demo", tmp.Path()}); }
    std::string Songs(const std::string& relative = "") const { return tmp / ("Songs/" + relative); }
    std::string IPod() const { return tmp / "Volumes/DEMOPOD"; }
    std::string Prefs() const { return IPod() + "/iPod_Control/iTunes/iTunesPrefs"; }
    std::string State(const std::string& name) const { return tmp / ("data/Veltrano/Ondrivel/" + name); }
    // Without a library, or (`library`) with the demonstration's, which serves its iPod.
    std::vector<std::string> Env(bool library = false) const
    {
        std::vector<std::string> env = fixtures::EnvironmentIn(tmp.Path());
        if (!library)
            env[1] = "PELORIN_LIBRARY=" + tmp / "Nowhere";
        return env;
    }
    fixtures::CommandResult Sync(std::vector<std::string> args, bool library = false) const
    {
        args.insert(args.begin(), "sync");
        return RunPelorin(args, "", Env(library));
    }
    // Sets the iPod to update itself, as its own application leaves it.
    std::vector<std::uint8_t> SetAutoUpdate() const
    {
        std::vector<std::uint8_t> prefs = ReadFile(Prefs());
        prefs[10] = 1;
        fixtures::WriteFile(Prefs(), prefs);
        return prefs;
    }
    // The titles the iPod's database lists, each checked to have its file on the iPod.
    std::multiset<std::string> IPodTitles() const
    {
        std::multiset<std::string> titles;
        for (const auto& [title, track] : fixtures::IPodTracks(IPod())) {
            EXPECT_TRUE(track.fileThere) << track.path;
            titles.insert(title);
        }
        return titles;
    }

    fixtures::TempDir tmp;
    fixtures::CommandResult made;
};

std::multiset<std::string> CatalogueTitles()
{
    std::multiset<std::string> titles;
    for (const cli::demo::DemoSong& song : cli::demo::Catalogue())
        titles.insert(song.title);
    return titles;
}

// Every file below `folder` with its bytes and (`times`) its modification time.
using Snapshot = std::map<std::string, std::pair<std::vector<std::uint8_t>, std::filesystem::file_time_type>>;
Snapshot Untouched(const std::string& folder, bool times = true)
{
    Snapshot files;
    for (const std::string& file : ListFiles(folder))
        files[file] = {ReadFile(folder + "/" + file),
                       times ? std::filesystem::last_write_time(folder + "/" + file)
                             : std::filesystem::file_time_type()};
    return files;
}

} // namespace

TEST(SyncCommand, TheIPodIsChosenByName)
{
    Demo demo;
    fixtures::MakeIPod(demo.tmp / "Volumes", "ANOTHER", {.name = "Pocket"});
    fixtures::CommandResult unknown =
        demo.Sync({"--from", demo.Songs(), "--ipod", "Nope", "--type", "copy-to-ipod", "--yes"});
    EXPECT_EQ(unknown.exitStatus, 2);
    EXPECT_TRUE(Has(unknown.err, "no iPod called \"Nope\"")) << unknown.err;
    EXPECT_TRUE(Has(unknown.err, "\"Pocket\" on ANOTHER")) << unknown.err;
    EXPECT_TRUE(Has(unknown.err, "\"Demo iPod\" on DEMOPOD")) << unknown.err;

    fixtures::CommandResult chosen =
        demo.Sync({"--from", demo.Songs(), "--ipod", "pocket", "--type", "copy-to-ipod", "--yes"});
    ASSERT_EQ(chosen.exitStatus, 0) << chosen.err;
    EXPECT_TRUE(Has(chosen.out, "The iPod \"Pocket\" holds")) << chosen.out;
    EXPECT_TRUE(demo.IPodTitles().empty());
    EXPECT_TRUE(Exists(demo.State("Pocket_PODDB.snc")));
}

// What the user is told names the cause (the file and the system's reason, not a code alone), and
// the exit status tells a wrong command (2) from a failed one (1).
TEST(SyncCommand, AFailureNamesItsCause)
{
    Demo demo;
    ASSERT_EQ(demo.made.exitStatus, 0) << demo.made.err;
    std::filesystem::create_directories(demo.tmp / "Empty");
    fixtures::WriteFile(demo.tmp / "NotAFolder", std::string("x"));
    const std::vector<std::string> toIPod = {"--type", "copy-to-ipod", "--yes"};
    struct Case {
        const char* name;
        std::vector<std::string> args;
        std::string volumes; // instead of the demonstration's, when given
        bool library;
        int exitStatus;
        std::string says;
    };
    const std::string notAFolder =
        "cannot read the volumes folder " + demo.tmp / "NotAFolder" + ": Not a directory";
    const Case cases[] = {
        {"no iPod",
         {"sync", "--from", demo.Songs(), "--type", "copy-to-ipod", "--yes"},
         demo.tmp / "Empty",
         false,
         1,
         "no iPod is mounted under " + demo.tmp / "Empty"},
        {"volumes not a folder",
         {"sync", "--from", demo.Songs(), "--type", "copy-to-ipod", "--yes"},
         demo.tmp / "NotAFolder",
         false,
         1,
         notAFolder},
        {"ipods, volumes not a folder", {"ipods"}, demo.tmp / "NotAFolder", false, 1, notAFolder},
        {"no library",
         {"sync", "--type", "copy-to-ipod", "--yes"},
         "",
         false,
         1,
         "there is no music library in"},
        {"a playlist of a folder",
         {"sync", "--from", demo.Songs(), "--playlist", "Mix", "--type", "copy-to-ipod"},
         "",
         false,
         2,
         "--playlist names"},
        {"a library's type for a folder",
         {"sync", "--from", demo.Songs(), "--type", "make-library-equal"},
         "",
         false,
         2,
         "make-folder-equal"},
        {"a folder's type for the library",
         {"sync", "--type", "make-folder-equal"},
         "",
         true,
         2,
         "make-library-equal"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> env = demo.Env(c.library);
        if (!c.volumes.empty())
            env[0] = "PELORIN_VOLUMES=" + c.volumes;
        const fixtures::CommandResult run = RunPelorin(c.args, "", env);
        EXPECT_EQ(run.exitStatus, c.exitStatus);
        EXPECT_TRUE(Has(run.err, c.says)) << run.err;
    }
    // Nothing was started: no state, no library made where none was.
    EXPECT_FALSE(Exists(demo.tmp / "data"));
    EXPECT_FALSE(Exists(demo.tmp / "Nowhere"));

    const std::string database = demo.IPod() + "/iPod_Control/iTunes/iTunesDB";
    auto bytes = ReadFile(database);
    fixtures::itdb::PutU32(bytes, fixtures::itdb::GetU32(bytes, 4) + 12, 99); // the track list's type
    fixtures::WriteFile(database, bytes);
    const fixtures::CommandResult damaged =
        demo.Sync({"--from", demo.Songs(), "--type", "copy-to-ipod", "--yes"});
    EXPECT_EQ(damaged.exitStatus, 1);
    EXPECT_TRUE(Has(damaged.err, "-10000: Unknown error encountered. (the iPod's database " + database +
                                     " has no track list"))
        << damaged.err;
}

// The main job, on an iPod set to update itself: a review answered No does nothing, not even to
// the iPod's settings; a run copies every song, says so, keeps the iPod's state file and sets the
// iPod to manual updating. (The database it writes is checked against libgpod in SyncPeer.)
TEST(SyncCommand, SongsGoOntoTheIPodWhichIsThenSetToManualUpdating)
{
    Demo demo;
    ASSERT_EQ(demo.made.exitStatus, 0) << demo.made.err;
    const std::vector<std::uint8_t> prefs = demo.SetAutoUpdate();
    const std::string count = std::to_string(cli::demo::Catalogue().size());
    fixtures::CommandResult refused =
        demo.Sync({"--from", demo.Songs(), "--type", "copy-to-ipod", "--review", "--no"});
    EXPECT_EQ(refused.exitStatus, 130);
    for (const std::string& part : {"Planned actions (" + count + "):", std::string("Copy Right"),
                                    std::string("->  iPod: Demo iPod Main Library")})
        EXPECT_TRUE(Has(refused.out, part)) << refused.out;
    EXPECT_TRUE(ListFiles(demo.IPod() + "/iPod_Control/Music").empty());
    EXPECT_EQ(ReadFile(demo.Prefs()), prefs);

    fixtures::CommandResult onto = demo.Sync({"--from", demo.Songs(), "--type", "copy-to-ipod", "--yes"});
    ASSERT_EQ(onto.exitStatus, 0) << onto.err;
    EXPECT_TRUE(Has(onto.out, "The iPod \"Demo iPod\" holds " + count + " songs.")) << onto.out;
    EXPECT_EQ(demo.IPodTitles(), CatalogueTitles());
    EXPECT_TRUE(Exists(demo.State("Demo iPod_PODDB.snc")));
    EXPECT_TRUE(Has(onto.out, "now set to manual updating")) << onto.out;
    EXPECT_EQ(ReadFile(demo.Prefs())[10], 0);
}

// A dry run prints its plan and the room the iPod would have left, and changes no byte anywhere:
// not on the iPod (its database, its music, its settings), not in the folder, not in the state
// files; through the library it writes neither database (no "Last Sync" playlist on either side).
TEST(SyncCommand, ADryRunChangesNoByte)
{
    Demo demo;
    const fixtures::CommandResult copy =
        demo.Sync({"--from", demo.Songs(), "--type", "copy-to-ipod", "--dry-run"});
    EXPECT_EQ(copy.exitStatus, 0) << copy.err;
    EXPECT_TRUE(
        std::regex_search(copy.out, std::regex("Space on Demo iPod: [0-9.]+ [kMG]?B used, [0-9.]+ "
                                               "[kMG]?B free; [0-9.]+ [kMG]?B free after the sync\\.")))
        << copy.out;
    ASSERT_EQ(demo.Sync({"--from", demo.Songs(), "--type", "synchronize", "--yes"}).exitStatus, 0);
    const Snapshot iPod = Untouched(demo.IPod());
    const std::string playlists = RunPelorin({"library", "info"}, "", demo.Env(true)).out;
    for (const char* type : {"copy-to-ipod", "make-ipod-equal", "merge", "synchronize"}) {
        const fixtures::CommandResult run = demo.Sync({"--type", type, "--dry-run"}, true);
        EXPECT_EQ(run.exitStatus, 0) << type << ": " << run.err;
        EXPECT_TRUE(Untouched(demo.IPod()) == iPod) << type;
        EXPECT_EQ(RunPelorin({"library", "info"}, "", demo.Env(true)).out, playlists) << type;
    }

    std::filesystem::remove(demo.Songs(ListFiles(demo.Songs()).front()));
    demo.SetAutoUpdate();
    const Snapshot before = Untouched(demo.tmp.Path(), false);
    const fixtures::CommandResult sync =
        demo.Sync({"--from", demo.Songs(), "--type", "synchronize", "--dry-run"});
    EXPECT_EQ(sync.exitStatus, 0) << sync.err;
    EXPECT_TRUE(Has(sync.out, "Planned actions (1):")) << sync.out;
    EXPECT_TRUE(Has(sync.out, "Dry run: 1 action planned, nothing changed.")) << sync.out;
    EXPECT_TRUE(Untouched(demo.tmp.Path(), false) == before);
}
