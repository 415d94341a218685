// Syncs between the library and an iPod attached to it, end to end through `pelorin`: which songs
// count as the same song on both sides (files that are missing, tags of white space, playlists),
// and what the library's own commands make of files that changed or are reached through links.

#include "fixtures/IPodFixture.h"
#include "fixtures/MusicFiles.h"
#include "fixtures/RunCommand.h"
#include "fixtures/TempDir.h"
#include "fixtures/Text.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using fixtures::Has;

namespace {

class LibraryMatch : public ::testing::Test {
protected:
    void SetUp() override
    {
        fixtures::MakeIPod(dir / "Volumes", "POD", {.name = "Pod"});
        ASSERT_EQ(Pelorin({"library", "init"}).exitStatus, 0);
        fixtures::CommandResult attached = Pelorin({"library", "attach-ipod", "POD"});
        ASSERT_EQ(attached.exitStatus, 0) << attached.err;
    }

    fixtures::CommandResult Pelorin(const std::vector<std::string>& args, const std::string& input = "")
    {
        return fixtures::RunPelorin(args, input, fixtures::EnvironmentIn(dir.Path()));
    }
    // Writes a song under the test's folder and returns its path.
    std::string Song(const std::string& relative, const std::string& title, const std::string& artist,
                     const std::string& album, std::uint32_t seed)
    {
        fixtures::SongSpec song = fixtures::SongSpecOf(title, seed, 0, artist);
        song.album = album;
        const std::string path = dir / relative;
        fixtures::WriteSong(path, song);
        return path;
    }
    fixtures::CommandResult Sync(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"sync", "--yes", "--delete-instead-of-move"});
        return Pelorin(args);
    }
    // The library's tracks (of a playlist) as `library tracks` prints them: one row of fields each.
    std::vector<std::vector<std::string>> Tracks(const std::string& playlist = "")
    {
        std::vector<std::string> args{"library", "tracks"};
        if (!playlist.empty())
            args.insert(args.end(), {"--playlist", playlist});
        fixtures::CommandResult run = Pelorin(args);
        EXPECT_EQ(run.exitStatus, 0) << run.err;
        std::vector<std::vector<std::string>> rows;
        std::istringstream lines(run.out);
        for (std::string line; std::getline(lines, line);) {
            std::vector<std::string> fields;
            std::istringstream cut(line);
            for (std::string field; std::getline(cut, field, '\t');)
                fields.push_back(field);
            rows.push_back(fields);
        }
        return rows;
    }
    std::vector<std::string> IPodTitles() { return fixtures::IPodTitles(dir / "Volumes/POD"); }
    // Songs of `titles` by "Artist" on "Album" in Drive/, imported into the library; `copied`: then
    // synced onto the iPod.
    void Import(const std::vector<std::string>& titles, bool copied)
    {
        for (std::size_t i = 0; i < titles.size(); ++i)
            Song("Drive/" + std::to_string(i) + ".mp3", titles[i], "Artist", "Album",
                 static_cast<std::uint32_t>(i + 1));
        ASSERT_EQ(Pelorin({"library", "import", dir / "Drive"}).exitStatus, 0);
        if (copied) {
            const fixtures::CommandResult run = Sync({"--type", "copy-to-ipod"});
            ASSERT_TRUE(Has(run.out, "Copied " + std::to_string(titles.size()) + " song")) << run.out;
        }
    }
    // Runs `body` as a script to the library's scripting stand-in.
    fixtures::CommandResult Script(const std::string& body)
    {
        return Pelorin({"library", "script"}, "tell application \"iTunes\"\n " + body + "\n end tell\n");
    }

    fixtures::TempDir dir;
};

} // namespace

TEST_F(LibraryMatch, ASongWhoseFileIsMissingIsNeverDeletedNorReplaced)
{
    // One song with tags, one without any (it matches by its name and the size of its music).
    const std::string tagged = Song("Drive/tagged.mp3", "Tagged", "Artist", "Album", 1);
    fixtures::SongSpec bare;
    bare.title = "Bare";
    bare.seed = 2;
    bare.seconds = 1;
    bare.bitRate = 32;
    const std::string untagged = dir / "Drive/bare.mp3";
    fixtures::WriteSong(untagged, bare);
    ASSERT_EQ(Pelorin({"library", "import", dir / "Drive"}).exitStatus, 0);
    fixtures::CommandResult first = Sync({"--type", "copy-to-ipod"});
    ASSERT_TRUE(Has(first.out, "Copied 2 songs")) << first.out << first.err;

    fs::remove(tagged);
    fs::remove(untagged);
    for (const char* type : {"make-ipod-equal", "make-library-equal", "synchronize"}) {
        fixtures::CommandResult run = Sync({"--type", type, "--allow-mass-deletion"});
        EXPECT_EQ(run.exitStatus, 0) << type << "\n" << run.out << run.err;
        EXPECT_TRUE(Has(run.out, "Copied 0 songs; removed 0; 0 errors.")) << type << "\n" << run.out;
        EXPECT_EQ(IPodTitles(), (std::vector<std::string>{"Bare", "Tagged"})) << type;
        EXPECT_EQ(Tracks().size(), 2u) << type;
    }
}

