#include "cli/DemoFiles.h"

#include <cstdio>
#include <exception>
#include <random>

namespace cli::demo {

std::vector<DemoSong> Catalogue()
{
    struct Album {
        const char* artist;
        const char* album;
        const char* genre;
        int year;
        const char* extension;
        std::vector<const char*> titles;
    };
    const Album albums[] = {
        {"The Lanterns",
         "Harbour Lights",
         "Rock",
         2004,
         "mp3",
         {"Harbour Lights", "Paper Boats", "Salt and Iron", "The Long Pier", "Lighthouse Keeper"}},
        {"The Lanterns",
         "Low Tide",
         "Rock",
         2006,
         "mp3",
         {"Low Tide", "Driftwood", "Undertow", "Morning Ferry"}},
        {"Mira Okafor",
         "Quiet Rooms",
         "Jazz",
         2005,
         "mp3",
         {"Blue Hour", "Quiet Rooms", "Late Train", "Smoke Rings", "After Midnight"}},
        {"Northbound",
         "Long Way Home",
         "Country",
         2003,
         "mp3",
         {"Long Way Home", "Dusty Boots", "County Line", "Porch Light"}},
        {"Velvet Static",
         "Neon Tide",
         "Electronic",
         2007,
         "m4a",
         {"Neon Tide", "Pulse Width", "Night Drive", "Signal Lost", "Afterglow"}},
        {"Juniper Hall",
         "Field Notes",
         "Folk",
         2002,
         "m4a",
         {"Field Notes", "Wild Thyme", "Old Orchard", "River Song"}},
        {"Kai Brennan",
         "Two Cities",
         "Pop",
         2006,
         "mp3",
         {"Two Cities", "Postcards", "Summer Again", "Skyline", "Overnight"}},
        {"Ensemble Aurora",
         "Nocturnes",
         "Classical",
         2001,
         "m4a",
         {"Nocturne in Blue", "Étude for Strings", "Café Waltz", "Lullaby"}},
        {"Sofía Marín", "Luz de Mar", "Latin", 2005, "mp3", {"Luz de Mar", "Canción del Sur", "Mañana"}},
    };
    std::vector<DemoSong> songs;
    for (const Album& album : albums) {
        int track = 0;
        for (const char* title : album.titles) {
            DemoSong song;
            song.title = title;
            song.artist = album.artist;
            song.album = album.album;
            song.genre = album.genre;
            song.year = album.year;
            song.track = ++track;
            song.trackCount = static_cast<int>(album.titles.size());
            song.seconds = 2 + static_cast<int>(songs.size() % 4);
            song.extension = album.extension;
            song.silent = true;
            song.ancillary = "Pelorin demo: " + song.artist + " - " + song.title + ". ";
            song.id3Padding = 0;
            songs.push_back(song);
        }
    }
    return songs;
}

std::string SongFileName(const DemoSong& song)
{
    char number[8];
    std::snprintf(number, sizeof number, "%02d ", song.track);
    return number + song.title + "." + song.extension;
}

bool WriteSongs(const std::string& folder, std::string& problem)
{
    try {
        for (const DemoSong& song : Catalogue())
            samples::WriteSong(folder + "/" + song.artist + "/" + song.album + "/" + SongFileName(song),
                               song);
    } catch (const std::exception& error) {
        problem = error.what();
        return false;
    }
    return true;
}

std::string NewFirewireGuid()
{
    std::random_device random;
    const std::uint64_t serial = (static_cast<std::uint64_t>(random()) << 32 | random()) & 0xFFFFFFFFFFull;
    char guid[32];
    std::snprintf(guid, sizeof guid, "0x000A27%010llX", static_cast<unsigned long long>(serial));
    return guid;
}

} // namespace cli::demo
