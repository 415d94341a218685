// The opening of a library kept by an older version, which brings its tables up to date, killed at
// every file-system call it makes in the library's folder: whatever point it stopped at, the library
// opens again, lists its tracks, and is brought up to date by the next opening.

#include "fixtures/MusicFiles.h"
#include "fixtures/RunCommand.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sqlite3.h>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Runs a statement on the library's database; false when it fails (such as naming a missing column).
bool Execute(const std::string& database, const char* sql)
{
    sqlite3* db = nullptr;
    bool done = sqlite3_open(database.c_str(), &db) == SQLITE_OK &&
                sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return done;
}

} // namespace

TEST(LibraryFaults, KilledAtEveryCallWhileAnOlderLibraryIsBroughtUpToDateItStillOpensWhole)
{
    fixtures::TempDir tmp;
    fs::create_directories(tmp / "start");
    const std::vector<std::string> start = fixtures::EnvironmentIn(tmp / "start");
    fixtures::WriteSong(tmp / "Songs/a.mp3", fixtures::SongSpecOf("Song A", 1));
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"library", "init"}, {"library", "import", tmp / "Songs"}})
        ASSERT_EQ(fixtures::RunPelorin(args, "", start).exitStatus, 0) << args[1];
    // As an older version kept it: without the files' times in nanoseconds.
    ASSERT_TRUE(Execute(
        tmp / "start/Library/Library.sqlite",
        "ALTER TABLE tracks DROP COLUMN file_time_ns; ALTER TABLE tracks DROP COLUMN change_time_ns"));

    const std::vector<std::string> run = fixtures::EnvironmentIn(tmp / "run");
    const auto restore = [&] {
        fs::remove_all(tmp / "run");
        fs::copy(tmp / "start", tmp / "run", fs::copy_options::recursive);
    };
    const auto open = [&](const std::vector<std::string>& fault) {
        std::vector<std::string> env = run;
        env.push_back(std::string("LD_PRELOAD=") + PELORIN_FAULT_SHIM);
        env.push_back("PELORIN_FAULT_ROOT=" + tmp / "run/Library");
        env.insert(env.end(), fault.begin(), fault.end());
        return fixtures::RunPelorin({"library", "info"}, "", env).exitStatus;
    };
    restore();
    ASSERT_EQ(open({"PELORIN_FAULT_COUNT=" + tmp / "count"}), 0);
    long calls = 0;
    std::ifstream(tmp / "count") >> calls;
    ASSERT_GT(calls, 0);
    int killed = 0;
    for (long at = 1; at <= calls; ++at) {
        restore();
        const std::string when = "killed at call " + std::to_string(at) + " of " + std::to_string(calls);
        killed += open({"PELORIN_FAULT_AT=" + std::to_string(at), "PELORIN_FAULT_ACTION=kill"}) == 128 + 9;
        const fixtures::CommandResult tracks = fixtures::RunPelorin({"library", "tracks"}, "", run);
        EXPECT_EQ(tracks.exitStatus, 0) << when << "\n" << tracks.err;
        EXPECT_NE(tracks.out.find("Song A"), std::string::npos) << when << "\n" << tracks.out;
        EXPECT_TRUE(Execute(tmp / "run/Library/Library.sqlite", "SELECT change_time_ns FROM tracks"))
            << when << ": not brought up to date by the next opening";
    }
    EXPECT_EQ(killed, calls);
    std::printf("[          ] %ld kill points in the library's folder\n", calls);
}
