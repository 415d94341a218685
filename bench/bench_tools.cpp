// The library scans over large sources: the disconnected-files scan over 50,000 songs whose files
// all lie in the music folder (each listed file looked up among the songs' files), beside listing
// the same files alone, which is the least the scan must do; and the duplicate scan over 50,000
// songs of which every 25th is a second record of the song before it. The songs are records of a
// source over a fixed list; their files are small stand-ins (the scans read no tags of files that
// all match). Prints seconds and the ratio of the scan to the listing.
//
//   build/bench/bench_tools [songs]      (files go to $TMPDIR, removed afterwards)

#include "ACommon/base/AProgress.h"
#include "ACommon/sources/ADirSong.h"
#include "bench/Seconds.h"
#include "fixtures/TempDir.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

// Songs whose "?key" is the index of their file in `disks`.
class ListedSongs : public ADirSong {
public:
    explicit ListedSongs(AProgress* reporter) : ADirSong(reporter) {}
    int GetFileDiskPath(const AString* path, AString* diskPath, signed char) override
    {
        const int question = path->ReverseFind('?');
        const std::size_t k =
            static_cast<std::size_t>(std::atol(path->Mid(question + 1, 20).ToStdString().c_str()));
        if (question < 0 || k >= disks.size())
            return -2;
        *diskPath = disks[k];
        return 0;
    }
    AString GetMusicFolder() override { return folder; }
    std::vector<AString> disks;
    AString folder;
};

using bench::Seconds;

} // namespace

int main(int argc, char** argv)
{
    const int count = argc > 1 ? std::atoi(argv[1]) : 50000;
    fixtures::TempDir tmp;
    AProgress quiet;
    ListedSongs songs(&quiet);
    songs.folder = tmp.A("Music");
    for (int i = 0; i < count; ++i) {
        const std::string relative = "Music/F" + std::to_string(i % 50) + "/S" + std::to_string(i) + ".mp3";
        std::filesystem::create_directories(tmp / relative.substr(0, relative.rfind('/')));
        std::ofstream(tmp / relative) << "x";
        // Every 25th song is a second record of the song before it, with the same file.
        const int song = i % 25 == 24 ? i - 1 : i;
        songs.disks.push_back(tmp.A(relative));
        AString record = AString::FromUTF8("/Rock/Artist " + std::to_string(song / 25) + "/Album/Song " +
                                           std::to_string(song) + "/mp3?" + std::to_string(i));
        songs.AddFPath(&record);
    }

    const AString music = tmp.A("Music");
    double listing = 0;
    int listed = 0;
    listing = Seconds([&] {
        ADir plain(&quiet);
        plain.SetTypeFilter(1);
        plain.SetFileExtentionIncludeFilter(AString(":mp3:m4p:m4a:m4b:m4v:mp4:ipg:"));
        plain.InitWPath(&music, 1, nullptr);
        listed = plain.Count();
    });
    int scanResult = 0;
    const double scan = Seconds([&] { scanResult = songs.AddDisconnectedFiles(1, nullptr, 0); });
    std::printf("disconnected files: %d songs, %d files listed; listing alone %.3f s, scan %.3f s (%.2fx the "
                "listing), %d disconnected, result %d\n",
                count, listed, listing, scan, listing > 0 ? scan / listing : 0.0, songs.GetScanCounts().found,
                scanResult);

    songs.SetDetectOnly(1);
    const int before = songs.Count();
    int dupResult = 0;
    const double duplicates = Seconds([&] { dupResult = songs.ScanForDuplicates(0, 1, 1, nullptr, 1); });
    std::printf("duplicate scan: %d songs, %.3f s, %d duplicates dropped, result %d\n", before, duplicates,
                before - songs.Count(), dupResult);
    return 0;
}
