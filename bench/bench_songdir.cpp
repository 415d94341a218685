// Listing a folder of songs as a song source: 10,000 generated songs (MP3 and M4A in Artist/Album
// folders, a few without tags) listed by ADirSongDir (InitWPath, which lists the folder and reads
// every song's tags, then Sort), with a warm cache. In the same run the tags of the same files are
// read alone, on one thread (ID3::SetFilePath over a list of paths made beforehand), which is the
// least any listing by tags must do. Prints songs per second of both and what the listing costs
// beyond the tag reading, in wall time and in processor time (the listing reads tags on several
// threads, so the two differ).
//
//   build/bench/bench_songdir [songs] [rounds]      (files go to $TMPDIR, removed afterwards)

#include "ACommon/base/AProgress.h"
#include "ACommon/base/AString.h"
#include "ACommon/sources/ADirSongDir.h"
#include "ACommon/tags/ID3.h"
#include "bench/Workload.h"
#include "fixtures/TempDir.h"
#include "samples/SongFile.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

struct Span {
    double wall = 0;
    double cpu = 0;
};

double CpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

template <class Work> Span Measure(Work work)
{
    const double cpu = CpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    work();
    const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
    return {wall.count(), CpuSeconds() - cpu};
}

std::vector<std::string> MakeSongs(const std::string& root, int count)
{
    std::vector<std::string> paths;
    paths.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const bool m4a = i % 5 == 4;
        const bool untagged = i % 100 == 99;
        samples::SongSpec song;
        if (!untagged) {
            song.title = "Song " + std::to_string(i);
            // About ten songs to an album, two or three albums to an artist.
            song.artist = "Artist " + std::to_string(i / 25);
            song.album = "Album " + std::to_string(i / 10);
            song.genre = i % 3 ? "Rock" : "Jazz";
            song.track = i % 14 + 1;
            song.year = 1960 + i % 60;
        }
        song.seconds = 1;
        song.bitRate = 32;
        song.seed = static_cast<std::uint32_t>(i);
        const std::string folder = untagged ? "Unsorted" : song.artist + "/" + song.album;
        const std::string path = root + "/" + folder + "/" + std::to_string(i) + (m4a ? ".m4a" : ".mp3");
        samples::WriteSong(path, song);
        paths.push_back(path);
    }
    return paths;
}

using bench::WarmCache;

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10000;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;

    fixtures::TempDir tmp;
    const std::string root = tmp / "Music";
    std::printf("Generating %d songs in %s ...\n", count, root.c_str());
    std::fflush(stdout);
    const std::vector<std::string> files = MakeSongs(root, count);
    std::vector<AString> paths;
    for (const std::string& file : files)
        paths.push_back(AString::FromUTF8(file));
    WarmCache(files);

    AProgress quiet; // no status lines, no log view: nothing but the work is measured
    AString rootPath = AString::FromUTF8(root);
    ADirSongDir songs(&quiet);
    int listed = 0;
    long long checksum = 0;

    std::vector<double> tagWall, tagCpu, listWall, listCpu;
    for (int round = 0; round < rounds + 1; ++round) {
        // Alternate the two, so that both see the same state of the cache and the machine.
        Span tags = Measure([&] {
            for (const AString& path : paths) {
                ID3 reader;
                checksum += reader.SetFilePath(path);
            }
        });
        Span list = Measure([&] {
            if (songs.InitWPath(&rootPath, 0, nullptr) != 0)
                std::abort();
            songs.Sort(1);
            listed = songs.Count();
        });
        if (round == 0)
            continue; // the first round warms everything up
        tagWall.push_back(tags.wall);
        tagCpu.push_back(tags.cpu);
        listWall.push_back(list.wall);
        listCpu.push_back(list.cpu);
    }
    if (listed != count || songs.GetUnreadableCount() != 0) {
        std::fprintf(stderr, "listed %d of %d songs (%d unreadable)\n", listed, count,
                     songs.GetUnreadableCount());
        return 1;
    }

    const double tagsWall = Median(tagWall), tagsCpu = Median(tagCpu);
    const double listingWall = Median(listWall), listingCpu = Median(listCpu);
    std::printf("Songs: %d (%d folders), warm cache, median of %d rounds (checksum %lld)\n", count,
                static_cast<int>(std::distance(std::filesystem::recursive_directory_iterator(root),
                                               std::filesystem::recursive_directory_iterator{})) -
                    count,
                rounds, checksum);
    std::printf("%-44s %8s %8s %12s\n", "", "wall s", "cpu s", "songs/s");
    std::printf("%-44s %8.3f %8.3f %12.0f\n", "Tag reading alone (ID3::SetFilePath)", tagsWall, tagsCpu,
                count / tagsWall);
    std::printf("%-44s %8.3f %8.3f %12.0f\n", "Listing as a song source (InitWPath + Sort)", listingWall,
                listingCpu, count / listingWall);
    std::printf("Reading tags is %.0f%% of the listing's processor time (%.1f of %.1f us per song)\n",
                100.0 * tagsCpu / listingCpu, 1e6 * tagsCpu / count, 1e6 * listingCpu / count);
    std::printf("The listing costs %+.1f%% wall time and %+.1f%% processor time beyond the tag reading alone "
                "(target: at most +10%%)\n",
                100.0 * (listingWall / tagsWall - 1.0), 100.0 * (listingCpu / tagsCpu - 1.0));
    return 0;
}
