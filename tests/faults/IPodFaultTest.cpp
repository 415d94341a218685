// A sync onto an iPod, killed at every file-system call it makes on the iPod, or given a failing
// write, flush, rename or open at each of them (the calls counted and broken by FaultShim.c, loaded
// with LD_PRELOAD), and then run again: afterwards the iPod holds every song once, each with its
// file, no file that nothing lists and no temporary file, libgpod reads its database without a
// warning, and a run that failed said why and left every listed song's file in place. Both routes
// onto the iPod are tried: through its own database, and through the music library it is attached
// to.

#include "ACommon/itunesdb/ArtworkDB.h"
#include "ACommon/itunesdb/IPodArtwork.h"
#include "ACommon/itunesdb/IPodDB.h"
#include "ACommon/itunesdb/IPodSigning.h"
#include "ACommon/itunesdb/MHBD.h"
#include "ACommon/itunesdb/MHIT.h"
#include "ACommon/itunesdb/MHLT.h"
#include "GpodPeer.h"
#include "fixtures/IPodFixture.h"
#include "fixtures/MusicFiles.h"
#include "fixtures/Pictures.h"
#include "fixtures/RunCommand.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

using fixtures::SongSpecOf;

constexpr const char* kGuid = "0x000A2700138A0000";

// An iPod (a shuffle, so that iTunesSD is written too) holding the songs A, B and C, and a folder
// holding B, D, E, F, G and H (over a megabyte, copied in chunks). Making the iPod equal to the
// folder (or to a library that holds the folder's songs, with the iPod attached) copies five songs
// onto it, moves two off it into "Removed Files" and stores its database and iTunesSD. Each run
// starts from a copy of that first state.
class IPodRun {
public:
    enum class Route { kDatabase, kLibrary };

    // With `covers`, the folder's songs carry a cover each (two albums' worth of pictures).
    explicit IPodRun(Route through, const std::string& model = "MA133", bool covers = false) : route(through)
    {
        fixtures::MakeIPod(tmp / "start/Volumes", "POD", {.modelNumStr = model, .firewireGuid = kGuid});
        for (const char* title : {"A", "B", "C"})
            fixtures::WriteSong(tmp / (std::string("first/") + title + ".mp3"), SongSpecOf(title));
        int index = 0;
        for (const std::string title : {"B", "D", "E", "F", "G", "H"}) {
            fixtures::SongSpec song = SongSpecOf(title);
            if (covers)
                song.picture = fixtures::MakeGradientPng(120, 120, index++ % 2);
            if (title == "H") {
                song.seconds = 80;
                song.bitRate = 128;
            }
            fixtures::WriteSong(tmp / ("Songs/" + title + ".mp3"), song);
        }
        const fixtures::CommandResult first = fixtures::RunPelorin(
            {"sync", "--from", tmp / "first", "--type", "copy-to-ipod", "--yes"}, "", Env("start"));
        EXPECT_EQ(first.exitStatus, 0) << first.err;
        if (route == Route::kLibrary) {
            std::vector<std::string> env = Env("start");
            env.push_back("PELORIN_LIBRARY=" + tmp / "start/Library");
            for (const std::vector<std::string>& args : {std::vector<std::string>{"library", "init"},
                                                         {"library", "import", tmp / "Songs"},
                                                         {"library", "attach-ipod", "POD"}}) {
                const fixtures::CommandResult made = fixtures::RunPelorin(args, "", env);
                EXPECT_EQ(made.exitStatus, 0) << args[1] << ": " << made.err;
            }
        }
    }

    std::string Root() const { return tmp / "run/Volumes/POD"; }

