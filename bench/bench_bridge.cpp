// The library as a side of a sync, each measure printed beside the same work on a folder of songs
// in the same run:
//
//  1. Listing the library (ADirTunes::PopulateFileList: the bridge's scripts through the library's
//     interpreter, round trips included) against listing the folder the songs lie in
//     (ADirSongDir::PopulateFileList, tags read from the files). Target: under 1.0 s for 50,000.
//  2. A `pelorin sync` with nothing to do between the library and an iPod attached to it holding
//     the same songs, against `pelorin sync --from` the folder with another iPod, reached through
//     its database, holding them too. Wall time and the largest resident size of the run. Target:
//     under 3 s and 400 MB for 50,000.
//
//   build/bench/bench_bridge [songs] [sync]   (files go to $TMPDIR; the program is
//   $PELORIN_BUILD_DIR/pelorin, else build/pelorin; with "list" as the second argument only the
//   listing is measured: filling the two iPods for the second measure copies every song twice)

#include "bench/Seconds.h"
#include "musiclib/FolderImport.h"
#include "musiclib/LibraryScriptRunner.h"
#include "musiclib/MusicLibrary.h"

#include "ACommon/sources/ADirSongDir.h"
#include "ACommon/sources/ADirTunes.h"
#include "APlatform/ScriptRunner.h"
#include "fixtures/MusicFiles.h"
#include "fixtures/TempDir.h"
#include "samples/IPodTree.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace {

using bench::Seconds;

// Runs the program with `args`; its exit status, and the largest resident size of the runs so far.
int Spawn(const std::vector<std::string>& args, long* maxKilobytes)
{
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t child = 0;
    int status = -1;
    if (posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
        struct rusage usage {};
        wait4(child, &status, 0, &usage);
        *maxKilobytes = usage.ru_maxrss;
    }
    posix_spawn_file_actions_destroy(&actions);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

int main(int argc, char** argv)
{
    const int count = argc > 1 ? std::atoi(argv[1]) : 50000;
    const char* build = std::getenv("PELORIN_BUILD_DIR");
    const std::string program = std::string(build ? build : "build") + "/pelorin";
    const bool listOnly = argc > 2 && std::string(argv[2]) == "list";
    if (count <= 0) {
        std::fprintf(stderr, "usage: bench_bridge [songs] [list]\n");
        return 2;
    }
    fixtures::TempDir dir;
    for (int i = 0; i < count; ++i) {
        fixtures::SongSpec song;
        song.title = "Song " + std::to_string(i);
        song.artist = "Artist " + std::to_string(i / 50);
        song.album = "Album " + std::to_string(i / 10);
        song.genre = i % 2 ? "Rock" : "Jazz";
        song.track = i % 12 + 1;
        song.seed = static_cast<std::uint32_t>(i);
        song.seconds = 1;
        song.bitRate = 32;
        fixtures::WriteSong(
            dir / ("Songs/" + song.artist + "/" + song.album + "/" + std::to_string(i) + ".mp3"), song);
    }
    setenv("PELORIN_LIBRARY", (dir / "Library").c_str(), 1);
    setenv("PELORIN_VOLUMES", (dir / "Volumes").c_str(), 1);
    setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
    samples::MakeIPod(dir / "Volumes", "LIBPOD", {.name = "Library Pod", .musicFolders = 50});
    samples::MakeIPod(dir / "Volumes", "DBPOD", {.name = "Database Pod", .musicFolders = 50});
    {
        std::unique_ptr<MusicLibrary> library;
        std::string error;
        FolderImport::Summary summary;
        if (MusicLibrary::Open(dir / "Library", true, library, error) != 0 ||
            FolderImport::Run(*library, dir / "Songs", "", nullptr, nullptr, summary, error) != 0 ||
            library->AttachIPod("LIBPOD", error) != 0) {
            std::fprintf(stderr, "cannot make the library: %s\n", error.c_str());
            return 1;
        }
    }

    // 1. Listing.
    double libraryList = 0, folderList = 0;
    int listedLibrary = 0, listedFolder = 0;
    {
        LibraryScriptRunner runner(dir / "Library");
        platform::SetScriptRunner(&runner);
        ADirTunes tunes;
        tunes.PopulateFileList(nullptr); // opens the library, warms the caches
        tunes.DeleteAll();
        libraryList = Seconds([&] { tunes.PopulateFileList(nullptr); });
        listedLibrary = tunes.Count();
        platform::SetScriptRunner(nullptr);
    }
    {
        ADirSongDir folder;
        AString root = AString::FromUTF8(dir / "Songs/");
        folder.InitWPath(&root, 0, nullptr);
        folderList = Seconds([&] { folder.InitWPath(&root, 0, nullptr); });
        listedFolder = folder.Count();
    }
    std::printf("listing the library, %d tracks (scripts included): %7.3f s (target under 1.0 s)\n",
                listedLibrary, libraryList);
    std::printf("listing the folder,  %d songs (tags read):         %7.3f s; ratio %.2f\n", listedFolder,
                folderList, libraryList / folderList);

    if (listOnly)
        return 0;
    // 2. A sync with nothing to do, after a first one that filled each iPod.
    long kilobytes = 0;
    const std::vector<std::string> library = {program,  "sync",         "--ipod", "Library Pod",
                                              "--type", "copy-to-ipod", "--yes"};
    const std::vector<std::string> folder = {program,       "sync",         "--from",
                                             dir / "Songs", "--ipod",       "Database Pod",
                                             "--type",      "copy-to-ipod", "--yes"};
    if (Spawn(library, &kilobytes) != 0 || Spawn(folder, &kilobytes) != 0) {
        std::fprintf(stderr, "a first sync failed (%s)\n", program.c_str());
        return 1;
    }
    long libraryKb = 0, folderKb = 0;
    int libraryStatus = 0, folderStatus = 0;
    const double librarySync = Seconds([&] { libraryStatus = Spawn(library, &libraryKb); });
    const double folderSync = Seconds([&] { folderStatus = Spawn(folder, &folderKb); });
    if (libraryStatus != 0 || folderStatus != 0) {
        std::fprintf(stderr, "a sync with nothing to do failed\n");
        return 1;
    }
    std::printf("no-op sync, library and its iPod, %d songs: %7.3f s, %6.1f MB (target under 3 s, 400 MB)\n",
                count, librarySync, libraryKb / 1024.0);
    std::printf("no-op sync --from the folder, %d songs:     %7.3f s, %6.1f MB; ratio %.2f\n", count,
                folderSync, folderKb / 1024.0, librarySync / folderSync);
    return 0;
}