TEST_F(LibraryMatch, ALibraryWhoseDriveIsNotMountedStopsBeforeAnyAction)
{
    for (int i = 0; i < 6; ++i)
        Song("Drive/" + std::to_string(i) + ".mp3", "Song " + std::to_string(i), i % 2 ? "Artist" : "", "",
             static_cast<std::uint32_t>(10 + i));
    ASSERT_EQ(Pelorin({"library", "import", dir / "Drive"}).exitStatus, 0);
    ASSERT_TRUE(Has(Sync({"--type", "copy-to-ipod"}).out, "Copied 6 songs"));
    const std::vector<std::string> onIPod = IPodTitles();

    fs::rename(dir / "Drive", dir / "Elsewhere");
    for (const char* type : {"make-ipod-equal", "make-library-equal", "synchronize", "copy-to-ipod"}) {
        fixtures::CommandResult run = Sync({"--type", type, "--allow-mass-deletion"});
        EXPECT_NE(run.exitStatus, 0) << type;
        EXPECT_TRUE(Has(run.out + run.err, "seems not to be mounted")) << type << "\n" << run.out << run.err;
        EXPECT_EQ(IPodTitles(), onIPod) << type;
        EXPECT_EQ(Tracks().size(), 6u) << type;
    }
}

TEST_F(LibraryMatch, TagsOfWhiteSpaceOnlyMatchTheTrimmedTagsOfTheIPod)
{
    Song("Drive/a.mp3", "   ", "Artist", "Album", 1);
    Song("Drive/b.mp3", "Title", "Artist", "  ", 2);
    Song("Drive/c.mp3", " Padded ", " Artist ", "\tAlbum ", 3);
    ASSERT_EQ(Pelorin({"library", "import", dir / "Drive"}).exitStatus, 0);
    // Through the library, and from the folder through the iPod's own database.
    for (const std::vector<std::string>& route :
         {std::vector<std::string>{}, std::vector<std::string>{"--from", dir / "Drive", "--ipod", "POD"}}) {
        const std::string name = route.empty() ? "library" : "folder";
        std::vector<std::string> args = route;
        args.insert(args.end(), {"--type", "copy-to-ipod"});
        fixtures::CommandResult first = Sync(args);
        EXPECT_TRUE(Has(first.out, "0 errors.")) << name << "\n" << first.out << first.err;
        for (const char* type : {"copy-to-ipod", "merge", "synchronize"}) {
            args = route;
            args.insert(args.end(), {"--type", type});
            fixtures::CommandResult run = Sync(args);
            EXPECT_TRUE(Has(run.out, "Copied 0 songs; removed 0; 0 errors.")) << name << " " << type << "\n"
                                                                              << run.out << run.err;
        }
    }
    EXPECT_EQ(Tracks().size(), 3u);
    EXPECT_EQ(IPodTitles().size(), 3u);
}

TEST_F(LibraryMatch, CopyingIntoALibraryPlaylistTakesTheTrackTheLibraryHolds)
{
    Import({"One", "Two"}, true);
    ASSERT_EQ(Pelorin({"library", "playlist", "create", "Road"}).exitStatus, 0);

    for (const char* type : {"copy-from-ipod", "synchronize"}) {
        fixtures::CommandResult run = Sync({"--type", type, "--playlist", "Road"});
        EXPECT_EQ(run.exitStatus, 0) << type << "\n" << run.out << run.err;
        EXPECT_EQ(Tracks().size(), 2u) << type << ": no second track of a song the library holds";
        EXPECT_EQ(Tracks("Road").size(), 2u) << type;
        EXPECT_FALSE(fs::exists(dir / "Library/iTunes Music/Artist")) << type << ": no file copied";
    }
}

TEST_F(LibraryMatch, APlaylistNamedAroundLastSyncIsLeftAlone)
{
    Import({"One"}, false);
    ASSERT_EQ(Pelorin({"library", "playlist", "create", "Not Last Sync"}).exitStatus, 0);
    ASSERT_EQ(Script("set myPlayList to make playlist of source \"Pod\"\n set name of myPlayList to \"Not "
                     "Last Sync\"")
                  .exitStatus,
              0);
    for (const char* type : {"copy-to-ipod", "copy-from-ipod"}) {
        fixtures::CommandResult run = Sync({"--type", type});
        EXPECT_EQ(run.exitStatus, 0) << type << "\n" << run.out << run.err;
        EXPECT_TRUE(Has(run.out, "0 errors.")) << type << "\n" << run.out;
    }
    const std::string playlists = Pelorin({"library", "playlists"}).out;
    EXPECT_TRUE(Has(playlists, "Not Last Sync\t0 tracks")) << playlists;
    EXPECT_TRUE(Has(playlists, "\nLast Sync\t")) << playlists;
    const std::string iPodPlaylists = Script("name of every playlist in source \"Pod\"").out;
    EXPECT_TRUE(Has(iPodPlaylists, "Not Last Sync")) << iPodPlaylists;
}

