// Listing and planning a sync of two folders of 50,000 small files each, against rsync's dry run
// over the same trees.
//
// The trees: 500 folders of 100 files on each side, identical at first. The lists of that state are
// saved as a synchronize run would save them; then 10% of each side changes: a third of those files
// is deleted, a third modified (new contents, newer time) and a third added under new names. So 90%
// of the files are shared and unchanged, and the two-way plan sees additions, modifications and
// deletions on both sides.
//
// Usage: bench_sync [files per side]   (default 50000)

#include "ACommon/sync/ASync.h"
#include "APlatform/KnownFolders.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kFilesPerFolder = 100;
constexpr time_t kBaseTime = 1600000000;

void WriteSmallFile(const std::string& path, const std::string& text, time_t when)
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        std::perror(path.c_str());
        std::exit(1);
    }
    if (write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
        std::perror(path.c_str());
        std::exit(1);
    }
    timespec times[2] = {{when, 0}, {when, 0}};
    futimens(fd, times);
    close(fd);
}

std::string FilePath(const std::string& side, int index)
{
    char name[64];
    std::snprintf(name, sizeof name, "/folder%03d/file%05d.txt", index / kFilesPerFolder, index);
    return side + name;
}

std::string Contents(int index) { return "small file number " + std::to_string(index) + "\n"; }

// Wall-clock time and processor time (user + system, of this process with all its threads, or of
// the waited-for children), so that a busy machine shows as waiting rather than as work.
struct Clock {
    std::chrono::steady_clock::time_point wall;
    double cpu;
    double childCpu;
};

double CpuSeconds(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

Clock Now()
{
    return {std::chrono::steady_clock::now(), CpuSeconds(RUSAGE_SELF), CpuSeconds(RUSAGE_CHILDREN)};
}

struct Span {
    double wall = 1e9;
    double cpu = 1e9;
    // Keeps the smaller of each figure.
    void Keep(const Clock& from, const Clock& to, bool children = false)
    {
        wall = std::min(wall, std::chrono::duration<double>(to.wall - from.wall).count());
        cpu = std::min(cpu, children ? to.childCpu - from.childCpu : to.cpu - from.cpu);
    }
};

} // namespace

