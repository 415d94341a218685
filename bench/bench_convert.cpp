// Conversion throughput: FLAC songs converted to AAC (256 kbit/s) by SongConverter on every core,
// against the ffmpeg command line converting the same songs one after the other. Prints songs per
// minute of both and the ratio. The songs are one tone made by ffmpeg and flac, copied with a title
// of their own each (so that no two share a cache entry).
//
//   build/bench/bench_convert [songs] [seconds]     (default 100 songs of 240 seconds; files go to
//                                                   $TMPDIR, removed afterwards)

#include "ACommon/base/AString.h"
#include "ACommon/sources/SongConverter.h"
#include "fixtures/EncodedFiles.h"
#include "fixtures/TempDir.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

int main(int argc, char** argv)
{
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100;
    const double seconds = argc > 2 ? std::max(1.0, std::atof(argv[2])) : 240.0;
    if (!fixtures::EncodersAvailable() || fixtures::RunShell("command -v metaflac") != 0) {
        std::printf("flac, metaflac or ffmpeg missing: nothing measured\n");
        return 0;
    }
    fixtures::TempDir dir;
    fixtures::EncodedSong song;
    song.title = "Song";
    song.artist = "Artist";
    song.seconds = seconds;
    const std::string first = dir / "songs/0.flac";
    if (std::string error = fixtures::Encode(first, song); !error.empty()) {
        std::printf("%s\n", error.c_str());
        return 1;
    }
    std::vector<std::string> songs{first};
    for (int i = 1; i < count; ++i) {
        songs.push_back(dir / ("songs/" + std::to_string(i) + ".flac"));
        std::filesystem::copy_file(first, songs.back());
        fixtures::RunShell("metaflac --remove-tag=TITLE --set-tag=" +
                           fixtures::ShellQuote("TITLE=Song " + std::to_string(i)) + " " +
                           fixtures::ShellQuote(songs.back()));
    }
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    std::printf("%d FLAC songs of %.0f s, to AAC 256 kbit/s; %u cores\n", count, seconds, cores);

    SongConverter::Options options;
    options.settings.alwaysAAC = true;
    options.cacheFolder = dir / "cache";
    options.cacheLimitBytes = ~0ull;
    auto start = std::chrono::steady_clock::now();
    int failed = 0;
    {
        SongConverter converter(options);
        std::vector<AString> paths;
        for (const std::string& path : songs)
            paths.push_back(AString::FromUTF8(path));
        converter.Prefetch(paths);
        for (const AString& path : paths) {
            AString out;
            if (converter.FileForIPod(path, out, nullptr) != 0)
                ++failed;
        }
    }
    const double ours = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    start = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i < songs.size(); ++i)
        if (fixtures::RunShell("ffmpeg -nostdin -loglevel error -y -i " + fixtures::ShellQuote(songs[i]) +
                               " -vn -c:a aac -b:a 256k " +
                               fixtures::ShellQuote(dir / ("cli" + std::to_string(i) + ".m4a"))) != 0)
            ++failed;
    const double theirs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    std::printf("SongConverter (every core): %.1f songs/min (%.1f s)\n", count * 60.0 / ours, ours);
    std::printf("ffmpeg command line, one after the other: %.1f songs/min (%.1f s)\n", count * 60.0 / theirs,
                theirs);
    std::printf("ratio: %.2f\n", theirs / ours);
    if (failed != 0)
        std::printf("WARNING: %d conversions failed\n", failed);
    return 0;
}