TEST_F(LibraryMatch, ARetaggedFileIsReadAgain)
{
    const std::string file = Song("Drive/a.mp3", "Old Title", "Artist", "Album", 1);
    ASSERT_EQ(Pelorin({"library", "import", dir / "Drive"}).exitStatus, 0);
    Song("Drive/a.mp3", "New Title, longer", "Artist", "Album", 1);

    // A sync takes the file as it is now: copied once, then nothing more to do.
    EXPECT_TRUE(Has(Sync({"--type", "copy-to-ipod"}).out, "Copied 1 song"));
    fixtures::CommandResult again = Sync({"--type", "copy-to-ipod"});
    EXPECT_TRUE(Has(again.out, "Copied 0 songs;")) << again.out;
    EXPECT_EQ(IPodTitles(), std::vector<std::string>{"New Title, longer"});

    // An import does too, and says so.
    Song("Drive/a.mp3", "Third", "Artist", "Album", 1);
    fixtures::CommandResult imported = Pelorin({"library", "import", dir / "Drive"});
    EXPECT_TRUE(Has(imported.out, "0 added, 1 already in the library (1 read again")) << imported.out;
    const auto tracks = Tracks();
    ASSERT_EQ(tracks.size(), 1u);
    ASSERT_GE(tracks[0].size(), 4u);
    EXPECT_EQ(tracks[0][3], "Third");
}

TEST_F(LibraryMatch, AFileTheLibraryHoldsIsNotAddedAgainByAnotherPath)
{
    const std::string a = Song("Music/a.mp3", "One", "Artist", "Album", 1);
    ASSERT_EQ(Pelorin({"library", "add", a}).exitStatus, 0);
    fs::create_directories(dir / "Links");
    fs::create_symlink(a, dir / "Links/link.mp3");
    fs::create_directories(dir / "Hard");
    fs::create_hard_link(a, dir / "Hard/hard.mp3");
    fs::create_directory_symlink(dir / "Music", dir / "LinkedFolder");
    for (const char* folder : {"Links", "Hard", "LinkedFolder"}) {
        fixtures::CommandResult run = Pelorin({"library", "import", dir / folder});
        EXPECT_TRUE(Has(run.out, "0 added, 1 already in the library")) << folder << "\n"
                                                                       << run.out << run.err;
        EXPECT_EQ(Tracks().size(), 1u) << folder;
    }
}

TEST_F(LibraryMatch, APreferencesFileThatCannotBeReadWholeIsNeverRewritten)
{
    const std::string prefs = dir / "Library/Preferences.plist";
    const std::string big = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                            "<key>Other</key><string>" +
                            std::string(17 * 1024 * 1024, 'x') + "</string></dict></plist>\n";
    struct Case {
        const char* what;
        std::string bytes;
    };
    for (const Case& c :
         {Case{"over 16 MB", big}, Case{"damaged", "<?xml version=\"1.0\"?><plist><dict><key>"}}) {
        fixtures::WriteFile(prefs, std::vector<std::uint8_t>(c.bytes.begin(), c.bytes.end()));
        for (const char* command : {"set", "clear"}) {
            std::vector<std::string> args{"library", "account", command};
            if (std::string(command) == "set")
                args.push_back("me@example.com");
            fixtures::CommandResult run = Pelorin(args);
            EXPECT_EQ(run.exitStatus, 1) << c.what << " " << command;
            EXPECT_TRUE(Has(run.err, "left as it is")) << c.what << " " << command << "\n" << run.err;
            EXPECT_EQ(fixtures::ReadText(prefs), c.bytes) << c.what << " " << command;
        }
    }
}

TEST_F(LibraryMatch, RemovedSongsAreSaidToBeMovedOnlyWhenFilesWere)
{
    Import({"One"}, true);
    const std::string ids = Script("database ID of every track in playlist \"Pod\" in source \"Pod\"").out;
    const std::string id = ids.substr(ids.find_first_of("0123456789"));
    ASSERT_EQ(Script("delete (first track of playlist \"Pod\" in source \"Pod\" whose database ID = " +
                     std::to_string(std::stoll(id)) + ")")
                  .exitStatus,
              0);

    // The library's track goes; its file, outside the music folder, stays where it is.
    fixtures::CommandResult run =
        Pelorin({"sync", "--yes", "--type", "make-library-equal", "--allow-mass-deletion"});
    EXPECT_TRUE(Has(run.out, "removed 1;")) << run.out << run.err;
    EXPECT_FALSE(Has(run.out, "Removed Files")) << run.out;
    EXPECT_TRUE(fs::exists(dir / "Drive/0.mp3"));
}

