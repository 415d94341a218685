// `pelorin sync`: a folder of songs and a demonstration iPod, end to end through the program: the
// iPod chosen, the songs on it and in its database, the way back, the state file per iPod, and what
// the user is told when something is wrong.

#include "ACommon/itunesdb/IPodDB.h"
#include "ACommon/itunesdb/MHIT.h"
#include "ACommon/itunesdb/MHLT.h"
#include "cli/DemoFiles.h"
#include "fixtures/IPodFixture.h"
#include "fixtures/MusicFiles.h"
#include "fixtures/RunCommand.h"
#include "fixtures/TempDir.h"

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

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

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
        IPodDB db;
        AString root = AString::FromUTF8(IPod());
        EXPECT_EQ(db.Load(&root, 1, nullptr, nullptr), 0);
        db.GetDatabase()->GetTrackList()->ForEachTrack([&](MHIT& track) {
            EXPECT_TRUE(Exists(IPod() + track.GetFilepath().ToStdString()))
                << track.GetFilepath().ToStdString();
            titles.insert(track.GetName().ToStdString());
        });
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

} // namespace

// The options shared with `pelorin folders` are checked there.
TEST(SyncCommand, HelpExplainsItsOwnOptionsAndSyncTypes)
{
    fixtures::CommandResult help = RunPelorin({"sync", "--help"});
    EXPECT_EQ(help.exitStatus, 0);
    for (const char* text : {"--from", "--ipod", "--no-genre", "copy-to-ipod", "make-ipod-equal",
                             "copy-from-ipod", "make-folder-equal", "merge", "synchronize", "130"})
        EXPECT_TRUE(Has(help.out, text)) << text;
}

TEST(SyncCommand, SongsGoOntoTheDemonstrationIPodAndComeBackTheSame)
{
    Demo demo;
    ASSERT_EQ(demo.made.exitStatus, 0) << demo.made.err;
    fixtures::CommandResult onto = demo.Sync({"--from", demo.Songs(), "--type", "copy-to-ipod", "--yes"});
    ASSERT_EQ(onto.exitStatus, 0) << onto.err;
    const std::size_t count = cli::demo::Catalogue().size();
    EXPECT_TRUE(Has(onto.out, "The iPod \"Demo iPod\" holds " + std::to_string(count) + " songs."))
        << onto.out;
    // The database and files on the iPod are checked in the iPod sync tests and against libgpod.
    EXPECT_EQ(demo.IPodTitles(), CatalogueTitles());
    // The settings are kept in the iPod's own state file.
    EXPECT_TRUE(Exists(demo.StateFile()));

    // And back into an empty folder: the same files, filed the same way.
    std::filesystem::create_directories(demo.tmp / "Back");
    fixtures::CommandResult back =
        demo.Sync({"--from", demo.tmp / "Back", "--type", "copy-from-ipod", "--yes"});
    ASSERT_EQ(back.exitStatus, 0) << back.err;
    const std::vector<std::string> files = ListFiles(demo.Songs());
    ASSERT_EQ(ListFiles(demo.tmp / "Back"), files);
    for (const std::string& file : files)
        EXPECT_EQ(ReadFile(demo.tmp / ("Back/" + file)), ReadFile(demo.Songs(file))) << file;
}

TEST(SyncCommand, SavedListsOfAnotherFolderAreDroppedAndTheUserIsTold)
{
    Demo demo;
    ASSERT_EQ(demo.Sync({"--from", demo.Songs(), "--type", "synchronize", "--yes"}).exitStatus, 0);
    std::filesystem::create_directories(demo.tmp / "Other");
    fixtures::CommandResult other =
        demo.Sync({"--from", demo.tmp / "Other", "--type", "synchronize", "--yes"});
    ASSERT_EQ(other.exitStatus, 0) << other.err;
    EXPECT_TRUE(Has(other.out, "belong to the folder " + demo.Songs().substr(0, demo.Songs().size() - 1)))
        << other.out;
    // Read as deletions, the saved lists would have emptied the iPod; dropped, every song comes over.
    EXPECT_EQ(demo.IPodTitles(), CatalogueTitles());
    EXPECT_EQ(ListFiles(demo.tmp / "Other").size(), cli::demo::Catalogue().size());
}

