// Loading and storing the iPod database: this program against libgpod on the same files.
//
// For 20,000 and 50,000 tracks libgpod writes a database (with the library playlist and a playlist
// of every tenth track) into a scratch iPod; then each side loads it, and loads and stores it. The
// file libgpod wrote is put back before every run. Prints the best of three runs and the ratios.
//
// Run: build/bench/bench_ipoddb [track counts...]

#include "ACommon/base/AString.h"
#include "ACommon/base/ByteWriter.h"
#include "ACommon/itunesdb/IPodDB.h"
#include "ACommon/itunesdb/MHBD.h"

#include <gpod/itdb.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double BestOf(int runs, const std::function<void()>& prepare, const std::function<bool()>& body)
{
    double best = 1e300;
    for (int i = 0; i < runs; ++i) {
        prepare();
        const auto start = Clock::now();
        if (!body()) {
            std::fprintf(stderr, "run failed\n");
            std::exit(1);
        }
        best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
    }
    return best;
}

std::vector<char> ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const std::string& path, const std::vector<char>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool WriteWithGpod(const std::string& root, int count)
{
    Itdb_iTunesDB* db = itdb_new();
    itdb_set_mountpoint(db, root.c_str());
    Itdb_Playlist* library = itdb_playlist_new("Bench iPod", FALSE);
    itdb_playlist_set_mpl(library);
    itdb_playlist_add(db, library, -1);
    Itdb_Playlist* tenth = itdb_playlist_new("Every Tenth", FALSE);
    itdb_playlist_add(db, tenth, -1);
    for (int i = 0; i < count; ++i) {
        Itdb_Track* track = itdb_track_new();
        track->title = g_strdup_printf("Song number %d", i);
        track->artist = g_strdup_printf("Artist %d", i % 997);
        track->album = g_strdup_printf("Album %d", i % 4001);
        track->genre = g_strdup(i % 3 ? "Rock" : "Jazz");
        track->composer = g_strdup_printf("Composer %d", i % 31);
        track->ipod_path = g_strdup_printf(":iPod_Control:Music:F%02d:T%05d.mp3", i % 50, i);
        track->filetype = g_strdup("MPEG audio file");
        track->size = 3000000 + i;
        track->tracklen = 180000 + i;
        track->bitrate = 192;
        track->samplerate = 44100;
        itdb_track_add(db, track, -1);
        itdb_playlist_add_track(library, track, -1);
        if (i % 10 == 0)
            itdb_playlist_add_track(tenth, track, -1);
    }
    GError* error = nullptr;
    const bool ok = itdb_write(db, &error) != FALSE;
    if (error) {
        std::fprintf(stderr, "itdb_write: %s\n", error->message);
        g_error_free(error);
    }
    itdb_free(db);
    return ok;
}

bool GpodParse(const std::string& root, bool write)
{
    GError* error = nullptr;
    Itdb_iTunesDB* db = itdb_parse(root.c_str(), &error);
    if (!db)
        return false;
    bool ok = !write || itdb_write(db, &error);
    if (error)
        g_error_free(error);
    itdb_free(db);
    return ok;
}

bool PelorinLoad(const std::string& root, bool store)
{
    IPodDB db;
    AString r = AString::FromUTF8(root);
    if (db.Load(&r, 1, nullptr, nullptr) != 0)
        return false;
    return !store || db.Store(nullptr) == 0;
}

void Measure(const std::string& scratch, int count)
{
    const std::string root = scratch + "/POD" + std::to_string(count);
    std::filesystem::create_directories(root + "/iPod_Control/iTunes");
    std::filesystem::create_directories(root + "/iPod_Control/Device");
    const auto written = Clock::now();
    if (!WriteWithGpod(root, count)) {
        std::fprintf(stderr, "libgpod could not write the database\n");
        std::exit(1);
    }
    const double gpodFirstWrite = std::chrono::duration<double>(Clock::now() - written).count();
    const std::string database = root + "/iPod_Control/iTunes/iTunesDB";
    const std::vector<char> original = ReadAll(database);
    auto restore = [&] { WriteAll(database, original); };

    const double gpodLoad = BestOf(3, restore, [&] { return GpodParse(root, false); });
    const double gpodBoth = BestOf(2, restore, [&] { return GpodParse(root, true); });
    const double ownLoad = BestOf(3, restore, [&] { return PelorinLoad(root, false); });
    const double ownBoth = BestOf(3, restore, [&] { return PelorinLoad(root, true); });

    // The store alone, from a database in memory into a buffer, shows the growth with the count.
    IPodDB db;
    AString r = AString::FromUTF8(root);
    restore();
    db.Load(&r, 1, nullptr, nullptr);
    const double ownStoreBuffer = BestOf(
        3, [] {},
        [&] {
            ByteWriter out;
            db.GetDatabase()->Store(out);
            return out.Size() > 0;
        });

    const double us = 1e6 / count;
    std::printf("%d tracks (libgpod file %zu bytes; libgpod's first write %.3f s)\n", count, original.size(),
                gpodFirstWrite);
    std::printf("  load          libgpod %8.3f s (%6.2f us/track)   pelorin %8.3f s (%6.2f us/track)   "
                "libgpod/pelorin %6.1fx\n",
                gpodLoad, gpodLoad * us, ownLoad, ownLoad * us, gpodLoad / ownLoad);
    std::printf("  load + store  libgpod %8.3f s (%6.2f us/track)   pelorin %8.3f s (%6.2f us/track)   "
                "libgpod/pelorin %6.1fx\n",
                gpodBoth, gpodBoth * us, ownBoth, ownBoth * us, gpodBoth / ownBoth);
    std::printf("  store only    libgpod %8.3f s (estimate)            pelorin %8.3f s to disk, %.3f s into "
                "memory (%.3f us/track)   libgpod/pelorin %6.1fx\n",
                gpodBoth - gpodLoad, ownBoth - ownLoad, ownStoreBuffer, ownStoreBuffer * us,
                (gpodBoth - gpodLoad) / (ownBoth - ownLoad));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<int> counts;
    for (int i = 1; i < argc; ++i)
        counts.push_back(std::atoi(argv[i]));
    if (counts.empty())
        counts = {20000, 50000};
    const char* tmp = std::getenv("TMPDIR");
    std::string scratch =
        std::string(tmp && *tmp ? tmp : "/tmp") + "/pelorin-bench-ipoddb-" + std::to_string(getpid());
    std::filesystem::create_directories(scratch);
    for (int count : counts)
        Measure(scratch, count);
    std::filesystem::remove_all(scratch);
    return 0;
}