    // The iPod (and the state file) as they were before the run.
    void Restore()
    {
        fs::remove_all(tmp / "run");
        fs::copy(tmp / "start", tmp / "run", fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    }

    // Makes the iPod equal to the folder; `fault` adds the shim's settings.
    fixtures::CommandResult Sync(const std::vector<std::string>& fault = {}) const
    {
        std::vector<std::string> env = Env("run");
        if (!fault.empty()) {
            env.push_back(std::string("LD_PRELOAD=") + PELORIN_FAULT_SHIM);
            env.push_back("PELORIN_FAULT_ROOT=" + Root());
            env.insert(env.end(), fault.begin(), fault.end());
        }
        if (route == Route::kLibrary) {
            env.push_back("PELORIN_LIBRARY=" + tmp / "run/Library");
            return fixtures::RunPelorin(
                {"sync", "--type", "make-ipod-equal", "--yes", "--allow-mass-deletion"}, "", env);
        }
        return fixtures::RunPelorin(
            {"sync", "--from", tmp / "Songs", "--type", "make-ipod-equal", "--yes", "--allow-mass-deletion"},
            "", env);
    }

    // The program run with `args` on the run's iPod (and library).
    fixtures::CommandResult Pelorin(const std::vector<std::string>& args) const
    {
        std::vector<std::string> env = Env("run");
        env.push_back("PELORIN_LIBRARY=" + tmp / "run/Library");
        return fixtures::RunPelorin(args, "", env);
    }

    // The number of calls of `calls` ("all", or a list) one whole run makes on the iPod.
    long CountCalls(const std::string& calls)
    {
        Restore();
        const fixtures::CommandResult counted =
            Sync({"PELORIN_FAULT_CALLS=" + calls, "PELORIN_FAULT_COUNT=" + tmp / "count"});
        EXPECT_EQ(counted.exitStatus, 0) << counted.err;
        std::ifstream in(tmp / "count");
        long count = 0;
        in >> count;
        return count;
    }

    // Kills a run at each of its `calls` in turn, each time from the first state, and runs it again:
    // `killed` sees the iPod the killed run left (and its exit status), `after` the iPod after the
    // next run. Stops at the first failure.
    void KillAtEachCall(long calls, const std::function<void(const std::string& when, int status)>& killed,
                        const std::function<void(const std::string& when)>& after)
    {
        for (long at = 1; at <= calls && !testing::Test::HasFailure(); ++at) {
            const std::string when = "killed at call " + std::to_string(at) + " of " + std::to_string(calls);
            Restore();
            killed(when,
                   Sync({"PELORIN_FAULT_AT=" + std::to_string(at), "PELORIN_FAULT_ACTION=kill"}).exitStatus);
            const fixtures::CommandResult again = Sync();
            EXPECT_EQ(again.exitStatus, 0) << when << ", then: " << again.err;
            if (again.exitStatus == 0)
                after(when + ", then run again");
        }
    }

    fixtures::TempDir tmp;

private:
    Route route;
    std::vector<std::string> Env(const std::string& state) const
    {
        return {"PELORIN_VOLUMES=" + tmp / (state + "/Volumes"), "XDG_DATA_HOME=" + tmp / (state + "/data"),
                "HOME=" + tmp / "home"};
    }
};

std::string FileOf(const std::string& root, std::string ipodPath)
{
    std::replace(ipodPath.begin(), ipodPath.end(), ':', '/');
    return root + ipodPath;
}

// What must hold of the iPod after any run, even one killed: libgpod reads the database without a
// warning and every track's file is there. With `clean`, as after a run that went through: the
// music folders hold no file that no track lists (a copy left behind, a temporary file). Returns
// the titles listed.
std::multiset<std::string> CheckWhole(const std::string& root, const std::string& when, bool clean = false)
{
    const peers::PeerDatabase read = peers::ReadWithGpod(root);
    EXPECT_TRUE(read.ok) << when << ": " << read.error;
    EXPECT_TRUE(read.warnings.empty())
        << when << ": " << (read.warnings.empty() ? "" : read.warnings.front());
    std::multiset<std::string> titles;
    std::set<std::string> listed;
    for (const peers::PeerTrack& track : read.tracks) {
        titles.insert(track.title);
        const std::string file = FileOf(root, track.path);
        EXPECT_TRUE(fs::is_regular_file(file)) << when << ": the file of " << track.title << " is missing";
        listed.insert(file.substr(root.size() + 1));
    }
    if (!clean)
        return titles;
    for (const std::string& file : fixtures::ListFiles(root + "/iPod_Control/Music")) {
        EXPECT_TRUE(listed.contains("iPod_Control/Music/" + file))
            << when << ": " << file << " is listed nowhere";
    }
    return titles;
}

// What must hold once a run has gone through: the folder's songs once each, the removed songs in
// "Removed Files" once each, nothing left over, iTunesSD up to date.
void CheckDone(const std::string& root, const std::string& when)
{
    EXPECT_EQ(CheckWhole(root, when, true), (std::multiset<std::string>{"B", "D", "E", "F", "G", "H"}))
        << when;
    const std::vector<std::string> removed = fixtures::ListFiles(root + "/Removed Files");
    EXPECT_EQ(removed.size(), 2u) << when << ": " << testing::PrintToString(removed);
    for (const std::string& file : fixtures::ListFiles(root))
        EXPECT_TRUE(file.find(".pelorin-") == std::string::npos &&
                    file.find("PelorinJournal") == std::string::npos)
            << when << ": " << file << " is left over";
    IPodDB db;
    AString at = AString::FromUTF8(root);
    ASSERT_EQ(db.Load(&at, 1, nullptr, nullptr), 0) << when;
    EXPECT_FALSE(db.ShuffleFileOutOfDate()) << when;
}

// What must hold of the iPod's covers after any run, even one killed: every track that has a cover
// links to an image of the cover database whose pictures lie inside their ithmb files. With
// `clean`, as after a run that went through: every image is some track's, no ithmb file holds
// bytes past its last picture or is named by no image, and the songs `covered` have covers.
void CheckCovers(const std::string& root, const std::string& when, bool clean,
                 const std::set<std::string>& covered = {})
{
    const std::string folder = root + "/iPod_Control/Artwork/";
    ArtworkDB art;
    if (fs::exists(folder + "ArtworkDB")) {
        ASSERT_EQ(art.Parse(fixtures::ReadFile(folder + "ArtworkDB")), 0) << when;
    }
    std::map<std::uint32_t, const ArtworkDB::Image*> byId;
    std::map<std::uint64_t, const ArtworkDB::Image*> bySong;
    std::map<std::string, std::uint64_t> ends;
    for (const ArtworkDB::Image& image : art.Images()) {
        byId[image.id] = &image;
        bySong[image.songId] = &image;
        for (const ArtworkDB::Thumb& thumb : image.thumbs) {
            const std::string file = folder + ArtworkDB::FileNameOf(thumb.file);
            EXPECT_TRUE(fs::exists(file) && fs::file_size(file) >= std::uint64_t(thumb.offset) + thumb.size)
                << when << ": a picture of image " << image.id << " is missing";
            ends[ArtworkDB::FileNameOf(thumb.file)] =
                std::max(ends[ArtworkDB::FileNameOf(thumb.file)], std::uint64_t(thumb.offset) + thumb.size);
        }
    }
    IPodDB db;
    AString at = AString::FromUTF8(root);
    ASSERT_EQ(db.Load(&at, 1, nullptr, nullptr), 0) << when;
    std::set<const ArtworkDB::Image*> used;
    std::set<std::string> withCover;
    db.GetDatabase()->GetTrackList()->ForEachTrack([&](MHIT& track) {
        const std::uint64_t id = track.GetField(IPodArtwork::kOffsetDatabaseId) |
                                 std::uint64_t(track.GetField(IPodArtwork::kOffsetDatabaseId + 4)) << 32;
        if (auto linked = byId.find(track.GetField(IPodArtwork::kOffsetImageLink)); linked != byId.end())
            used.insert(linked->second);
        if (auto owned = bySong.find(id); owned != bySong.end())
            used.insert(owned->second);
        if (track.GetByte(IPodArtwork::kOffsetHasArtwork) != 1)
            return;
        withCover.insert(track.GetName().ToStdString());
        EXPECT_TRUE(byId.count(track.GetField(IPodArtwork::kOffsetImageLink)))
            << when << ": the cover of " << track.GetName().ToStdString() << " is missing";
    });
    if (!clean)
        return;
    EXPECT_EQ(used.size(), art.Images().size()) << when << ": an image no track uses is left";
    for (const std::string& name : fixtures::ListFiles(folder)) {
        if (name == "ArtworkDB")
            continue;
        ASSERT_TRUE(ends.count(name)) << when << ": " << name << " is named by no image";
        EXPECT_EQ(fs::file_size(folder + name), ends[name]) << when << ": " << name << " holds unused bytes";
    }
    for (const std::string& title : covered)
        EXPECT_TRUE(withCover.count(title)) << when << ": " << title << " has no cover";
}

void KillAtEveryCall(IPodRun::Route route)
{
    IPodRun run(route);
    const long calls = run.CountCalls("all");
    ASSERT_GT(calls, 50);
    int killed = 0;
    run.KillAtEachCall(
        calls,
        [&](const std::string& when, int status) {
            if (status == 128 + 9)
                ++killed;
            else
                EXPECT_EQ(status, 0) << when;
            CheckWhole(run.Root(), when);
        },
        [&](const std::string& when) { CheckDone(run.Root(), when); });
    std::printf("[          ] %d kill points of %ld calls on the iPod\n", killed, calls);
    EXPECT_GT(killed, calls / 2);
}

void FailEveryCall(IPodRun::Route route)
{
    IPodRun run(route);
    struct Fault {
        const char* calls;
        const char* action;
        const char* reason;
    };
    const std::vector<Fault> faults = {Fault{"write,copy", "EIO", "Input/output error"},
                                       Fault{"write,copy", "ENOSPC+", "No space left on device"},
                                       Fault{"fsync", "EIO", "Input/output error"},
                                       Fault{"rename", "EIO", "Input/output error"},
                                       Fault{"open", "EACCES", "Permission denied"}};
    int tried = 0;
    for (const Fault& fault : faults) {
        const long calls = run.CountCalls(fault.calls);
        ASSERT_GT(calls, 0) << fault.calls;
        for (long at = 1; at <= calls; ++at) {
            const std::string when = std::string(fault.action) + " at " + fault.calls + " call " +
                                     std::to_string(at) + " of " + std::to_string(calls);
            run.Restore();
            const fixtures::CommandResult failed = run.Sync(
                {"PELORIN_FAULT_CALLS=" + std::string(fault.calls), "PELORIN_FAULT_AT=" + std::to_string(at),
                 "PELORIN_FAULT_ACTION=" + std::string(fault.action)});
            ++tried;
            if (failed.exitStatus == 0) {
                // A failure the run could work around (a leftover it could not tidy up is tidied
                // up by the next run); what it reported done is done.
                EXPECT_EQ(CheckWhole(run.Root(), when, true),
                          (std::multiset<std::string>{"B", "D", "E", "F", "G", "H"}))
                    << when << " (the run went through: " << failed.err << ")";
            } else {
                EXPECT_EQ(failed.exitStatus, 1) << when << failed.err;
                EXPECT_NE(failed.err.find(fault.reason), std::string::npos) << when << ": " << failed.err;
                CheckWhole(run.Root(), when);
            }
            const fixtures::CommandResult again = run.Sync();
            ASSERT_EQ(again.exitStatus, 0) << when << ", then: " << again.err;
            CheckDone(run.Root(), when + ", then run again");
            if (testing::Test::HasFailure())
                return;
        }
    }
    std::printf("[          ] %d failed calls\n", tried);
}

} // namespace

