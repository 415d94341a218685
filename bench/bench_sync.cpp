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

#include "ACommon/ASync.h"
#include "APlatform/KnownFolders.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
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

double Seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// The best of `rounds` timings of `work`.
template <typename Work>
double Best(int rounds, Work work)
{
    double best = 1e9;
    for (int i = 0; i < rounds; ++i) {
        auto start = std::chrono::steady_clock::now();
        work();
        best = std::min(best, Seconds(start));
    }
    return best;
}

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
    sync.SetAutoAction(3);
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
            AFile out;
            if (out.Open(&statePath, 2) != 0 || sync.WriteState(&out) != 0)
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

    const int rounds = 3;
    int leftCount = 0, rightCount = 0;
    const double listing = Best(rounds, [&] {
        sync.UpdateFileLists(nullptr);
        leftCount = sync.GetDir1()->Count();
        rightCount = sync.GetDir2()->Count();
    });
    int twoWayActions = 0;
    double twoWayPlan = 1e9;
    for (int i = 0; i < rounds; ++i) {
        sync.UpdateFileLists(nullptr); // unsorted again, as a run finds them
        auto start = std::chrono::steady_clock::now();
        sync.ClearSyncActions();
        sync.TwoWaySync(nullptr);
        twoWayPlan = std::min(twoWayPlan, Seconds(start));
        twoWayActions = sync.GetActionCount();
    }
    int oneWayActions = 0;
    double oneWayPlan = 1e9;
    sync.SetAutoAction(1);
    for (int i = 0; i < rounds; ++i) {
        sync.UpdateFileLists(nullptr);
        auto start = std::chrono::steady_clock::now();
        sync.ClearSyncActions();
        sync.XCopy(sync.GetDir1(), sync.GetDir2(), nullptr);
        oneWayPlan = std::min(oneWayPlan, Seconds(start));
        oneWayActions = sync.GetActionCount();
    }
    sync.ClearSyncActions();

    const std::string rsync = "rsync -a --dry-run --delete '" + left + "/' '" + right + "/' >/dev/null 2>&1";
    int rsyncStatus = 0;
    const double rsyncTime = Best(rounds, [&] { rsyncStatus = std::system(rsync.c_str()); });

    std::printf("Files: %d on the left, %d on the right (entries with folders); 90%% shared\n", leftCount, rightCount);
    std::printf("List both sides:                   %8.3f s\n", listing);
    std::printf("Sort and plan two-way (synchronize): %6.3f s  (%d actions)\n", twoWayPlan, twoWayActions);
    std::printf("Sort and plan one-way (mirror):    %8.3f s  (%d actions)\n", oneWayPlan, oneWayActions);
    std::printf("Pelorin two-way, list + plan:      %8.3f s\n", listing + twoWayPlan);
    std::printf("Pelorin one-way, list + plan:      %8.3f s\n", listing + oneWayPlan);
    if (rsyncStatus != 0) {
        std::printf("rsync -a --dry-run --delete:       failed (status %d); is rsync installed?\n", rsyncStatus);
    } else {
        std::printf("rsync -a --dry-run --delete:       %8.3f s\n", rsyncTime);
        std::printf("Ratio rsync / Pelorin one-way:     %8.2f  (above 1: Pelorin is faster)\n",
                    rsyncTime / (listing + oneWayPlan));
        std::printf("Ratio rsync / Pelorin two-way:     %8.2f\n", rsyncTime / (listing + twoWayPlan));
    }
    std::printf("(best of %d runs each, warm file-system cache)\n", rounds);

    if (!keep || !*keep) {
        std::error_code error;
        std::filesystem::remove_all(base, error);
    }
    return 0;
}
