// A first copy of N songs onto an empty iPod by both routes, against `cp -r` + `sync -f` of the same
// files in the same run:
//
//  - through the music library the iPod is attached to (`pelorin sync --type copy-to-ipod`),
//  - through the iPod's own database (`pelorin sync --from FOLDER --type copy-to-ipod`),
//  - `cp -r FOLDER DEST` then `sync -f DEST` (the copies on the disk, as the program leaves them).
//
// For each: wall time, seconds per 1,000 songs (linear when it stays flat as N grows), the bytes
// the run wrote (the kernel's count of the process's writes, /proc/PID/io write_bytes through
// getrusage) against the songs' size, and the number of times the iPod's database was stored (its
// renames over iTunesDB, counted by watching its folder). Then a sync with nothing to do
// by each route: wall time, bytes written, stores. Targets: both routes within 1.5 times cp + sync,
// linear, bytes within 1.2 times the songs' size; nothing written by a sync with nothing to do.
//
// Each first copy starts from empty iPods, no settings and a fresh library, and runs --repeat times
// (3 unless given): the quickest run of each is shown, since the load of a shared machine only ever
// slows a run down.
//
// With --short the songs last 1 s instead of 6 (a no-op run of 50,000: `bench_routes --short 50000`);
// --database-only leaves the library route out; --noop times only the syncs with nothing to do: the
// library's iPod is filled by the route through its own database (the quicker of the two for
// 50,000 short songs), and each route's synchronize runs twice, the second time with the lists
// the first saved; --keep FOLDER leaves the songs, the iPods and the
// settings in FOLDER/N (for a profile of a run by hand, with PELORIN_VOLUMES, XDG_DATA_HOME and HOME
// set below it). The peak is the largest resident memory of the run;
// "cpu" the user and system time of the run and its children, which a loaded machine disturbs less
// than the wall time.
//
//   build/bench/bench_routes [--short] [--database-only] [--noop] [--repeat N] [--keep FOLDER] [songs...]
//   (songs: 1000 and 5000 unless given; files go to $TMPDIR; the program is $PELORIN_BUILD_DIR/pelorin,
//   else build/pelorin)

#include "bench/Workload.h"
#include "musiclib/FolderImport.h"
#include "musiclib/MusicLibrary.h"

#include "fixtures/TempDir.h"
#include "samples/IPodTree.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/inotify.h>
#include <unistd.h>
#include <vector>

