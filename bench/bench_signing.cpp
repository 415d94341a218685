// The cost of signing an iPod classic's database: a sync of a folder of songs onto a fake iPod
// classic (signed with its GUID) and onto a fake iPod with video (not signed), run by the program
// itself, then the store of the resulting database alone, with and without the signature.
//
// Usage: bench_signing [songs]   (default 1000)

#include "ACommon/base/ByteWriter.h"
#include "ACommon/itunesdb/IPodDB.h"
#include "ACommon/itunesdb/IPodSigning.h"
#include "samples/IPodTree.h"
#include "samples/SongFile.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

// Processor time (user + system) of the children waited for so far.
double ChildCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double Seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// The fastest of `runs` runs of `work`, in seconds.
template <typename Work> double Best(int runs, Work work)
{
    double best = 1e9;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        work();
        best = std::min(best, Seconds(start));
    }
    return best;
}

} // namespace

int main(int argc, char** argv)
{
    const int songs = argc > 1 ? std::atoi(argv[1]) : 1000;
    namespace fs = std::filesystem;
    const fs::path self = fs::read_symlink("/proc/self/exe");
    const std::string pelorin = (self.parent_path().parent_path() / "pelorin").string();
    char pattern[] = "/tmp/bench_signing.XXXXXX";
    const std::string folder = mkdtemp(pattern);
    const std::string volumes = folder + "/Volumes";
    for (int i = 0; i < songs; ++i) {
        samples::SongSpec song;
        song.title = "Song " + std::to_string(i);
        song.artist = "Artist " + std::to_string(i % 50);
        song.album = "Album " + std::to_string(i % 200);
        song.genre = "Rock";
        song.silent = true;
        song.ancillary = std::to_string(i);
        samples::WriteSong(folder + "/Songs/" + song.artist + "/" + song.album + "/" + song.title + ".mp3",
                           song);
    }
    std::printf("sync of %d songs from a folder onto a fake iPod (%s)\n", songs, pelorin.c_str());
    struct Model {
        const char* volume;
        const char* model;
    };
    for (const Model& model : {Model{"CLASSIC", "MC293"}, Model{"VIDEO", "MA147"}}) {
        samples::IPodOptions options;
        options.modelNumStr = model.model;
        const std::string root = samples::MakeIPod(volumes, model.volume, options);
        const std::string command = "PELORIN_VOLUMES=" + volumes + " XDG_DATA_HOME=" + folder + "/data " +
                                    pelorin + " sync --from " + folder + "/Songs --ipod " + model.volume +
                                    " --type copy-to-ipod --yes > /dev/null 2>&1";
        const auto start = std::chrono::steady_clock::now();
        const double cpu = ChildCpuSeconds();
        const int status = std::system(command.c_str());
        std::printf("  %-8s %s: %.2f s wall, %.2f s processor (exit %d)\n", model.volume, model.model,
                    Seconds(start), ChildCpuSeconds() - cpu, status);
    }

    // The store alone, on the classic's database as the sync left it.
    AString root = AString::FromUTF8(volumes + "/CLASSIC");
    IPodDB db;
    if (db.Load(&root, 1, nullptr, nullptr) != 0) {
        std::printf("cannot load the classic's database\n");
        return 1;
    }
    ByteWriter out;
    db.GetDatabase()->Store(out);
    const std::vector<std::uint8_t> file = out.Bytes();
    IPodSigning::Plan plan;
    plan.scheme = 1;
    IPodSigning::ParseGuid("000A2700138A0000", &plan.guid);
    const int runs = 20;
    const double sign = Best(runs, [&] {
        std::vector<std::uint8_t> copy = file;
        IPodSigning::Sign(copy, plan);
    });
    const double copyOnly = Best(runs, [&] { std::vector<std::uint8_t> copy = file; });
    const double store = Best(runs, [&] {
        ByteWriter again;
        db.GetDatabase()->Store(again);
    });
    const double storeToDisk = Best(5, [&] { db.Store(nullptr); });
    std::printf("database of %d tracks, %zu bytes (best of %d):\n", db.GetTrackCount(), file.size(), runs);
    std::printf("  signing (hash58)           %.3f ms\n", (sign - copyOnly) * 1e3);
    std::printf("  building the file          %.3f ms\n", store * 1e3);
    std::printf("  IPodDB::Store, signed, with the safe replace (fsync)  %.3f ms\n", storeToDisk * 1e3);
    fs::remove_all(folder);
    return 0;
}
