#include "app/Demonstration.h"

#include "musiclib/FolderImport.h"
#include "musiclib/MusicLibrary.h"
#include "samples/IPodTree.h"
#include "samples/SongFile.h"

#include <cstdlib>
#include <exception>
#include <memory>
#include <string>

namespace {

struct DemoSong {
    const char* artist;
    const char* album;
    const char* genre;
    const char* title;
    int track;
};

constexpr DemoSong kSongs[] = {
    {"Harbour Lights", "Low Tide", "Ambient", "Salt Air", 1},
    {"Harbour Lights", "Low Tide", "Ambient", "Breakwater", 2},
    {"Harbour Lights", "Low Tide", "Ambient", "Night Ferry", 3},
    {"The Copper Kettles", "Steam", "Folk", "Morning Train", 1},
    {"The Copper Kettles", "Steam", "Folk", "Old Mill Road", 2},
    {"The Copper Kettles", "Steam", "Folk", "Lantern Song", 3},
    {"Mira Quell", "Glass Garden", "Pop", "Paper Moons", 1},
    {"Mira Quell", "Glass Garden", "Pop", "Neon Orchard", 2},
    {"Mira Quell", "Glass Garden", "Pop", "Satellite Heart", 3},
    {"Dustwalkers", "Red Mesa", "Rock", "Canyon Echo", 1},
    {"Dustwalkers", "Red Mesa", "Rock", "Sidewinder", 2},
    {"Dustwalkers", "Red Mesa", "Rock", "Last Gas for Miles", 3},
};

} // namespace

Demonstration::Demonstration() = default;

bool Demonstration::Make(QString* problem)
{
    if (!folder.isValid()) {
        *problem = QStringLiteral("cannot make a temporary folder");
        return false;
    }
    try {
        samples::IPodOptions pod;
        pod.name = "Demo iPod";
        samples::MakeIPod(Volumes().toStdString(), "DEMOPOD", pod);
        int seed = 1;
        for (const DemoSong& song : kSongs) {
            samples::SongSpec tags;
            tags.artist = song.artist;
            tags.album = song.album;
            tags.genre = song.genre;
            tags.title = song.title;
            tags.track = song.track;
            tags.seconds = 2;
            tags.silent = true;
            tags.ancillary = song.title;
            tags.seed = static_cast<std::uint32_t>(seed++);
            char name[16];
            std::snprintf(name, sizeof name, "%02d ", song.track);
            samples::WriteSong(Songs().toStdString() + "/" + song.artist + "/" + song.album + "/" + name +
                                   song.title + ".mp3",
                               tags);
        }
    } catch (const std::exception& failure) {
        *problem = QString::fromStdString(failure.what());
        return false;
    }
    setenv("PELORIN_VOLUMES", Volumes().toStdString().c_str(), 1);
    setenv("XDG_DATA_HOME", (folder.path() + QStringLiteral("/data")).toStdString().c_str(), 1);
    setenv("PELORIN_LIBRARY", Library().toStdString().c_str(), 1);

    // The library holds the songs where they lie and serves the iPod, as `pelorin demo` makes it.
    std::string failure;
    std::unique_ptr<MusicLibrary> library;
    FolderImport::Summary summary;
    if (MusicLibrary::Open(Library().toStdString(), true, library, failure) != 0 ||
        FolderImport::Run(*library, Songs().toStdString(), std::string(), nullptr, nullptr, summary,
                          failure) != 0 ||
        library->AttachIPod("DEMOPOD", failure) != 0) {
        *problem = QString::fromStdString(failure);
        return false;
    }
    return true;
}
