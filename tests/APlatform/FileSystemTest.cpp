#include "APlatform/FileSystem.h"

#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

TEST(FileSystem, FreeSpaceComesFromTheVolume)
{
    fixtures::TempDir dir;
    std::uint64_t freeBytes = 0;
    ASSERT_TRUE(platform::VolumeFreeSpace(dir.Path(), freeBytes));
    EXPECT_GT(freeBytes, 0u);
    EXPECT_FALSE(platform::VolumeFreeSpace(dir / "missing", freeBytes));
}

TEST(FileSystem, CopyAttributesCarriesDatesAndPermissions)
{
    fixtures::TempDir dir;
    fixtures::WriteFile(dir / "from", "x");
    fixtures::SetModTime(dir / "from", 1000000000);
    chmod((dir / "from").c_str(), 0640);
    fixtures::WriteFile(dir / "to", "y");
    int fd = open((dir / "to").c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(platform::CopyAttributes(dir / "from", fd), 0);
    close(fd);
    struct stat info {};
    ASSERT_EQ(stat((dir / "to").c_str(), &info), 0);
    EXPECT_EQ(info.st_mtim.tv_sec, 1000000000);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_NE(platform::CopyAttributes(dir / "missing", fd), 0);
}

TEST(FileSystem, HiddenFlagHasNothingToSetOffFat)
{
    fixtures::TempDir dir;
    fixtures::WriteFile(dir / "f", "x");
    EXPECT_EQ(platform::SetHidden(dir / "f", true), 0);
    EXPECT_NE(platform::SetHidden(dir / "missing", true), 0);
    EXPECT_EQ(platform::SyncFolder(dir.Path()), 0);
    EXPECT_NE(platform::SyncFolder(dir / "missing"), 0);
}