TEST(SyncCommand, ReviewWithNoCancelsBeforeAnythingIsPerformed)
{
    Demo demo;
    fixtures::CommandResult result =
        demo.Sync({"--from", demo.Songs(), "--type", "copy-to-ipod", "--review", "--no"});
    EXPECT_EQ(result.exitStatus, 130);
    EXPECT_TRUE(Has(result.out, "Planned actions (" + std::to_string(cli::demo::Catalogue().size()) + "):"))
        << result.out;
    EXPECT_TRUE(Has(result.out, "Copy Right")) << result.out;
    EXPECT_TRUE(Has(result.out, "->  iPod: Demo iPod Main Library")) << result.out;
    EXPECT_TRUE(demo.IPodTitles().empty());
    EXPECT_TRUE(ListFiles(demo.IPod() + "/iPod_Control/Music").empty());
}

// Every file below `folder` with its bytes.
std::map<std::string, std::vector<std::uint8_t>> Snapshot(const std::string& folder)
{
    std::map<std::string, std::vector<std::uint8_t>> files;
    for (const std::string& file : ListFiles(folder))
        files[file] = ReadFile(folder + "/" + file);
    return files;
}

// A dry run of either command prints its plan and changes no byte anywhere: not on the iPod (its
// database, its music, its settings), not in the folders, not in the state files.
TEST(SyncCommand, ADryRunPrintsThePlanAndChangesNoByte)
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

TEST(SyncCommand, TheIPodIsChosenByNameAndAnUnknownNameListsTheIPodsFound)
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

TEST(SyncCommand, AnIPodOnAutomaticUpdateIsSetToManualByARunThatSyncsButNotByACancelledOne)
{
    Demo demo;
    std::vector<std::uint8_t> prefs = ReadFile(demo.IPod() + "/iPod_Control/iTunes/iTunesPrefs");
    prefs[10] = 1;
    fixtures::WriteFile(demo.IPod() + "/iPod_Control/iTunes/iTunesPrefs", prefs);
    fixtures::CommandResult dry =
        demo.Sync({"--from", demo.Songs(), "--type", "copy-to-ipod", "--review", "--no"});
    EXPECT_EQ(dry.exitStatus, 130);
    EXPECT_EQ(ReadFile(demo.IPod() + "/iPod_Control/iTunes/iTunesPrefs"), prefs);
    fixtures::CommandResult result = demo.Sync({"--from", demo.Songs(), "--type", "copy-to-ipod", "--yes"});
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_TRUE(Has(result.out, "now set to manual updating")) << result.out;
    EXPECT_EQ(ReadFile(demo.IPod() + "/iPod_Control/iTunes/iTunesPrefs")[10], 0);
}

TEST(SyncCommand, AStateFileThatCannotBeReadIsSaidAndReplaced)
{
    Demo demo;
    fixtures::WriteFile(demo.StateFile(), std::string("not a state file"));
    fixtures::CommandResult result = demo.Sync({"--from", demo.Songs(), "--type", "copy-to-ipod", "--yes"});
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_TRUE(Has(result.err, "cannot be read")) << result.err;
    EXPECT_EQ(ReadFile(demo.StateFile())[0], 0x01);
}

