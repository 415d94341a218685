// `pelorin tool`, `pelorin add` and `pelorin settings` on folders and a fake volumes folder: what
// they change, what they refuse, and the settings they keep in the iPod's state file.

#include "ACommon/itunesdb/ArtworkDB.h"
#include "ACommon/itunesdb/IPodArtwork.h"
#include "ACommon/itunesdb/IPodDB.h"
#include "ACommon/itunesdb/MHBD.h"
#include "ACommon/itunesdb/MHIT.h"
#include "ACommon/itunesdb/MHLT.h"
#include "ACommon/sync/ASyncGroup.h"
#include "ACommon/sync/ASyncLib.h"
#include "ACommon/sync/SyncSession.h"
#include "ACommon/tags/ID3.h"
#include "fixtures/IPodFixture.h"
#include "fixtures/MusicFiles.h"
#include "fixtures/Pictures.h"
#include "fixtures/RunCommand.h"
#include "fixtures/TempDir.h"
#include "fixtures/Text.h"

#include <gtest/gtest.h>

#include <filesystem>

using fixtures::Has;

namespace {

struct World {
    fixtures::CommandResult Run(const std::vector<std::string>& args) const
    {
        return fixtures::RunPelorin(args, "", fixtures::EnvironmentIn(tmp.Path()));
    }
    fixtures::TempDir tmp;
};

} // namespace

// The iPod shows covers from its own database: the tool gives the iPod's tracks without a cover the
// one their file holds.
TEST(ToolCommand, AlbumArtOnTheIPodGivesItsTracksWithoutACoverTheirFilesCover)
{
    World world;
    const std::string root = fixtures::MakeIPod(world.tmp / "Volumes", "POD");
    {
        // Stored before its file was there, so the track has no cover yet.
        IPodDB db;
        AString r = AString::FromUTF8(root);
        ASSERT_EQ(db.Load(&r, 1, nullptr, nullptr), 0);
        SongInfoStruct song =
            fixtures::MakeSong("Song", "Artist", "Album", "Rock", "/iPod_Control/Music/F00/S.mp3");
        MHIT* track = nullptr;
        ASSERT_EQ(db.AddSong(song, &track, 1), 0);
        track->SetFilepath(song.filePath);
        ASSERT_EQ(db.Store(nullptr), 0);
    }
    fixtures::SongSpec tags = fixtures::SongSpecOf("Song");
    tags.picture = fixtures::MakeGradientPng(64, 64);
    fixtures::WriteSong(root + "/iPod_Control/Music/F00/S.mp3", tags);
    EXPECT_FALSE(fixtures::Exists(root + "/iPod_Control/Artwork/ArtworkDB"));

    const fixtures::CommandResult result = world.Run({"tool", "album-art", "--side", "ipod", "--yes"});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_TRUE(Has(result.out, "1 given album art")) << result.out;
    ArtworkDB art;
    ASSERT_EQ(art.Parse(fixtures::ReadFile(root + "/iPod_Control/Artwork/ArtworkDB")), 0);
    ASSERT_EQ(art.Images().size(), 1u);
    IPodDB db;
    AString r = AString::FromUTF8(root);
    ASSERT_EQ(db.Load(&r, 1, nullptr, nullptr), 0);
    db.GetDatabase()->GetTrackList()->ForEachTrack([&](MHIT& track) {
        EXPECT_EQ(track.GetByte(IPodArtwork::kOffsetHasArtwork), 1);
        EXPECT_EQ(track.GetField(IPodArtwork::kOffsetImageLink), art.Images()[0].id);
    });
}

TEST(ToolCommand, BadSidesAreRefused)
{
    World world;
    struct Case {
        std::vector<std::string> args;
        int exitStatus;
        const char* says;
    };
    for (const Case& c : {Case{{"tool", "orphans", "--side", "ipod", "--yes"}, 1, "no iPod is mounted"},
                          Case{{"tool", "orphans", "--side", "/no/such/folder", "--yes"}, 2, "--side"},
                          Case{{"tool", "sideways", "--side", "ipod"}, 2, "sideways"},
                          Case{{"settings", "set", "no-such-key", "1"}, 1, "no iPod"}}) {
        fixtures::CommandResult result = world.Run(c.args);
        EXPECT_EQ(result.exitStatus, c.exitStatus) << c.args[1] << result.err;
        EXPECT_TRUE(Has(result.err, c.says)) << result.err;
    }
}

TEST(ToolCommand, SettingsAreKeptInTheIPodsStateFile)
{
    World world;
    fixtures::MakeIPod(world.tmp / "Volumes", "POD");
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"settings", "set", "genre-include", "Rock:Jazz"},
          {"settings", "remove", "genre-include", "Rock"},
          {"settings", "remove", "genre-include", "jazz"},
          {"settings", "add", "path-include", "/Music/Live/"},
          {"settings", "set", "verbose-log", "on"}}) {
        fixtures::CommandResult result = world.Run(args);
        ASSERT_EQ(result.exitStatus, 0) << args[1] << result.err;
    }
    EXPECT_EQ(world.Run({"settings", "set", "verbose-log", "maybe"}).exitStatus, 2);

    ASyncGroup group;
    const AString state = AString::FromUTF8(world.tmp / "data/Veltrano/Ondrivel/Test iPod_PODDB.snc");
    ASSERT_EQ(group.ReadSyncState(&state), 0);
    auto* sync = dynamic_cast<ASyncLib*>(group.GetSync(0));
    ASSERT_NE(sync, nullptr);
    EXPECT_EQ(sync->GetGenreIncludeFilter()->ToStdString(), "");
    EXPECT_EQ(sync->GetPathIncludeFilter()->ToStdString(), ":/Music/Live/:");
    EXPECT_EQ(sync->GetVerboseLog(), 1);
}

