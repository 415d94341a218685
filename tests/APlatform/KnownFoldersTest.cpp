#include "APlatform/KnownFolders.h"

#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

namespace {

// Sets an environment variable for one test and puts the old value back afterwards.
class ScopedEnv {
public:
    ScopedEnv(const char* variable, const char* value) : name(variable)
    {
        if (const char* old = std::getenv(variable))
            previous = old;
        if (value)
            setenv(variable, value, 1);
        else
            unsetenv(variable);
    }
    ~ScopedEnv()
    {
        if (previous)
            setenv(name, previous->c_str(), 1);
        else
            unsetenv(name);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name;
    std::optional<std::string> previous;
};

} // namespace

TEST(KnownFolders, VolumesRootHonoursPelorinVolumesElseAMountFolderForTheUser)
{
    fixtures::TempDir dir;
    {
        ScopedEnv volumes("PELORIN_VOLUMES", (dir.Path() + "/").c_str());
        EXPECT_EQ(platform::VolumesRoot(), dir.Path()) << "without its trailing slash";
    }
    ScopedEnv volumes("PELORIN_VOLUMES", nullptr);
    ScopedEnv user("USER", "someone");
    std::string root = platform::VolumesRoot();
    EXPECT_TRUE(root == "/Volumes" || root == "/media/someone" || root == "/run/media/someone") << root;
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