TEST_F(LibraryMatch, AddingFilesCountsOnlyWhatWasAdded)
{
    Song("Drive/a.mp3", "One", "Artist", "Album", 1);
    Song("Drive/b.mp3", "Two", "Artist", "Album", 2);
    fixtures::CommandResult dry = Pelorin({"add", "--to", "ipod", dir / "Drive", "--yes", "--dry-run"});
    EXPECT_FALSE(Has(dry.out + dry.err, "All files added.")) << dry.out << dry.err;
    EXPECT_TRUE(IPodTitles().empty());
    for (const char* side : {"ipod", "library"}) {
        fixtures::CommandResult first = Pelorin({"add", "--to", side, dir / "Drive", "--yes"});
        EXPECT_TRUE(Has(first.out + first.err, "2 found, 2 added")) << side << "\n" << first.out << first.err;
        fixtures::CommandResult again = Pelorin({"add", "--to", side, dir / "Drive", "--yes"});
        EXPECT_TRUE(Has(again.out + again.err, "2 found, 0 added, 2 left as they were"))
            << side << "\n"
            << again.out << again.err;
    }
    EXPECT_EQ(IPodTitles().size(), 2u);
    EXPECT_EQ(Tracks().size(), 2u);
}

TEST_F(LibraryMatch, LibraryTracksKeepsEveryTrackOnOneRow)
{
    Song("Drive/a.mp3", "Tab\there", "Line\nbreak", "Back\\slash", 1);
    ASSERT_EQ(Pelorin({"library", "import", dir / "Drive"}).exitStatus, 0);
    const auto rows = Tracks();
    ASSERT_EQ(rows.size(), 1u);
    ASSERT_EQ(rows[0].size(), 5u);
    EXPECT_EQ(rows[0][1], "Line\\nbreak");
    EXPECT_EQ(rows[0][2], "Back\\\\slash");
    EXPECT_EQ(rows[0][3], "Tab\\there");
}

TEST_F(LibraryMatch, APlannedDeletionSaysWhichSideItDeletesFrom)
{
    Import({"One"}, true);
    ASSERT_EQ(Script("delete (every track of playlist \"Library\")").exitStatus, 0);
    fixtures::CommandResult plan = Sync({"--type", "make-ipod-equal", "--dry-run", "--allow-mass-deletion"});
    EXPECT_TRUE(Has(plan.out, "Delete")) << plan.out << plan.err;
    EXPECT_TRUE(Has(plan.out, "(from Pod)")) << plan.out;
}

TEST_F(LibraryMatch, NamesLongerThanAFileSystemTakesAreShortenedByBytes)
{
    std::string longText;
    for (int i = 0; i < 90; ++i)
        longText += "\xE8\xAA\x9E"; // 90 characters of 3 bytes: 270 bytes
    Song("Drive/a.mp3", longText, "Artist", longText, 1);
    ASSERT_EQ(Pelorin({"library", "import", dir / "Drive"}).exitStatus, 0);
    ASSERT_TRUE(Has(Sync({"--type", "copy-to-ipod"}).out, "Copied 1 song"));
    ASSERT_EQ(Script("delete (every track of playlist \"Library\")").exitStatus, 0);

    // Back into the library's music folder, and into a folder of songs through the iPod's database.
    struct Route {
        std::vector<std::string> args;
        std::string folder;
    };
    fs::create_directories(dir / "Folder");
    for (const Route& route :
         {Route{{"--type", "copy-from-ipod"}, dir / "Library/iTunes Music"},
          Route{{"--from", dir / "Folder", "--ipod", "POD", "--type", "copy-from-ipod"}, dir / "Folder"}}) {
        fixtures::CommandResult run = Sync(route.args);
        EXPECT_TRUE(Has(run.out, "Copied 1 song")) << route.folder << "\n" << run.out << run.err;
        int songs = 0;
        for (const auto& entry : fs::recursive_directory_iterator(route.folder)) {
            const std::string name = entry.path().filename().string();
            EXPECT_LE(name.size(), 255u) << name;
            if (entry.is_regular_file() && name.size() > 4 && name.substr(name.size() - 4) == ".mp3") {
                ++songs;
                EXPECT_EQ(name.rfind("\xE8\xAA\x9E"), name.size() - 7) << "cut on a character: " << name;
            }
        }
        EXPECT_EQ(songs, 1) << route.folder;
    }
}
