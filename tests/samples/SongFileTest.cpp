// The songs that play as silence (the demonstration's): laid out as players need them.

#include "samples/SongFile.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

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

// The bytes of a song of `seconds` that plays as silence.
std::vector<std::uint8_t> Silent(const std::string& extension, int seconds)
{
    samples::SongSpec song;
    song.title = "T";
    song.artist = "A";
    song.silent = true;
    song.seconds = seconds;
    return samples::SongBytes(extension, song);
}

} // namespace

TEST(SongFile, SilentM4aHasASampleTablePointingAtTheAudioFrames)
{
    const std::vector<std::uint8_t> bytes = Silent("m4a", 2);
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

TEST(SongFile, SilentMp3FramesFollowOneAnotherWithoutGaps)
{
    const std::vector<std::uint8_t> bytes = Silent("mp3", 3);
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
