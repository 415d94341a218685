// pelorin library: the embedded music library from the terminal, and what the commands say on a
// library with an iPod attached: what an import, an add and a sync say they did, `library tracks`
// one row a track, and a preferences file that cannot be read left as it is. (Which songs a sync
// through the library takes for the same song: LibraryMatch.)

#include "fixtures/IPodFixture.h"
#include "fixtures/MusicFiles.h"
#include "fixtures/RunCommand.h"
#include "fixtures/TempDir.h"
#include "fixtures/Text.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using fixtures::Has;

namespace {

class LibraryCommand : public ::testing::Test {
protected:
    fixtures::CommandResult Pelorin(const std::vector<std::string>& args, const std::string& input = "")
    {
        return fixtures::RunPelorin(args, input, fixtures::EnvironmentIn(dir.Path()));
    }
    fixtures::CommandResult Library(std::vector<std::string> args, const std::string& input = "")
    {
        args.insert(args.begin(), "library");
        return Pelorin(args, input);
    }
    // Writes a song by "Artist" on "Album" under the test's folder and returns its path.
    std::string Song(const std::string& relative, const std::string& title, std::uint32_t seed)
    {
        fixtures::WriteSong(dir / relative, fixtures::SongSpecOf(title, seed));
        return dir / relative;
    }
    // A new library with the iPod "Pod" attached.
    void AttachIPod()
    {
        fixtures::MakeIPod(dir / "Volumes", "POD", {.name = "Pod"});
        ASSERT_EQ(Library({"init"}).exitStatus, 0);
        fixtures::CommandResult attached = Library({"attach-ipod", "POD"});
        ASSERT_EQ(attached.exitStatus, 0) << attached.err;
    }
    fixtures::CommandResult Sync(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"sync", "--yes", "--delete-instead-of-move"});
        return Pelorin(args);
    }
    // The library's tracks as `library tracks` prints them: one row of fields each.
    std::vector<std::vector<std::string>> Tracks()
    {
        fixtures::CommandResult run = Library({"tracks"});
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
    // Songs of `titles` by "Artist" on "Album" in Drive/, imported into the library, then synced
    // onto the iPod.
    void Import(const std::vector<std::string>& titles)
    {
        for (std::size_t i = 0; i < titles.size(); ++i)
            Song("Drive/" + std::to_string(i) + ".mp3", titles[i], static_cast<std::uint32_t>(i + 1));
        ASSERT_EQ(Library({"import", dir / "Drive"}).exitStatus, 0);
        const fixtures::CommandResult run = Sync({"--type", "copy-to-ipod"});
        ASSERT_TRUE(Has(run.out, "Copied " + std::to_string(titles.size()) + " song")) << run.out;
    }
    // Runs `body` as a script to the library's scripting stand-in.
    fixtures::CommandResult Script(const std::string& body)
    {
        return Library({"script"}, "tell application \"iTunes\"\n " + body + "\n end tell\n");
    }

    fixtures::TempDir dir;
};

} // namespace

TEST_F(LibraryCommand, InfoDescribesANewLibrary)
{
    fixtures::CommandResult info = Library({"info"});
    EXPECT_EQ(info.exitStatus, 1) << "no library yet";
    EXPECT_NE(info.err.find("pelorin library init"), std::string::npos) << info.err;

    ASSERT_EQ(Library({"init"}).exitStatus, 0);
    info = Library({"info"});
    ASSERT_EQ(info.exitStatus, 0) << info.err;
    for (const char* line : {"Tracks:        0", "Store account: none set", "iPods:         none attached"})
        EXPECT_NE(info.out.find(line), std::string::npos) << line << " in\n" << info.out;

    EXPECT_EQ(Library({"account", "set", "not-an-address"}).exitStatus, 1);
    ASSERT_EQ(Library({"account", "set", "me@example.com"}).exitStatus, 0);
    EXPECT_NE(Library({"info", "--json"}).out.find("\"account\": \"me@example.com\""), std::string::npos);
    ASSERT_EQ(Library({"account", "clear"}).exitStatus, 0);
    EXPECT_NE(Library({"info", "--json"}).out.find("\"account\": null"), std::string::npos);
}

