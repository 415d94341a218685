// pelorin ipods: what a user sees about the iPods under the volumes folder.

#include "ACommon/itunesdb/IPodDB.h"
#include "fixtures/IPodFixture.h"
#include "fixtures/RunCommand.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

fixtures::CommandResult RunIPods(const fixtures::TempDir& volumes, std::vector<std::string> args = {})
{
    args.insert(args.begin(), "ipods");
    return fixtures::RunPelorin(args, "", {"PELORIN_VOLUMES=" + volumes.Path()});
}

void AddSongs(const std::string& root, int count)
{
    IPodDB db;
    AString r = AString::FromUTF8(root);
    ASSERT_EQ(db.Load(&r, 1, nullptr, nullptr), 0);
    for (int i = 0; i < count; ++i) {
        SongInfoStruct song = fixtures::MakeSong("Song " + std::to_string(i * 11), "Artist", "Album", "Rock",
                                                 "/iPod_Control/Music/F00/S" + std::to_string(i) + ".mp3");
        ASSERT_EQ(db.AddSong(song, nullptr, 1), 0);
    }
    ASSERT_EQ(db.Store(nullptr), 0);
}

} // namespace

TEST(IPodsCommand, ListsEveryMountedIPodWithWhatItIsAndHoldsAndShowsADamagedDatabase)
{
    fixtures::TempDir volumes;
    const std::string video =
        fixtures::MakeIPod(volumes.Path(), "VIDEOPOD", {.name = "Jane's iPod", .modelNumStr = "MA147"});
    AddSongs(video, 3);
    fixtures::MakeIPod(volumes.Path(), "NANO",
                       {.name = "Little One", .modelNumStr = "MA099", .autoUpdate = true});
    std::filesystem::create_directories(volumes / "USBSTICK/Documents");
    const std::string broken = fixtures::MakeIPod(volumes.Path(), "BROKEN");
    fixtures::WriteFile(fixtures::DatabasePath(broken), std::string("not a database at all"));

    fixtures::CommandResult result = RunIPods(volumes);
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    const std::string& out = result.out;
    EXPECT_NE(out.find("NAME"), std::string::npos);
    EXPECT_EQ(out.find("USBSTICK"), std::string::npos);
    // One line per iPod, in volume order.
    const size_t nano = out.find("Little One");
    const size_t jane = out.find("Jane's iPod");
    ASSERT_NE(nano, std::string::npos) << out;
    ASSERT_NE(jane, std::string::npos) << out;
    EXPECT_LT(nano, jane);
    const std::string nanoLine = out.substr(nano, out.find('\n', nano) - nano);
    const std::string janeLine = out.substr(jane, out.find('\n', jane) - jane);
    for (const char* part : {"NANO", "A099", "iPod nano", "2 GB", " 0 ", " on ", "read-write"})
        EXPECT_NE(nanoLine.find(part), std::string::npos) << part << " in " << nanoLine;
    for (const char* part : {"VIDEOPOD", "A147", "iPod video", "60 GB", " 3 ", " off ", "read-write"})
        EXPECT_NE(janeLine.find(part), std::string::npos) << part << " in " << janeLine;
    EXPECT_NE(out.find("\"NANO\" updates itself automatically"), std::string::npos) << out;
    EXPECT_NE(out.find("BROKEN"), std::string::npos) << out;
    EXPECT_NE(out.find("(unreadable database)"), std::string::npos) << out;
}

TEST(IPodsCommand, JsonListsTheSameFactsAndNoIPodIsSaidSo)
{
    fixtures::TempDir volumes;
    const std::string root = fixtures::MakeIPod(volumes.Path(), "POD", {.name = "Quote \" Pod"});
    AddSongs(root, 2);
    fixtures::CommandResult result = RunIPods(volumes, {"--json"});
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    const std::string expected =
        "[\n {\"name\": \"Quote \\\" Pod\", \"volume\": \"POD\", \"path\": \"" + root +
        "\", \"model\": \"A147\", \"family\": 4, \"familyName\": \"iPod video\", "
        "\"capacityGB\": 60, \"songs\": 2, \"autoUpdate\": false, \"readOnly\": false, \"supported\": "
        "true}\n]\n";
    EXPECT_EQ(result.out, expected);
    std::filesystem::remove_all(root);
    EXPECT_EQ(RunIPods(volumes, {"--json"}).out, "[]\n");
    result = RunIPods(volumes);
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.out, "No iPod is mounted under " + volumes.Path() + ".\n");
}