int main(int argc, char** argv)
{
    const int files = argc > 1 ? std::max(1000, std::atoi(argv[1])) : 50000;
    const int folders = (files + kFilesPerFolder - 1) / kFilesPerFolder;
    // PELORIN_BENCH_TREES=FOLDER keeps the generated trees (and the saved lists) in FOLDER and uses
    // them again on the next run, for profiling the listing and planning alone.
    const char* keep = std::getenv("PELORIN_BENCH_TREES");
    std::string base;
    if (keep && *keep) {
        base = keep;
        std::filesystem::create_directories(base);
    } else {
        base = platform::TemporaryFolder() + "/pelorin-bench-sync-XXXXXX";
        std::vector<char> buffer(base.begin(), base.end());
        buffer.push_back('\0');
        if (!mkdtemp(buffer.data())) {
            std::perror("mkdtemp");
            return 1;
        }
        base = buffer.data();
    }
    const std::string left = base + "/left", right = base + "/right";
    AString statePath = AString::FromUTF8(base + "/saved.state");

    ASync sync;
    AString leftRoot = AString::FromUTF8(left), rightRoot = AString::FromUTF8(right);
    const bool reuse = keep && *keep && std::filesystem::exists(base + "/saved.state");
    if (reuse) {
        std::printf("Using the folders kept in %s\n", base.c_str());
        AFile in;
        if (in.Open(&statePath, 1) != 0 || sync.ReadState(&in) != 0) {
            std::fprintf(stderr, "cannot read %s\n", statePath.CStr());
            return 1;
        }
    }
    sync.SetRootPath1(&leftRoot, nullptr, 0);
    sync.SetRootPath2(&rightRoot, nullptr, 0);
    sync.SetAutoAction(ASync::kTwoWay);
    sync.SetDestDeletes(1);

    if (!reuse) {
        std::printf("Generating two folders of %d files each in %s ...\n", files, base.c_str());
        for (const std::string& side : {left, right}) {
            for (int f = 0; f < folders; ++f) {
                char name[32];
                std::snprintf(name, sizeof name, "/folder%03d", f);
                std::filesystem::create_directories(side + name);
            }
            for (int i = 0; i < files; ++i)
                WriteSmallFile(FilePath(side, i), Contents(i), kBaseTime);
        }
        // The lists of this state are what a synchronize run saves.
        if (sync.UpdateFileLists(nullptr) != 0 || sync.RepopulateLists(nullptr) != 0) {
            std::fprintf(stderr, "listing failed\n");
            return 1;
        }
        if (keep && *keep) {
            if (AFile::ReplaceSafely(
                    &statePath, [&](AFile* f) { return sync.WriteState(f); }, false) != 0)
                std::fprintf(stderr, "cannot write %s\n", statePath.CStr());
        }

        // 10% of each side changes; the two sides change different files.
        const int changed = files / 10, third = changed / 3;
        for (int s = 0; s < 2; ++s) {
            const std::string& side = s == 0 ? left : right;
            const int first = s == 0 ? 0 : files / 2;
            for (int k = 0; k < changed; ++k) {
                const int index = first + k * 5 % (files / 2);
                if (k < third) {
                    std::filesystem::remove(FilePath(side, index));
                } else if (k < 2 * third) {
                    WriteSmallFile(FilePath(side, index), Contents(index) + "modified\n", kBaseTime + 100000);
                } else {
                    char name[64];
                    std::snprintf(name, sizeof name, "/folder%03d/added-%d-%05d.txt", k % folders, s, k);
                    WriteSmallFile(side + name, Contents(k), kBaseTime + 200000);
                }
            }
        }
    }

    // Each round lists afresh (the lists come unsorted from the disk, as a run finds them), then
    // plans; the best of the rounds counts.
    const int rounds = 3;
    int leftCount = 0, rightCount = 0, twoWayActions = 0, oneWayActions = 0;
    Span listing, twoWay, twoWayTotal, oneWay, oneWayTotal, rsyncSpan;
    for (int i = 0; i < rounds; ++i) {
        sync.SetAutoAction(ASync::kTwoWay);
        Clock start = Now();
        sync.UpdateFileLists(nullptr);
        Clock listed = Now();
        sync.ClearSyncActions();
        sync.TwoWaySync(nullptr);
        Clock planned = Now();
        listing.Keep(start, listed);
        twoWay.Keep(listed, planned);
        twoWayTotal.Keep(start, planned);
        leftCount = sync.GetDir1()->Count();
        rightCount = sync.GetDir2()->Count();
        twoWayActions = sync.GetActionCount();
    }
    for (int i = 0; i < rounds; ++i) {
        sync.SetAutoAction(ASync::kLeftToRight);
        Clock start = Now();
        sync.UpdateFileLists(nullptr);
        Clock listed = Now();
        sync.ClearSyncActions();
        sync.XCopy(sync.GetDir1(), sync.GetDir2(), nullptr);
        Clock planned = Now();
        listing.Keep(start, listed);
        oneWay.Keep(listed, planned);
        oneWayTotal.Keep(start, planned);
        oneWayActions = sync.GetActionCount();
    }
    sync.ClearSyncActions();

    const std::string rsync = "rsync -a --dry-run --delete '" + left + "/' '" + right + "/' >/dev/null 2>&1";
    int rsyncStatus = 0;
    for (int i = 0; i < rounds; ++i) {
        Clock start = Now();
        rsyncStatus = std::system(rsync.c_str());
        rsyncSpan.Keep(start, Now(), true);
    }

    std::printf("Files: %d on the left, %d on the right (entries with folders); 90%% shared\n", leftCount,
                rightCount);
    std::printf("%-38s %8s %8s\n", "", "wall s", "cpu s");
    auto row = [](const char* what, const Span& span) {
        std::printf("%-38s %8.3f %8.3f\n", what, span.wall, span.cpu);
    };
    row("List both sides", listing);
    std::printf("%-38s %8.3f %8.3f  (%d actions)\n", "Sort and plan two-way (synchronize)", twoWay.wall,
                twoWay.cpu, twoWayActions);
    std::printf("%-38s %8.3f %8.3f  (%d actions)\n", "Sort and plan one-way (mirror)", oneWay.wall,
                oneWay.cpu, oneWayActions);
    row("Pelorin two-way, list + plan", twoWayTotal);
    row("Pelorin one-way, list + plan", oneWayTotal);
    if (rsyncStatus != 0) {
        std::printf("rsync -a --dry-run --delete: failed (status %d); is rsync installed?\n", rsyncStatus);
    } else {
        row("rsync -a --dry-run --delete", rsyncSpan);
        std::printf("Ratio rsync / Pelorin one-way:  wall %.2f, cpu %.2f  (above 1: Pelorin is faster)\n",
                    rsyncSpan.wall / oneWayTotal.wall, rsyncSpan.cpu / oneWayTotal.cpu);
        std::printf("Ratio rsync / Pelorin two-way:  wall %.2f, cpu %.2f\n",
                    rsyncSpan.wall / twoWayTotal.wall, rsyncSpan.cpu / twoWayTotal.cpu);
    }
    std::printf("(best of %d runs each, warm file-system cache)\n", rounds);

    if (!keep || !*keep) {
        std::error_code error;
        std::filesystem::remove_all(base, error);
    }
    return 0;
}