TEST_F(LibraryCommand, TracksComeInThroughEveryCommand)
{
    const std::string one = Song("Songs/one.mp3", "One", 1);
    Song("Songs/Sub/two.m4a", "Two", 2);
    fixtures::WriteFile(dir / "Songs/broken.mp3", std::string());

    ASSERT_EQ(Library({"playlist", "create", "Road \"Trip\""}).exitStatus, 0);
    EXPECT_EQ(Library({"playlist", "create", "road \"trip\""}).exitStatus, 1) << "names are unique";

    fixtures::CommandResult add = Library({"add", "--playlist", "Road \"Trip\"", one, dir / "nothing.mp3"});
    EXPECT_EQ(add.exitStatus, 1);
    EXPECT_NE(add.out.find("1 added, 0 already in the library, 1 could not be added"), std::string::npos)
        << add.out;

    fixtures::CommandResult import = Library({"import", dir / "Songs"});
    ASSERT_EQ(import.exitStatus, 0) << import.err;
    EXPECT_NE(import.out.find("1 added, 1 already in the library, 1 could not be read"), std::string::npos)
        << import.out;
    EXPECT_NE(import.err.find("broken.mp3"), std::string::npos) << import.err;

    fixtures::CommandResult tracks = Library({"tracks", "--json"});
    ASSERT_EQ(tracks.exitStatus, 0) << tracks.err;
    EXPECT_NE(tracks.out.find("\"name\": \"One\""), std::string::npos) << tracks.out;
    EXPECT_NE(tracks.out.find("\"name\": \"Two\""), std::string::npos) << tracks.out;
    EXPECT_LT(tracks.out.find("\"One\""), tracks.out.find("\"Two\""));
    fixtures::CommandResult inPlaylist = Library({"tracks", "--playlist", "road \"TRIP\""});
    EXPECT_NE(inPlaylist.out.find("One"), std::string::npos);
    EXPECT_EQ(inPlaylist.out.find("Two"), std::string::npos);
    EXPECT_EQ(Library({"tracks", "--playlist", "Nope"}).exitStatus, 1);

    fixtures::CommandResult playlists = Library({"playlists"});
    EXPECT_NE(playlists.out.find("Road \"Trip\"\t1 track\n"), std::string::npos) << playlists.out;
    EXPECT_NE(playlists.out.find("Library\t2 tracks\t(library)"), std::string::npos) << playlists.out;
    ASSERT_EQ(Library({"playlist", "delete", "Road \"Trip\""}).exitStatus, 0);
    EXPECT_EQ(Library({"playlist", "delete", "Library"}).exitStatus, 1);
    EXPECT_TRUE(std::filesystem::exists(one));
    EXPECT_NE(Library({"playlists"}).out.find("Library\t2 tracks"), std::string::npos);
}

TEST_F(LibraryCommand, ScriptPrintsTheReplyOrTheReason)
{
    fixtures::CommandResult version =
        Library({"script"}, "tell application \"iTunes\"\n get version\n end tell\n");
    EXPECT_EQ(version.exitStatus, 0) << version.err;
    EXPECT_EQ(version.out, "\"7.0\"\n");
    fixtures::CommandResult wrong =
        Library({"script", "-"}, "tell application \"iTunes\"\n get name of playlist \"x\"\n end tell\n");
    EXPECT_EQ(wrong.exitStatus, 1);
    EXPECT_EQ(wrong.out, "");
    EXPECT_NE(wrong.err.find("playlist \"x\""), std::string::npos) << wrong.err;
    fixtures::WriteFile(dir / "s.applescript",
                        std::string("tell application \"iTunes\"\n delete playlist \"Music\"\n end tell"));
    EXPECT_EQ(Library({"script", dir / "s.applescript"}).exitStatus, 1);
    EXPECT_EQ(Library({"script", dir / "missing.applescript"}).exitStatus, 2);
}

TEST_F(LibraryCommand, AnIPodIsAttachedOnlyUntilDetached)
{
    fixtures::MakeIPod(dir / "Volumes", "POD", {.name = "Jane's iPod"});
    EXPECT_EQ(Library({"attach-ipod", "Nobody's iPod"}).exitStatus, 1);
    ASSERT_EQ(Library({"attach-ipod", "jane's ipod"}).exitStatus, 0);
    EXPECT_EQ(Library({"attach-ipod", "POD"}).exitStatus, 1) << "attached already";
    fixtures::CommandResult info = Library({"info"});
    EXPECT_NE(info.out.find("iPod:          Jane's iPod (volume POD, mounted)"), std::string::npos)
        << info.out;
    fixtures::CommandResult sources = Library(
        {"script"}, "tell application \"iTunes\"\n name of every source whose kind = iPod\n end tell\n");
    EXPECT_EQ(sources.out, "{\"Jane's iPod\"}\n") << sources.err;
    ASSERT_EQ(Library({"detach-ipod", "Jane's iPod"}).exitStatus, 0);
    EXPECT_NE(Library({"info"}).out.find("none attached"), std::string::npos);
}

TEST_F(LibraryCommand, AnImportSaysItReadARetaggedFileAgain)
{
    Song("Drive/a.mp3", "Old Title", 1);
    ASSERT_EQ(Library({"import", dir / "Drive"}).exitStatus, 0);
    Song("Drive/a.mp3", "New Title, longer", 1);
    fixtures::CommandResult imported = Library({"import", dir / "Drive"});
    EXPECT_TRUE(Has(imported.out, "0 added, 1 already in the library (1 read again")) << imported.out;
    const auto tracks = Tracks();
    ASSERT_EQ(tracks.size(), 1u);
    ASSERT_GE(tracks[0].size(), 4u);
    EXPECT_EQ(tracks[0][3], "New Title, longer");
}
TEST_F(LibraryCommand, AFileTheLibraryHoldsIsNotAddedAgainByAnotherPath)
{
    const std::string a = Song("Music/a.mp3", "One", 1);
    ASSERT_EQ(Library({"add", a}).exitStatus, 0);
    fs::create_directories(dir / "Links");
    fs::create_symlink(a, dir / "Links/link.mp3");
    fs::create_directories(dir / "Hard");
    fs::create_hard_link(a, dir / "Hard/hard.mp3");
    fs::create_directory_symlink(dir / "Music", dir / "LinkedFolder");
    for (const char* folder : {"Links", "Hard", "LinkedFolder"}) {
        fixtures::CommandResult run = Library({"import", dir / folder});
        EXPECT_TRUE(Has(run.out, "0 added, 1 already in the library")) << folder << "\n"
                                                                       << run.out << run.err;
        EXPECT_EQ(Tracks().size(), 1u) << folder;
    }
}

