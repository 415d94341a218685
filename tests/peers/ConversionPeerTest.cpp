// Songs an iPod cannot play, synced from a folder of FLAC, Ogg Vorbis, Opus, MP3 and Apple Lossless
// files onto a fake fifth-generation iPod with `pelorin sync`: ffprobe must find the converted files
// playable (Apple Lossless or AAC, of the original's duration), libgpod must read every track with
// its tags and file type, and the cache must spare a second sync any conversion.

#include "GpodPeer.h"
#include "fixtures/EncodedFiles.h"
#include "fixtures/RunCommand.h"
#include "fixtures/TempDir.h"
#include "samples/IPodTree.h"

#include <gpod/itdb.h>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

// What ffprobe gives for one entry ("stream=codec_name", "format_tags=iTunSMPB") of the file and its
// first audio stream, or "".
std::string FFprobe(const std::string& path, const std::string& entry)
{
    FILE* pipe = popen(("ffprobe -v error -select_streams a:0 -show_entries " + entry + " -of csv=p=0 " +
                        fixtures::ShellQuote(path) + " 2>/dev/null")
                           .c_str(),
                       "r");
    if (!pipe)
        return "";
    char line[256] = {};
    std::string value = std::fgets(line, sizeof line, pipe) ? line : "";
    pclose(pipe);
    return value.substr(0, value.find_first_of("\r\n"));
}

struct Probe {
    std::string codec;
    double seconds = 0;
};

Probe FFprobe(const std::string& path)
{
    return {FFprobe(path, "stream=codec_name"), std::atof(FFprobe(path, "format=duration").c_str())};
}

struct GpodTrack {
    std::string title, artist, album, filetype, file;
    std::uint32_t pregap = 0, postgap = 0, gaplessTrack = 0;
    std::uint64_t samples = 0;
};

// The iPod's tracks as libgpod reads them, by title (a failed read is a test failure).
std::map<std::string, GpodTrack> ReadIPod(const std::string& root)
{
    std::map<std::string, GpodTrack> tracks;
    GError* failure = nullptr;
    Itdb_iTunesDB* db = itdb_parse(root.c_str(), &failure);
    if (!db) {
        ADD_FAILURE() << (failure ? failure->message : "itdb_parse failed");
        if (failure)
            g_error_free(failure);
        return tracks;
    }
    for (GList* item = db->tracks; item; item = item->next) {
        auto* track = static_cast<Itdb_Track*>(item->data);
        auto text = [](const char* s) { return std::string(s ? s : ""); };
        const std::string title = text(track->title), file = peers::FileOf(root, text(track->ipod_path));
        tracks[title] = {
            title,         text(track->artist), text(track->album),        text(track->filetype), file,
            track->pregap, track->postgap,      track->gapless_track_flag, track->samplecount};
    }
    itdb_free(db);
    return tracks;
}

// The files below `folder` (none when it is missing), by their full paths, sorted.
std::vector<std::string> FilesIn(const std::string& folder)
{
    std::vector<std::string> files = fixtures::ListFiles(folder);
    for (std::string& file : files)
        file = folder + "/" + file;
    return files;
}

// What each song of the folder becomes on the iPod: its codec and file there, and (but for the Apple
// Lossless song, copied as it is) its exact length and the gap before it: 1.5 s at 44.1 kHz, where
// Opus decodes at 48 kHz; AAC primes its frames with 1024 samples, Apple Lossless with none, and the
// MP3 (copied as it is) has LAME's 576 and a decoder's 529.
struct Converted {
    const char* title;
    const char* codec;
    const char* extension;
    std::uint64_t samples; // 0: not checked
    std::uint32_t pregap;
};
const Converted kConverted[] = {{"Lossless Song", "alac", ".m4a", 66150, 0},
                                {"Vorbis Song", "aac", ".m4a", 66150, 1024},
                                {"Opus Song", "aac", ".m4a", 72000, 1024},
                                {"MP3 Song", "mp3", ".mp3", 66150, 576 + 529},
                                {"ALAC Song", "alac", ".m4a", 0, 0}};