TEST(IPodFaults, KilledAtEveryCallOnTheIPodTheNextRunLeavesItWholeWithEverySongOnce)
{
    KillAtEveryCall(IPodRun::Route::kDatabase);
}

TEST(IPodFaults, AFailedSystemCallLeavesEveryListedFile) { FailEveryCall(IPodRun::Route::kDatabase); }

TEST(IPodFaults, KilledAtEveryCallThroughTheLibraryTheNextRunLeavesTheIPodWholeWithEverySongOnce)
{
    KillAtEveryCall(IPodRun::Route::kLibrary);
}

TEST(IPodFaults, AFailedCallThroughTheLibraryLeavesEveryListedFile)
{
    FailEveryCall(IPodRun::Route::kLibrary);
}

// On an iPod that shows covers, killed at every call of a run that copies songs with covers and
// removes others: no track ever links to a missing picture, and the next run leaves no image and
// no ithmb space that nothing uses.
TEST(IPodFaults, KilledAtEveryCallWhileWritingCoversTheNextRunLeavesNoDanglingOrUnusedImage)
{
    IPodRun run(IPodRun::Route::kDatabase, "MA147", true);
    const long calls = run.CountCalls("all");
    CheckCovers(run.Root(), "a run that went through", true, {"D", "E", "F", "G", "H"});
    run.KillAtEachCall(
        calls,
        [&](const std::string& when, int) {
            CheckWhole(run.Root(), when);
            CheckCovers(run.Root(), when, false);
        },
        [&](const std::string& when) { CheckCovers(run.Root(), when, true); });
}

