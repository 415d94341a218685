#include "APlatform/KnownFolders.h"

#include "ScopedEnv.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

TEST(KnownFolders, VolumesRootHonoursPelorinVolumes)
{
    fixtures::TempDir dir;
    ScopedEnv volumes("PELORIN_VOLUMES", (dir.Path() + "/").c_str());
    EXPECT_EQ(platform::VolumesRoot(), dir.Path()) << "without its trailing slash";
}

TEST(KnownFolders, UserFoldersFollowXdg)
{
    ScopedEnv home("HOME", "/home/tester/");
    {
        ScopedEnv data("XDG_DATA_HOME", nullptr);
        ScopedEnv config("XDG_CONFIG_HOME", nullptr);
        EXPECT_EQ(platform::HomeFolder(), "/home/tester");
        EXPECT_EQ(platform::ApplicationSupportFolder(), "/home/tester/.local/share");
        EXPECT_EQ(platform::PreferencesFolder(), "/home/tester/.config");
    }
    ScopedEnv data("XDG_DATA_HOME", "/xdg/data/");
    ScopedEnv config("XDG_CONFIG_HOME", "/xdg/config");
    EXPECT_EQ(platform::ApplicationSupportFolder(), "/xdg/data");
    EXPECT_EQ(platform::PreferencesFolder(), "/xdg/config");
    ScopedEnv relative("XDG_DATA_HOME", "relative/path");
    EXPECT_EQ(platform::ApplicationSupportFolder(), "/home/tester/.local/share")
        << "relative XDG paths are ignored";
}
