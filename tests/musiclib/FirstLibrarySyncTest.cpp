// An iPod filled through its own database and then attached to a library that holds the same songs:
// the library's first synchronize of it finds nothing to do and leaves every file of the iPod as it
// was, bytes and dates.

#include "fixtures/LibraryFixture.h"
#include "fixtures/RunCommand.h"
#include "fixtures/Text.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

class FirstLibrarySync : public fixtures::LibraryTest {
protected:
    // Every file below `root`: its bytes, with its modification time and inode in front.
    static std::map<std::string, std::vector<std::uint8_t>> Files(const std::string& root)
    {
        std::map<std::string, std::vector<std::uint8_t>> files;
        for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
            if (!entry.is_regular_file())
                continue;
            struct stat info {};
            EXPECT_EQ(stat(entry.path().c_str(), &info), 0);
            const std::string stamp = std::to_string(info.st_mtim.tv_sec) + "." +
                                      std::to_string(info.st_mtim.tv_nsec) + "#" +
                                      std::to_string(info.st_ino);
            std::vector<std::uint8_t> bytes(stamp.begin(), stamp.end());
            const std::vector<std::uint8_t> content = fixtures::ReadFile(entry.path().string());
            bytes.insert(bytes.end(), content.begin(), content.end());
            files[entry.path().string()] = std::move(bytes);
        }
        return files;
    }
};

TEST_F(FirstLibrarySync, LeavesAnIPodFilledThroughItsDatabaseUntouched)
{
    for (int i = 0; i < 3; ++i) {
        const std::string title = "Song " + std::to_string(i);
        ASSERT_GT(Add(Song("Songs/" + title + ".mp3",
                           Tags(title, "Artist", "Album", static_cast<std::uint32_t>(i)))),
                  0);
    }
    const std::string root = AttachNewIPod("Pod");
    library.reset(); // the runs below are other processes
    const std::vector<std::string> env{"XDG_DATA_HOME=" + (dir / "data"), "HOME=" + (dir / "home")};
    const fixtures::CommandResult fill = fixtures::RunPelorin(
        {"sync", "--from", dir / "Songs", "--ipod", "Pod", "--type", "copy-to-ipod", "--yes"}, "", env);
    ASSERT_EQ(fill.exitStatus, 0) << fill.out << fill.err;
    ASSERT_TRUE(fixtures::Has(fill.out, "Copied 3 songs")) << fill.out;
    const auto before = Files(root);

    const fixtures::CommandResult run =
        fixtures::RunPelorin({"sync", "--ipod", "Pod", "--type", "synchronize", "--yes"}, "", env);

    ASSERT_EQ(run.exitStatus, 0) << run.out << run.err;
    EXPECT_TRUE(fixtures::Has(run.out, "Nothing to Sync")) << run.out;
    EXPECT_TRUE(Files(root) == before) << run.out;
}

} // namespace
