// Finding the iPods under the volumes root: which folders count, what is read of each, and
// choosing one by the name a user types.

#include "ACommon/itunesdb/MountedIPod.h"

#include "fixtures/IPodFixture.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>

TEST(MountedIPod, FindsEveryIPodInVolumeOrder)
{
    fixtures::TempDir volumes;
    fixtures::MakeIPod(volumes.Path(), "POD_B",
                       {.name = "Beta", .firewireGuid = "0x000A27001111AAAA", .autoUpdate = true});
    fixtures::MakeIPod(volumes.Path(), "POD_A", {.name = "Alpha", .modelNumStr = ""});
    const std::string broken = fixtures::MakeIPod(volumes.Path(), "BROKEN");
    fixtures::WriteFile(fixtures::DatabasePath(broken), std::string("not a database"));
    std::filesystem::create_directories(volumes / "USBSTICK/Documents");

    const std::vector<MountedIPod> pods = MountedIPod::FindAll(volumes.A());
    ASSERT_EQ(pods.size(), 3u);
    EXPECT_EQ(pods[0].volume, "BROKEN");
    EXPECT_FALSE(pods[0].databaseRead);
    EXPECT_EQ(pods[1].volume, "POD_A");
    EXPECT_EQ(pods[1].mountPoint, volumes.A("POD_A"));
    EXPECT_EQ(pods[1].name, "Alpha");
    EXPECT_FALSE(pods[1].infoRead); // no SysInfo
    EXPECT_EQ(pods[1].autoUpdate, std::optional<bool>(false));
    EXPECT_EQ(pods[2].name, "Beta");
    EXPECT_TRUE(pods[2].databaseRead);
    EXPECT_EQ(pods[2].songs, 0);
    EXPECT_EQ(pods[2].autoUpdate, std::optional<bool>(true));
    EXPECT_EQ(pods[2].identity, "FirewireGuid 000A27001111AAAA");
    EXPECT_FALSE(pods[2].readOnly);

    struct Case {
        const char* wanted;
        const char* volume; // null: none
    };
    for (auto [wanted, volume] : {Case{"", "BROKEN"},
                                  {"Beta", "POD_B"},
                                  {"POD_A", "POD_A"},
                                  {"alpha", "POD_A"},
                                  {"Gamma", nullptr}}) {
        const MountedIPod* chosen = MountedIPod::Choose(pods, AString(wanted));
        EXPECT_EQ(chosen ? chosen->volume.ToStdString() : std::string("none"), volume ? volume : "none")
            << wanted;
    }

    MountedIPod pod;
    EXPECT_TRUE(MountedIPod::Read(volumes.A("POD_B/"), &pod));
    EXPECT_EQ(pod.volume, "POD_B");
    EXPECT_FALSE(MountedIPod::Read(volumes.A("USBSTICK"), &pod));
}
