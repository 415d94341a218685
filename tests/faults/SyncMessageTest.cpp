// What a sync that cannot go through says: the closing line names the real cause (the file and the
// system's reason, the other sync, the library's own database), never a refusal of the library, an
// unauthorized song or a missing playlist for a cause that is something else. System calls are
// broken with the fault shim (FaultShim.c, loaded with LD_PRELOAD).

#include "fixtures/IPodFixture.h"
#include "fixtures/MusicFiles.h"
#include "fixtures/RunCommand.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <sys/file.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

// An iPod holding the songs A and B, attached to a library that holds B, C and D (their files in
// Songs/): a copy to the iPod has two songs to copy.
struct LibraryAndIPod {
    LibraryAndIPod()
    {
        fixtures::MakeIPod(tmp / "Volumes", "POD");
        for (const char* title : {"A", "B"})
            fixtures::WriteSong(tmp / (std::string("first/") + title + ".mp3"), fixtures::SongSpecOf(title));
        for (const char* title : {"B", "C", "D"})
            fixtures::WriteSong(tmp / (std::string("Songs/") + title + ".mp3"), fixtures::SongSpecOf(title));
        for (const std::vector<std::string>& args :
             {std::vector<std::string>{"sync", "--from", tmp / "first", "--type", "copy-to-ipod", "--yes"},
              {"library", "init"},
              {"library", "import", tmp / "Songs"},
              {"library", "attach-ipod", "POD"}}) {
            const fixtures::CommandResult made = fixtures::RunPelorin(args, "", Env());
            EXPECT_EQ(made.exitStatus, 0) << args[1] << ": " << made.err;
        }
    }
    std::vector<std::string> Env() const { return fixtures::EnvironmentIn(tmp.Path()); }
    std::string Pod() const { return tmp / "Volumes/POD"; }
    std::string Database() const { return tmp / "Library/Library.sqlite"; }

    fixtures::TempDir tmp;
};

std::vector<std::string> Shim(const std::string& root, const std::string& calls, const std::string& action)
{
    return {std::string("LD_PRELOAD=") + PELORIN_FAULT_SHIM, "PELORIN_FAULT_ROOT=" + root,
            "PELORIN_FAULT_CALLS=" + calls, "PELORIN_FAULT_AT=1", "PELORIN_FAULT_ACTION=" + action};
}

