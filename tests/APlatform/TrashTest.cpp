#include "APlatform/Trash.h"

#include "ScopedEnv.h"
#include "fixtures/TempDir.h"
#include "fixtures/Text.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

TEST(Trash, ItemsNeverOverwriteOneAnother)
{
    fixtures::TempDir dir;
    ScopedEnv data("XDG_DATA_HOME", (dir / "data").c_str());
    fixtures::WriteFile(dir / "one/a b%.txt", "first");
    fixtures::WriteFile(dir / "two/a b%.txt", "second");
    std::string where;
    EXPECT_EQ(platform::MoveToTrash(dir / "one/a b%.txt", &where), 0);
    EXPECT_EQ(where, dir / "data/Trash/files/a b%.txt");
    EXPECT_EQ(platform::MoveToTrash(dir / "two/a b%.txt", &where), 0);
    EXPECT_EQ(where, dir / "data/Trash/files/a b% 2.txt");
    EXPECT_FALSE(fixtures::Exists(dir / "one/a b%.txt"));
    EXPECT_EQ(fixtures::ReadText(dir / "data/Trash/files/a b%.txt"), "first");
    EXPECT_EQ(fixtures::ReadText(dir / "data/Trash/files/a b% 2.txt"), "second");
    const std::string info = fixtures::ReadText(dir / "data/Trash/info/a b% 2.txt.trashinfo");
    EXPECT_TRUE(fixtures::Has(info, "[Trash Info]\nPath=" + dir.Path() + "/two/a%20b%25.txt\nDeletionDate="))
        << info;
    EXPECT_EQ(platform::MoveToTrash(dir / "missing"), ENOENT);
}

TEST(Trash, AnItemWithALongAsTheVolumeAllowsNameIsTrashedUnderAShortenedName)
{
    fixtures::TempDir dir;
    ScopedEnv data("XDG_DATA_HOME", (dir / "data").c_str());
    const std::string name = std::string(251, 'x') + ".mp3"; // 255 bytes: no room for ".trashinfo"
    for (const char* folder : {"one", "two"}) {
        fixtures::WriteFile(dir / (std::string(folder) + "/" + name), folder);
        std::string where;
        EXPECT_EQ(platform::MoveToTrash(dir / (std::string(folder) + "/" + name), &where), 0) << folder;
        EXPECT_EQ(fixtures::ReadText(where), folder);
        const std::string kept = where.substr(where.rfind('/') + 1);
        EXPECT_LE(kept.size() + 10, 255u) << kept;
        EXPECT_EQ(kept.substr(kept.size() - 4), ".mp3");
        EXPECT_TRUE(fixtures::Exists(dir / ("data/Trash/info/" + kept + ".trashinfo")));
    }
}
