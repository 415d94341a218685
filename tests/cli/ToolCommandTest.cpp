// `pelorin tool`, `pelorin add` and `pelorin settings` on folders and a fake volumes folder: what
// they change, what they refuse, and the settings they keep in the iPod's state file.

#include "ACommon/sync/ASyncGroup.h"
#include "ACommon/sync/ASyncLib.h"
#include "ACommon/sync/SyncSession.h"
#include "ACommon/tags/ID3.h"
#include "fixtures/IPodFixture.h"
#include "fixtures/MusicFiles.h"
#include "fixtures/RunCommand.h"
#include "fixtures/TempDir.h"
#include "fixtures/Text.h"

#include <gtest/gtest.h>

using fixtures::Has;

namespace {

struct World {
    fixtures::CommandResult Run(const std::vector<std::string>& args) const
    {
        return fixtures::RunPelorin(args, "",
                                    {"PELORIN_VOLUMES=" + tmp / "Volumes", "XDG_DATA_HOME=" + tmp / "data",
                                     "HOME=" + tmp / "home", "PELORIN_LIBRARY=" + tmp / "library"});
    }
    fixtures::TempDir tmp;
};

} // namespace

TEST(ToolCommand, AlbumArtOnAFolderWritesTheFoldersPictureIntoItsSongs)
{
    World world;
    fixtures::WriteSong(world.tmp / "Music/A/Song.mp3", fixtures::SongSpecOf("Song"));
    fixtures::WriteFile(world.tmp / "Music/A/Folder.jpg", fixtures::FakeJpeg(4000));
    fixtures::CommandResult dry =
        world.Run({"tool", "album-art", "--side", world.tmp / "Music", "--dry-run"});
    EXPECT_EQ(dry.exitStatus, 0) << dry.err;
    fixtures::CommandResult result = world.Run({"tool", "album-art", "--side", world.tmp / "Music", "--yes"});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_TRUE(Has(result.out, "Add Album Art to Music Files Complete. 1 found, 1 given album art."))
        << result.out;
    ID3 tags;
    ASSERT_EQ(tags.SetFilePath(world.tmp.A("Music/A/Song.mp3")), 0);
    EXPECT_EQ(tags.GetImageCount(), 1);
}

TEST(ToolCommand, BadSidesAndMissingIPodsAreRefused)
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

TEST(ToolCommand, SettingsAreKeptInTheIPodsStateFileAndAnEmptiedListIsNoFilter)
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