// On an iPod classic, whose database is signed: whenever a run is killed, the database on the iPod
// is one whose signature matches it (the old one or the new one, never one half signed), and the
// run after it leaves it signed.
TEST(IPodFaults, KilledAtEveryCallOnAClassicItsDatabaseAlwaysCarriesItsSignature)
{
    IPodRun run(IPodRun::Route::kDatabase, "MC293");
    IPodSigning::Guid guid{};
    ASSERT_TRUE(IPodSigning::ParseGuid(AString(kGuid + 2), &guid));
    const std::string database = run.Root() + "/iPod_Control/iTunes/iTunesDB";
    const long calls = run.CountCalls("all");
    ASSERT_TRUE(IPodSigning::HasHash58(fixtures::ReadFile(database), guid));
    run.KillAtEachCall(
        calls,
        [&](const std::string& when, int) {
            EXPECT_TRUE(IPodSigning::HasHash58(fixtures::ReadFile(database), guid)) << when;
            CheckWhole(run.Root(), when);
        },
        [&](const std::string& when) {
            EXPECT_TRUE(IPodSigning::HasHash58(fixtures::ReadFile(database), guid)) << when;
        });
}

// An iPod that recorded two plays of each of its songs and an On-The-Go playlist, synced through the
// library and killed at every call: whatever point the run stopped at, after the next run the
// iPod's database counts the plays of the song it keeps (B) once, its play count file is gone, and
// the library counts them once and holds the On-The-Go playlist once.
TEST(IPodFaults, KilledAtEveryCallPlaysBroughtBackAreCountedOnce)
{
    IPodRun run(IPodRun::Route::kLibrary);
    fixtures::WriteFile(
        run.tmp / "start/Volumes/POD/iPod_Control/iTunes/Play Counts",
        fixtures::itdb::PlayCounts(0x1C, {{2, 3880000000u}, {2, 3880000000u}, {2, 3880000000u}}));
    fixtures::WriteFile(run.tmp / "start/Volumes/POD/iPod_Control/iTunes/OTGPlaylistInfo",
                        fixtures::itdb::OnTheGo(4, {1, 0}));
    const long calls = run.CountCalls("all");
    auto libraryPlays = [&run] {
        const std::string json = run.Pelorin({"library", "tracks", "--json"}).out;
        const std::size_t b = json.find("\"name\": \"B\"");
        const std::size_t at = json.find("\"playCount\": ", b);
        return b == std::string::npos || at == std::string::npos ? -1 : std::atoi(json.c_str() + at + 13);
    };
    auto onTheGoPlaylists = [&run] {
        const std::string names = run.Pelorin({"library", "playlists"}).out;
        int found = 0;
        for (std::size_t at = 0; (at = names.find("On-The-Go", at)) != std::string::npos; ++at)
            ++found;
        return found;
    };
    run.KillAtEachCall(
        calls, [](const std::string&, int) {},
        [&](const std::string& when) {
            EXPECT_FALSE(fixtures::Exists(run.Root() + "/iPod_Control/iTunes/Play Counts")) << when;
            IPodDB db;
            AString root = AString::FromUTF8(run.Root());
            ASSERT_EQ(db.Load(&root, 1, nullptr, nullptr), 0) << when;
            db.GetDatabase()->GetTrackList()->ForEachTrack([&](MHIT& track) {
                const bool played = track.GetName().ToStdString() == "B"; // the others came since
                EXPECT_EQ(track.GetField(MHIT::kOffsetPlayCount), played ? 2u : 0u)
                    << when << ": " << track.GetName().ToStdString();
            });
            EXPECT_EQ(libraryPlays(), 2) << when;
            EXPECT_EQ(onTheGoPlaylists(), 1) << when << ": " << run.Pelorin({"library", "playlists"}).out;
        });
    std::printf("[          ] %ld kill points\n", calls);
}

