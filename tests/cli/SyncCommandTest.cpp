// `pelorin sync`: a folder of songs and a demonstration iPod, end to end through the program: the
// iPod chosen, the songs on it and in its database, the way back, the state file per iPod, and what
// the user is told when something is wrong.

#include "cli/DemoFiles.h"
#include "fixtures/IPodFixture.h"
#include "fixtures/MusicFiles.h"
#include "fixtures/RunCommand.h"
#include "fixtures/TempDir.h"
#include "fixtures/Text.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
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
    std::string StateFile() const { return tmp / "data/Veltrano/Ondrivel/Demo iPod_PODDB.snc"; }
    std::vector<std::string> Env() const
    {
        return {"PELORIN_VOLUMES=" + tmp / "Volumes", "XDG_DATA_HOME=" + tmp / "data",
                "HOME=" + tmp / "home"};
    }
    fixtures::CommandResult Sync(std::vector<std::string> args,
                                 const std::string& input = std::string()) const
    {
        args.insert(args.begin(), "sync");
        return RunPelorin(args, input, Env());
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

// Every file below `folder` with its bytes.
std::map<std::string, std::vector<std::uint8_t>> Snapshot(const std::string& folder)
{
    std::map<std::string, std::vector<std::uint8_t>> files;
    for (const std::string& file : ListFiles(folder))
        files[file] = ReadFile(folder + "/" + file);
    return files;
}

} // namespace

// A dry run of either command prints its plan and changes no byte anywhere: not on the iPod (its
// database, its music, its settings), not in the folders, not in the state files.
TEST(SyncCommand, ADryRunChangesNoByte)
{
    Demo demo;
    ASSERT_EQ(demo.Sync({"--from", demo.Songs(), "--type", "synchronize", "--yes"}).exitStatus, 0);
    std::filesystem::create_directories(demo.tmp / "Copy");
    const std::vector<std::string> folders = {"folders", demo.Songs(), demo.tmp / "Copy", "--type",
                                              "synchronize"};
    std::vector<std::string> firstFolders = folders;
    firstFolders.push_back("--yes");
    ASSERT_EQ(RunPelorin(firstFolders, "", demo.Env()).exitStatus, 0);
    // Changes on every side since: a song gone from the folder, the iPod set to update itself.
    std::filesystem::remove(demo.Songs(ListFiles(demo.Songs()).front()));
    std::vector<std::uint8_t> prefs = ReadFile(demo.IPod() + "/iPod_Control/iTunes/iTunesPrefs");
    prefs[10] = 1;
    fixtures::WriteFile(demo.IPod() + "/iPod_Control/iTunes/iTunesPrefs", prefs);
    const auto before = Snapshot(demo.tmp.Path());

    fixtures::CommandResult sync = demo.Sync({"--from", demo.Songs(), "--type", "synchronize", "--dry-run"});
    EXPECT_EQ(sync.exitStatus, 0) << sync.err;
    EXPECT_TRUE(Has(sync.out, "Planned actions (1):")) << sync.out;
    EXPECT_TRUE(Has(sync.out, "Dry run: 1 action planned, nothing changed.")) << sync.out;
    std::vector<std::string> dryFolders = folders;
    dryFolders.push_back("--dry-run");
    fixtures::CommandResult pair = RunPelorin(dryFolders, "", demo.Env());
    EXPECT_EQ(pair.exitStatus, 0) << pair.err;
    EXPECT_TRUE(Has(pair.out, "Dry run: 1 action planned, nothing changed.")) << pair.out;
    EXPECT_TRUE(Snapshot(demo.tmp.Path()) == before);
}

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
    EXPECT_TRUE(Exists(demo.tmp / "data/Veltrano/Ondrivel/Pocket_PODDB.snc"));
}

TEST(SyncCommand, WithoutAnIPodNothingStarts)
{
    fixtures::TempDir tmp;
    std::filesystem::create_directories(tmp / "Volumes");
    std::filesystem::create_directories(tmp / "Songs");
    fixtures::CommandResult result =
        RunPelorin({"sync", "--from", tmp / "Songs", "--type", "copy-to-ipod", "--yes"}, "",
                   {"PELORIN_VOLUMES=" + tmp / "Volumes", "XDG_DATA_HOME=" + tmp / "data"});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_TRUE(Has(result.err, "no iPod is mounted under " + tmp / "Volumes")) << result.err;
    EXPECT_FALSE(Exists(tmp / "data"));
}

