// pelorin demo: the demonstration iPod and songs a user gets to try Pelorin out.

#include "ACommon/itunesdb/IPodDB.h"
#include "ACommon/itunesdb/IPodInfo.h"
#include "ACommon/itunesdb/IPodSigning.h"
#include "ACommon/tags/ID3.h"
#include "ACommon/tags/SongInfoStruct.h"
#include "cli/DemoFiles.h"
#include "fixtures/RunCommand.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

TEST(DemoCommand, MakesSongsThatReadBackAsCatalogued)
{
    fixtures::TempDir folder;
    fixtures::CommandResult made = fixtures::RunPelorin({"demo", folder.Path()});
    ASSERT_EQ(made.exitStatus, 0) << made.err;

    const std::vector<cli::demo::DemoSong> catalogue = cli::demo::Catalogue();
    std::set<std::string> extensions;
    for (const cli::demo::DemoSong& song : catalogue) {
        extensions.insert(song.extension);
        const std::string path =
            folder / ("Songs/" + song.artist + "/" + song.album + "/" + cli::demo::SongFileName(song));
        ID3 tags;
        ASSERT_EQ(tags.SetFilePath(AString::FromUTF8(path)), 0) << path;
        SongInfoStruct info;
        tags.GetSongInfo(info);
        EXPECT_EQ((info.name + "|" + info.artist + "|" + info.album + "|" + info.genre).ToStdString(),
                  song.title + "|" + song.artist + "|" + song.album + "|" + song.genre);
        EXPECT_EQ(info.trackNumber, song.track);
        EXPECT_EQ(info.duration, song.seconds) << path;
        EXPECT_NEAR(info.bitRate, 128, 2) << path;
    }
    EXPECT_EQ(extensions, (std::set<std::string>{"m4a", "mp3"}));
}

TEST(DemoCommand, RefusesToMakeItAgainOverAnEarlierOne)
{
    fixtures::TempDir folder;
    ASSERT_EQ(fixtures::RunPelorin({"demo", folder.Path()}).exitStatus, 0);
    fixtures::CommandResult again = fixtures::RunPelorin({"demo", folder.Path()});
    EXPECT_EQ(again.exitStatus, 1);
    EXPECT_NE(again.err.find("exists already"), std::string::npos) << again.err;
}

// The classic the demonstration makes is synced through the library, and its database comes out
// signed with its GUID; the second sync finds nothing to do and leaves the signature good.
TEST(DemoCommand, AClassicIsSyncedThroughTheLibrary)
{
    fixtures::TempDir folder;
    fixtures::CommandResult made = fixtures::RunPelorin({"demo", folder.Path(), "--model", "classic"});
    ASSERT_EQ(made.exitStatus, 0) << made.err;
    EXPECT_NE(made.out.find("MC293"), std::string::npos) << made.out;
    const std::vector<std::string> env{"PELORIN_VOLUMES=" + folder / "Volumes",
                                       "PELORIN_LIBRARY=" + folder / "Library",
                                       "XDG_DATA_HOME=" + folder / "data"};
    const std::string root = folder / "Volumes/DEMOPOD";
    AString r = AString::FromUTF8(root);
    IPodInfo info;
    ASSERT_EQ(IPodDB::GetIPodInfo(&r, &info), 0);
    IPodSigning::Guid guid{};
    ASSERT_TRUE(IPodSigning::ParseGuid(info.firewireGuid, &guid)) << info.firewireGuid.ToStdString();
    for (const char* expected : {"Copied 39 songs", "Copied 0 songs"}) {
        fixtures::CommandResult sync =
            fixtures::RunPelorin({"sync", "--type", "copy-to-ipod", "--yes"}, "", env);
        EXPECT_EQ(sync.exitStatus, 0) << sync.err;
        EXPECT_NE(sync.out.find(expected), std::string::npos) << sync.out;
        EXPECT_TRUE(IPodSigning::HasHash58(fixtures::ReadFile(root + "/iPod_Control/iTunes/iTunesDB"), guid));
    }
    EXPECT_EQ(fixtures::RunPelorin({"demo", folder / "other", "--model", "mini"}).exitStatus, 2);
}

// Through the library too, an iPod classic whose GUID is unknown is refused before anything is
// copied onto it.
TEST(DemoCommand, AClassicWithoutItsGuidIsRefusedThroughTheLibraryBeforeAnythingChanges)
{
    fixtures::TempDir folder;
    ASSERT_EQ(fixtures::RunPelorin({"demo", folder.Path(), "--model", "classic"}).exitStatus, 0);
    const std::string root = folder / "Volumes/DEMOPOD";
    fixtures::WriteFile(root + "/iPod_Control/Device/SysInfo", std::string("ModelNumStr: MC293\n"));
    const auto files = fixtures::ListFiles(root);
    const auto database = fixtures::ReadFile(root + "/iPod_Control/iTunes/iTunesDB");
    fixtures::CommandResult sync =
        fixtures::RunPelorin({"sync", "--type", "copy-to-ipod", "--yes"}, "",
                             {"PELORIN_VOLUMES=" + folder / "Volumes",
                              "PELORIN_LIBRARY=" + folder / "Library", "XDG_DATA_HOME=" + folder / "data"});
    EXPECT_EQ(sync.exitStatus, 1);
    EXPECT_NE(sync.err.find("needs its FireWire GUID"), std::string::npos) << sync.err;
    EXPECT_NE(sync.err.find("Nothing was changed."), std::string::npos) << sync.err;
    EXPECT_EQ(fixtures::ListFiles(root), files);
    EXPECT_EQ(fixtures::ReadFile(root + "/iPod_Control/iTunes/iTunesDB"), database);
}
