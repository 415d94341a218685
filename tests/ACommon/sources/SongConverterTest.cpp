// Converting songs for an iPod: what is converted into what, the cache of converted files (named by
// content and settings, least recently used dropped first, never a partial file) and cancelling.

#include "ACommon/sources/SongConverter.h"

#include "ACommon/base/AError.h"
#include "ACommon/tags/AudioFormats.h"
#include "ACommon/tags/ID3.h"
#include "fixtures/EncodedFiles.h"
#include "fixtures/MusicFiles.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

// The other choices (Ogg to AAC, MP3 and Apple Lossless copied, AAC always when asked) are checked
// on the iPod by the conversion peer test.
TEST(AudioFormats, ALosslessSongIsAACForAnIPodWithoutAppleLossless)
{
    fixtures::TempDir dir;
    fixtures::WriteSong(dir / "a.flac", fixtures::SongSpecOf("Lossless", 0, 1, "A"));
    ID3 tags;
    ASSERT_EQ(tags.SetFilePath(dir.A("a.flac")), 0);
    EXPECT_EQ(AudioFormats::TargetFor(tags, true, {}), AudioFormats::Target::kALAC);
    EXPECT_EQ(AudioFormats::TargetFor(tags, false, {}), AudioFormats::Target::kAAC);
}

TEST(AudioFormats, OnlyTheTypesAnIPodCannotPlayNeedConverting)
{
    for (const char* type : {"flac", "FLAC", "Ogg", "oga", "opUS"})
        EXPECT_TRUE(AudioFormats::NeedsConversion(AString(type))) << type;
    for (const char* type : {"mp3", "m4a", "", "fla", "flacs", "og", "ogx", "opus ", "ŏgg"})
        EXPECT_FALSE(AudioFormats::NeedsConversion(AString(type))) << type;
}

class SongConverterTest : public testing::Test {
protected:
    void SetUp() override
    {
        if (!fixtures::EncodersAvailable())
            GTEST_SKIP() << "flac or ffmpeg is missing";
    }
    std::string Song(const std::string& name, int frequency = 440)
    {
        fixtures::EncodedSong song;
        song.title = name;
        song.seconds = 1;
        song.frequency = frequency;
        song.picture = true;
        const std::string path = dir / ("songs/" + name + ".flac");
        EXPECT_EQ(fixtures::Encode(path, song), "");
        return path;
    }
    SongConverter::Options Options(int kbps = 256, bool alwaysAAC = false) const
    {
        SongConverter::Options options;
        options.cacheFolder = dir / "cache";
        options.settings.aacKbps = kbps;
        options.settings.alwaysAAC = alwaysAAC;
        options.threads = 1;
        return options;
    }
    std::vector<std::string> Cache() const { return fixtures::ListFiles(dir / "cache"); }
    static std::string Convert(SongConverter& converter, const std::string& song, int* err = nullptr,
                               CancelProc cancel = nullptr)
    {
        AString out;
        const int result = converter.FileForIPod(AString::FromUTF8(song), out, cancel);
        if (err)
            *err = result;
        return out.ToStdString();
    }

    fixtures::TempDir dir;
};

TEST_F(SongConverterTest, AConvertedSongIsTakenFromTheCacheNextTime)
{
    const std::string song = Song("one");
    std::string first;
    {
        SongConverter converter(Options());
        first = Convert(converter, song);
        EXPECT_EQ(converter.ConversionsDone(), 1);
        EXPECT_EQ(converter.HashesComputed(), 1);
    }
    ID3 tags;
    ASSERT_EQ(tags.SetFilePath(AString::FromUTF8(first)), 0);
    EXPECT_EQ(tags.GetCodec(), ID3::Codec::kALAC);
    AString title;
    tags.GetName(title);
    EXPECT_EQ(title.ToStdString(), "one");
    EXPECT_EQ(tags.GetImageCount(), 1); // the cover came along
    // The converted file is as old as its original.
    struct stat original {
    }, converted{};
    ASSERT_EQ(stat(song.c_str(), &original), 0);
    ASSERT_EQ(stat(first.c_str(), &converted), 0);
    EXPECT_EQ(converted.st_mtime, original.st_mtime);

    // Unchanged, the song is not even read again for its cache key.
    SongConverter again(Options());
    EXPECT_EQ(Convert(again, song), first);
    EXPECT_EQ(again.ConversionsDone(), 0);
    EXPECT_EQ(again.CacheHits(), 1);
    EXPECT_EQ(again.HashesComputed(), 0);
}

TEST_F(SongConverterTest, EachSettingHasItsOwnCacheEntry)
{
    const std::string song = Song("one");
    for (auto [kbps, alwaysAAC] : {std::pair{256, false}, {256, true}, {128, true}, {256, true}}) {
        SongConverter converter(Options(kbps, alwaysAAC));
        Convert(converter, song);
    }
    const std::vector<std::string> names = Cache();
    ASSERT_EQ(names.size(), 3u);
    EXPECT_NE(names[0].find("-aac128-g.m4a"), std::string::npos);
    EXPECT_NE(names[1].find("-aac256-g.m4a"), std::string::npos);
    EXPECT_NE(names[2].find("-alac16-g.m4a"), std::string::npos);
}