namespace {

using Run = bench::Spawned;

Run Spawn(const std::vector<std::string>& args) { return bench::SpawnQuietly(args); }

// `args` run while the folder holding the iPod's database (`database`) is watched for files renamed
// into it: the number of times iTunesDB was stored. The watch costs the program nothing, unlike a
// trace of its calls.
Run SpawnCountingStores(const std::vector<std::string>& args, const std::string& database, int* stores)
{
    *stores = -1;
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    const std::string folder = std::filesystem::path(database).parent_path().string();
    if (watch < 0 || inotify_add_watch(watch, folder.c_str(), IN_MOVED_TO) < 0) {
        if (watch >= 0)
            close(watch);
        return Spawn(args);
    }
    Run run = Spawn(args);
    *stores = 0;
    alignas(inotify_event) char buffer[1 << 16];
    for (;;) {
        const ssize_t length = read(watch, buffer, sizeof buffer);
        if (length <= 0)
            break;
        for (char* at = buffer; at < buffer + length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(at);
            if (event->mask & IN_Q_OVERFLOW)
                *stores = -1;
            else if (event->len > 0 && std::string(event->name) == "iTunesDB" && *stores >= 0)
                ++*stores;
            at += sizeof(inotify_event) + event->len;
        }
    }
    close(watch);
    return run;
}

double FolderBytes(const std::string& folder)
{
    double total = 0;
    for (const auto& item : std::filesystem::recursive_directory_iterator(folder))
        if (item.is_regular_file())
            total += static_cast<double>(item.file_size());
    return total;
}

// `peer` is cp + sync's run: the ratios to it by wall time and by CPU time (which the load of a shared
// machine disturbs less).
void Print(const char* what, int songs, const Run& run, double songBytes, int stores, const Run* peer)
{
    std::printf("  %-30s %8.2f s  %6.2f s/1000  %6.2f s cpu  %7.1f MB written (%.2fx songs)  stores %3d  "
                "%6.1f MB peak",
                what, run.seconds, run.seconds * 1000.0 / songs, run.cpuSeconds, run.bytesWritten / 1e6,
                songBytes > 0 ? run.bytesWritten / songBytes : 0.0, stores, run.peakMemory / 1e6);
    if (peer && peer->seconds > 0)
        std::printf("  %.2fx cp+sync", run.seconds / peer->seconds);
    if (peer && peer->cpuSeconds > 0)
        std::printf(" (cpu %.2fx)", run.cpuSeconds / peer->cpuSeconds);
    if (run.status != 0)
        std::printf("  (exit status %d)", run.status);
    std::printf("\n");
}

// The runs' files go into `base`/`count`.
constexpr const char* kSetAside = "Set aside"; // the folders of the runs before, removed at the end
int Measure(int count, const std::string& program, int songSeconds, bool withLibrary, bool noopOnly,
            int repeats, const std::string& base)
{
    struct Folder {
        std::string path;
        std::string operator/(const std::string& relative) const { return path + "/" + relative; }
    } dir{base + "/" + std::to_string(count)};
    int setAside = 0;
    for (int i = 0; i < count; ++i) {
        const fixtures::SongSpec song = bench::NumberedSong(i, songSeconds, 128); // 6 s: about 100 KB
        fixtures::WriteSong(dir / bench::NumberedSongPath(song, i), song);
    }
    const double songBytes = FolderBytes(dir / "Songs");
    setenv("PELORIN_VOLUMES", (dir / "Volumes").c_str(), 1);
    setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
    setenv("HOME", (dir / "home").c_str(), 1);
    std::string libraryPod, databasePod;
    // Empty iPods, no settings, and a library holding the songs with an iPod attached: where each
    // repetition of the first copies starts from.
    auto prepare = [&]() {
        // The last run's folders are set aside, not removed, until every run is over: for a minute
        // after a file is removed (five, while its inode's block is unwritten), ext4 without a
        // journal passes its inode over when it picks one for a new file, reading the inode's
        // block to learn so. After removing thousands of files, creating as many costs seconds of
        // system time (a first copy of 5,000 songs took 2.2 s instead of 0.5 s).
        for (const char* made : {"Volumes", "data", "home", "Library", "Copy"}) {
            if (!std::filesystem::exists(dir / made))
                continue;
            std::filesystem::create_directories(dir / kSetAside);
            std::filesystem::rename(dir / made,
                                    dir / (std::string(kSetAside) + "/" + std::to_string(setAside++)));
        }
        libraryPod =
            samples::DatabasePath(samples::MakeIPod(dir / "Volumes", "LIBPOD", {.name = "Library Pod"}));
        databasePod =
            samples::DatabasePath(samples::MakeIPod(dir / "Volumes", "DBPOD", {.name = "Database Pod"}));
        if (withLibrary && !bench::MakeLibrary(dir / "Library", dir / "Songs", "LIBPOD"))
            return false;
        std::system("sync");
        return true;
    };
    if (noopOnly)
        std::printf("%d songs, %.1f MB\n", count, songBytes / 1e6);
    else
        std::printf("%d songs, %.1f MB (first copies: the best of %d runs each, from the same start)\n",
                    count, songBytes / 1e6, repeats);

    int stores = 0;
    auto byDatabase = [&](const char* name, const char* type, const std::string& database) {
        return SpawnCountingStores(
            {program, "sync", "--from", dir / "Songs", "--ipod", name, "--type", type, "--yes"}, database,
            &stores);
    };
    auto byLibrary = [&](const char* type) {
        setenv("PELORIN_LIBRARY", (dir / "Library").c_str(), 1);
        const Run run = SpawnCountingStores(
            {program, "sync", "--ipod", "Library Pod", "--type", type, "--yes"}, libraryPod, &stores);
        unsetenv("PELORIN_LIBRARY");
        return run;
    };
    // The quickest of each, with the stores of its run: the load of the machine only ever slows a run.
    struct Best {
        Run run;
        int stores = 0;
        bool any = false;
        void Offer(const Run& offered, int storesOfRun)
        {
            if (!any || offered.seconds < run.seconds) {
                run = offered;
                stores = storesOfRun;
                any = true;
            }
        }
    } cp, database, library;
    for (int repeat = 0; repeat < (noopOnly ? 1 : repeats); ++repeat) {
        if (!prepare())
            return 1;
        if (noopOnly)
            break;
        Run copy = Spawn({"cp", "-r", dir / "Songs", dir / "Copy"});
        const Run flush = Spawn({"sync", "-f", dir / "Copy"});
        copy.seconds += flush.seconds;
        copy.cpuSeconds += flush.cpuSeconds;
        cp.Offer(copy, 0);
        const Run byItsDatabase = byDatabase("Database Pod", "copy-to-ipod", databasePod);
        database.Offer(byItsDatabase, stores);
        if (withLibrary) {
            const Run throughTheLibrary = byLibrary("copy-to-ipod");
            library.Offer(throughTheLibrary, stores);
        }
    }
    if (!noopOnly) {
        Print("cp -r + sync -f", count, cp.run, songBytes, 0, nullptr);
        Print("through the iPod's database", count, database.run, songBytes, database.stores, &cp.run);
        if (withLibrary)
            Print("through the library", count, library.run, songBytes, library.stores, &cp.run);
    }

    // Nothing to do: nothing may be written to either iPod.
    const int runs = noopOnly ? 2 : 1;
    if (withLibrary) {
        if (noopOnly) {
            // The state of this run is the folder's, not the library's: the library route starts without
            // saved lists, as after its own first copy.
            const Run fill = byDatabase("Library Pod", "copy-to-ipod", libraryPod);
            Print("library's iPod, by its database", count, fill, songBytes, stores, nullptr);
        }
        for (int run = 0; run < runs; ++run) {
            const Run noop = byLibrary("synchronize");
            Print(run == 0 ? "no-op synchronize, library" : "  again, with saved lists", count, noop, 0,
                  stores, nullptr);
        }
    }
    if (noopOnly) {
        const Run filled = byDatabase("Database Pod", "copy-to-ipod", databasePod);
        Print("database's iPod", count, filled, songBytes, stores, nullptr);
    }
    for (int run = 0; run < runs; ++run) {
        const Run noop = byDatabase("Database Pod", "synchronize", databasePod);
        Print(run == 0 ? "no-op synchronize, database" : "  again, with saved lists", count, noop, 0, stores,
              nullptr);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const char* build = std::getenv("PELORIN_BUILD_DIR");
    const std::string program =
        std::filesystem::absolute(std::string(build ? build : "build") + "/pelorin").string();
    std::vector<int> counts;
    int songSeconds = 6;
    bool withLibrary = true;
    bool noopOnly = false;
    std::string keep;
    int repeats = 3;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--short") // songs of 1 s (about 16 KB), for the runs of 50,000
            songSeconds = 1;
        else if (std::string(argv[i]) == "--database-only") // the route through the library left out
            withLibrary = false;
        else if (std::string(argv[i]) == "--noop") // only the syncs with nothing to do
            noopOnly = true;
        else if (std::string(argv[i]) == "--repeat" && i + 1 < argc) // first copies: the best of N runs
            repeats = std::max(1, std::atoi(argv[++i]));
        else if (std::string(argv[i]) == "--keep" && i + 1 < argc)
            keep = std::filesystem::absolute(argv[++i]).string();
        else
            counts.push_back(std::atoi(argv[i]));
    }
    if (counts.empty())
        counts = {1000, 5000};
    // Removed (or, with --keep, rid of the runs set aside) once every run is over.
    fixtures::TempDir temporary;
    const std::string base = keep.empty() ? temporary.Path() : keep;
    int status = 0;
    for (int count : counts) {
        if (count <= 0) {
            std::fprintf(stderr, "usage: bench_routes [--short] [--database-only] [--noop] [--repeat N] "
                                 "[--keep FOLDER] [songs...]\n");
            return 2;
        }
        status = Measure(count, program, songSeconds, withLibrary, noopOnly, repeats, base);
        if (status != 0)
            break;
    }
    for (int count : counts)
        std::filesystem::remove_all(base + "/" + std::to_string(count) + "/" + kSetAside);
    return status;
}