// A first copy of many songs onto an iPod opens, for each song, only its new file there for writing
// (the journal that names the songs stays open from one song to the next), and does not set the
// permissions of a copy that was made with them.
TEST(IPodFaults, AFirstCopyWritesLittleBesidesEachSongsFileOnTheIPod)
{
    constexpr long kSongs = 40;
    fixtures::TempDir tmp;
    for (int song = 1; song <= kSongs; ++song)
        fixtures::WriteSong(tmp / ("Songs/S" + std::to_string(song) + ".mp3"),
                            SongSpecOf("S" + std::to_string(song)));
    struct Case {
        const char* calls;
        long most;
    };
    for (auto [calls, most] : {Case{"openw", kSongs + kSongs / 2}, {"chmod", kSongs / 2}}) {
        const std::string run = tmp / calls;
        fixtures::MakeIPod(run + "/Volumes", "POD", {.modelNumStr = "MA133", .firewireGuid = kGuid});
        const fixtures::CommandResult copied = fixtures::RunPelorin(
            {"sync", "--from", tmp / "Songs", "--type", "copy-to-ipod", "--yes"}, "",
            {"PELORIN_VOLUMES=" + run + "/Volumes", "XDG_DATA_HOME=" + run + "/data", "HOME=" + tmp / "home",
             std::string("LD_PRELOAD=") + PELORIN_FAULT_SHIM, "PELORIN_FAULT_ROOT=" + run + "/Volumes/POD",
             std::string("PELORIN_FAULT_CALLS=") + calls, "PELORIN_FAULT_COUNT=" + run + "/count"});
        ASSERT_EQ(copied.exitStatus, 0) << copied.err;
        EXPECT_EQ(CheckWhole(run + "/Volumes/POD", calls, true).size(), static_cast<std::size_t>(kSongs));
        std::ifstream in(run + "/count");
        long count = -1;
        in >> count;
        EXPECT_GE(count, 0) << calls;
        EXPECT_LE(count, most) << calls;
    }
}