class ConversionPeer : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!fixtures::EncodersAvailable() || fixtures::RunShell("command -v ffprobe") != 0)
            GTEST_SKIP() << "flac, oggenc, opusenc or ffmpeg is missing";
        root = samples::MakeIPod(dir / "Volumes", "POD");
        struct Made {
            const char* file;
            const char* title;
            int frequency;
        };
        for (auto [file, title, frequency] : {Made{"a.flac", "Lossless Song", 330},
                                              {"b.ogg", "Vorbis Song", 440},
                                              {"c.opus", "Opus Song", 550},
                                              {"d.mp3", "MP3 Song", 660},
                                              {"e.m4a", "ALAC Song", 770}}) {
            fixtures::EncodedSong song;
            song.title = title;
            song.artist = "The Artist";
            song.album = "The Album";
            song.genre = "Rock";
            song.track = frequency / 110;
            song.seconds = 1.5;
            song.frequency = frequency;
            song.picture = std::string(file) == "a.flac";
            const std::string path = dir / (std::string("Songs/") + file);
            ASSERT_EQ(fixtures::Encode(path, song), "");
            sources[title] = path;
        }
    }
    std::vector<std::string> Environment() const
    {
        return {"PELORIN_VOLUMES=" + dir / "Volumes", "XDG_CACHE_HOME=" + dir / "cache",
                "XDG_DATA_HOME=" + dir / "data", "HOME=" + dir / "home",
                "PELORIN_LIBRARY=" + dir / "Library"};
    }
    std::vector<std::string> SyncArgs(const std::string& type = "copy-to-ipod") const
    {
        return {"sync", "--from", dir / "Songs", "--type", type, "--yes"};
    }
    fixtures::CommandResult Sync(const std::string& type = "copy-to-ipod",
                                 std::vector<std::string> extra = {}) const
    {
        std::vector<std::string> args = SyncArgs(type);
        args.insert(args.end(), extra.begin(), extra.end());
        return fixtures::RunPelorin(args, "", Environment());
    }

    // Every song of the folder on the iPod as libgpod reads it: its tags, type and file, in the codec
    // it was converted to and of the original's duration; and its sample count where that is checked.
    void ExpectConverted() const
    {
        const std::map<std::string, GpodTrack> tracks = ReadIPod(root);
        ASSERT_EQ(tracks.size(), 5u);
        for (auto [title, codec, extension, samples, pregap] : kConverted) {
            ASSERT_TRUE(tracks.count(title)) << title;
            const GpodTrack& track = tracks.at(title);
            EXPECT_EQ(track.artist, "The Artist") << title;
            EXPECT_EQ(track.album, "The Album") << title;
            EXPECT_EQ(fs::path(track.file).extension().string(), extension) << title;
            EXPECT_EQ(track.filetype, std::string(extension) == ".mp3" ? "MPEG audio file" : "AAC audio file")
                << title;
            const Probe onIPod = FFprobe(track.file);
            EXPECT_EQ(onIPod.codec, codec) << title;
            EXPECT_NEAR(onIPod.seconds, FFprobe(sources.at(title)).seconds, 0.05) << title;
            if (samples != 0) {
                EXPECT_EQ(track.samples, samples) << title;
            }
        }
    }

    fixtures::TempDir dir;
    std::string root;
    std::map<std::string, std::string> sources; // title -> source file
};

TEST_F(ConversionPeer, ConvertedSongsArriveOnTheIPodAsPlayableTracks)
{
    fixtures::CommandResult run = Sync();
    ASSERT_EQ(run.exitStatus, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("Copied 5 songs"), std::string::npos) << run.out;
    ExpectConverted();
}

TEST_F(ConversionPeer, ConvertedSongsCarryTheirGaplessFactsOntoTheIPod)
{
    ASSERT_EQ(Sync().exitStatus, 0);
    const std::map<std::string, GpodTrack> tracks = ReadIPod(root);
    for (auto [title, codec, extension, samples, pregap] : kConverted) {
        if (samples == 0)
            continue;
        ASSERT_TRUE(tracks.count(title)) << title;
        const GpodTrack& track = tracks.at(title); // its sample count is checked by ExpectConverted
        EXPECT_EQ(track.pregap, pregap) << title;
        EXPECT_EQ(track.gaplessTrack, 1u) << title;
        const std::uint64_t frame = std::string(title) == "MP3 Song" ? 1152 : 1024;
        if (pregap != 0) {
            EXPECT_EQ((track.pregap + track.samples + track.postgap) % frame, 0u) << title;
        }
    }
    // Other players find the same facts in the converted file.
    const std::string smpb = FFprobe(tracks.at("Vorbis Song").file, "format_tags=iTunSMPB");
    EXPECT_EQ(smpb.substr(0, 18), " 00000000 00000400");
    EXPECT_NE(smpb.find(" 0000000000010266 "), std::string::npos) << smpb;
}

