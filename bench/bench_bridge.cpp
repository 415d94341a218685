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
#include "bench/Workload.h"
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
#include <string>
#include <vector>

using bench::Seconds;

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
        const fixtures::SongSpec song = bench::NumberedSong(i, 1, 32);
        fixtures::WriteSong(dir / bench::NumberedSongPath(song, i), song);
    }
    setenv("PELORIN_LIBRARY", (dir / "Library").c_str(), 1);
    setenv("PELORIN_VOLUMES", (dir / "Volumes").c_str(), 1);
    setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
    samples::MakeIPod(dir / "Volumes", "LIBPOD", {.name = "Library Pod", .musicFolders = 50});
    samples::MakeIPod(dir / "Volumes", "DBPOD", {.name = "Database Pod", .musicFolders = 50});
    if (!bench::MakeLibrary(dir / "Library", dir / "Songs", "LIBPOD"))
        return 1;

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
    const std::vector<std::string> library = {program,  "sync",         "--ipod", "Library Pod",
                                              "--type", "copy-to-ipod", "--yes"};
    const std::vector<std::string> folder = {program,       "sync",         "--from",
                                             dir / "Songs", "--ipod",       "Database Pod",
                                             "--type",      "copy-to-ipod", "--yes"};
    if (bench::SpawnQuietly(library).status != 0 || bench::SpawnQuietly(folder).status != 0) {
        std::fprintf(stderr, "a first sync failed (%s)\n", program.c_str());
        return 1;
    }
    const bench::Spawned librarySync = bench::SpawnQuietly(library);
    const bench::Spawned folderSync = bench::SpawnQuietly(folder);
    if (librarySync.status != 0 || folderSync.status != 0) {
        std::fprintf(stderr, "a sync with nothing to do failed\n");
        return 1;
    }
    std::printf("no-op sync, library and its iPod, %d songs: %7.3f s, %6.1f MB (target under 3 s, 400 MB)\n",
                count, librarySync.seconds, librarySync.peakMemory / 1048576.0);
    std::printf("no-op sync --from the folder, %d songs:     %7.3f s, %6.1f MB; ratio %.2f\n", count,
                folderSync.seconds, folderSync.peakMemory / 1048576.0,
                librarySync.seconds / folderSync.seconds);
    return 0;
}