// The main job, on an iPod set to update itself: a review answered No does nothing, not even to
// the iPod's settings; a run copies every song, says so, keeps the iPod's state file and sets the
// iPod to manual updating. (The database it writes is checked against libgpod in SyncPeer.)
TEST(SyncCommand, SongsGoOntoTheIPodWhichIsThenSetToManualUpdating)
{
    Demo demo;
    ASSERT_EQ(demo.made.exitStatus, 0) << demo.made.err;
    std::vector<std::uint8_t> prefs = ReadFile(demo.IPod() + "/iPod_Control/iTunes/iTunesPrefs");
    prefs[10] = 1;
    fixtures::WriteFile(demo.IPod() + "/iPod_Control/iTunes/iTunesPrefs", prefs);
    const std::string count = std::to_string(cli::demo::Catalogue().size());
    fixtures::CommandResult dry =
        demo.Sync({"--from", demo.Songs(), "--type", "copy-to-ipod", "--review", "--no"});
    EXPECT_EQ(dry.exitStatus, 130);
    for (const std::string& part : {"Planned actions (" + count + "):", std::string("Copy Right"),
                                    std::string("->  iPod: Demo iPod Main Library")})
        EXPECT_TRUE(Has(dry.out, part)) << dry.out;
    EXPECT_TRUE(ListFiles(demo.IPod() + "/iPod_Control/Music").empty());
    EXPECT_EQ(ReadFile(demo.IPod() + "/iPod_Control/iTunes/iTunesPrefs"), prefs);

    fixtures::CommandResult onto = demo.Sync({"--from", demo.Songs(), "--type", "copy-to-ipod", "--yes"});
    ASSERT_EQ(onto.exitStatus, 0) << onto.err;
    EXPECT_TRUE(Has(onto.out, "The iPod \"Demo iPod\" holds " + count + " songs.")) << onto.out;
    EXPECT_EQ(demo.IPodTitles(), CatalogueTitles());
    EXPECT_TRUE(Exists(demo.StateFile()));
    EXPECT_TRUE(Has(onto.out, "now set to manual updating")) << onto.out;
    EXPECT_EQ(ReadFile(demo.IPod() + "/iPod_Control/iTunes/iTunesPrefs")[10], 0);
}

// What the user is told names the cause: the file and the system's reason, not a code alone.
TEST(SyncCommand, FailuresNameTheReason)
{
    fixtures::TempDir tmp;
    std::filesystem::create_directories(tmp / "Songs");
    fixtures::WriteFile(tmp / "NotAFolder", std::string("x"));
    fixtures::CommandResult result =
        RunPelorin({"sync", "--from", tmp / "Songs", "--type", "copy-to-ipod", "--yes"}, "",
                   {"PELORIN_VOLUMES=" + tmp / "NotAFolder", "XDG_DATA_HOME=" + tmp / "data"});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_TRUE(Has(result.err, "cannot read the volumes folder " + tmp / "NotAFolder" + ": Not a directory"))
        << result.err;
    result = RunPelorin({"ipods"}, "", {"PELORIN_VOLUMES=" + tmp / "NotAFolder"});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_TRUE(Has(result.err, "cannot read the volumes folder " + tmp / "NotAFolder" + ": Not a directory"))
        << result.err;

    Demo demo;
    const std::string database = demo.IPod() + "/iPod_Control/iTunes/iTunesDB";
    auto bytes = ReadFile(database);
    fixtures::itdb::PutU32(bytes, fixtures::itdb::GetU32(bytes, 4) + 12, 99); // the track list's type
    fixtures::WriteFile(database, bytes);
    result = demo.Sync({"--from", demo.Songs(), "--type", "copy-to-ipod", "--yes"});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_TRUE(Has(result.err, "-10000: Unknown error encountered. (the iPod's database " + database +
                                    " has no track list"))
        << result.err;
    EXPECT_EQ(ReadFile(database), bytes);
}

