// pelorin library: the embedded music library from the terminal.

#include "fixtures/IPodFixture.h"
#include "fixtures/MusicFiles.h"
#include "fixtures/RunCommand.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

class LibraryCommand : public ::testing::Test {
protected:
    fixtures::CommandResult Library(std::vector<std::string> args, const std::string& input = std::string())
    {
        args.insert(args.begin(), "library");
        return fixtures::RunPelorin(
            args, input, {"PELORIN_LIBRARY=" + dir / "Music/iTunes", "PELORIN_VOLUMES=" + dir / "Volumes"});
    }
    std::string Song(const std::string& relative, const std::string& title)
    {
        fixtures::SongSpec tags;
        tags.title = title;
        tags.artist = "Artist";
        fixtures::WriteSong(dir / relative, tags);
        return dir / relative;
    }

    fixtures::TempDir dir;
};

} // namespace

TEST_F(LibraryCommand, InfoDescribesANewLibrary)
{
    fixtures::CommandResult info = Library({"info"});
    EXPECT_EQ(info.exitStatus, 1) << "no library yet";
    EXPECT_NE(info.err.find("pelorin library init"), std::string::npos) << info.err;
    std::filesystem::create_directories(dir / "Music");

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
    std::filesystem::create_directories(dir / "Music");
    const std::string one = Song("Songs/one.mp3", "One");
    Song("Songs/Sub/two.m4a", "Two");
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
    std::filesystem::create_directories(dir / "Music");
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
    std::filesystem::create_directories(dir / "Music");
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