// Every new iPod is called the same until its owner renames it, so the state file (named after the
// iPod) is shared by iPods of one name; the lists a synchronize run saves must only ever be read
// against the iPod they were taken from.
TEST(SyncCommand, SynchronizeWithASecondIPodOfTheSameNameDeletesNothingFromTheFolder)
{
    Demo demo;
    ASSERT_EQ(demo.made.exitStatus, 0) << demo.made.err;
    const std::vector<std::string> songs = ListFiles(demo.Songs());
    ASSERT_GE(songs.size(), 6u);

    // A second iPod, called as the first, that holds all songs but two.
    const std::string twin = fixtures::MakeIPod(demo.tmp / "Volumes", "TWINPOD",
                                                {.name = "Demo iPod", .firewireGuid = "0x000A27001111AAAA"});
    std::filesystem::copy(demo.Songs(), demo.tmp / "Partial", std::filesystem::copy_options::recursive);
    std::filesystem::remove(demo.tmp / ("Partial/" + songs[0]));
    std::filesystem::remove(demo.tmp / ("Partial/" + songs[1]));
    fixtures::CommandResult partial =
        demo.Sync({"--from", demo.tmp / "Partial", "--ipod", "TWINPOD", "--type", "copy-to-ipod", "--yes"});
    ASSERT_EQ(partial.exitStatus, 0) << partial.err;

    fixtures::CommandResult first =
        demo.Sync({"--from", demo.Songs(), "--ipod", "DEMOPOD", "--type", "synchronize", "--yes"});
    ASSERT_EQ(first.exitStatus, 0) << first.err;

    // The first iPod's lists are not the second one's: the songs the second lacks are copied onto
    // it, not deleted from the folder.
    fixtures::CommandResult second =
        demo.Sync({"--from", demo.Songs(), "--ipod", "TWINPOD", "--type", "synchronize", "--yes"});
    ASSERT_EQ(second.exitStatus, 0) << second.err;
    EXPECT_EQ(ListFiles(demo.Songs()), songs) << second.out;
    EXPECT_TRUE(Has(second.out, "belong to the iPod \"Demo iPod\" with FirewireGuid 000A27")) << second.out;
    EXPECT_TRUE(Has(second.out, "(this one has FirewireGuid 000A27001111AAAA)")) << second.out;
    IPodDB db;
    AString root = AString::FromUTF8(twin);
    ASSERT_EQ(db.LoadName(&root, 1), 0);
    EXPECT_EQ(db.GetTrackCount(), static_cast<int>(songs.size()));
}

// The identity kept beside the state file lets the same iPod carry deletions over from one run to
// the next; a state file written before identities were kept does so as well.
TEST(SyncCommand, TheSameIPodKeepsItsSavedListsAndCarriesADeletionOver)
{
    for (bool withIdentity : {true, false}) {
        Demo demo;
        ASSERT_EQ(demo.made.exitStatus, 0) << demo.made.err;
        ASSERT_EQ(demo.Sync({"--from", demo.Songs(), "--type", "synchronize", "--yes"}).exitStatus, 0);
        const std::string identity = demo.StateFile() + ".ipod";
        ASSERT_TRUE(Has(fixtures::ReadText(identity), "FirewireGuid 000A27"));
        if (!withIdentity)
            std::filesystem::remove(identity);

        const std::string gone = ListFiles(demo.Songs()).front();
        std::filesystem::remove(demo.Songs(gone));
        fixtures::CommandResult again = demo.Sync({"--from", demo.Songs(), "--type", "synchronize", "--yes"});
        ASSERT_EQ(again.exitStatus, 0) << again.err;
        EXPECT_FALSE(Has(again.out, "dropped")) << again.out;
        EXPECT_EQ(demo.IPodTitles().size(), cli::demo::Catalogue().size() - 1) << withIdentity;
        EXPECT_EQ(ListFiles(demo.IPod() + "/iPod_Control/Music").size(), cli::demo::Catalogue().size() - 1);
    }
}

namespace {

// A demonstration whose folder holds, for one of its MP3 songs, a longer M4A with the same tags and
// file name but for its extension. The MP3's path and the M4A's are given.
struct TypeChange {
    Demo demo;
    std::string title, mp3, m4a;

