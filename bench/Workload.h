#pragma once
// What the benchmarks that build a library of songs and run the program share: the songs, and a
// run of the program with what the kernel counted of it.

#include "fixtures/MusicFiles.h"
#include "musiclib/FolderImport.h"
#include "musiclib/MusicLibrary.h"

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace bench {

// Song `i` of a benchmark's songs: albums of ten songs, artists of five albums, two genres, and
// sound of its own.
inline fixtures::SongSpec NumberedSong(int i, int seconds, int bitRate)
{
    fixtures::SongSpec song;
    song.title = "Song " + std::to_string(i);
    song.artist = "Artist " + std::to_string(i / 50);
    song.album = "Album " + std::to_string(i / 10);
    song.genre = i % 2 ? "Rock" : "Jazz";
    song.track = i % 12 + 1;
    song.seed = static_cast<std::uint32_t>(i);
    song.seconds = seconds;
    song.bitRate = bitRate;
    return song;
}

// Where song `i` lies below a folder of songs: "Songs/ARTIST/ALBUM/i.mp3" (or another extension).
inline std::string NumberedSongPath(const fixtures::SongSpec& song, int i, const char* extension = ".mp3")
{
    return "Songs/" + song.artist + "/" + song.album + "/" + std::to_string(i) + extension;
}

// Makes a music library in `folder` holding the songs below `songs`, with the iPod mounted on the
// volume `iPod` attached: false (and what went wrong, printed) when it cannot.
inline bool MakeLibrary(const std::string& folder, const std::string& songs, const char* iPod)
{
    std::unique_ptr<MusicLibrary> library;
    std::string error;
    FolderImport::Summary summary;
    if (MusicLibrary::Open(folder, true, library, error) != 0 ||
        FolderImport::Run(*library, songs, "", nullptr, nullptr, summary, error) != 0 ||
        library->AttachIPod(iPod, error) != 0) {
        std::fprintf(stderr, "cannot make the library: %s\n", error.c_str());
        return false;
    }
    return true;
}

// Reads the files once, so that a measure reads them from memory.
inline void WarmCache(const std::vector<std::string>& paths)
{
    std::vector<char> buffer(1 << 16);
    for (const std::string& path : paths) {
        std::ifstream in(path, std::ios::binary);
        while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0) {
        }
    }
}

struct Spawned {
    int status = -1;
    double seconds = 0;
    double cpuSeconds = 0;   // user + system time of the process and its children
    double bytesWritten = 0; // the blocks it wrote, as the kernel counted them
    double peakMemory = 0;   // the largest resident size, in bytes
};

// Runs `args` (the program looked for on PATH) with its output thrown away.
inline Spawned SpawnQuietly(const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    Spawned run;
    pid_t child = 0;
    const auto start = std::chrono::steady_clock::now();
    if (posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
        struct rusage usage {};
        int status = 0;
        wait4(child, &status, 0, &usage);
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.bytesWritten = static_cast<double>(usage.ru_oublock) * 512.0;
        run.peakMemory = static_cast<double>(usage.ru_maxrss) * 1024.0;
        run.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    }
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    posix_spawn_file_actions_destroy(&actions);
    return run;
}

} // namespace bench
