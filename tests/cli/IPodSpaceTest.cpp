// pelorin ipods: the used and free space of each iPod's volume, in the table and in --json.

#include "fixtures/IPodFixture.h"
#include "fixtures/RunCommand.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <regex>
#include <sys/statvfs.h>

TEST(IPodsCommand, ShowsTheUsedAndFreeSpaceOfEachIPod)
{
    fixtures::TempDir volumes;
    fixtures::MakeIPod(volumes.Path(), "JANEPOD", {.name = "Jane's iPod"});
    const std::vector<std::string> env{"PELORIN_VOLUMES=" + volumes.Path()};

    const fixtures::CommandResult table = fixtures::RunPelorin({"ipods"}, "", env);
    ASSERT_EQ(table.exitStatus, 0) << table.err;
    EXPECT_TRUE(std::regex_search(table.out, std::regex("CAPACITY +USED +FREE +SIGNING"))) << table.out;
    EXPECT_TRUE(std::regex_search(table.out, std::regex("Jane's iPod .* [0-9.]+ [kMG]B +[0-9.]+ [kMG]B +")))
        << table.out;

    const fixtures::CommandResult json = fixtures::RunPelorin({"ipods", "--json"}, "", env);
    ASSERT_EQ(json.exitStatus, 0) << json.err;
    std::smatch found;
    ASSERT_TRUE(std::regex_search(json.out, found,
                                  std::regex("\"totalBytes\": ([0-9]+), \"usedBytes\": ([0-9]+), "
                                             "\"freeBytes\": ([0-9]+)")))
        << json.out;
    // The volume the temporary folder lies on, as the file system tells it.
    struct statvfs info {};
    ASSERT_EQ(statvfs(volumes.Path().c_str(), &info), 0);
    EXPECT_EQ(std::stoull(found[1]), static_cast<unsigned long long>(info.f_blocks) * info.f_frsize);
    EXPECT_GE(std::stoull(found[1]), std::stoull(found[2]) + std::stoull(found[3]));
    EXPECT_GT(std::stoull(found[3]), 0u);
}

TEST(SyncCommand, ADryRunSaysTheRoomLeftOnTheIPodAfterTheSync)
{
    fixtures::TempDir tmp;
    ASSERT_EQ(fixtures::RunPelorin({"demo", tmp.Path()}).exitStatus, 0);
    const std::vector<std::string> env{"PELORIN_VOLUMES=" + tmp / "Volumes", "XDG_DATA_HOME=" + tmp / "data",
                                       "HOME=" + tmp / "home"};
    const fixtures::CommandResult run = fixtures::RunPelorin(
        {"sync", "--from", tmp / "Songs", "--type", "copy-to-ipod", "--dry-run"}, "", env);
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_TRUE(
        std::regex_search(run.out, std::regex("Space on Demo iPod: [0-9.]+ [kMG]?B used, [0-9.]+ [kMG]?B "
                                              "free; [0-9.]+ [kMG]?B free after the sync\\.")))
        << run.out;
}
