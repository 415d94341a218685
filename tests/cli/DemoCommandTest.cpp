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
    // Not made again over an earlier one.
    fixtures::CommandResult again = fixtures::RunPelorin({"demo", folder.Path()});
    EXPECT_EQ(again.exitStatus, 1);
    EXPECT_NE(again.err.find("exists already"), std::string::npos) << again.err;
}

TEST(DemoCommand, MakesAClassicWithItsGuidOnRequest)
{
    fixtures::TempDir folder;
    fixtures::CommandResult made = fixtures::RunPelorin({"demo", folder.Path(), "--model", "classic"});
    ASSERT_EQ(made.exitStatus, 0) << made.err;
    EXPECT_NE(made.out.find("MC293"), std::string::npos) << made.out;
    AString root = AString::FromUTF8(folder / "Volumes/DEMOPOD");
    IPodInfo info;
    ASSERT_EQ(IPodDB::GetIPodInfo(&root, &info), 0);
    IPodSigning::Guid guid{};
    EXPECT_TRUE(IPodSigning::ParseGuid(info.firewireGuid, &guid)) << info.firewireGuid.ToStdString();
    EXPECT_EQ(fixtures::RunPelorin({"demo", folder / "other", "--model", "mini"}).exitStatus, 2);
}
