// pelorin eject: which iPod is ejected, the refusal while a sync changes it, and what it says.

#include "ACommon/itunesdb/IPodLock.h"
#include "APlatform/Eject.h"
#include "APlatform/FileSystem.h"
#include "cli/Commands.h"
#include "fixtures/IPodFixture.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Two iPods under a volumes folder; ejecting runs a recorded `umount` that succeeds (the volumes
// are plain folders, with no block device behind them).
struct EjectScene {
    EjectScene()
    {
        jane = fixtures::MakeIPod(volumes.Path(), "JANEPOD", {.name = "Jane's iPod"});
        fixtures::MakeIPod(volumes.Path(), "NANO", {.name = "Little One"});
        setenv("PELORIN_VOLUMES", volumes.Path().c_str(), 1);
        platform::SetMountTableForTesting("22 1 8:0 / / rw - ext4 /dev/sda1 rw\n");
        platform::SetCommandRunnerForTesting([this](const std::vector<std::string>& argv, std::string&) {
            std::string line;
            for (const std::string& arg : argv)
                line += (line.empty() ? "" : " ") + arg;
            commands.push_back(line);
            return 0;
        });
    }
    ~EjectScene()
    {
        unsetenv("PELORIN_VOLUMES");
        platform::SetMountTableForTesting("");
        platform::SetCommandRunnerForTesting(nullptr);
    }
    // Runs `pelorin eject NAME`: its exit status, with what it printed.
    int Eject(const std::string& name)
    {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        const int status = cli::EjectIPod(name);
        out = testing::internal::GetCapturedStdout();
        err = testing::internal::GetCapturedStderr();
        return status;
    }

    fixtures::TempDir volumes;
    std::string jane;
    std::vector<std::string> commands;
    std::string out, err;
};

TEST(EjectCommand, FindsTheIPodByItsNameOrVolume)
{
    struct Case {
        const char* name;
        int status;
        const char* unmounted; // volume folder, or "" when nothing is run
        const char* says;
    };
    // Unmounted by `umount`, with no drive to power off: the iPod's own screen tells the moment.
    for (const Case& c : {Case{"Jane's iPod", cli::kExitOk, "JANEPOD",
                               "Jane's iPod was unmounted. Unplug it once its screen no longer says"},
                          {"NANO", cli::kExitOk, "NANO", "Little One was unmounted."},
                          {"little one", cli::kExitOk, "NANO", "Little One was unmounted."},
                          {"Bob's iPod", cli::kExitUsage, "", ""},
                          {"", cli::kExitUsage, "", ""}}) {
        EjectScene scene;
        EXPECT_EQ(scene.Eject(c.name), c.status) << c.name;
        const std::vector<std::string> expected =
            *c.unmounted ? std::vector<std::string>{"umount " + scene.volumes.Path() + "/" + c.unmounted}
                         : std::vector<std::string>{};
        EXPECT_EQ(scene.commands, expected) << c.name;
        EXPECT_NE(scene.out.find(c.says), std::string::npos) << scene.out;
    }
}

TEST(EjectCommand, IsRefusedWhileASyncHoldsTheIPodsLock)
{
    EjectScene scene;
    IPodLock held;
    ASSERT_EQ(held.Acquire(AString::FromUTF8(scene.jane), 0), 0);
    EXPECT_EQ(scene.Eject("Jane's iPod"), cli::kExitError);
    EXPECT_TRUE(scene.commands.empty());
    EXPECT_NE(scene.err.find("Jane's iPod is being changed by a sync"), std::string::npos) << scene.err;
    EXPECT_NE(scene.err.find("Nothing was done."), std::string::npos) << scene.err;
}

} // namespace
