// pelorin ipods: what a user sees about the iPods under the volumes folder.

#include "ACommon/itunesdb/IPodDB.h"
#include "fixtures/IPodFixture.h"
#include "fixtures/RunCommand.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <sys/statvfs.h>

namespace {

fixtures::CommandResult RunIPods(const fixtures::TempDir& volumes, std::vector<std::string> args = {},
                                 std::vector<std::string> env = {})
{
    args.insert(args.begin(), "ipods");
    env.push_back("PELORIN_VOLUMES=" + volumes.Path());
    return fixtures::RunPelorin(args, "", env);
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

TEST(IPodsCommand, ListsEveryMountedIPod)
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
    EXPECT_TRUE(std::regex_search(out, std::regex("NAME .* CAPACITY +USED +FREE +SIGNING"))) << out;
    EXPECT_TRUE(std::regex_search(out, std::regex("Jane's iPod .* [0-9.]+ [kMG]B +[0-9.]+ [kMG]B +"))) << out;
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

TEST(IPodsCommand, JsonListsTheSameFacts)
{
    fixtures::TempDir volumes;
    const std::string root = fixtures::MakeIPod(volumes.Path(), "POD", {.name = "Quote \" Pod"});
    AddSongs(root, 2);
    fixtures::CommandResult result = RunIPods(volumes, {"--json"});
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    const std::string expected =
        "[\n {\"name\": \"Quote \\\" Pod\", \"volume\": \"POD\", \"path\": \"" + root +
        "\", \"model\": \"A147\", \"family\": 4, \"familyName\": \"iPod video\", "
        "\"capacityGB\": 60, \"songs\": 2, \"autoUpdate\": false, \"readOnly\": false, \"generation\": "
        "\"5th generation\", \"firewireGuid\": \"000A2700138A0000\", \"signing\": \"none\", \"sources\": "
        "{\"model\": \"SysInfo\", \"firewireGuid\": \"SysInfo\", \"signing\": \"model\"}, \"problems\": [], "
        "\"supported\": true}\n]\n";
    // The room on the volume is the test machine's, as the file system tells it.
    const std::regex room(", \"totalBytes\": ([0-9]+), \"usedBytes\": ([0-9]+), \"freeBytes\": ([0-9]+)");
    std::smatch found;
    ASSERT_TRUE(std::regex_search(result.out, found, room)) << result.out;
    struct statvfs info {};
    ASSERT_EQ(statvfs(volumes.Path().c_str(), &info), 0);
    EXPECT_EQ(std::stoull(found[1]), static_cast<unsigned long long>(info.f_blocks) * info.f_frsize);
    EXPECT_GE(std::stoull(found[1]), std::stoull(found[2]) + std::stoull(found[3]));
    EXPECT_GT(std::stoull(found[3]), 0u);
    EXPECT_EQ(std::regex_replace(result.out, room, ""), expected);
    std::filesystem::remove_all(root);
    EXPECT_EQ(RunIPods(volumes, {"--json"}).out, "[]\n");
    result = RunIPods(volumes);
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.out, "No iPod is mounted under " + volumes.Path() + ".\n");
}

// A classic's facts and where each came from; a GUID that only the USB device gives is enough to
// sign, and --write-identity keeps it in SysInfoExtended.
TEST(IPodsCommand, AClassicIsSupportedOnceItsGuidIsKnown)
{
    fixtures::TempDir volumes;
    const std::string root = fixtures::MakeIPod(
        volumes.Path(), "CLASSIC", {.name = "Big One", .modelNumStr = "MC293", .firewireGuid = ""});
    fixtures::CommandResult result = RunIPods(volumes);
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    const std::size_t at = result.out.find("Big One");
    ASSERT_NE(at, std::string::npos) << result.out;
    const std::string line = result.out.substr(at, result.out.find('\n', at) - at);
    for (const char* part : {"C293", "iPod classic, 7th generation", "160 GB", "hash58", "not supported"})
        EXPECT_NE(line.find(part), std::string::npos) << part << " in " << line;
    EXPECT_NE(
        result.out.find("\"CLASSIC\" is not supported: This iPod classic (7th generation), model MC293 "
                        "needs its FireWire GUID to sign its music database, and neither SysInfo nor "
                        "SysInfoExtended holds it; run `pelorin ipods --write-identity CLASSIC` while it "
                        "is connected by USB."),
        std::string::npos)
        << result.out;

    const std::string sysfs = fixtures::MakeUsbDevice(volumes / "sys", root, "05ac", "000A270018A1B2C3");
    const std::vector<std::string> env{"PELORIN_SYSFS=" + sysfs};
    result = RunIPods(volumes, {}, env);
    EXPECT_NE(result.out.find("read-write"), std::string::npos) << result.out;
    EXPECT_NE(
        result.out.find("\"CLASSIC\": model MC293 (from SysInfo), FireWire GUID 000A270018A1B2C3 (from USB "
                        "serial number), signing hash58 (from the model)."),
        std::string::npos)
        << result.out;
    EXPECT_NE(
        result.out.find("\"CLASSIC\" gives its FireWire GUID only while connected by USB; `pelorin ipods "
                        "--write-identity CLASSIC` keeps it in SysInfoExtended."),
        std::string::npos)
        << result.out;
    EXPECT_NE(RunIPods(volumes, {"--json"}, env).out.find("\"problems\": [], \"supported\": true"),
              std::string::npos);

    result = RunIPods(volumes, {"--write-identity", "Big One"}, env);
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    const std::string extended = fixtures::ReadText(root + "/iPod_Control/Device/SysInfoExtended");
    for (const char* part : {"<key>FireWireGUID</key>", "<string>000A270018A1B2C3</string>",
                             "<key>DBVersion</key>", "<integer>3</integer>", "<string>MC293</string>"})
        EXPECT_NE(extended.find(part), std::string::npos) << part << " in " << extended;
    // Without the USB device now: the file says it.
    result = RunIPods(volumes);
    EXPECT_NE(result.out.find(
                  "FireWire GUID 000A270018A1B2C3 (from SysInfoExtended), signing hash58 (from DBVersion "
                  "in SysInfoExtended)"),
              std::string::npos)
        << result.out;
    // A second write leaves the file as it is.
    result = RunIPods(volumes, {"--write-identity", "CLASSIC"});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_NE(result.err.find("has a SysInfoExtended already"), std::string::npos) << result.err;
}

TEST(IPodsCommand, WriteIdentityWithoutAGuidWritesNothing)
{
    fixtures::TempDir volumes;
    const std::string root =
        fixtures::MakeIPod(volumes.Path(), "CLASSIC", {.modelNumStr = "MB029", .firewireGuid = ""});
    fixtures::CommandResult result = RunIPods(volumes, {"--write-identity", "CLASSIC"});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_NE(result.err.find("Connect the iPod by USB"), std::string::npos) << result.err;
    EXPECT_FALSE(std::filesystem::exists(root + "/iPod_Control/Device/SysInfoExtended"));
    EXPECT_EQ(RunIPods(volumes, {"--write-identity", "NOSUCH"}).exitStatus, 2);
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