TEST_F(SongConverterTest, TheLeastRecentlyUsedFilesGoWhenTheCacheOutgrowsItsLimit)
{
    const std::string a = Song("a", 300), b = Song("b", 400), c = Song("c", 500);
    std::string first, second;
    {
        SongConverter converter(Options());
        first = Convert(converter, a);
        second = Convert(converter, b);
    }
    // a is used again after b: b is now the least recently used.
    const timespec older[2] = {{1000, 0}, {0, UTIME_OMIT}};
    const timespec newer[2] = {{2000, 0}, {0, UTIME_OMIT}};
    utimensat(AT_FDCWD, second.c_str(), older, 0);
    utimensat(AT_FDCWD, first.c_str(), newer, 0);
    SongConverter::Options options = Options();
    // Room for about two and a half of them.
    options.cacheLimitBytes = (fs::file_size(first) + fs::file_size(second)) * 5 / 4;
    SongConverter converter(options);
    const std::string third = Convert(converter, c);
    EXPECT_TRUE(fs::exists(first));
    EXPECT_FALSE(fs::exists(second));
    EXPECT_TRUE(fs::exists(third));
}

TEST_F(SongConverterTest, OnlyAKilledRunsTemporaryFileGoes)
{
    const std::string song = Song("one");
    fs::create_directories(dir / "cache");
    const std::string dead = dir / "cache/.x.m4a.999999999.1.part";
    const std::string live = dir / ("cache/.y.m4a." + std::to_string(getpid()) + ".1.part");
    fixtures::WriteFile(dead, "partial");
    fixtures::WriteFile(live, "partial");
    SongConverter converter(Options());
    Convert(converter, song);
    EXPECT_FALSE(fs::exists(dead));
    EXPECT_TRUE(fs::exists(live));
}

signed char AlwaysCancel() { return 1; }

TEST_F(SongConverterTest, ACancelledOrFailedConversionLeavesNothingInTheCache)
{
    const std::string song = Song("one");
    fixtures::WriteFile(dir / "songs/bad.flac", "fLaC and then nothing a decoder could use");
    struct Case {
        std::string song;
        CancelProc cancel;
        int expected;
    };
    for (const Case& c :
         {Case{song, AlwaysCancel, kErrUserCancel}, Case{dir / "songs/bad.flac", nullptr, kErrFileType}}) {
        SongConverter converter(Options());
        int err = 0;
        Convert(converter, c.song, &err, c.cancel);
        EXPECT_EQ(err, c.expected) << c.song;
        EXPECT_TRUE(Cache().empty()) << c.song;
    }
}

TEST_F(SongConverterTest, QueuedSongsAreConvertedOnceEach)
{
    std::vector<AString> songs;
    for (int i = 0; i < 4; ++i)
        songs.push_back(AString::FromUTF8(Song("s" + std::to_string(i), 300 + 100 * i)));
    SongConverter::Options options = Options();
    options.threads = 2;
    SongConverter converter(options);
    converter.Prefetch(songs);
    converter.Prefetch(songs); // queued again: still one conversion each
    std::vector<std::string> files;
    for (const AString& song : songs)
        files.push_back(Convert(converter, song.ToStdString()));
    EXPECT_EQ(converter.ConversionsDone(), 4);
    EXPECT_EQ(Cache().size(), 4u);
    for (const std::string& file : files)
        EXPECT_TRUE(fs::exists(file)) << file;
}

} // namespace

TEST_F(SongConverterTest, AChangedSongIsHashedAgain)
{
    struct Case {
        const char* name;
        bool sameBytes; // only the date changes
        int conversions;
    };
    for (auto [name, sameBytes, conversions] : {Case{"touched", true, 0}, {"retitled", false, 1}}) {
        const std::string song = Song(name);
        {
            SongConverter first(Options());
            Convert(first, song);
        }
        struct stat before {};
        ASSERT_EQ(stat(song.c_str(), &before), 0);
        if (sameBytes) {
            fixtures::SetModTime(song, before.st_mtim.tv_sec + 10);
        } else {
            // Other bytes of the same size, under the same date: only the change time tells.
            std::vector<std::uint8_t> bytes = fixtures::ReadFile(song);
            const std::string title(name);
            auto at = std::search(bytes.begin(), bytes.end(), title.begin(), title.end());
            ASSERT_NE(at, bytes.end());
            *at = 'R';
            fixtures::WriteFile(song, bytes);
            const timespec times[2] = {before.st_atim, before.st_mtim};
            ASSERT_EQ(utimensat(AT_FDCWD, song.c_str(), times, 0), 0);
        }
        SongConverter second(Options());
        Convert(second, song);
        EXPECT_EQ(second.HashesComputed(), 1) << name;
        EXPECT_EQ(second.ConversionsDone(), conversions) << name;
    }
}

// A song copied as it is without its tags being read still fails as the tag reader would.
TEST_F(SongConverterTest, ASongCopiedAsItIsThatCannotBeReadFailsWithTheReadersCode)
{
    fixtures::WriteSong(dir / "songs/good.MP3", fixtures::SongSpecOf("Lossy", 0, 1, "A"));
    fixtures::WriteFile(dir / "songs/empty.wav", "");
    fs::create_directories(dir / "songs/folder.aif");
    SongConverter converter(Options());
    struct Case {
        const char* name;
        int err;
    };
    for (auto [name, expected] : {Case{"good.MP3", 0},
                                  {"gone.mp3", kErrFileNotFound},
                                  {"empty.wav", kErrInconsistentSize},
                                  {"folder.aif", kErrOpen}}) {
        int err = -1;
        const std::string song = dir / (std::string("songs/") + name);
        const std::string out = Convert(converter, song, &err);
        EXPECT_EQ(err, expected) << name;
        EXPECT_EQ(out, expected == 0 ? song : std::string()) << name;
    }
    EXPECT_FALSE(fs::exists(dir / "cache"));
}