TEST_F(LibraryCommand, APreferencesFileThatCannotBeReadWholeIsNeverRewritten)
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
            std::vector<std::string> args{"account", command};
            if (std::string(command) == "set")
                args.push_back("me@example.com");
            fixtures::CommandResult run = Library(args);
            EXPECT_EQ(run.exitStatus, 1) << c.what << " " << command;
            EXPECT_TRUE(Has(run.err, "left as it is")) << c.what << " " << command << "\n" << run.err;
            EXPECT_EQ(fixtures::ReadText(prefs), c.bytes) << c.what << " " << command;
        }
    }
}

TEST_F(LibraryCommand, RemovedSongsAreSaidToBeMovedOnlyWhenFilesWere)
{
    AttachIPod();
    Import({"One"});
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

TEST_F(LibraryCommand, AddingFilesCountsOnlyWhatWasAdded)
{
    AttachIPod();
    Song("Drive/a.mp3", "One", 1);
    Song("Drive/b.mp3", "Two", 2);
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

TEST_F(LibraryCommand, LibraryTracksKeepsEveryTrackOnOneRow)
{
    fixtures::SongSpec odd = fixtures::SongSpecOf("Tab\there", 1, 0, "Line\nbreak");
    odd.album = "Back\\slash";
    fixtures::WriteSong(dir / "Drive/a.mp3", odd);
    ASSERT_EQ(Library({"import", dir / "Drive"}).exitStatus, 0);
    const auto rows = Tracks();
    ASSERT_EQ(rows.size(), 1u);
    ASSERT_EQ(rows[0].size(), 5u);
    EXPECT_EQ(rows[0][1], "Line\\nbreak");
    EXPECT_EQ(rows[0][2], "Back\\\\slash");
    EXPECT_EQ(rows[0][3], "Tab\\there");
}

TEST_F(LibraryCommand, APlannedDeletionSaysWhichSideItDeletesFrom)
{
    AttachIPod();
    Import({"One"});
    ASSERT_EQ(Script("delete (every track of playlist \"Library\")").exitStatus, 0);
    fixtures::CommandResult plan = Sync({"--type", "make-ipod-equal", "--dry-run", "--allow-mass-deletion"});
    EXPECT_TRUE(Has(plan.out, "Delete")) << plan.out << plan.err;
    EXPECT_TRUE(Has(plan.out, "(from Pod)")) << plan.out;
}

// `library plays`: the plays the library recorded, exported since a date as JSON lines or CSV. (How
// plays come back from an iPod is checked on the library's side: PlaysBack.)
TEST_F(LibraryCommand, PlaysAreExportedSinceADateAsJsonLinesOrCsv)
{
    ASSERT_EQ(Library({"add", Song("Songs/One.mp3", "One", 0)}).exitStatus, 0);
    // Three plays recorded at 2026-12-13T09:46:40Z.
    const std::string track = " of first track of playlist \"Library\" whose name = \"One\"";
    ASSERT_EQ(
        Script("set played date" + track + " to 1797155200\n set played count" + track + " to 3").exitStatus,
        0);
    struct Case {
        std::vector<std::string> args;
        int exitStatus;
        std::string expected;
    };
    const std::string json = "{\"playedDate\": \"2026-12-13T09:46:40Z\", \"plays\": 3";
    for (const Case& c :
         {Case{{"--since", "2026-12-13"}, 0, json}, Case{{"--since", "2026-12-13T09:46:40Z"}, 0, json},
          Case{{"--since", "2026-12-13T09:46:41Z"}, 0, ""},
          Case{{"--since", "2026-12-01", "--csv"},
               0,
               "playedDate,plays,databaseID,artist,album,name\r\n2026-12-13T09:46:40Z,3,"},
          Case{{"--since", "yesterday"}, 2, ""}}) {
        std::vector<std::string> args{"plays"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const fixtures::CommandResult run = Library(args);
        EXPECT_EQ(run.exitStatus, c.exitStatus) << c.args[1] << run.err;
        if (c.expected.empty())
            EXPECT_EQ(run.out, "") << c.args[1];
        else
            EXPECT_EQ(run.out.rfind(c.expected, 0), 0u) << c.args[1] << ": " << run.out;
    }
}
