// Covers on an iPod: adding a few songs to an iPod that holds many with covers writes only the new
// songs' pictures and the cover database, against rewriting every picture (what a writer that
// rebuilds the cover database on every sync does).
//
// An iPod (5th generation, two cover formats) with 10,000 songs of 1,000 albums, each album with a
// cover beside its songs in the library. Measured:
//   - "rewrite all": a store that writes the covers of all 10,010 songs, as a full rebuild does;
//   - "incremental": a store of the database holding 10,000 songs with covers after adding 10 songs
//     of 10 new albums.
// Prints the time and the bytes written into the Artwork folder (ithmb files and ArtworkDB), and
// the bytes the process wrote in all (/proc/self/io, the music database included).
//
// Run: build/bench/bench_artwork [albums] [songs per album] [songs added]

#include "ACommon/itunesdb/IPodArtwork.h"
#include "ACommon/itunesdb/IPodDB.h"
#include "ACommon/itunesdb/MHIT.h"
#include "ACommon/tags/SongInfoStruct.h"
#include "fixtures/Pictures.h"
#include "fixtures/TempDir.h"
#include "samples/IPodTree.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

unsigned long long ProcessBytesWritten()
{
    std::ifstream in("/proc/self/io");
    std::string key;
    unsigned long long value = 0;
    while (in >> key >> value)
        if (key == "wchar:")
            return value;
    return 0;
}

struct Library {
    std::string folder;
    int songsPerAlbum = 10;

    std::string Album(int album) const { return folder + "/Album " + std::to_string(album); }
    void MakeAlbum(int album) const
    {
        std::filesystem::create_directories(Album(album));
        fixtures::WriteFile(Album(album) + "/cover.png", fixtures::MakeGradientPng(300, 300, album));
        for (int s = 0; s < songsPerAlbum; ++s)
            fixtures::WriteFile(Album(album) + "/" + std::to_string(s) + ".mp3",
                                std::vector<std::uint8_t>(16, 0));
    }
};

// Adds songs of albums [first, last) to the iPod at `root`; `stored` songs are stored already.
bool AddAlbums(IPodDB& db, const Library& library, int first, int last, int songsEach)
{
    for (int album = first; album < last; ++album) {
        for (int s = 0; s < songsEach; ++s) {
            const std::string name = "Song " + std::to_string(album) + "-" + std::to_string(s);
            SongInfoStruct song;
            song.name = song.modifiedName = AString::FromUTF8(name);
            song.artist = AString::FromUTF8("Artist " + std::to_string(album));
            song.album = AString::FromUTF8("Album " + std::to_string(album));
            song.genre = AString("Rock");
            song.filePath = AString::FromUTF8("/iPod_Control/Music/F00/" + name + ".mp3");
            song.fileExtension = AString("mp3");
            song.size = 1000;
            MHIT* track = nullptr;
            if (db.AddSong(song, &track, 1) != 0 || !track)
                return false;
            track->SetFilepath(song.filePath);
            db.SetArtworkSource(track,
                                AString::FromUTF8(library.Album(album) + "/" + std::to_string(s) + ".mp3"));
        }
    }
    return true;
}

struct Figures {
    double seconds = 0;
    unsigned long long artworkBytes = 0, processBytes = 0;
    int pictures = 0;
};

// Loads the iPod, adds albums [first, last) with `songsEach` songs each, stores: what the store took.
Figures Store(const std::string& root, const Library& library, int first, int last, int songsEach)
{
    IPodDB db;
    AString r = AString::FromUTF8(root);
    if (db.Load(&r, 1, nullptr, nullptr) != 0 || !AddAlbums(db, library, first, last, songsEach)) {
        std::fprintf(stderr, "cannot prepare the iPod\n");
        std::exit(1);
    }
    const unsigned long long before = ProcessBytesWritten();
    const auto start = Clock::now();
    if (db.Store(nullptr) != 0) {
        std::fprintf(stderr, "store failed\n");
        std::exit(1);
    }
    Figures figures;
    figures.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    figures.processBytes = ProcessBytesWritten() - before;
    figures.artworkBytes = db.GetArtworkStats().bytesWritten;
    figures.pictures = db.GetArtworkStats().imagesWritten;
    return figures;
}

void Print(const char* what, const Figures& f)
{
    std::printf("%-34s %8.3f s  %12llu bytes into Artwork  %5d pictures  %12llu bytes written in all\n", what,
                f.seconds, f.artworkBytes, f.pictures, f.processBytes);
}

} // namespace

int main(int argc, char** argv)
{
    const int albums = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int perAlbum = argc > 2 ? std::atoi(argv[2]) : 10;
    const int added = argc > 3 ? std::atoi(argv[3]) : 10;
    fixtures::TempDir scratch;
    Library library{scratch / "library", perAlbum};
    for (int album = 0; album < albums + added; ++album)
        library.MakeAlbum(album);
    std::printf("%d songs of %d albums with covers, %d songs of new albums added\n", albums * perAlbum,
                albums, added);

    // A writer that rebuilds every picture: all songs' covers written in one store.
    const std::string full = samples::MakeIPod(scratch.Path(), "FULL");
    {
        IPodDB db;
        AString r = AString::FromUTF8(full);
        if (db.Load(&r, 1, nullptr, nullptr) != 0 || !AddAlbums(db, library, 0, albums, perAlbum) ||
            !AddAlbums(db, library, albums, albums + added, 1)) {
            std::fprintf(stderr, "cannot prepare the iPod\n");
            return 1;
        }
        const unsigned long long before = ProcessBytesWritten();
        const auto start = Clock::now();
        if (db.Store(nullptr) != 0)
            return 1;
        Figures f;
        f.seconds = std::chrono::duration<double>(Clock::now() - start).count();
        f.processBytes = ProcessBytesWritten() - before;
        f.artworkBytes = db.GetArtworkStats().bytesWritten;
        f.pictures = db.GetArtworkStats().imagesWritten;
        Print("rewrite all covers", f);
        const Figures incrementalBase = f;

        // The same iPod state reached incrementally: the big store first, then the few songs added.
        const std::string pod = samples::MakeIPod(scratch.Path(), "INCR");
        Store(pod, library, 0, albums, perAlbum);
        const Figures g = Store(pod, library, albums, albums + added, 1);
        Print("incremental: add songs", g);
        std::printf("ratio (rewrite all / incremental): time %.1fx, bytes into Artwork %.1fx\n",
                    incrementalBase.seconds / std::max(g.seconds, 1e-9),
                    static_cast<double>(incrementalBase.artworkBytes) / std::max<double>(g.artworkBytes, 1));
        const Figures none = Store(pod, library, 0, 0, 0);
        Print("store with no cover change", none);
    }
    return 0;
}
