// The embedded music library, two measures, each printed beside a plain reading of the same data
// in the same run:
//
//  1. Importing a folder of generated songs (FolderImport: walk, tag reading, store) against
//     reading the same files' tags alone (ID3::SetFilePath over a list of paths made beforehand),
//     with a warm cache. Target: within 1.5 times the tag reading. Then a second import, the check
//     a sync makes for files changed since they were read, and the imported rows read back with
//     one plain SQLite query.
//  2. The eight scripts a library listing sends (the library's name, the count, then genre,
//     artist, album, name, location and database ID of every track of the library playlist), run
//     through the library's script runner over a store of 50,000 tracks. Target: under 0.5 s
//     together. Beside them, one plain SQLite query reading the same columns of the same rows.
//
//   build/bench/bench_library [songs to import] [tracks to list]     (files go to $TMPDIR)

#include "bench/Seconds.h"
#include "bench/Workload.h"
#include "musiclib/FolderImport.h"
#include "musiclib/LibraryScriptRunner.h"
#include "musiclib/MusicLibrary.h"

#include "ACommon/base/AString.h"
#include "ACommon/tags/ID3.h"
#include "fixtures/MusicFiles.h"
#include "fixtures/TempDir.h"

#include <cstdio>
#include <cstdlib>
#include <sqlite3.h>
#include <string>
#include <vector>

namespace {

using bench::Seconds;

// Reads `columns` of every track with one query; the number of rows.
int PlainQuery(const std::string& database, const char* columns)
{
    sqlite3* db = nullptr;
    sqlite3_open_v2(database.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* statement = nullptr;
    const std::string sql = std::string("SELECT ") + columns + " FROM tracks ORDER BY id";
    sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr);
    int rows = 0;
    std::size_t bytes = 0;
    while (sqlite3_step(statement) == SQLITE_ROW) {
        ++rows;
        for (int c = 0; c < sqlite3_column_count(statement); ++c)
            bytes += static_cast<std::size_t>(sqlite3_column_bytes(statement, c));
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return bytes > 0 ? rows : rows;
}

int Import(int count)
{
    fixtures::TempDir dir;
    std::vector<std::string> paths;
    for (int i = 0; i < count; ++i) {
        const fixtures::SongSpec song = bench::NumberedSong(i, 1, 32);
        const std::string path = dir / bench::NumberedSongPath(song, i, i % 5 == 4 ? ".m4a" : ".mp3");
        fixtures::WriteSong(path, song);
        paths.push_back(path);
    }
    auto readTags = [&paths] {
        for (const std::string& path : paths) {
            ID3 tags;
            tags.SetFilePath(AString::FromUTF8(path));
        }
    };
    readTags(); // warms the cache
    const double tags = Seconds(readTags);

    std::unique_ptr<MusicLibrary> library;
    std::string error;
    if (MusicLibrary::Open(dir / "Library", true, library, error) != 0) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    FolderImport::Summary summary;
    int err = 0;
    const double import = Seconds(
        [&] { err = FolderImport::Run(*library, dir / "Songs", "", nullptr, nullptr, summary, error); });
    if (err != 0 || summary.added != count) {
        std::fprintf(stderr, "import failed: %s (%d added)\n", error.c_str(), summary.added);
        return 1;
    }
    const double again = Seconds(
        [&] { err = FolderImport::Run(*library, dir / "Songs", "", nullptr, nullptr, summary, error); });
    // What a sync pays before its first script: every track's file looked at for a change.
    int refreshed = 0;
    const double refresh =
        Seconds([&] { err = library->Library().RefreshChanged(std::string(), refreshed); });
    int rows = 0;
    const double query = Seconds([&] { rows = PlainQuery(dir / "Library/Library.sqlite", "*"); });
    std::printf("import of %d songs:            %7.3f s (%6.0f songs/s)\n", count, import, count / import);
    std::printf("their tags read alone:          %7.3f s (%6.0f songs/s)\n", tags, count / tags);
    std::printf("ratio import / tags:            %7.2f (target at most 1.50)\n", import / tags);
    std::printf("second import (nothing new):    %7.3f s\n", again);
    std::printf("changed-file check, all tracks: %7.3f s (%d read again)\n", refresh, refreshed);
    std::printf("plain SQLite query of the rows: %7.3f s (%d rows)\n\n", query, rows);
    return 0;
}

int List(int count)
{
    fixtures::TempDir dir;
    {
        std::unique_ptr<MusicLibrary> library;
        std::string error;
        if (MusicLibrary::Open(dir / "Library", true, library, error) != 0) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        LibrarySource& source = library->Library();
        source.Begin(true);
        for (int i = 0; i < count; ++i) {
            TrackRecord record;
            record.location = dir / ("Music/Artist " + std::to_string(i % 500) + "/Album " +
                                     std::to_string(i % 4000) + "/" + std::to_string(i) + " Song.mp3");
            record.canonical = record.location;
            record.name = "Song " + std::to_string(i);
            record.artist = "Artist " + std::to_string(i % 500);
            record.album = "Album " + std::to_string(i % 4000);
            record.genre = i % 3 ? "Rock" : "Jazz";
            record.kind = "MPEG audio file";
            record.category = "music";
            record.size = 4000000 + i;
            std::uint32_t id = 0;
            source.InsertTrack(record, id);
        }
        source.Commit();
    }
    LibraryScriptRunner runner(dir / "Library");
    const std::string tell = "tell application \"iTunes\"\n ";
    const std::string every =
        " of (every track in playlist \"Library\" whose kind is not equal to \"MPEG audio stream\")"
        "\n end tell\n";
    const std::vector<std::string> scripts = {
        tell + "name of every source whose kind = library\n end tell\n",
        tell + "count" + every,
        tell + "genre" + every,
        tell + "artist" + every,
        tell + "album" + every,
        tell + "name" + every,
        tell + "location" + every,
        tell + "database ID" + every,
    };
    runner.Run(scripts[0], nullptr); // opens the library
    std::size_t items = 0;
    bool failed = false;
    const double listing = Seconds([&] {
        for (const std::string& script : scripts) {
            std::optional<platform::ScriptDescriptor> reply = runner.Run(script, nullptr);
            failed = failed || !reply;
            if (reply)
                items += static_cast<std::size_t>(reply->NumberOfItems());
        }
    });
    if (failed || items != 1 + 6 * static_cast<std::size_t>(count)) {
        std::fprintf(stderr, "a listing script failed (%zu items)\n", items);
        return 1;
    }
    int rows = 0;
    const double query = Seconds([&] {
        rows = PlainQuery(dir / "Library/Library.sqlite", "genre, artist, album, name, location, id");
    });
    std::printf("eight listing scripts, %d tracks: %7.3f s (target under 0.5 s)\n", count, listing);
    std::printf("plain SQLite query, same rows:    %7.3f s (%d rows); ratio %.1f\n", query, rows,
                listing / query);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const int songs = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int tracks = argc > 2 ? std::atoi(argv[2]) : 50000;
    if (songs <= 0 || tracks <= 0) {
        std::fprintf(stderr, "usage: bench_library [songs to import] [tracks to list]\n");
        return 2;
    }
    if (int err = Import(songs); err != 0)
        return err;
    return List(tracks);
}
