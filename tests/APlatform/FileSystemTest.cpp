#include "APlatform/FileSystem.h"

#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>

TEST(FileSystem, HiddenFlagHasNothingToSetOffFat)
{
    fixtures::TempDir dir;
    fixtures::WriteFile(dir / "f", "x");
    EXPECT_EQ(platform::SetHidden(dir / "f", true), 0);
    EXPECT_NE(platform::SetHidden(dir / "missing", true), 0);
    EXPECT_EQ(platform::SyncFolder(dir.Path()), 0);
    EXPECT_NE(platform::SyncFolder(dir / "missing"), 0);
}

TEST(FileSystem, FuseMountsAreRecognisedFromTheMountTable)
{
    fixtures::TempDir dir;
    fixtures::WriteFile(dir / "stick/a", "x");
    const std::string stick = dir / "stick";
    struct Case {
        const char* type;
        bool fat;
    };
    for (auto [type, fat] :
         {Case{"fuseblk.exfat", true}, Case{"fuse.exfat", true}, Case{"fuse.fusefat", true},
          Case{"fuseblk.ntfs", false}, Case{"fuse.sshfs", false}, Case{"ext4", false}}) {
        // The deeper mount holds the folder; the root mount is another file system.
        platform::SetMountTableForTesting("22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
                                          "90 22 8:17 / " +
                                          stick + " rw,nosuid - " + type + " /dev/sdb1 rw,user_id=0\n");
        EXPECT_EQ(platform::NamesIgnoreCase(stick + "/a"), fat) << type;
        EXPECT_EQ(platform::HasCoarseDates(stick), fat) << type;
    }
    // A mount point with a space is written with an escape.
    std::filesystem::create_directories(dir / "my stick");
    platform::SetMountTableForTesting("90 22 8:17 / " + dir.Path() +
                                      "/my\\040stick rw - fuseblk.exfat /dev/sdb1 rw\n");
    EXPECT_TRUE(platform::NamesIgnoreCase(dir / "my stick"));
    platform::SetMountTableForTesting("");
}
