#include "APlatform/FileSystem.h"

#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

TEST(FileSystem, HiddenFlagHasNothingToSetOffFat)
{
    fixtures::TempDir dir;
    fixtures::WriteFile(dir / "f", "x");
    EXPECT_EQ(platform::SetHidden(dir / "f", true), 0);
    EXPECT_NE(platform::SetHidden(dir / "missing", true), 0);
    EXPECT_EQ(platform::SyncFolder(dir.Path()), 0);
    EXPECT_NE(platform::SyncFolder(dir / "missing"), 0);
}
