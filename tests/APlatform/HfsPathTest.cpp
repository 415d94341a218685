#include "APlatform/HfsPath.h"

#include "ScopedEnv.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

TEST(HfsPath, PathsRoundTripByteForByte)
{
    fixtures::TempDir dir;
    const std::string volumes = dir.Path() + "/Volumes";
    ScopedEnv env("PELORIN_VOLUMES", volumes.c_str());
    struct Case {
        std::string posix;
        std::string hfs;
    };
    const Case cases[] = {
        {"/home/a/x.mp3", "Root:home:a:x.mp3"},
        {"/home/a/AC:DC/1 a/b.mp3", "Root:home:a:AC/DC:1 a:b.mp3"},
        {"/", "Root:"},
        {"/home//a/", "Root:home::a:"},
        {volumes + "/IPOD/iPod_Control/Music/F00/ABCD.mp3", "IPOD:iPod_Control:Music:F00:ABCD.mp3"},
        {volumes + "/My:Pod/a", "My/Pod:a"},
        {volumes + "/IPOD", "IPOD"},
        {"/caf\xC3\xA9/\xFF\xFE.mp3", "Root:caf\xC3\xA9:\xFF\xFE.mp3"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(platform::PosixToHfsPath(c.posix), c.hfs) << c.posix;
        EXPECT_EQ(platform::HfsToPosixPath(c.hfs), c.posix) << c.hfs;
    }
    // A volume called "Root" is written from the file-system root, so it is not read as "/a.mp3".
    const std::string onRoot = volumes + "/Root/a.mp3";
    EXPECT_EQ(platform::HfsToPosixPath(platform::PosixToHfsPath(onRoot)), onRoot);
    EXPECT_EQ(platform::PosixToHfsPath("relative/x"), "");
    EXPECT_FALSE(platform::HfsToPosixPath(":a"));
    EXPECT_FALSE(platform::HfsToPosixPath("Root"));
}
