// pelorin demo: the demonstration iPod and songs a user gets to try Pelorin out.

#include "ACommon/tags/ID3.h"
#include "ACommon/tags/SongInfoStruct.h"
#include "cli/DemoFiles.h"
#include "fixtures/RunCommand.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <set>

namespace {

std::uint32_t U32BE(const std::vector<std::uint8_t>& bytes, std::size_t at)
{
    return static_cast<std::uint32_t>(bytes[at]) << 24 | bytes[at + 1] << 16 | bytes[at + 2] << 8 |
           bytes[at + 3];
}

std::size_t Find(const std::vector<std::uint8_t>& bytes, const char* tag)
{
    for (std::size_t i = 0; i + 4 <= bytes.size(); ++i)
        if (std::memcmp(bytes.data() + i, tag, 4) == 0)
            return i;
    return std::string::npos;
}

} // namespace

TEST(DemoCommand, MakesAnEmptyIPodThatPelorinListsAndSongsThatReadBackAsCatalogued)
{
    fixtures::TempDir folder;
    fixtures::CommandResult made = fixtures::RunPelorin({"demo", folder.Path()});
    ASSERT_EQ(made.exitStatus, 0) << made.err;

    fixtures::CommandResult listed =
        fixtures::RunPelorin({"ipods"}, "", {"PELORIN_VOLUMES=" + folder / "Volumes"});
    ASSERT_EQ(listed.exitStatus, 0) << listed.err;
    for (const char* part : {"Demo iPod", "DEMOPOD", "A147", "iPod video", " 0 ", " off ", "read-write"})
        EXPECT_NE(listed.out.find(part), std::string::npos) << part << " in " << listed.out;

    const std::vector<cli::demo::DemoSong> catalogue = cli::demo::Catalogue();
    EXPECT_GE(catalogue.size(), 30u);
    std::set<std::string> artists, genres, extensions;
    for (const cli::demo::DemoSong& song : catalogue) {
        artists.insert(song.artist);
        genres.insert(song.genre);
        extensions.insert(song.extension);
        const std::string path =
            folder / ("Songs/" + song.artist + "/" + song.album + "/" + cli::demo::SongFileName(song));
        ID3 tags;
        ASSERT_EQ(tags.SetFilePath(AString::FromUTF8(path)), 0) << path;
        SongInfoStruct info;
        tags.GetSongInfo(info);
        EXPECT_EQ((info.name + "|" + info.artist + "|" + info.album + "|" + info.genre).ToStdString(),
                  song.title + "|" + song.artist + "|" + song.album + "|" + song.genre);
        EXPECT_EQ(info.trackNumber, song.track);
        EXPECT_EQ(info.duration, song.seconds) << path;
        EXPECT_NEAR(info.bitRate, 128, 2) << path;
    }
    EXPECT_GE(artists.size(), 5u);
    EXPECT_GE(genres.size(), 5u);
    EXPECT_EQ(extensions, (std::set<std::string>{"m4a", "mp3"}));
}

TEST(DemoCommand, RefusesToMakeItAgainOverAnEarlierOne)
{
    fixtures::TempDir folder;
    ASSERT_EQ(fixtures::RunPelorin({"demo", folder.Path()}).exitStatus, 0);
    fixtures::CommandResult again = fixtures::RunPelorin({"demo", folder.Path()});
    EXPECT_EQ(again.exitStatus, 1);
    EXPECT_NE(again.err.find("exists already"), std::string::npos) << again.err;
}

TEST(DemoFiles, M4aSampleTablePointsAtTheAudioData)
{
    cli::demo::DemoSong song;
    song.title = "T";
    song.artist = "A";
    song.silent = true;
    song.seconds = 2;
    const std::vector<std::uint8_t> bytes = samples::SongBytes("m4a", song);
    const std::size_t stco = Find(bytes, "stco"), stsz = Find(bytes, "stsz"), mdat = Find(bytes, "mdat");
    ASSERT_TRUE(stco != std::string::npos && stsz != std::string::npos && mdat != std::string::npos);
    // One chunk at the start of the audio data, holding every frame.
    EXPECT_EQ(U32BE(bytes, stco + 8), 1u);
    EXPECT_EQ(U32BE(bytes, stco + 12), mdat + 4);
    const std::uint32_t frameSize = U32BE(bytes, stsz + 8), frames = U32BE(bytes, stsz + 12);
    EXPECT_EQ(frames, (2u * 44100 + 1023) / 1024);
    EXPECT_EQ(U32BE(bytes, mdat - 4), 8 + frameSize * frames);
    EXPECT_EQ(bytes.size(), mdat + 4 + static_cast<std::size_t>(frameSize) * frames);
}

TEST(DemoFiles, Mp3FramesFollowOneAnotherWithoutGaps)
{
    cli::demo::DemoSong song;
    song.title = "T";
    song.artist = "A";
    song.silent = true;
    song.seconds = 3;
    const std::vector<std::uint8_t> bytes = samples::SongBytes("mp3", song);
    ASSERT_EQ(std::string(bytes.begin(), bytes.begin() + 3), "ID3");
    std::size_t at = 10 + (bytes[6] << 21 | bytes[7] << 14 | bytes[8] << 7 | bytes[9]);
    int frames = 0;
    while (at < bytes.size()) {
        ASSERT_EQ(bytes[at], 0xFF) << at;
        ASSERT_EQ(bytes[at + 1], 0xFB) << at;
        at += 417 + ((bytes[at + 2] >> 1) & 1);
        ++frames;
    }
    EXPECT_EQ(at, bytes.size());
    EXPECT_EQ(frames, (3 * 44100 + 1151) / 1152);
}
