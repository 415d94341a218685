// Tag reading throughput: 5,000 generated files (3,000 MP3 with an ID3v2.3 tag and a 30 KB
// picture, 2,000 M4A), read with a warm cache by ID3 (SetFilePath + GetSongInfo) and, in the same
// run, by TagLib (FileRef with audio properties). Prints files per second of both and the ratio.
// Then the same for FLAC and Ogg Vorbis files made by flac and oggenc (one file of each, copied 1,000
// times; skipped when the encoders are missing).
//
//   build/bench/bench_tags [rounds]      (files go to $TMPDIR, removed afterwards)

#include "ACommon/base/AString.h"
#include "ACommon/tags/ID3.h"
#include "ACommon/tags/SongInfoStruct.h"
#include "bench/Workload.h"
#include "fixtures/EncodedFiles.h"
#include "fixtures/TempDir.h"
#include "samples/Pictures.h"
#include "samples/SongFile.h"

#include <taglib/audioproperties.h>
#include <taglib/fileref.h>
#include <taglib/tag.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr int kMP3Count = 3000;
constexpr int kM4ACount = 2000;

std::vector<std::string> MakeFiles(const fixtures::TempDir& dir)
{
    const samples::Bytes picture = samples::FakeJpeg(30 * 1024);
    std::vector<std::string> paths;
    for (int i = 0; i < kMP3Count + kM4ACount; ++i) {
        const bool mp3 = i < kMP3Count;
        samples::SongSpec song;
        song.title = "Song " + std::to_string(i);
        song.artist = "Artist " + std::to_string(i % 97);
        song.album = "Album " + std::to_string(i % 311);
        song.genre = i % 2 ? "Rock" : "Jazz";
        song.composer = "Composer";
        song.track = i % 20 + 1;
        song.trackCount = 20;
        song.disc = 1;
        song.discCount = 1;
        song.year = 1970 + i % 50;
        song.seconds = 4;
        song.seed = static_cast<std::uint32_t>(i);
        if (mp3)
            song.picture = picture;
        std::string path =
            dir / ("f" + std::to_string(i / 500) + "/" + std::to_string(i) + (mp3 ? ".mp3" : ".m4a"));
        samples::WriteSong(path, song);
        paths.push_back(path);
    }
    return paths;
}

using bench::WarmCache;

template <class Read>
double FilesPerSecond(const std::vector<std::string>& paths, int rounds, Read read, long long& checksum)
{
    double best = 0;
    for (int round = 0; round < rounds; ++round) {
        auto start = std::chrono::steady_clock::now();
        for (std::size_t i = 0; i < paths.size(); ++i)
            checksum += read(i);
        std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        best = std::max(best, static_cast<double>(paths.size()) / elapsed.count());
    }
    return best;
}