    void Change()
    {
        cli::demo::DemoSong song;
        for (const cli::demo::DemoSong& s : cli::demo::Catalogue())
            if (s.extension == "mp3") {
                song = s;
                break;
            }
        ASSERT_FALSE(song.title.empty());
        title = song.title;
        for (const std::string& f : ListFiles(demo.Songs()))
            if (Has(f, song.title + ".mp3"))
                mp3 = demo.Songs(f);
        ASSERT_FALSE(mp3.empty());
        std::filesystem::remove(mp3);
        fixtures::SongSpec songSpec;
        songSpec.title = song.title;
        songSpec.artist = song.artist;
        songSpec.album = song.album;
        songSpec.genre = song.genre;
        songSpec.track = song.track;
        songSpec.trackCount = song.trackCount;
        songSpec.year = song.year;
        songSpec.seconds = 60;
        m4a = mp3.substr(0, mp3.size() - 3) + "m4a";
        fixtures::WriteSong(m4a, songSpec);
    }
};

} // namespace

// With the file type left out of what tells songs apart, an M4A and an MP3 of one song are the
// same song. The replacement takes the new type's name and, on the iPod, a track of that type:
// AAC bytes under ".mp3" would be played as an MP3.
TEST(SyncCommand, AReplacementOnTheIPodKeepsTheFileTypeAndItsName)
{
    TypeChange change;
    ASSERT_EQ(
        change.demo.Sync({"--from", change.demo.Songs(), "--type", "copy-to-ipod", "--no-file-type", "--yes"})
            .exitStatus,
        0);
    change.Change();
    fixtures::CommandResult run = change.demo.Sync(
        {"--from", change.demo.Songs(), "--type", "copy-to-ipod", "--no-file-type", "--yes"});
    ASSERT_EQ(run.exitStatus, 0) << run.err;

    const std::string ipod = change.demo.IPod();
    IPodDB db;
    AString root = AString::FromUTF8(ipod);
    ASSERT_EQ(db.Load(&root, 1, nullptr, nullptr), 0);
    int tracks = 0;
    db.GetDatabase()->GetTrackList()->ForEachTrack([&](MHIT& track) {
        if (track.GetName().ToStdString() != change.title)
            return;
        ++tracks;
        const std::string path = track.GetFilepath().ToStdString();
        EXPECT_EQ(path.substr(path.size() - 4), ".m4a") << path;
        EXPECT_EQ(ReadFile(ipod + path), ReadFile(change.m4a)) << path;
    });
    EXPECT_EQ(tracks, 1);
    // The old file left the music folders (into "Removed Files" on the iPod); every file there is
    // a track's, and none holds the M4A under another type's name.
    EXPECT_EQ(ListFiles(ipod + "/iPod_Control/Music").size(), cli::demo::Catalogue().size());
    for (const std::string& f : ListFiles(ipod + "/iPod_Control/Music")) {
        if (f.substr(f.size() - 4) == ".mp3") {
            EXPECT_NE(ReadFile(ipod + "/iPod_Control/Music/" + f), ReadFile(change.m4a)) << f;
        }
    }
}

TEST(SyncCommand, AReplacementInTheFolderKeepsTheFileTypeAndItsName)
{
    TypeChange change;
    std::filesystem::copy(change.demo.Songs(), change.demo.tmp / "Back",
                          std::filesystem::copy_options::recursive);
    change.Change();
    ASSERT_EQ(
        change.demo.Sync({"--from", change.demo.Songs(), "--type", "copy-to-ipod", "--no-file-type", "--yes"})
            .exitStatus,
        0);
    // The iPod's M4A replaces the folder's MP3.
    fixtures::CommandResult run = change.demo.Sync(
        {"--from", change.demo.tmp / "Back", "--type", "copy-from-ipod", "--no-file-type", "--yes"});
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    const std::string back = change.demo.tmp / "Back/";
    const std::string relative = change.m4a.substr(change.demo.Songs().size());
    EXPECT_EQ(ListFiles(back), ListFiles(change.demo.Songs())) << run.out;
    EXPECT_EQ(ReadFile(back + relative), ReadFile(change.m4a)) << relative;
    // The MP3 went into "Removed Files" beside the folder.
    EXPECT_EQ(ListFiles(change.demo.tmp / "Removed Files").size(), 1u);
}