TEST_F(ConversionPeer, ThroughTheLibraryTheSongsAreConvertedAsWell)
{
    auto pelorin = [this](const std::vector<std::string>& args) {
        return fixtures::RunPelorin(args, "", Environment());
    };
    ASSERT_EQ(pelorin({"library", "init"}).exitStatus, 0);
    fixtures::CommandResult added = pelorin({"add", "--to", "library", dir / "Songs", "--yes"});
    ASSERT_EQ(added.exitStatus, 0) << added.out << added.err;
    fixtures::CommandResult attached = pelorin({"library", "attach-ipod", "POD"});
    ASSERT_EQ(attached.exitStatus, 0) << attached.err;
    const std::vector<std::string> sync{"sync", "--type", "copy-to-ipod", "--yes"};
    fixtures::CommandResult run = pelorin(sync);
    ASSERT_EQ(run.exitStatus, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("Copied 5 songs"), std::string::npos) << run.out;
    ExpectConverted();

    // A second sync converts and copies nothing, with or without the cache.
    const std::vector<std::string> cached = FilesIn(dir / "cache/pelorin/converted");
    EXPECT_EQ(cached.size(), 3u);
    fixtures::CommandResult again = pelorin(sync);
    ASSERT_EQ(again.exitStatus, 0) << again.out << again.err;
    EXPECT_NE(again.out.find("Copied 0 songs"), std::string::npos) << again.out;
    EXPECT_EQ(FilesIn(dir / "cache/pelorin/converted"), cached);
    fs::remove_all(dir / "cache");
    fixtures::CommandResult uncached = pelorin(sync);
    ASSERT_EQ(uncached.exitStatus, 0) << uncached.out << uncached.err;
    EXPECT_NE(uncached.out.find("Copied 0 songs"), std::string::npos) << uncached.out;
    EXPECT_EQ(ReadIPod(root).size(), 5u);
}

TEST_F(ConversionPeer, ASecondSyncConvertsNothing)
{
    ASSERT_EQ(Sync().exitStatus, 0);
    const std::vector<std::string> cached = FilesIn(dir / "cache/pelorin/converted");
    EXPECT_EQ(cached.size(), 3u); // the FLAC, Ogg and Opus songs
    std::map<std::string, fs::file_time_type> times;
    for (const std::string& file : cached)
        times[file] = fs::last_write_time(file);

    fixtures::CommandResult again = Sync();
    EXPECT_NE(again.out.find("Copied 0 songs"), std::string::npos) << again.out << again.err;
    EXPECT_EQ(FilesIn(dir / "cache/pelorin/converted"), cached);
    for (const std::string& file : cached)
        EXPECT_EQ(fs::last_write_time(file), times[file]) << file;

    // Without the cache the songs still match by their tags.
    fs::remove_all(dir / "cache");
    again = Sync();
    EXPECT_NE(again.out.find("Copied 0 songs"), std::string::npos) << again.out << again.err;
    EXPECT_TRUE(FilesIn(dir / "cache/pelorin/converted").empty());
}

TEST_F(ConversionPeer, AlwaysAACGivesAACOfTheSetBitRate)
{
    fixtures::CommandResult run = Sync("copy-to-ipod", {"--always-aac", "--aac-kbps", "128"});
    ASSERT_EQ(run.exitStatus, 0) << run.out << run.err;
    const std::map<std::string, GpodTrack> tracks = ReadIPod(root);
    ASSERT_TRUE(tracks.count("Lossless Song"));
    const std::string file = tracks.at("Lossless Song").file;
    EXPECT_EQ(FFprobe(file).codec, "aac");
    EXPECT_NEAR(std::atof(FFprobe(file, "stream=bit_rate").c_str()), 128000, 16000);
    // The Apple Lossless song the iPod plays is copied as it is.
    EXPECT_EQ(FFprobe(tracks.at("ALAC Song").file).codec, "alac");
}