TEST(IPodsCommand, AnIPodThatChecksASignatureIsShownAsNotSupportedAndIsNotSynced)
{
    fixtures::TempDir volumes;
    const std::string root = fixtures::MakeIPod(volumes.Path(), "CLASSIC",
                                                {.name = "Big One", .modelNumStr = "MB029", .later = true});
    fixtures::CommandResult result = RunIPods(volumes);
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    const std::size_t at = result.out.find("Big One");
    ASSERT_NE(at, std::string::npos) << result.out;
    const std::string line = result.out.substr(at, result.out.find('\n', at) - at);
    EXPECT_NE(line.find("B029"), std::string::npos) << line;
    EXPECT_NE(line.find("not supported"), std::string::npos) << line;
    EXPECT_NE(result.out.find("\"CLASSIC\" is not supported: it checks its music database with a signature"),
              std::string::npos)
        << result.out;
    EXPECT_NE(RunIPods(volumes, {"--json"}).out.find("\"supported\": false"), std::string::npos);

    std::filesystem::create_directories(volumes / "../Songs");
    const auto listing = fixtures::ListFiles(root);
    const auto database = fixtures::ReadFile(fixtures::DatabasePath(root));
    fixtures::CommandResult sync =
        fixtures::RunPelorin({"sync", "--from", volumes / "../Songs", "--type", "copy-to-ipod", "--yes"}, "",
                             {"PELORIN_VOLUMES=" + volumes.Path(), "XDG_DATA_HOME=" + volumes / "../data"});
    EXPECT_EQ(sync.exitStatus, 1);
    EXPECT_NE(
        sync.err.find("This iPod (model MB029, an iPod classic or an iPod nano of the 3rd generation or "
                      "later) checks its music database with a signature that Pelorin cannot make yet; "
                      "syncing would leave it showing no songs. Nothing was changed."),
        std::string::npos)
        << sync.err;
    EXPECT_EQ(fixtures::ListFiles(root), listing);
    EXPECT_EQ(fixtures::ReadFile(fixtures::DatabasePath(root)), database);
}

// A database whose head reads but whose records do not add up is what a run refuses: it is shown
// as unreadable, with the reason, not by the song count of its head.
TEST(IPodsCommand, ADatabaseDamagedPastItsHeadIsShownUnreadableWithTheReason)
{
    fixtures::TempDir volumes;
    const std::string root = fixtures::MakeIPod(volumes.Path(), "DAMAGED", {.name = "Counted"});
    AddSongs(root, 3);
    auto bytes = fixtures::ReadFile(fixtures::DatabasePath(root));
    const std::string tag = "mhlt";
    const auto list = std::search(bytes.begin(), bytes.end(), tag.begin(), tag.end()) - bytes.begin();
    fixtures::itdb::PutU32(bytes, static_cast<std::size_t>(list) + 8, 1);
    fixtures::WriteFile(fixtures::DatabasePath(root), bytes);

    const fixtures::CommandResult result = RunIPods(volumes);
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    const std::size_t at = result.out.find("(unreadable database)");
    ASSERT_NE(at, std::string::npos) << result.out;
    const std::string line = result.out.substr(at, result.out.find('\n', at) - at);
    EXPECT_NE(line.find(" ? "), std::string::npos) << line;
    EXPECT_NE(result.out.find("\"DAMAGED\" has an unreadable database: the iPod's database " +
                              fixtures::DatabasePath(root) +
                              " is damaged and cannot be read (its track list counts 1 tracks, but more "
                              "records follow them)"),
              std::string::npos)
        << result.out;
    EXPECT_NE(RunIPods(volumes, {"--json"}).out.find("\"songs\": null"), std::string::npos);
}

// An iPod no application has set up yet (no database) is not taken for no iPod at all.
TEST(IPodsCommand, AnIPodWithoutADatabaseIsSaidSo)
{
    fixtures::TempDir volumes;
    const std::string root = fixtures::MakeIPod(volumes.Path(), "FRESH");
    std::filesystem::remove(fixtures::DatabasePath(root));
    const fixtures::CommandResult result = RunIPods(volumes);
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_NE(result.out.find("\"FRESH\" holds an iPod_Control folder but no music database yet"),
              std::string::npos)
        << result.out;
}