TEST(ToolCommand, ConversionSettingsOfASyncStandUntilTheCommandLineChangesThem)
{
    World world;
    fixtures::MakeIPod(world.tmp / "Volumes", "POD");
    fixtures::WriteSong(world.tmp / "Songs/One.mp3", fixtures::SongSpecOf("One"));
    auto settings = [&world] { return world.Run({"settings", "show"}).out; };
    struct Step {
        std::vector<std::string> extra;
        const char* kbps;
        const char* always;
    };
    for (const Step& step : {Step{{"--aac-kbps", "128", "--always-aac"}, "128", "on"},
                             {{}, "128", "on"},
                             {{"--no-always-aac"}, "128", "off"},
                             {{"--aac-kbps", "192"}, "192", "off"}}) {
        std::vector<std::string> args{"sync",   "--from",       world.tmp / "Songs",
                                      "--type", "copy-to-ipod", "--yes"};
        args.insert(args.end(), step.extra.begin(), step.extra.end());
        fixtures::CommandResult run = world.Run(args);
        ASSERT_EQ(run.exitStatus, 0) << run.err;
        const std::string shown = settings();
        EXPECT_TRUE(Has(shown, std::string("aac-kbps                   ") + step.kbps)) << shown;
        EXPECT_TRUE(Has(shown, std::string("always-aac                 ") + step.always)) << shown;
    }
    EXPECT_EQ(world.Run({"settings", "set", "aac-kbps", "400"}).exitStatus, 2);
}

TEST(ToolCommand, EveryToolOnTheLibraryChangesWhatItFinds)
{
    World world;
    for (const char* title : {"One", "Two", "Three"})
        fixtures::WriteSong(world.tmp / (std::string("Songs/") + title + ".mp3"),
                            fixtures::SongSpecOf(title, title[1]));
    ASSERT_EQ(world.Run({"library", "init"}).exitStatus, 0);
    // Adding files asks nothing, so it runs without a terminal and without --yes.
    fixtures::CommandResult added = world.Run({"add", "--to", "library", world.tmp / "Songs"});
    ASSERT_EQ(added.exitStatus, 0) << added.err;
    EXPECT_TRUE(Has(world.Run({"library", "info"}).out, "Tracks:        3"));
    ASSERT_EQ(world.Run({"library", "playlist", "create", "Mix"}).exitStatus, 0);

    // One song's file gone; one song file in the music folder that the library does not hold; a
    // picture beside the songs of the album.
    const std::string music = world.tmp / "Library/iTunes Music";
    const std::vector<std::string> files = fixtures::ListFiles(music);
    ASSERT_EQ(files.size(), 3u);
    std::filesystem::remove(music + "/" + files[0]);
    fixtures::WriteSong(music + "/Loose.mp3", fixtures::SongSpecOf("Loose", 7));
    const std::string album = music + "/" + files[1].substr(0, files[1].rfind('/'));
    fixtures::WriteFile(album + "/cover.jpg", fixtures::FakeJpeg(3000));

    struct Case {
        const char* tool;
        int exitStatus;
        const char* says;
    };
    for (const Case& c : {Case{"orphans", 0, "Orphan Scan Complete. 1 found, 1 removed."},
                          Case{"disconnected", 0, "Disconnected Files Scan Complete. 1 found, 1 added."},
                          Case{"duplicates", 0, "Duplicate Songs Scan Complete. 0 found"},
                          Case{"album-art", 0, "Add Album Art to Music Files Complete."},
                          Case{"not-owned", 1, "pelorin library account set"}}) {
        // The playlist chosen in the window is no limit: the tools work on the whole library.
        fixtures::CommandResult result =
            world.Run({"tool", c.tool, "--side", "library", "--playlist", "Mix", "--yes"});
        EXPECT_EQ(result.exitStatus, c.exitStatus) << c.tool << result.err;
        EXPECT_TRUE(Has(result.out + result.err, c.says)) << c.tool << result.out << result.err;
    }
    const std::string tracks = world.Run({"library", "tracks"}).out;
    EXPECT_TRUE(Has(tracks, "Loose")) << tracks;
    EXPECT_FALSE(fixtures::Exists(music + "/Loose.mp3"));
    EXPECT_TRUE(Has(world.Run({"library", "info"}).out, "Tracks:        3"));
    ID3 tags;
    ASSERT_EQ(tags.SetFilePath(AString::FromUTF8(music + "/" + files[1])), 0);
    EXPECT_EQ(tags.GetImageCount(), 1);
}

// On a folder the tool finds the duplicates the scan of the folder finds, and says which folder it
// looks in.
TEST(ToolCommand, DuplicatesOnAFolderFindWhatTheScanFinds)
{
    World world;
    const std::string songs = world.tmp / "Songs";
    fixtures::WriteSong(songs + "/one.mp3", fixtures::SongSpecOf("One"));
    fixtures::WriteSong(songs + "/one 1.mp3", fixtures::SongSpecOf("One", 1));
    fixtures::WriteSong(songs + "/two.mp3", fixtures::SongSpecOf("Two"));
    const fixtures::CommandResult scan = world.Run({"scan", "duplicates", songs});
    EXPECT_TRUE(Has(scan.out, "1 duplicate song found among 3 songs")) << scan.out << scan.err;
    const fixtures::CommandResult tool = world.Run({"tool", "duplicates", "--side", songs, "--yes"});
    EXPECT_EQ(tool.exitStatus, 0) << tool.err;
    EXPECT_TRUE(Has(tool.out, "Looking for Duplicated Songs: " + songs + "...")) << tool.out;
    EXPECT_FALSE(Has(tool.out, "Library")) << tool.out;
    EXPECT_TRUE(Has(tool.out, "1 found, 1 removed.")) << tool.out;
}