// One file made by the format's encoder (a picture, a full set of tags, 4 seconds), copied so that
// both readers see many files, then read as above.
void CompareEncoded(const fixtures::TempDir& dir, const std::string& extension, int rounds)
{
    constexpr int kCopies = 1000;
    fixtures::EncodedSong song;
    song.title = "Encoded Song";
    song.artist = "Artist";
    song.albumArtist = "Album Artist";
    song.album = "Album";
    song.genre = "Rock";
    song.composer = "Composer";
    song.track = 3;
    song.trackCount = 12;
    song.year = 2001;
    song.seconds = 4;
    song.picture = extension == ".flac";
    const std::string first = dir / ("encoded/0" + extension);
    if (std::string error = fixtures::Encode(first, song); !error.empty()) {
        std::printf("%s\n", error.c_str());
        return;
    }
    std::vector<std::string> paths{first};
    std::vector<AString> apaths{AString::FromUTF8(first)};
    for (int i = 1; i < kCopies; ++i) {
        paths.push_back(dir / ("encoded/" + std::to_string(i) + extension));
        std::filesystem::copy_file(first, paths.back());
        apaths.push_back(AString::FromUTF8(paths.back()));
    }
    WarmCache(paths);
    long long ours = 0, theirs = 0;
    auto readOurs = [&](std::size_t i) -> long long {
        ID3 tags;
        SongInfoStruct info;
        tags.SetFilePath(apaths[i]);
        tags.GetSongInfo(info);
        return info.duration + info.bitRate + info.trackNumber + info.name.GetLength() + tags.GetImageCount();
    };
    auto readTagLib = [&](std::size_t i) -> long long {
        TagLib::FileRef file(paths[i].c_str(), true, TagLib::AudioProperties::Average);
        if (file.isNull() || !file.tag() || !file.audioProperties())
            return 0;
        return file.audioProperties()->length() + file.audioProperties()->bitrate() + file.tag()->track() +
               static_cast<long long>(file.tag()->title().size());
    };
    double ourRate = 0, tagLibRate = 0;
    for (int pass = 0; pass < 2; ++pass) {
        ourRate = std::max(ourRate, FilesPerSecond(paths, rounds, readOurs, ours));
        tagLibRate = std::max(tagLibRate, FilesPerSecond(paths, rounds, readTagLib, theirs));
    }
    std::printf(
        "%s (%d copies of one encoder-made file): ID3 %.0f files/s, TagLib %.0f files/s, ratio %.2f\n",
        extension.c_str() + 1, kCopies, ourRate, tagLibRate, ourRate / tagLibRate);
    std::printf("(checksums %lld %lld)\n", ours, theirs);
}

} // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    fixtures::TempDir dir;
    std::printf("generating %d MP3 (ID3v2.3, 30 KB picture) and %d M4A files in %s\n", kMP3Count, kM4ACount,
                dir.Path().c_str());
    const std::vector<std::string> paths = MakeFiles(dir);
    std::vector<AString> apaths;
    for (const std::string& path : paths)
        apaths.push_back(AString::FromUTF8(path));
    WarmCache(paths);

    long long ours = 0, theirs = 0;
    int misread = 0;
    int tagLibMisread = 0;
    auto readOurs = [&](std::size_t i) -> long long {
        ID3 tags;
        SongInfoStruct info;
        if (tags.SetFilePath(apaths[i]) != 0)
            ++misread;
        tags.GetSongInfo(info);
        if (info.duration != 4 || info.name.GetLength() < 6)
            ++misread;
        return info.duration + info.bitRate + info.trackNumber + info.name.GetLength() + tags.GetImageCount();
    };
    auto readTagLib = [&](std::size_t i) -> long long {
        TagLib::FileRef file(paths[i].c_str(), true, TagLib::AudioProperties::Average);
        if (file.isNull() || !file.tag() || !file.audioProperties()) {
            ++tagLibMisread;
            return 0;
        }
        TagLib::Tag* tag = file.tag();
        if (file.audioProperties()->length() != 4 || tag->title().size() < 6)
            ++tagLibMisread;
        return file.audioProperties()->length() + file.audioProperties()->bitrate() + tag->track() +
               static_cast<long long>(tag->title().size() + tag->artist().size() + tag->album().size() +
                                      tag->genre().size());
    };

    // Alternate, so that neither reader profits from running second.
    double ourRate = 0, tagLibRate = 0;
    for (int pass = 0; pass < 2; ++pass) {
        ourRate = std::max(ourRate, FilesPerSecond(paths, rounds, readOurs, ours));
        tagLibRate = std::max(tagLibRate, FilesPerSecond(paths, rounds, readTagLib, theirs));
    }
    std::printf("ID3 (SetFilePath + GetSongInfo): %.0f files/s\n", ourRate);
    std::printf("TagLib (FileRef, audio properties): %.0f files/s\n", tagLibRate);
    std::printf("ratio ID3 / TagLib: %.2f\n", ourRate / tagLibRate);
    if (misread != 0 || tagLibMisread != 0)
        std::printf("WARNING: unexpected values from %d reads by ID3, %d by TagLib\n", misread,
                    tagLibMisread);
    std::printf("(checksums %lld %lld)\n", ours, theirs);

    if (!fixtures::EncodersAvailable()) {
        std::printf("flac or oggenc missing: FLAC and Ogg Vorbis skipped\n");
        return 0;
    }
    for (const char* extension : {".flac", ".ogg"})
        CompareEncoded(dir, extension, rounds);
    return 0;
}
