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

TEST(KnownFolders, VolumesRootFollowsTheUserAtOnce)
{
    ScopedEnv volumes("PELORIN_VOLUMES", nullptr);
    for (const char* user : {"ann", "bob", "ann"}) {
        ScopedEnv name("USER", user);
        const std::string root = platform::VolumesRoot();
        // A system with /Volumes names it for everyone; else the user's folder of its mounter.
        if (root != "/Volumes") {
            EXPECT_EQ(root.substr(root.rfind('/') + 1), user) << root;
        }
    }
}

TEST(KnownFolders, UserFoldersFollowXdg)
{
    ScopedEnv home("HOME", "/home/tester/");
    {
        ScopedEnv data("XDG_DATA_HOME", nullptr);
        EXPECT_EQ(platform::HomeFolder(), "/home/tester");
        EXPECT_EQ(platform::ApplicationSupportFolder(), "/home/tester/.local/share");
    }
    ScopedEnv data("XDG_DATA_HOME", "/xdg/data/");
    EXPECT_EQ(platform::ApplicationSupportFolder(), "/xdg/data");
    ScopedEnv relative("XDG_DATA_HOME", "relative/path");
    EXPECT_EQ(platform::ApplicationSupportFolder(), "/home/tester/.local/share")
        << "relative XDG paths are ignored";
}