// Holds the iPod's lock as another sync would, for as long as it lives.
struct HeldLock {
    explicit HeldLock(const std::string& pod)
        : fd(open((pod + "/iPod_Control/iTunes").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
    {
        EXPECT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
    }
    ~HeldLock() { close(fd); }
    int fd;
};

} // namespace

TEST(SyncMessages, AFailedSyncNamesItsRealCause)
{
    struct Case {
        const char* what;
        bool fromFolder; // through the iPod's own database instead of the library
        bool holdLock;
        // Breaks the setup; gives the text the message must hold, and the shim's settings if any.
        std::function<void(LibraryAndIPod&, std::string& says, std::vector<std::string>& shim)> breakIt;
    };
    const std::vector<Case> cases = {
        {"a damaged library database", false, false,
         [](LibraryAndIPod& s, std::string& says, std::vector<std::string>&) {
             fixtures::WriteFile(s.Database(), std::string("this is not a database, not at all"));
             says = "-102399: The library's database is damaged. (the library's database " + s.Database() +
                    " is damaged";
         }},
        {"a library database of a newer version", false, false,
         [](LibraryAndIPod& s, std::string& says, std::vector<std::string>&) {
             // The database header's user version (big-endian, at byte 60) is the schema's.
             std::fstream file(s.Database(), std::ios::in | std::ios::out | std::ios::binary);
             file.seekp(60);
             file.write("\0\0\0\x63", 4);
             says = s.Database() + " was made by a newer version of Pelorin (schema 99)";
         }},
        {"a read-only library database", false, false,
         [](LibraryAndIPod& s, std::string& says, std::vector<std::string>& shim) {
             says = "-102400: The library's database cannot be written. (the library's database " +
                    s.Database() + " cannot be written";
             shim = Shim(s.Database(), "openw", "EROFS+");
         }},
        {"a song's file gone", false, false,
         [](LibraryAndIPod& s, std::string& says, std::vector<std::string>&) {
             fs::remove(s.tmp / "Songs/C.mp3");
             says =
                 "-11160: File not found. (cannot find " + s.tmp / "Songs/C.mp3: No such file or directory";
         }},
        {"the library's music drive not mounted", false, false,
         [](LibraryAndIPod& s, std::string& says, std::vector<std::string>&) {
             for (const char* title : {"E", "F", "G"})
                 fixtures::WriteSong(s.tmp / (std::string("Songs/") + title + ".mp3"),
                                     fixtures::SongSpecOf(title));
             EXPECT_EQ(fixtures::RunPelorin({"library", "import", s.tmp / "Songs"}, "", s.Env()).exitStatus,
                       0);
             fs::rename(s.tmp / "Songs", s.tmp / "Unmounted");
             says = "-9: The drive was not found. (The drive of the library's music seems not to be mounted";
         }},
        {"the iPod's folder cannot be opened", false, false,
         [](LibraryAndIPod& s, std::string& says, std::vector<std::string>& shim) {
             says = "cannot open " + s.Pod() + "/iPod_Control/iTunes: Permission denied";
             shim = Shim(s.Pod() + "/iPod_Control/iTunes", "opendir", "EACCES+");
         }},
        {"another sync holds the iPod, through the library", false, true,
         [](LibraryAndIPod&, std::string& says, std::vector<std::string>&) {
             says = "-102390: Service is busy. (another sync is running on this iPod (process " +
                    std::to_string(getpid());
         }},
        {"another sync holds the iPod, through its database", true, true,
         [](LibraryAndIPod&, std::string& says, std::vector<std::string>&) {
             says = "-102390: Service is busy. (another sync is running on this iPod (process " +
                    std::to_string(getpid());
         }},
        {"a file name with a line break", false, false,
         [](LibraryAndIPod& s, std::string& says, std::vector<std::string>&) {
             const std::string file = s.tmp / "Odd/E\nline.mp3";
             fixtures::WriteSong(file, fixtures::SongSpecOf("E"));
             EXPECT_EQ(fixtures::RunPelorin({"library", "add", file}, "", s.Env()).exitStatus, 0);
             says =
                 "-5: Invalid path. (cannot add " + file + ": a script cannot name a file with a line break";
         }},
        {"a full iPod", false, false,
         [](LibraryAndIPod& s, std::string& says, std::vector<std::string>& shim) {
             says = "No space left on device)";
             shim = Shim(s.Pod(), "write,copy", "ENOSPC+");
         }},
        {"an I/O error on the iPod", false, false,
         [](LibraryAndIPod& s, std::string& says, std::vector<std::string>& shim) {
             says = "Input/output error)";
             shim = Shim(s.Pod(), "write,copy", "EIO+");
         }},
        {"the iPod's music folder a file", false, false,
         [](LibraryAndIPod& s, std::string& says, std::vector<std::string>&) {
             fs::remove_all(s.Pod() + "/iPod_Control/Music");
             fixtures::WriteFile(s.Pod() + "/iPod_Control/Music", std::string("a file"));
             says = "cannot create the folder " + s.Pod() + "/iPod_Control/Music: File exists";
         }},
    };
    for (const Case& c : cases) {
        LibraryAndIPod setup;
        std::string says;
        std::vector<std::string> shim, env = setup.Env();
        c.breakIt(setup, says, shim);
        env.insert(env.end(), shim.begin(), shim.end());
        std::vector<std::string> args = {"sync", "--type", "copy-to-ipod", "--yes"};
        if (c.fromFolder)
            args.insert(args.begin() + 1, {"--from", setup.tmp / "Songs"});
        fixtures::CommandResult run;
        {
            std::unique_ptr<HeldLock> held(c.holdLock ? new HeldLock(setup.Pod()) : nullptr);
            run = fixtures::RunPelorin(args, "", env);
        }
        const std::string all = run.out + run.err;
        const std::size_t closing = all.rfind("pelorin sync: ");
        ASSERT_NE(closing, std::string::npos) << c.what << ": " << all;
        EXPECT_EQ(run.exitStatus, 1) << c.what;
        EXPECT_NE(all.find(says, closing), std::string::npos) << c.what << ": " << all.substr(closing);
        for (const char* misleading : {"iTunes refused", "Unauthorized Music", "has no such playlist"})
            EXPECT_EQ(all.find(misleading), std::string::npos) << c.what << ": " << misleading;
        if (!c.holdLock) {
            EXPECT_EQ(all.find("another sync"), std::string::npos) << c.what;
        }
    }
}