// A first copy by either route looks at each song's files (its own, its copy on the iPod and the
// folders around them) only a few times beyond what the copy itself needs: the listing's open file
// tells the song's size and dates, the plan carries them to the copy, a music folder found once is
// not looked for again, and the library's check of the attached iPod is one look while its database
// is unchanged. Counted as the growth from a copy of 30 songs to one of 90. A song copied ahead by
// the copying thread costs one look more than one the run copies itself: the thread's own at the
// file it opens.
TEST(IPodFaults, AFirstCopyLooksAtEachSongOnlyAFewTimes)
{
    auto looks = [](bool library, int songs) -> long {
        fixtures::TempDir tmp;
        for (int song = 1; song <= songs; ++song)
            fixtures::WriteSong(tmp / ("Songs/S" + std::to_string(song) + ".mp3"),
                                SongSpecOf("S" + std::to_string(song)));
        fixtures::MakeIPod(tmp / "Volumes", "POD", {.modelNumStr = "MA133", .firewireGuid = kGuid});
        std::vector<std::string> env = {"PELORIN_VOLUMES=" + tmp / "Volumes", "XDG_DATA_HOME=" + tmp / "data",
                                        "HOME=" + tmp / "home", "PELORIN_LIBRARY=" + tmp / "Library"};
        std::vector<std::string> sync = {"sync", "--type", "copy-to-ipod", "--yes"};
        if (!library)
            sync.insert(sync.begin() + 1, {"--from", tmp / "Songs"});
        const std::vector<std::vector<std::string>> made = {
            {"library", "init"}, {"library", "import", tmp / "Songs"}, {"library", "attach-ipod", "POD"}};
        for (const std::vector<std::string>& args : library ? made : decltype(made){})
            EXPECT_EQ(fixtures::RunPelorin(args, "", env).exitStatus, 0) << args[1];
        for (const std::string& setting :
             {std::string("LD_PRELOAD=") + PELORIN_FAULT_SHIM, "PELORIN_FAULT_ROOT=" + tmp.Path(),
              std::string("PELORIN_FAULT_CALLS=stat"), "PELORIN_FAULT_COUNT=" + tmp / "count"})
            env.push_back(setting);
        const fixtures::CommandResult copied = fixtures::RunPelorin(sync, "", env);
        EXPECT_EQ(copied.exitStatus, 0) << copied.err;
        EXPECT_EQ(CheckWhole(tmp / "Volumes/POD", "copied", true).size(), static_cast<std::size_t>(songs));
        std::ifstream in(tmp / "count");
        long count = -1;
        in >> count;
        return count;
    };
    struct Case {
        const char* route;
        bool library;
        double most; // looks (stat, lstat, fstat) a song
    };
    for (auto [route, library, most] : {Case{"database", false, 13}, {"library", true, 15}}) {
        const double each = static_cast<double>(looks(library, 90) - looks(library, 30)) / 60;
        std::printf("[          ] %s: %.1f looks a song\n", route, each);
        EXPECT_LE(each, most) << route;
    }
}

