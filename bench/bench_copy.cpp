// Times AFile::CopyWithProgress of a 200 MB file against cp(1) of the same file in the same run.
// CopyWithProgress flushes the copy to the disk (fsync) before it puts it in place, so the fair peer
// is "cp FILE COPY && sync COPY"; plain cp (which leaves the data in the page cache) is printed too.
// The ratio printed as the result is against cp + sync. Prints figures; never fails on them.
//
//   build/bench/bench_copy [folder] [megabytes]     (folder: where to copy, default $TMPDIR or /tmp)

#include "ACommon/base/AError.h"
#include "ACommon/base/AFile.h"
#include "ACommon/base/AProgress.h"
#include "APlatform/KnownFolders.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(const std::function<bool()>& run, bool& ok)
{
    auto start = Clock::now();
    ok = run();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

bool Shell(const std::string& command) { return std::system(command.c_str()) == 0; }

} // namespace

int main(int argc, char** argv)
{
    const std::string base = argc > 1 ? argv[1] : platform::TemporaryFolder();
    const long megabytes = argc > 2 ? std::max(1L, std::atol(argv[2])) : 200;
    const std::string folder = base + "/pelorin-bench-copy-" + std::to_string(getpid());
    std::filesystem::create_directories(folder);
    const std::string source = folder + "/source.bin";
    const std::string target = folder + "/copy.bin";

    // Incompressible content, written and flushed once; every copy then reads it from the page cache.
    {
        std::ofstream out(source, std::ios::binary);
        std::mt19937_64 random(42);
        std::vector<std::uint64_t> block(1 << 17);
        for (long written = 0; written < megabytes * 1000000L;) {
            for (auto& word : block)
                word = random();
            long n = std::min<long>(static_cast<long>(block.size() * 8), megabytes * 1000000L - written);
            out.write(reinterpret_cast<const char*>(block.data()), n);
            written += n;
        }
    }
    Shell("sync " + Quoted(source));
    std::printf("bench_copy: %ld MB file in %s\n", megabytes, folder.c_str());

    AString from = AString::FromUTF8(source), to = AString::FromUTF8(target);
    AProgress progress;
    std::vector<double> ours, cp, cpSync;
    bool allOk = true;
    const int runs = 5;
    for (int run = 0; run < runs; ++run) {
        // Alternate the order so that neither side always meets a disk still busy with the other.
        for (int which = 0; which < 3; ++which) {
            int kind = (which + run) % 3;
            std::filesystem::remove(target);
            Shell("sync");
            bool ok = false;
            double seconds = 0;
            if (kind == 0) {
                progress.StartProgress(nullptr, 0, 0, 0);
                seconds =
                    Seconds([&] { return AFile::CopyWithProgress(&from, &to, nullptr, &progress) == 0; }, ok);
                ours.push_back(seconds);
            } else if (kind == 1) {
                seconds = Seconds([&] { return Shell("cp " + Quoted(source) + " " + Quoted(target)); }, ok);
                cp.push_back(seconds);
            } else {
                seconds = Seconds(
                    [&] {
                        return Shell("cp " + Quoted(source) + " " + Quoted(target) + " && sync " +
                                     Quoted(target));
                    },
                    ok);
                cpSync.push_back(seconds);
            }
            if (!ok) {
                std::printf("  copy %d failed\n", kind);
                allOk = false;
            }
        }
    }
    std::filesystem::remove_all(folder);
    if (!allOk)
        return 1;

    const double mb = static_cast<double>(megabytes);
    const double oursS = Median(ours), cpS = Median(cp), cpSyncS = Median(cpSync);
    auto best = [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); };
    std::printf("  (medians of %d interleaved runs; best run in brackets)\n", runs);
    std::printf("  CopyWithProgress (with fsync): %6.3f s  %7.1f MB/s  [%.3f s]\n", oursS, mb / oursS,
                best(ours));
    std::printf("  cp + sync FILE:                %6.3f s  %7.1f MB/s  [%.3f s]\n", cpSyncS, mb / cpSyncS,
                best(cpSync));
    std::printf("  cp alone (no flush):           %6.3f s  %7.1f MB/s  [%.3f s]\n", cpS, mb / cpS, best(cp));
    std::printf("  ratio CopyWithProgress / (cp + sync): %.2f  (target: at most 1.10: %s)\n", oursS / cpSyncS,
                oursS / cpSyncS <= 1.10 ? "met" : "MISSED");
    std::printf("  ratio CopyWithProgress / cp alone:    %.2f  (not like for like: cp does not flush)\n",
                oursS / cpS);
    return 0;
}