TEST(SyncCommand, TheLibraryIsTheLeftSide)
{
    Demo demo;
    ASSERT_EQ(demo.made.exitStatus, 0) << demo.made.err;
    std::vector<std::string> env = demo.Env();
    env.push_back("PELORIN_LIBRARY=" + demo.tmp / "Nowhere");
    fixtures::CommandResult none = RunPelorin({"sync", "--type", "copy-to-ipod", "--yes"}, "", env);
    EXPECT_EQ(none.exitStatus, 1);
    EXPECT_TRUE(Has(none.err, "there is no music library in")) << none.err;
    EXPECT_FALSE(Exists(demo.tmp / "Nowhere"));

    struct Case {
        std::vector<std::string> args;
        const char* says;
    };
    for (const Case& c : {
             Case{{"--from", demo.Songs(), "--playlist", "Mix", "--type", "copy-to-ipod"},
                  "--playlist names"},
             Case{{"--from", demo.Songs(), "--type", "make-library-equal"}, "make-folder-equal"},
             Case{{"--type", "make-folder-equal"}, "make-library-equal"},
         }) {
        fixtures::CommandResult run = demo.Sync(c.args);
        EXPECT_EQ(run.exitStatus, 2) << c.says;
        EXPECT_TRUE(Has(run.err, c.says)) << run.err;
    }
    // The demonstration library holds every song and serves its iPod: they go through it, into the
    // iPod's state file for that way.
    env = demo.Env();
    env.push_back("PELORIN_LIBRARY=" + demo.tmp / "Library");
    fixtures::CommandResult run = RunPelorin({"sync", "--type", "copy-to-ipod", "--yes"}, "", env);
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(demo.IPodTitles().size(), cli::demo::Catalogue().size());
    EXPECT_TRUE(Exists(demo.tmp / "data/Veltrano/Ondrivel/Demo iPod.snc"));
    fixtures::CommandResult missing =
        RunPelorin({"sync", "--type", "copy-to-ipod", "--yes", "--playlist", "No Such"}, "", env);
    EXPECT_EQ(missing.exitStatus, 1) << "a playlist the library lacks fails the listing";
    EXPECT_EQ(demo.IPodTitles().size(), cli::demo::Catalogue().size());
}

namespace {

// Every file of the iPod with its bytes and modification time.
std::map<std::string, std::pair<std::vector<std::uint8_t>, std::filesystem::file_time_type>>
Untouched(const std::string& folder)
{
    std::map<std::string, std::pair<std::vector<std::uint8_t>, std::filesystem::file_time_type>> files;
    for (const std::string& file : ListFiles(folder))
        files[file] = {ReadFile(folder + "/" + file), std::filesystem::last_write_time(folder + "/" + file)};
    return files;
}

} // namespace

// Through the library, a dry run of any type writes neither the iPod nor the library: no database,
// no "Last Sync" playlist on either side.
TEST(SyncCommand, ADryRunThroughTheLibraryWritesNeitherDatabase)
{
    Demo demo;
    ASSERT_EQ(demo.made.exitStatus, 0) << demo.made.err;
    std::vector<std::string> env = demo.Env();
    env.push_back("PELORIN_LIBRARY=" + demo.tmp / "Library");
    const auto before = Untouched(demo.IPod());
    const std::string playlists = RunPelorin({"library", "info"}, "", env).out;
    for (const char* type : {"copy-to-ipod", "make-ipod-equal", "merge", "synchronize"}) {
        fixtures::CommandResult run = RunPelorin({"sync", "--type", type, "--dry-run"}, "", env);
        EXPECT_EQ(run.exitStatus, 0) << type << ": " << run.err;
        EXPECT_TRUE(Untouched(demo.IPod()) == before) << type;
        EXPECT_EQ(RunPelorin({"library", "info"}, "", env).out, playlists) << type;
    }
}

// Once both sides hold the same songs, a sync of any type by either route (through the library, or
// through the iPod's database from the folder) leaves every file on the iPod as it was.
TEST(SyncCommand, ASyncWithNothingToDoLeavesEveryFileOnTheIPodUntouched)
{
    Demo demo;
    ASSERT_EQ(demo.made.exitStatus, 0) << demo.made.err;
    std::vector<std::string> library = demo.Env();
    library.push_back("PELORIN_LIBRARY=" + demo.tmp / "Library");
    fixtures::CommandResult first = RunPelorin({"sync", "--type", "copy-to-ipod", "--yes"}, "", library);
    ASSERT_EQ(first.exitStatus, 0) << first.err;
    const auto before = Untouched(demo.IPod());
    struct Route {
        const char* name;
        std::vector<std::string> env, from;
    };
    for (const Route& route :
         {Route{"library", library, {}}, Route{"database", demo.Env(), {"--from", demo.Songs()}}})
        for (const char* type : {"copy-to-ipod", "make-ipod-equal", "copy-from-ipod", "merge", "synchronize",
                                 route.from.empty() ? "make-library-equal" : "make-folder-equal"}) {
            std::vector<std::string> args = {"sync", "--type", type, "--yes"};
            args.insert(args.end(), route.from.begin(), route.from.end());
            fixtures::CommandResult run = RunPelorin(args, "", route.env);
            EXPECT_EQ(run.exitStatus, 0) << route.name << " " << type << ": " << run.err;
            EXPECT_TRUE(Untouched(demo.IPod()) == before) << route.name << " " << type << ": " << run.out;
        }
}