// A copy onto the computer cut short by a kill leaves a temporary file beside the song it was to
// become (its writer, here a process that no longer runs, named in it): the next run that copies
// into that folder removes it, on both routes.
TEST(IPodFaults, ATemporaryFileAStoppedCopyLeftOnTheComputerIsRemovedByTheNextRun)
{
    for (const IPodRun::Route route : {IPodRun::Route::kDatabase, IPodRun::Route::kLibrary}) {
        IPodRun run(route);
        run.Restore();
        std::vector<std::string> args = {"sync", "--type", "copy-from-ipod", "--yes"};
        std::string folder = run.tmp / "run/Library/iTunes Music/Artist/Album";
        if (route == IPodRun::Route::kDatabase) {
            fs::copy(run.tmp / "Songs", run.tmp / "run/Songs");
            args.insert(args.end(), {"--from", run.tmp / "run/Songs"});
            folder = run.tmp / "run/Songs/Artist/Album";
        }
        const std::string left = folder + "/.A.mp3.pelorin-999999999-1.tmp";
        fixtures::WriteFile(left, "cut short");
        const fixtures::CommandResult copied = run.Pelorin(args);
        EXPECT_EQ(copied.exitStatus, 0) << copied.err;
        EXPECT_FALSE(fixtures::Exists(left)) << (route == IPodRun::Route::kDatabase ? "database" : "library");
    }
}

// A library that fails to answer which iPods it serves (a write refused as it opens) does not send
// the run to an attached iPod through the iPod's own database, under that route's state file.
TEST(IPodFaults, ALibraryThatCannotBeAskedIsNotTakenToServeNoIPod)
{
    IPodRun run(IPodRun::Route::kLibrary);
    run.Restore();
    fs::remove_all(run.tmp / "run/data");
    fixtures::RunPelorin(
        {"sync", "--type", "copy-to-ipod", "--yes"}, "",
        {"PELORIN_VOLUMES=" + run.tmp / "run/Volumes", "XDG_DATA_HOME=" + run.tmp / "run/data",
         "HOME=" + run.tmp / "home", "PELORIN_LIBRARY=" + run.tmp / "run/Library",
         std::string("LD_PRELOAD=") + PELORIN_FAULT_SHIM, "PELORIN_FAULT_ROOT=" + run.tmp / "run/Library",
         "PELORIN_FAULT_CALLS=write", "PELORIN_FAULT_AT=1", "PELORIN_FAULT_ACTION=ENOSPC"});
    for (const std::string& file : fixtures::ListFiles(run.tmp / "run/data"))
        EXPECT_EQ(file.find("_PODDB"), std::string::npos) << file;
}
