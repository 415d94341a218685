// The library's commands on a library with an iPod attached: what an import, an add and a sync
// say they did, `library tracks` one row a track, and a preferences file that cannot be read left
// as it is. (Which songs a sync through the library takes for the same song: LibraryMatch.)

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

class LibraryWithIPod : public ::testing::Test {
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
    // The library's tracks as `library tracks` prints them: one row of fields each.
    std::vector<std::vector<std::string>> Tracks()
    {
        fixtures::CommandResult run = Pelorin({"library", "tracks"});
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
            Song("Drive/" + std::to_string(i) + ".mp3", titles[i], "Artist", "Album",
                 static_cast<std::uint32_t>(i + 1));
        ASSERT_EQ(Pelorin({"library", "import", dir / "Drive"}).exitStatus, 0);
        const fixtures::CommandResult run = Sync({"--type", "copy-to-ipod"});
        ASSERT_TRUE(Has(run.out, "Copied " + std::to_string(titles.size()) + " song")) << run.out;
    }
    // Runs `body` as a script to the library's scripting stand-in.
    fixtures::CommandResult Script(const std::string& body)
    {
        return Pelorin({"library", "script"}, "tell application \"iTunes\"\n " + body + "\n end tell\n");
    }

    fixtures::TempDir dir;
};

} // namespace

TEST_F(LibraryWithIPod, AnImportSaysItReadARetaggedFileAgain)
{
    Song("Drive/a.mp3", "Old Title", "Artist", "Album", 1);
    ASSERT_EQ(Pelorin({"library", "import", dir / "Drive"}).exitStatus, 0);
    Song("Drive/a.mp3", "New Title, longer", "Artist", "Album", 1);
    fixtures::CommandResult imported = Pelorin({"library", "import", dir / "Drive"});
    EXPECT_TRUE(Has(imported.out, "0 added, 1 already in the library (1 read again")) << imported.out;
    const auto tracks = Tracks();
    ASSERT_EQ(tracks.size(), 1u);
    ASSERT_GE(tracks[0].size(), 4u);
    EXPECT_EQ(tracks[0][3], "New Title, longer");
}
TEST_F(LibraryWithIPod, AFileTheLibraryHoldsIsNotAddedAgainByAnotherPath)
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

TEST_F(LibraryWithIPod, APreferencesFileThatCannotBeReadWholeIsNeverRewritten)
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

TEST_F(LibraryWithIPod, RemovedSongsAreSaidToBeMovedOnlyWhenFilesWere)
{
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

TEST_F(LibraryWithIPod, AddingFilesCountsOnlyWhatWasAdded)
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

TEST_F(LibraryWithIPod, LibraryTracksKeepsEveryTrackOnOneRow)
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

TEST_F(LibraryWithIPod, APlannedDeletionSaysWhichSideItDeletesFrom)
{
    Import({"One"});
    ASSERT_EQ(Script("delete (every track of playlist \"Library\")").exitStatus, 0);
    fixtures::CommandResult plan = Sync({"--type", "make-ipod-equal", "--dry-run", "--allow-mass-deletion"});
    EXPECT_TRUE(Has(plan.out, "Delete")) << plan.out << plan.err;
    EXPECT_TRUE(Has(plan.out, "(from Pod)")) << plan.out;
}