TEST_F(ConversionPeer, CopiesFromTheIPodNeverReplaceTheOriginalOfAConvertedSong)
{
    ASSERT_EQ(Sync().exitStatus, 0);
    const std::vector<std::string> before = FilesIn(dir / "Songs");
    // The iPod's converted copies are no newer than their originals: nothing comes back.
    for (const char* type : {"merge", "copy-from-ipod"}) {
        fixtures::CommandResult run = Sync(type);
        ASSERT_EQ(run.exitStatus, 0) << type << run.out << run.err;
        EXPECT_NE(run.out.find("Copied 0 songs"), std::string::npos) << type << run.out;
        EXPECT_EQ(FilesIn(dir / "Songs"), before) << type;
    }
    // A song the folder lost comes back from the iPod in the iPod's type.
    fs::remove(sources.at("Lossless Song"));
    fixtures::CommandResult back = Sync("copy-from-ipod");
    ASSERT_EQ(back.exitStatus, 0) << back.out << back.err;
    std::vector<std::string> added;
    for (const std::string& file : FilesIn(dir / "Songs"))
        if (file.find("Lossless Song") != std::string::npos)
            added.push_back(fs::path(file).extension().string());
    EXPECT_EQ(added, std::vector<std::string>{".m4a"});
}

TEST_F(ConversionPeer, ARunKilledWhileConvertingLeavesNoPartialFile)
{
    // Longer songs, so that the run is caught converting.
    for (int i = 0; i < 6; ++i) {
        fixtures::EncodedSong song;
        song.title = "Long " + std::to_string(i);
        song.artist = "Long Artist";
        song.seconds = 40;
        song.frequency = 200 + 50 * i;
        ASSERT_EQ(fixtures::Encode(dir / ("Songs/long" + std::to_string(i) + ".flac"), song), "");
    }
    const pid_t child = fixtures::StartPelorin(SyncArgs(), Environment());
    ASSERT_GE(child, 0);
    // Killed as soon as a conversion is being written.
    bool caught = false;
    for (int i = 0; i < 2000 && !caught; ++i) {
        for (const std::string& file : FilesIn(dir / "cache/pelorin/converted"))
            caught = caught || file.find(".part") != std::string::npos;
        if (!caught)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(caught) << "the run ended before it was seen converting";

    fixtures::CommandResult next = Sync();
    ASSERT_EQ(next.exitStatus, 0) << next.out << next.err;
    for (const std::string& file : FilesIn(dir / "cache/pelorin/converted")) {
        EXPECT_EQ(file.find(".part"), std::string::npos) << file;
        EXPECT_EQ(FFprobe(file).codec, file.find("-alac") != std::string::npos ? "alac" : "aac") << file;
    }
    // Every file in the iPod's music folders is a track of its database, and plays.
    const std::map<std::string, GpodTrack> tracks = ReadIPod(root);
    EXPECT_EQ(tracks.size(), 11u);
    std::vector<std::string> listed;
    for (const auto& [title, track] : tracks) {
        listed.push_back(track.file);
        EXPECT_FALSE(FFprobe(track.file).codec.empty()) << title;
    }
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(FilesIn(root + "/iPod_Control/Music"), listed);
}

} // namespace

// Copying from the iPod into a library playlist, a converted song the library holds in its own type
// goes into the playlist as the library's track: no second track of the iPod's copy.
TEST_F(ConversionPeer, IntoALibraryPlaylistAConvertedSongTheLibraryHoldsIsNotCopiedAgain)
{
    auto pelorin = [this](const std::vector<std::string>& args) {
        return fixtures::RunPelorin(args, "", Environment());
    };
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"library", "init"},
          {"add", "--to", "library", dir / "Songs", "--yes"},
          {"library", "attach-ipod", "POD"},
          {"sync", "--type", "copy-to-ipod", "--yes"},
          {"library", "playlist", "create", "Mix"},
          {"sync", "--type", "copy-from-ipod", "--playlist", "Mix", "--yes"}}) {
        const fixtures::CommandResult run = pelorin(args);
        ASSERT_EQ(run.exitStatus, 0) << args[1] << run.out << run.err;
    }
    const std::string playlists = pelorin({"library", "playlists"}).out;
    EXPECT_NE(playlists.find("Library\t5 tracks"), std::string::npos) << playlists;
    EXPECT_NE(playlists.find("Mix\t5 tracks"), std::string::npos) << playlists;
}
