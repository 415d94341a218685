#include "ACommon/ID3.h"
#include "ACommon/AError.h"
#include "ACommon/SongInfoStruct.h"
#include "fixtures/MusicFiles.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using fixtures::Bytes;
using fixtures::ID3v2Frame;
using fixtures::ID3v2Options;
using fixtures::TextEncoding;
using fixtures::TextFrame;

namespace {

Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

Bytes Tag(int version, const std::vector<ID3v2Frame>& frames, ID3v2Options options = {})
{
    options.version = version;
    return fixtures::ID3v2Tag(frames, options);
}

// A little CBR audio after a tag, so that the file reads like a real MP3.
Bytes Audio(std::size_t frames = 100, std::uint32_t seed = 0)
{
    return fixtures::MpegFrames(fixtures::MpegFrameSpec{}, frames, seed);
}

std::string Text(const AString& s)
{
    return s.ToStdString();
}

using MusicRange = std::pair<unsigned long long, unsigned long long>;

fixtures::SongSpec FullSong(const std::string& title, const std::string& genre)
{
    fixtures::SongSpec song;
    song.title = title;
    song.artist = "Artist";
    song.album = "Album";
    song.genre = genre;
    song.composer = "Composer";
    song.track = 4;
    song.trackCount = 10;
    song.disc = 2;
    song.discCount = 3;
    song.year = 1987;
    song.compilation = true;
    return song;
}

class ID3Read : public testing::Test
{
protected:
    // Writes `bytes` as `fileName` and reads it; returns the result of SetFilePath.
    int Load(const std::string& fileName, const Bytes& bytes)
    {
        path = dir / fileName;
        fixtures::WriteFile(path, bytes);
        return tags.SetFilePath(AString::FromUTF8(path));
    }
    std::string Name() const
    {
        AString s;
        tags.GetName(s);
        return Text(s);
    }
    std::string Artist() const
    {
        AString s;
        tags.GetArtist(s);
        return Text(s);
    }
    std::string Album() const
    {
        AString s;
        tags.GetAlbum(s);
        return Text(s);
    }
    std::string Genre() const
    {
        AString s;
        tags.GetGenre(s);
        return Text(s);
    }
    long Track() const
    {
        long v = 0;
        tags.GetTrackNumber(v);
        return v;
    }
    long Duration() const
    {
        long v = 0;
        tags.GetDuration(v);
        return v;
    }
    long BitRate() const
    {
        long v = 0;
        tags.GetBitrate(v);
        return v;
    }
    std::pair<unsigned long long, unsigned long long> Range() const
    {
        unsigned long long start = 0, end = 0;
        if (!tags.GetMusicRange(&start, &end))
            return {0, 0};
        return {start, end};
    }

    fixtures::TempDir dir;
    std::string path;
    ID3 tags;
};

// ---- Which tag wins -----------------------------------------------------------------------------

TEST_F(ID3Read, ID3v2TagReplacesEveryID3v1ValueEvenThoseItLacks)
{
    fixtures::ID3v1Spec v1{"Old Title", "Old Artist", "Old Album", "1999", ""};
    v1.track = 7;
    v1.genre = 17;
    Bytes file = Concat({Tag(3, {TextFrame("TIT2", "New Title")}), Audio(), fixtures::ID3v1Tag(v1)});
    ASSERT_EQ(Load("both.mp3", file), 0);
    EXPECT_EQ(Name(), "New Title");
    EXPECT_EQ(Artist(), "");
    EXPECT_EQ(Album(), "");
    EXPECT_EQ(Genre(), "");
    EXPECT_EQ(Track(), 0);
    EXPECT_EQ(tags.GetYear(), 0);
    EXPECT_EQ(tags.GetTagKinds(), ID3::kID3v11 | ID3::kID3v23);
}

TEST_F(ID3Read, ArtistFramePrecedenceFollowsTheTagVersion)
{
    struct Case
    {
        int version;
        const char* first;
        const char* second;
        const char* expected;
    };
    for (auto [version, first, second, expected] :
         {Case{2, "TP1", "TP2", "one"}, Case{2, "TP2", "TP1", "one"}, Case{3, "TPE2", "TPE1", "two"},
          Case{3, "TPE1", "TPE2", "two"}, Case{4, "TPE2", "TPE1", "one"}, Case{4, "TPE1", "TPE2", "two"}}) {
        Bytes file = Concat({Tag(version, {TextFrame(first, "one"), TextFrame(second, "two")}), Audio()});
        ASSERT_EQ(Load("artist.mp3", file), 0);
        // "one" is the first frame's value, "two" the second's.
        EXPECT_EQ(Artist(), expected) << version << " " << first << " then " << second;
    }
}

TEST_F(ID3Read, YearFramesOfVersion24TakeTheLaterOneAndTheYearOfATimeStamp)
{
    Bytes file =
        Concat({Tag(4, {TextFrame("TYER", "1990"), TextFrame("TDRC", "2004-05-06T10:00")}), Audio()});
    ASSERT_EQ(Load("year.mp3", file), 0);
    EXPECT_EQ(tags.GetYear(), 2004);
    file = Concat({Tag(4, {TextFrame("TDRC", "2004"), TextFrame("TYER", "1990")}), Audio()});
    ASSERT_EQ(Load("year.mp3", file), 0);
    EXPECT_EQ(tags.GetYear(), 1990);
}

// ---- ID3v1 --------------------------------------------------------------------------------------

TEST_F(ID3Read, ID3v1FieldsAreReadTrimmedWithTrackAndGenre)
{
    fixtures::ID3v1Spec v1{"Title  ", "  Artist", "Album", "1999", "comment"};
    v1.track = 200;
    v1.genre = 17;
    ASSERT_EQ(Load("v1.mp3", Concat({Audio(), fixtures::ID3v1Tag(v1)})), 0);
    EXPECT_EQ(Name(), "Title");
    EXPECT_EQ(Artist(), ""); // a value that begins with a space is empty
    EXPECT_EQ(Album(), "Album");
    EXPECT_EQ(tags.GetYear(), 1999);
    EXPECT_EQ(Track(), 200); // track numbers above 127 are not negative
    EXPECT_EQ(Genre(), "Rock");
    EXPECT_EQ(tags.GetTagKinds(), ID3::kID3v11);
}

TEST_F(ID3Read, ID3v1YearAndGenreEdgeValues)
{
    struct Case
    {
        const char* year;
        int genre;
        int expectedYear;
        const char* expectedGenre;
    };
    for (auto [yearText, genreIndex, expectedYear, expectedGenre] :
         {Case{"199 ", 0, 0, "Blues"}, Case{"1999", 125, 1999, "Dance Hall"}, Case{"", 126, 0, ""},
          Case{"2001", 255, 2001, ""}}) {
        fixtures::ID3v1Spec v1{"T", "A", "B", yearText, ""};
        v1.genre = genreIndex;
        ASSERT_EQ(Load("v1.mp3", Concat({Audio(), fixtures::ID3v1Tag(v1)})), 0);
        EXPECT_EQ(tags.GetYear(), expectedYear) << yearText;
        EXPECT_EQ(Genre(), expectedGenre) << genreIndex;
        EXPECT_EQ(tags.GetTagKinds(), ID3::kID3v10);
    }
}

TEST_F(ID3Read, TitleThatBeginsWithASpaceGivesTheFileNameAsModifiedName)
{
    fixtures::ID3v1Spec v1{" Title", "Artist", "Album", "", ""};
    ASSERT_EQ(Load("My Song.mp3", Concat({Audio(), fixtures::ID3v1Tag(v1)})), 0);
    EXPECT_EQ(Name(), "");
    AString modified;
    tags.GetModifiedName(modified);
    EXPECT_EQ(Text(modified), "My Song");
}

// ---- Text encodings -----------------------------------------------------------------------------

TEST_F(ID3Read, TextFramesDecodeEveryEncodingTheVersionAllows)
{
    const std::string text = "Caf\xC3\xA9 \xF0\x9D\x84\x9E"; // "Café 𝄞": Latin-1 and a surrogate pair
    const std::string latin = "Caf\xC3\xA9";
    struct Case
    {
        int version;
        TextEncoding encoding;
        std::string value;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {2, TextEncoding::Latin1, latin, latin}, {2, TextEncoding::UTF16, text, text},
        {3, TextEncoding::Latin1, latin, latin}, {3, TextEncoding::UTF16, text, text},
        {3, TextEncoding::UTF8, text, ""},       {3, TextEncoding::UTF16BE, text, ""},
        {4, TextEncoding::Latin1, latin, latin}, {4, TextEncoding::UTF16, text, text},
        {4, TextEncoding::UTF16BE, text, text},  {4, TextEncoding::UTF8, text, text},
    };
    for (const Case& c : cases) {
        const char* id = c.version == 2 ? "TT2" : "TIT2";
        ASSERT_EQ(Load("enc.mp3", Concat({Tag(c.version, {TextFrame(id, c.value, c.encoding)}), Audio()})),
                  0);
        EXPECT_EQ(Name(), c.expected) << c.version << " encoding " << static_cast<int>(c.encoding);
    }
}

TEST_F(ID3Read, TextDetailsOfTheEncodings)
{
    struct Case
    {
        const char* what;
        Bytes data;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"UTF-8 bytes in encoding 0 are taken as UTF-8", {0, 'C', 'a', 'f', 0xC3, 0xA9}, "Caf\xC3\xA9"},
        {"text ends at its first zero", {0, 'O', 'n', 'e', 0, 'T', 'w', 'o'}, "One"},
        {"UTF-16 without a mark is big-endian", {1, 0, 'H', 0, 'i'}, "Hi"},
        {"UTF-16 with a big-endian mark", {1, 0xFE, 0xFF, 0, 'H', 0, 'i'}, "Hi"},
        {"UTF-16 ends at its zero unit", {1, 0xFF, 0xFE, 'H', 0, 0, 0, 'X', 0}, "H"},
        {"an unpaired surrogate gives nothing", {1, 0xFF, 0xFE, 0x00, 0xD8, 'H', 0}, ""},
        {"an unknown encoding gives nothing", {7, 'H', 'i'}, ""},
        {"an empty frame gives nothing", {}, ""},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(Load("text.mp3", Concat({Tag(3, {ID3v2Frame{"TIT2", c.data}}), Audio()})), 0);
        EXPECT_EQ(Name(), c.expected) << c.what;
    }
}

// ---- Numbers and flags --------------------------------------------------------------------------

TEST_F(ID3Read, NumberFramesKeepTheirLow16BitsAndSplitAtTheSlash)
{
    struct Case
    {
        const char* track;
        const char* disc;
        const char* year;
        long expectedTrack, expectedDisc, expectedCount, expectedYear;
    };
    for (const Case& c : {Case{"3/12", "2/3", "1999", 3, 2, 3, 1999}, Case{"70000", "4", "99", 4464, 4, 0, 0},
                          Case{"x", "/5", "2004-01", 0, 0, 5, 2004}}) {
        Bytes file = Concat(
            {Tag(3, {TextFrame("TRCK", c.track), TextFrame("TPOS", c.disc), TextFrame("TYER", c.year)}),
             Audio()});
        ASSERT_EQ(Load("numbers.mp3", file), 0);
        long disc = -1, count = -1;
        tags.GetDiskNumber(disc);
        tags.GetDiskCount(count);
        EXPECT_EQ(Track(), c.expectedTrack) << c.track;
        EXPECT_EQ(disc, c.expectedDisc) << c.disc;
        EXPECT_EQ(count, c.expectedCount) << c.disc;
        EXPECT_EQ(tags.GetYear(), c.expectedYear) << c.year;
    }
}

TEST_F(ID3Read, CompilationAndPodcastFlags)
{
    Bytes file = Concat({Tag(2, {TextFrame("TCP", "1"), ID3v2Frame{"PCS", {}}}), Audio()});
    ASSERT_EQ(Load("flags.mp3", file), 0);
    EXPECT_TRUE(tags.IsCompilation());
    EXPECT_TRUE(tags.IsPodCast());
    file = Concat({Tag(3, {TextFrame("TCMP", ""), TextFrame("TCOM", "Bach")}), Audio()});
    ASSERT_EQ(Load("flags.mp3", file), 0);
    EXPECT_FALSE(tags.IsCompilation());
    EXPECT_FALSE(tags.IsPodCast());
    AString composer;
    tags.GetComposer(composer);
    EXPECT_EQ(Text(composer), "Bach");
}

// ---- Genres -------------------------------------------------------------------------------------

TEST(ID3Genre, ID3LookUpUsesTheDigitsAfterTheParenthesis)
{
    struct Case
    {
        const char* in;
        const char* out;
    };
    for (auto [in, out] :
         {Case{"(17)", "Rock"}, Case{"(200)", ""}, Case{"Rock", "Rock"}, Case{"(RX)", "Blues"},
          Case{"(40)", "AlternRock"}, Case{"(123)Choir", "A Capella"}, Case{"(99999999999999)", ""}}) {
        AString genre(in);
        AString result = ID3::LookUpGenreID3(genre, 0);
        EXPECT_EQ(Text(result), out) << in;
        EXPECT_EQ(Text(genre), out) << in;
    }
}

TEST(ID3Genre, AACLookUpTakesNumbersWithOrWithoutParentheses)
{
    struct Case
    {
        const char* in;
        const char* out;
    };
    for (auto [in, out] : {Case{"18", "Rock"}, Case{"0", ""}, Case{"(18)", "Rock"}, Case{"127", ""},
                           Case{"126", "Dance Hall"}, Case{"Jazz", "Jazz"}, Case{"(Live)", "(Live)"}}) {
        AString genre(in);
        EXPECT_EQ(Text(ID3::LookUpGenreAAC(genre, -1)), out) << in;
    }
}

TEST_F(ID3Read, GenreFrameIsLookedUp)
{
    ASSERT_EQ(Load("genre.mp3", Concat({Tag(3, {TextFrame("TCON", "(17)")}), Audio()})), 0);
    EXPECT_EQ(Genre(), "Rock");
}

// ---- Durations and bit rates --------------------------------------------------------------------

struct AudioCase
{
    const char* what;
    Bytes audio;
    long duration;
    long bitRate;
};

std::vector<AudioCase> AudioCases()
{
    using fixtures::MpegFrameSpec;
    using fixtures::MpegVersion;
    std::vector<AudioCase> cases;
    {
        // 4,000,000 bytes at 128 kbit/s: 250 seconds.
        Bytes audio = fixtures::MpegFrames(MpegFrameSpec{}, 9593);
        audio.resize(4000000, 0);
        cases.push_back({"CBR MPEG-1 Layer III", audio, 250, 128});
    }
    {
        MpegFrameSpec frame;
        frame.layer = 1;
        frame.bitRate = 384;
        frame.sampleRate = 48000;
        cases.push_back({"CBR MPEG-1 Layer I", fixtures::MpegFrames(frame, 1000), 8, 384});
        frame.layer = 2;
        frame.bitRate = 192;
        cases.push_back({"CBR MPEG-1 Layer II", fixtures::MpegFrames(frame, 1000), 24, 192});
    }
    {
        MpegFrameSpec frame{MpegVersion::V2, 3, 64, 22050};
        cases.push_back({"CBR MPEG-2 Layer III", fixtures::MpegFrames(frame, 1000), 26, 64});
    }
    {
        // ((417960 / 1000) x 44100) / 144 = 127,706 bit/s.
        MpegFrameSpec frame;
        fixtures::XingSpec xing;
        xing.frames = 1000;
        xing.bytes = 417960;
        Bytes audio = Concat({fixtures::XingFrame(frame, xing), fixtures::MpegFrames(frame, 999)});
        long seconds = static_cast<long>(audio.size() * 8.0 / 127706);
        cases.push_back({"Xing MPEG-1", audio, seconds, 127});
    }
    {
        // MPEG-2 Layer III frames hold 576 samples: 208 bytes a frame at 22050 Hz is 63,700 bit/s.
        MpegFrameSpec frame{MpegVersion::V2, 3, 64, 22050};
        fixtures::XingSpec xing;
        xing.frames = 1000;
        xing.bytes = 208000;
        Bytes audio = Concat({fixtures::XingFrame(frame, xing), fixtures::MpegFrames(frame, 999)});
        long seconds = static_cast<long>(audio.size() * 8.0 / 63700);
        cases.push_back({"Xing MPEG-2", audio, seconds, 63});
    }
    {
        // Mono MPEG-1 puts the Xing header 21 bytes into the frame; 209 bytes a frame is 64 kbit/s.
        MpegFrameSpec frame;
        frame.mono = true;
        fixtures::XingSpec xing;
        xing.frames = 100;
        xing.bytes = 20900;
        Bytes audio = Concat({fixtures::XingFrame(frame, xing), fixtures::MpegFrames(frame, 99)});
        cases.push_back({"Xing MPEG-1 mono", audio, static_cast<long>(audio.size() * 8.0 / 64006), 64});
    }
    {
        // MPEG-2.5 mono at 8000 Hz: the header at 13; 288 bytes a frame is 32 kbit/s.
        MpegFrameSpec frame{MpegVersion::V25, 3, 64, 8000, true};
        fixtures::XingSpec xing;
        xing.frames = 100;
        xing.bytes = 28800;
        Bytes audio = Concat({fixtures::XingFrame(frame, xing), fixtures::MpegFrames(frame, 99)});
        cases.push_back({"Xing MPEG-2.5 mono", audio, static_cast<long>(audio.size() * 8.0 / 32000), 32});
    }
    {
        // Without a byte count the audio size counts.
        MpegFrameSpec frame;
        fixtures::XingSpec xing;
        xing.frames = 100;
        xing.table = false;
        Bytes audio = Concat({fixtures::XingFrame(frame, xing), fixtures::MpegFrames(frame, 99)});
        std::uint64_t average = (audio.size() / 100) * 44100 / 144;
        cases.push_back({"Xing without byte count", audio, static_cast<long>(audio.size() * 8.0 / average),
                         static_cast<long>(average / 1000)});
    }
    {
        // (417960 / 1000) x (44100 / 144) = 417 x 306 = 127,602 bit/s.
        MpegFrameSpec frame;
        Bytes audio = Concat({fixtures::VbriFrame(frame, 1000, 417960), fixtures::MpegFrames(frame, 999)});
        cases.push_back({"VBRI MPEG-1", audio, static_cast<long>(audio.size() * 8.0 / 127602), 127});
    }
    {
        // The VBRI header stands 32 bytes after the frame header in every kind of frame:
        // 480 x (24000 / 72) = 159,840 bit/s.
        MpegFrameSpec frame{MpegVersion::V2, 3, 160, 24000};
        Bytes audio = Concat({fixtures::VbriFrame(frame, 100, 48000), fixtures::MpegFrames(frame, 99)});
        cases.push_back({"VBRI MPEG-2", audio, static_cast<long>(audio.size() * 8.0 / 159840), 159});
    }
    return cases;
}

TEST_F(ID3Read, DurationAndBitRateOfMPEGAudio)
{
    for (const AudioCase& c : AudioCases()) {
        ASSERT_EQ(Load("audio.mp3", Concat({Tag(3, {TextFrame("TIT2", "x")}), c.audio})), 0) << c.what;
        EXPECT_EQ(Duration(), c.duration) << c.what;
        EXPECT_EQ(BitRate(), c.bitRate) << c.what;
    }
}

TEST_F(ID3Read, XingHeaderIsFoundBehindATagLargerThanTheAudio)
{
    fixtures::XingSpec xing;
    xing.frames = 100;
    xing.bytes = 20900; // 209 bytes a frame: 64 kbit/s, where the frame headers say 128
    const Bytes audio = Concat({fixtures::XingFrame({}, xing), fixtures::MpegFrames({}, 99)});
    ID3v2Options options;
    options.padding = 100000;
    ASSERT_EQ(Load("big.mp3", Concat({Tag(3, {TextFrame("TIT2", "x")}, options), audio})), 0);
    EXPECT_EQ(BitRate(), 64);
    EXPECT_EQ(Duration(), static_cast<long>(audio.size() * 8.0 / 64006));
}

TEST_F(ID3Read, ZeroPaddingAndJunkBeforeTheFirstFrameAreSkipped)
{
    Bytes junk = {0x12, 0xFF, 0x00, 0x34, 0xFF, 0xF0};
    for (const Bytes& gap : {Bytes(3000, 0), junk}) {
        Bytes file = Concat({Tag(3, {TextFrame("TIT2", "x")}), gap, fixtures::MpegFrames({}, 1000)});
        ASSERT_EQ(Load("gap.mp3", file), 0);
        EXPECT_EQ(BitRate(), 128);
        EXPECT_EQ(Duration(), 26); // 417,000 bytes at 128 kbit/s
    }
}

TEST_F(ID3Read, FileWithoutAudioFramesHasNoDurationButReads)
{
    ASSERT_EQ(Load("silent.mp3", Concat({Tag(3, {TextFrame("TIT2", "x")}), Bytes(5000, 0x11)})), 0);
    EXPECT_EQ(Duration(), 0);
    EXPECT_EQ(BitRate(), 0);
    EXPECT_EQ(Name(), "x");
}

TEST_F(ID3Read, ID3v1TagIsNotCountedAsAudio)
{
    Bytes audio = fixtures::MpegFrames({}, 9593);
    audio.resize(4000000, 0);
    fixtures::ID3v1Spec v1{"T", "", "", "", ""};
    ASSERT_EQ(Load("v1.mp3", Concat({audio, fixtures::ID3v1Tag(v1)})), 0);
    EXPECT_EQ(Duration(), 250);
}

// ---- Music ranges -------------------------------------------------------------------------------

TEST_F(ID3Read, MusicRangeOfMP3LeavesOutBothTags)
{
    Bytes tag = Tag(3, {TextFrame("TIT2", "x")}, ID3v2Options{3, 100});
    fixtures::ID3v1Spec v1{"T", "", "", "", ""};
    Bytes file = Concat({tag, Audio(), fixtures::ID3v1Tag(v1)});
    ASSERT_EQ(Load("range.mp3", file), 0);
    EXPECT_EQ(Range(), MusicRange(tag.size(), file.size() - 129));
    // A 2.4 footer belongs to the tag.
    ID3v2Options options;
    options.footer = true;
    tag = Tag(4, {TextFrame("TIT2", "x")}, options);
    file = Concat({tag, Audio()});
    ASSERT_EQ(Load("range.mp3", file), 0);
    EXPECT_EQ(Name(), "x");
    EXPECT_EQ(Range(), MusicRange(tag.size(), file.size() - 1));
}

TEST_F(ID3Read, UntaggedMP3HasItsWholeFileAsMusic)
{
    Bytes file = Audio();
    ASSERT_EQ(Load("song.mp3", file), 0);
    EXPECT_EQ(Range(), MusicRange(0, file.size() - 1));
    EXPECT_EQ(Name(), "");
    AString modified;
    tags.GetModifiedName(modified);
    EXPECT_EQ(Text(modified), "song");
    EXPECT_EQ(tags.GetTagKinds(), 0u);
}

// ---- Pictures -----------------------------------------------------------------------------------

TEST_F(ID3Read, PicturesOfEveryVersionAreFoundWithTheirKindAndOffsets)
{
    const Bytes jpeg = fixtures::FakeJpeg(3000, 1);
    const Bytes png = fixtures::FakePng(500, 2);
    const Bytes gif = {'G', 'I', 'F', '8', '9', 'a', 1, 2, 3};
    struct Case
    {
        int version;
        TextEncoding encoding;
    };
    for (auto [version, encoding] :
         {Case{2, TextEncoding::Latin1}, Case{2, TextEncoding::UTF16}, Case{3, TextEncoding::Latin1},
          Case{3, TextEncoding::UTF16}, Case{4, TextEncoding::UTF8}, Case{4, TextEncoding::UTF16BE}}) {
        std::vector<ID3v2Frame> frames = {
            fixtures::PictureFrame(version, jpeg, "image/jpeg", encoding, "Front"),
            TextFrame(version == 2 ? "TT2" : "TIT2", "Between"),
            fixtures::PictureFrame(version, png, "image/png", encoding, ""),
            fixtures::PictureFrame(version, gif, "image/gif", encoding, "x"),
        };
        Bytes file = Concat({Tag(version, frames), Audio()});
        ASSERT_EQ(Load("pictures.mp3", file), 0) << version;
        ASSERT_EQ(tags.GetImageCount(), 3) << version << " " << static_cast<int>(encoding);
        const std::vector<Bytes> expected = {jpeg, png, gif};
        const std::uint32_t kinds[] = {2, 1, 0};
        for (int i = 0; i < 3; ++i) {
            const ID3::Image& image = tags.GetImages()[static_cast<std::size_t>(i)];
            EXPECT_EQ(image.kind, kinds[i]) << version << " picture " << i;
            EXPECT_EQ(image.length, expected[static_cast<std::size_t>(i)].size());
            EXPECT_EQ(image.end, image.start + image.length - 1);
            EXPECT_FALSE(image.unsynchronised);
            Bytes stored(file.begin() + static_cast<std::ptrdiff_t>(image.start),
                         file.begin() + static_cast<std::ptrdiff_t>(image.end + 1));
            EXPECT_EQ(stored, expected[static_cast<std::size_t>(i)]) << version << " picture " << i;
        }
        EXPECT_EQ(Name(), "Between");
    }
}

TEST_F(ID3Read, PictureFramesWithoutPictureDataAddNothing)
{
    std::vector<ID3v2Frame> frames = {
        ID3v2Frame{"APIC", {0, 'i', 'm', 'a', 'g', 'e'}},          // the MIME type never ends
        ID3v2Frame{"APIC", {0, 'i', 0, 3, 'd', 'e', 's', 'c', 0}}, // ends with the description
        ID3v2Frame{"APIC", {2, 'i', 0, 3, 0, 0xFF, 0xD8}},         // UTF-16BE is not a 2.3 encoding
    };
    ASSERT_EQ(Load("nopic.mp3", Concat({Tag(3, frames), Audio()})), 0);
    EXPECT_EQ(tags.GetImageCount(), 0);
}

TEST_F(ID3Read, CompressedAndEncryptedFramesGiveNoValue)
{
    ID3v2Frame compressed = TextFrame("TIT2", "zipped");
    compressed.formatFlags = 0x80;
    ID3v2Frame grouped = TextFrame("TALB", "Album");
    grouped.formatFlags = 0x20; // a group byte stands before the data
    grouped.data.insert(grouped.data.begin(), 7);
    ASSERT_EQ(Load("flags.mp3", Concat({Tag(3, {compressed, grouped}), Audio()})), 0);
    EXPECT_EQ(Name(), "");
    EXPECT_EQ(Album(), "Album");

    ID3v2Frame encrypted = TextFrame("TIT2", "secret");
    encrypted.formatFlags = 0x04;
    ASSERT_EQ(Load("flags.mp3", Concat({Tag(4, {encrypted, TextFrame("TALB", "Album")}), Audio()})), 0);
    EXPECT_EQ(Name(), "");
    EXPECT_EQ(Album(), "Album");
}

// ---- ID3v2.4 frame sizes ------------------------------------------------------------------------

TEST_F(ID3Read, Version24FrameSizesAreSynchsafe)
{
    const std::string longTitle(300, 'T');
    Bytes file = Concat({Tag(4, {TextFrame("TIT2", longTitle), TextFrame("TALB", "Album")}), Audio()});
    ASSERT_EQ(Load("synchsafe.mp3", file), 0);
    EXPECT_EQ(Name(), longTitle);
    EXPECT_EQ(Album(), "Album");
}

TEST_F(ID3Read, Version24FrameSizesWrittenAsPlainNumbersAreReadToo)
{
    ID3v2Options options;
    options.plainFrameSizes = true;
    options.padding = 50;
    const std::string longTitle(300, 'T');
    for (bool lastFrameLong : {false, true}) {
        std::vector<ID3v2Frame> frames = {TextFrame("TIT2", longTitle), TextFrame("TALB", "Album")};
        if (lastFrameLong)
            std::swap(frames[0], frames[1]);
        ASSERT_EQ(Load("plain.mp3", Concat({Tag(4, frames, options), Audio()})), 0);
        EXPECT_EQ(Name(), longTitle) << lastFrameLong;
        EXPECT_EQ(Album(), "Album") << lastFrameLong;
    }
}

// ---- Extended headers, footers, unsynchronisation -----------------------------------------------

TEST_F(ID3Read, ExtendedHeadersAndFootersAreSkipped)
{
    struct Case
    {
        int version;
        bool extended;
        bool footer;
    };
    for (auto [version, extended, footer] :
         {Case{3, true, false}, Case{4, true, false}, Case{4, false, true}, Case{4, true, true}}) {
        ID3v2Options options;
        options.extendedHeader = extended;
        options.footer = footer;
        options.padding = 20;
        Bytes file = Concat(
            {Tag(version, {TextFrame("TIT2", "Title"), TextFrame("TPE1", "Artist")}, options), Audio()});
        ASSERT_EQ(Load("ext.mp3", file), 0) << version << extended << footer;
        EXPECT_EQ(Name(), "Title");
        EXPECT_EQ(Artist(), "Artist");
        EXPECT_EQ(BitRate(), 128);
    }
}

TEST_F(ID3Read, BogusExtendedHeaderFlagOfVersion23IsIgnored)
{
    Bytes tag = Tag(3, {TextFrame("TIT2", "Title")});
    tag[5] |= 0x40; // flagged, but the body begins with a frame
    ASSERT_EQ(Load("bogus.mp3", Concat({tag, Audio()})), 0);
    EXPECT_EQ(Name(), "Title");
}

TEST_F(ID3Read, UnsynchronisedTagsAreDecodedBeforeTheirFramesAreRead)
{
    // "ÿé" in ISO 8859-1 is 0xFF 0xE9, which unsynchronisation stuffs.
    const std::string title = "\xC3\xBF\xC3\xA9 done";
    for (int version : {2, 3, 4}) {
        ID3v2Options options;
        options.unsynchronise = true;
        std::vector<ID3v2Frame> frames = {TextFrame(version == 2 ? "TT2" : "TIT2", title),
                                          TextFrame(version == 2 ? "TP1" : "TPE1", "Artist")};
        ASSERT_EQ(Load("unsync.mp3", Concat({Tag(version, frames, options), Audio()})), 0) << version;
        EXPECT_EQ(Name(), title) << version;
        EXPECT_EQ(Artist(), "Artist") << version;
    }
    ID3v2Options options;
    options.unsynchronise = true;
    options.dataLengthIndicator = true;
    ASSERT_EQ(Load("unsync.mp3", Concat({Tag(4, {TextFrame("TIT2", title)}, options), Audio()})), 0);
    EXPECT_EQ(Name(), title);
}

TEST_F(ID3Read, PictureInAnUnsynchronisedTagIsCountedAndReadBack)
{
    const Bytes jpeg = fixtures::FakeJpeg(4000, 5);
    for (int version : {2, 3, 4}) {
        ID3v2Options options;
        options.unsynchronise = true;
        std::vector<ID3v2Frame> frames = {TextFrame(version == 2 ? "TT2" : "TIT2", "Title"),
                                          fixtures::PictureFrame(version, jpeg),
                                          TextFrame(version == 2 ? "TAL" : "TALB", "Album")};
        Bytes file = Concat({Tag(version, frames, options), Audio()});
        ASSERT_EQ(Load("unsync.mp3", file), 0) << version;
        ASSERT_EQ(tags.GetImageCount(), 1) << version;
        const ID3::Image& image = tags.GetImages()[0];
        EXPECT_EQ(image.kind, 2u);
        EXPECT_TRUE(image.unsynchronised);
        EXPECT_EQ(image.length, image.end - image.start + 1);
        // The range holds the picture as stored; decoded, it is the picture.
        Bytes stored(file.begin() + static_cast<std::ptrdiff_t>(image.start),
                     file.begin() + static_cast<std::ptrdiff_t>(image.end + 1));
        EXPECT_EQ(stored, fixtures::Unsynchronise(jpeg)) << version;
        Bytes data;
        ASSERT_EQ(tags.ReadImageData(0, data), 0);
        EXPECT_EQ(data, jpeg) << version;
        EXPECT_EQ(Album(), "Album") << version;
    }
}

TEST_F(ID3Read, ReadImageDataRefusesAnIndexOutOfRange)
{
    ASSERT_EQ(Load("nopic.mp3", Concat({Tag(3, {TextFrame("TIT2", "x")}), Audio()})), 0);
    Bytes data;
    EXPECT_EQ(tags.ReadImageData(0, data), kErrUnknown);
    EXPECT_EQ(tags.ReadImageData(-1, data), kErrUnknown);
}

// ---- Untrusted lengths and refusals -------------------------------------------------------------

TEST_F(ID3Read, TagSizeLargerThanTheFileIsCutToTheFile)
{
    Bytes tag = Tag(3, {TextFrame("TIT2", "Title")}, ID3v2Options{3, 200});
    const Bytes huge = fixtures::Synchsafe(0x0FFFFFFF);
    std::copy(huge.begin(), huge.end(), tag.begin() + 6);
    ASSERT_EQ(Load("huge.mp3", tag), 0);
    EXPECT_EQ(Name(), "Title");
    EXPECT_EQ(Duration(), 0);
}

TEST_F(ID3Read, FrameLongerThanTheRestOfTheTagEndsTheWalk)
{
    ID3v2Frame broken = TextFrame("TALB", "Album");
    Bytes tag = Tag(3, {TextFrame("TIT2", "Title"), broken});
    // The TALB size field now claims 1000 bytes.
    const std::size_t sizeField = 10 + 10 + 6 + 4;
    tag[sizeField + 2] = 0x03;
    tag[sizeField + 3] = 0xE8;
    ASSERT_EQ(Load("long.mp3", Concat({tag, Audio()})), 0);
    EXPECT_EQ(Name(), "Title");
    EXPECT_EQ(Album(), "");
}

TEST_F(ID3Read, RefusalsAndFileErrors)
{
    Bytes tag = Tag(3, {TextFrame("TIT2", "x")});
    tag[3] = 5;
    EXPECT_EQ(Load("v5.mp3", Concat({tag, Audio()})), kErrUnknown);
    EXPECT_EQ(Load("tiny.mp3", Bytes(100, 0xAB)), kErrUnknown); // too short for an ID3v1 tag
    EXPECT_EQ(Load("empty.mp3", Bytes{}), kErrInconsistentSize);
    EXPECT_EQ(tags.SetFilePath(dir.A("missing.mp3")), kErrFileNotFound);
    ASSERT_EQ(mkdir((dir / "folder.mp3").c_str(), 0755), 0);
    EXPECT_NE(tags.SetFilePath(dir.A("folder.mp3")), 0);
}

TEST_F(ID3Read, LinkedFilesAreReadThroughTheLink)
{
    const Bytes file = Concat({Tag(3, {TextFrame("TIT2", "Linked")}), Audio()});
    fixtures::WriteFile(dir / "real.mp3", file);
    ASSERT_EQ(symlink((dir / "real.mp3").c_str(), (dir / "link.mp3").c_str()), 0);
    ASSERT_EQ(tags.SetFilePath(dir.A("link.mp3")), 0);
    EXPECT_EQ(Name(), "Linked");
    EXPECT_EQ(tags.GetFileSize(), static_cast<long>(file.size()));
    // A link to nothing is a missing file, and reading it creates nothing.
    ASSERT_EQ(symlink((dir / "gone.mp3").c_str(), (dir / "dangling.mp3").c_str()), 0);
    EXPECT_EQ(tags.SetFilePath(dir.A("dangling.mp3")), kErrFileNotFound);
    EXPECT_FALSE(fixtures::Exists(dir / "gone.mp3"));
}

TEST_F(ID3Read, FailedReadLeavesNoValuesOfThePreviousFile)
{
    ASSERT_EQ(Load("good.mp3", Concat({Tag(3, {TextFrame("TIT2", "Title")}), Audio()})), 0);
    EXPECT_EQ(tags.SetFilePath(dir.A("missing.mp3")), kErrFileNotFound);
    EXPECT_EQ(Name(), "");
    EXPECT_EQ(BitRate(), 0);
}

TEST_F(ID3Read, CompressedVersion22TagStillReadsTheAudio)
{
    Bytes tag = Tag(2, {TextFrame("TT2", "x")});
    tag[5] |= 0x40;
    Bytes file = Concat({tag, Audio(1000)});
    ASSERT_EQ(Load("compressed.mp3", file), 0);
    EXPECT_EQ(Name(), "");
    EXPECT_EQ(BitRate(), 128);
    EXPECT_EQ(Range().first, tag.size());
}

TEST_F(ID3Read, OtherExtensionsYieldNothing)
{
    ASSERT_EQ(Load("song.wav", Concat({Tag(3, {TextFrame("TIT2", "x")}), Audio()})), 0);
    EXPECT_EQ(Name(), "");
    EXPECT_EQ(Range().second, 0u);
    AString modified, ext;
    tags.GetModifiedName(modified);
    tags.GetFileExt(ext);
    EXPECT_EQ(Text(modified), "song");
    EXPECT_EQ(Text(ext), "wav");
}

TEST_F(ID3Read, ExtensionIsMatchedWithoutRegardToCase)
{
    ASSERT_EQ(Load("LOUD.MP3", Concat({Tag(3, {TextFrame("TIT2", "x")}), Audio()})), 0);
    EXPECT_EQ(Name(), "x");
}

TEST_F(ID3Read, EveryTruncationOfASongReadsWithoutHarm)
{
    fixtures::SongSpec song = FullSong("Title", "Rock");
    song.seconds = 0;
    song.picture = fixtures::FakeJpeg(300);
    for (const char* ext : {"mp3", "m4a", "aif"}) {
        const Bytes whole = fixtures::SongBytes(ext, song);
        for (std::size_t length = 1; length < whole.size(); length += 3) {
            int err = Load(std::string("cut.") + ext,
                           Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length)));
            EXPECT_TRUE(err == 0 || err == kErrUnknown || err == kErrEndOfFile)
                << ext << " " << length << " " << err;
            EXPECT_LE(tags.GetImageCount(), 1);
        }
    }
}

// ---- MP4 ----------------------------------------------------------------------------------------

using fixtures::Atom;
using fixtures::Mp4Spec;

Mp4Spec Movie(std::vector<Atom> items, std::uint64_t seconds = 10, std::size_t audioBytes = 160000)
{
    Mp4Spec spec;
    spec.items = std::move(items);
    spec.timeScale = 600;
    spec.durationUnits = seconds * 600;
    spec.audio = Bytes(audioBytes, 0x5A);
    return spec;
}

TEST_F(ID3Read, MP4ItemsFillTheirMembers)
{
    std::vector<Atom> items = {
        fixtures::TextItem(fixtures::kItemName, "Name"),
        fixtures::TextItem(fixtures::kItemAlbum, "Album"),
        fixtures::TextItem("aART", "Album Artist"),
        fixtures::TextItem(fixtures::kItemArtist, "Artist"),
        fixtures::TextItem("tvsh", "Show"),
        fixtures::TextItem(fixtures::kItemComposer, "Composer"),
        fixtures::PairItem("trkn", 3, 12),
        fixtures::PairItem("disk", 2, 3, 6),
        fixtures::TextItem(fixtures::kItemYear, "2004-05-06T00:00:00Z"),
        fixtures::IntegerItem("cpil", 1, 1),
        fixtures::IntegerItem("stik", 10, 1),
        fixtures::IntegerItem("pcst", 1, 1),
        fixtures::TextItem("apID", "someone@example.com"),
        fixtures::IntegerItem("gnre", 18, 2),
    };
    ASSERT_EQ(Load("tv.m4v", fixtures::Mp4File(Movie(items))), 0);
    EXPECT_EQ(Name(), "Name");
    EXPECT_EQ(Album(), "Album");
    EXPECT_EQ(Artist(), "Artist");
    EXPECT_EQ(Genre(), "Rock");
    AString show, composer, appleID;
    tags.GetTVShow(show);
    tags.GetComposer(composer);
    tags.GetAppleID(appleID);
    EXPECT_EQ(Text(show), "Show");
    EXPECT_EQ(Text(composer), "Composer");
    EXPECT_EQ(Text(appleID), "someone@example.com");
    long disc = 0, count = 0;
    tags.GetDiskNumber(disc);
    tags.GetDiskCount(count);
    EXPECT_EQ(Track(), 3);
    EXPECT_EQ(disc, 2);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(tags.GetYear(), 2004);
    EXPECT_TRUE(tags.IsCompilation());
    EXPECT_TRUE(tags.IsTVShow());
    EXPECT_FALSE(tags.IsMovie());
    EXPECT_TRUE(tags.IsPodCast());
    EXPECT_EQ(tags.GetTagKinds(), ID3::kMP4);
}

TEST_F(ID3Read, MP4ArtistAndGenreFallBacks)
{
    struct Case
    {
        std::vector<Atom> items;
        const char* artist;
        const char* genre;
    };
    const std::vector<Case> cases = {
        {{fixtures::TextItem("aART", "Band")}, "Band", ""},
        {{fixtures::TextItem(fixtures::kItemArtist, "Artist"), fixtures::TextItem("aART", "Band")},
         "Artist",
         ""},
        {{fixtures::IntegerItem("gnre", 0, 2)}, "", ""},
        {{fixtures::TextItem(fixtures::kItemGenre, "Trip"), fixtures::IntegerItem("gnre", 18, 2)},
         "",
         "Trip"},
        {{fixtures::TextItem(fixtures::kItemGenre, "(18)")}, "", "Rock"},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(Load("fallback.m4a", fixtures::Mp4File(Movie(c.items))), 0);
        EXPECT_EQ(Artist(), c.artist);
        EXPECT_EQ(Genre(), c.genre);
    }
}

TEST_F(ID3Read, MP4ValueTypes)
{
    Bytes utf16 = fixtures::EncodeText("Caf\xC3\xA9", TextEncoding::UTF16BE);
    struct Case
    {
        Atom item;
        const char* expected;
    };
    const std::vector<Case> cases = {
        {fixtures::DataItem(fixtures::kItemName, 2, utf16), "Caf\xC3\xA9"},
        {fixtures::DataItem(fixtures::kItemName, 1, {'A', 0, 'B'}), "A"},
        {fixtures::DataItem(fixtures::kItemName, 21, {0, 0, 1, 0}), "256"},
        {fixtures::DataItem(fixtures::kItemName, 0, {0, 0, 0, 3, 0, 0, 0, 9}), "3/9"},
        {fixtures::DataItem(fixtures::kItemName, 13, {0xFF, 0xD8}), ""},
        {Atom(fixtures::kItemName, {}, {Atom("mean", {0, 0, 0, 0})}), ""},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(Load("types.m4a", fixtures::Mp4File(Movie({c.item}))), 0);
        EXPECT_EQ(Name(), c.expected);
    }
}

TEST_F(ID3Read, MP4DiscCountOfEightByteDiscItemsIsTheCount)
{
    ASSERT_EQ(Load("disk.m4a", fixtures::Mp4File(Movie({fixtures::PairItem("disk", 1, 2, 8)}))), 0);
    long disc = 0, count = 0;
    tags.GetDiskNumber(disc);
    tags.GetDiskCount(count);
    EXPECT_EQ(disc, 1);
    EXPECT_EQ(count, 2);
}

TEST_F(ID3Read, MP4DurationAndBitRateComeFromTheMovieHeaderAndTheAudioSize)
{
    for (bool version1 : {false, true}) {
        // 160,000 bytes over 10 seconds: 128 kbit/s.
        Mp4Spec spec = Movie({fixtures::TextItem(fixtures::kItemName, "x")});
        spec.movieHeaderVersion1 = version1;
        spec.durationUnits = 6300; // 10.5 seconds at 600 a second
        spec.audio = Bytes(168000, 1);
        ASSERT_EQ(Load("time.m4a", fixtures::Mp4File(spec)), 0);
        EXPECT_EQ(Duration(), 10) << version1;
        EXPECT_EQ(BitRate(), 128) << version1;
    }
    Mp4Spec spec = Movie({});
    spec.timeScale = 0;
    ASSERT_EQ(Load("time.m4a", fixtures::Mp4File(spec)), 0);
    EXPECT_EQ(Duration(), 0);
    EXPECT_EQ(BitRate(), 0);
}

TEST_F(ID3Read, MP4MusicRangeIsTheAudioDataWhereverItLies)
{
    struct Case
    {
        bool mdatFirst;
        bool largeMdat;
        bool withMetadata;
    };
    for (auto [mdatFirst, largeMdat, withMetadata] : {Case{false, false, true}, Case{true, false, true},
                                                      Case{false, true, true}, Case{true, false, false}}) {
        Mp4Spec spec = Movie({fixtures::TextItem(fixtures::kItemName, "x")});
        spec.mdatFirst = mdatFirst;
        spec.largeMdat = largeMdat;
        spec.withMetadata = withMetadata;
        spec.audio = fixtures::FakePng(5000, 3);
        Bytes file = fixtures::Mp4File(spec);
        ASSERT_EQ(Load("range.m4a", file), 0);
        auto [start, end] = Range();
        ASSERT_EQ(end - start + 1, spec.audio.size()) << mdatFirst << largeMdat << withMetadata;
        EXPECT_EQ(Bytes(file.begin() + static_cast<std::ptrdiff_t>(start),
                        file.begin() + static_cast<std::ptrdiff_t>(end + 1)),
                  spec.audio);
        EXPECT_EQ(Name(), withMetadata ? "x" : "");
        EXPECT_EQ(BitRate(), 4); // 5000 bytes over 10 seconds
    }
}

TEST_F(ID3Read, MP4TopLevelAtomOfSizeZeroRunsToTheEndOfTheFile)
{
    Mp4Spec spec = Movie({fixtures::TextItem(fixtures::kItemName, "x")});
    spec.audio = Bytes(3000, 9);
    Bytes file = fixtures::Mp4File(spec);
    const std::size_t mdatAt = file.size() - 3000 - 8;
    ASSERT_EQ(std::string(file.begin() + static_cast<std::ptrdiff_t>(mdatAt) + 4,
                          file.begin() + static_cast<std::ptrdiff_t>(mdatAt) + 8),
              "mdat");
    std::fill_n(file.begin() + static_cast<std::ptrdiff_t>(mdatAt), 4, 0);
    ASSERT_EQ(Load("open.m4a", file), 0);
    EXPECT_EQ(Name(), "x");
    EXPECT_EQ(Range(), MusicRange(mdatAt + 8, file.size() - 1));
}

TEST_F(ID3Read, MP4CoverItemWithSeveralPictures)
{
    const Bytes jpeg = fixtures::FakeJpeg(2000, 1), png = fixtures::FakePng(300, 2), tiny = {1, 2, 3};
    const Bytes other = {'B', 'M', 1, 2, 3, 4, 5, 6, 7, 8};
    Bytes file = fixtures::Mp4File(Movie({fixtures::CoverItem({jpeg, png, other, tiny})}));
    ASSERT_EQ(Load("covers.m4a", file), 0);
    // A picture of fewer than 8 bytes ends the list.
    ASSERT_EQ(tags.GetImageCount(), 3);
    const std::vector<Bytes> expected = {jpeg, png, other};
    const std::uint32_t kinds[] = {2, 1, 0};
    for (std::size_t i = 0; i < 3; ++i) {
        const ID3::Image& image = tags.GetImages()[i];
        EXPECT_EQ(image.kind, kinds[i]);
        EXPECT_EQ(Bytes(file.begin() + static_cast<std::ptrdiff_t>(image.start),
                        file.begin() + static_cast<std::ptrdiff_t>(image.end + 1)),
                  expected[i]);
        Bytes data;
        ASSERT_EQ(tags.ReadImageData(static_cast<int>(i), data), 0);
        EXPECT_EQ(data, expected[i]);
    }
}

TEST_F(ID3Read, MP4MetaWithoutVersionBytesIsReadToo)
{
    // Older QuickTime files put the handler right after the meta header.
    Atom hdlr("hdlr", Bytes(25, 0));
    Atom meta("meta", {}, {hdlr, Atom("ilst", {}, {fixtures::TextItem(fixtures::kItemName, "Old")})});
    Bytes file = Concat({fixtures::Serialize(Atom("ftyp", {'M', '4', 'A', ' ', 0, 0, 0, 0})),
                         fixtures::Serialize(Atom("moov", {}, {Atom("udta", {}, {meta})}))});
    ASSERT_EQ(Load("old.m4a", file), 0);
    EXPECT_EQ(Name(), "Old");
}

TEST_F(ID3Read, MP4AtomSizesThatCannotBeTrustedEndTheWalk)
{
    const Bytes good = fixtures::Mp4File(Movie({fixtures::TextItem(fixtures::kItemName, "Name")}));
    // A 64-bit size on the movie atom is followed.
    Mp4Spec spec = Movie({fixtures::TextItem(fixtures::kItemName, "Name")});
    Bytes large = fixtures::Serialize(Atom("ftyp", {'M', '4', 'A', ' '}));
    Atom moov("moov", {}, {Atom("udta", {}, {Atom("meta", {0, 0, 0, 0}, {Atom("ilst", {}, spec.items)})})},
              true);
    large = Concat({large, fixtures::Serialize(moov)});
    ASSERT_EQ(Load("large.m4a", large), 0);
    EXPECT_EQ(Name(), "Name");

    // Sizes 0 (inside a parent) and 2 to 7, and sizes that run past the parent or the file.
    for (std::uint32_t size : {0u, 2u, 7u, 0x7FFFFFFFu}) {
        Bytes bad = good;
        const std::size_t moovAt = bad[3]; // after the ftyp atom
        ASSERT_EQ(std::string(bad.begin() + moovAt + 4, bad.begin() + moovAt + 8), "moov");
        const std::size_t childAt = moovAt + 8; // mvhd
        bad[childAt] = static_cast<std::uint8_t>(size >> 24);
        bad[childAt + 1] = static_cast<std::uint8_t>(size >> 16);
        bad[childAt + 2] = static_cast<std::uint8_t>(size >> 8);
        bad[childAt + 3] = static_cast<std::uint8_t>(size);
        ASSERT_EQ(Load("bad.m4a", bad), 0) << size;
        EXPECT_EQ(Name(), "") << size;
        EXPECT_NE(Range().second, 0u) << size; // the top level still finds the audio
    }
}

TEST_F(ID3Read, FileThatDoesNotBeginWithFtypIsNotReadAsMP4)
{
    Bytes file = fixtures::Mp4File(Movie({fixtures::TextItem(fixtures::kItemName, "x")}));
    file[4] = 'X';
    ASSERT_EQ(Load("odd.m4a", file), 0);
    EXPECT_EQ(Name(), "");
    EXPECT_EQ(tags.GetTagKinds(), 0u);
}

// ---- AIFF ---------------------------------------------------------------------------------------

fixtures::AiffSpec Aiff(std::uint32_t seconds = 3)
{
    fixtures::AiffSpec spec;
    spec.channels = 2;
    spec.sampleBits = 16;
    spec.sampleRate = 44100;
    spec.sampleFrames = 44100 * seconds + 100;
    spec.sound = Bytes(1000, 0x33); // the sound data is not all there; the header counts
    return spec;
}

TEST_F(ID3Read, AIFFWithoutID3ChunkHasEmptyTagsAndItsDuration)
{
    Bytes file = fixtures::AiffFile(Aiff());
    ASSERT_EQ(Load("plain.aif", file), 0);
    EXPECT_EQ(Name(), "");
    EXPECT_EQ(tags.GetTagKinds(), 0u);
    EXPECT_EQ(Duration(), 3);
    EXPECT_EQ(BitRate(), 1411); // 44100 x 16 x 2
    auto [start, end] = Range();
    EXPECT_EQ(end - start + 1, 1000u);
    EXPECT_EQ(end, file.size() - 1);
}

TEST_F(ID3Read, AIFFWithID3ChunkReadsItsTag)
{
    for (bool before : {false, true}) {
        for (int version : {2, 3, 4}) {
            fixtures::AiffSpec spec = Aiff();
            spec.id3Tag = Tag(version, {TextFrame(version == 2 ? "TT2" : "TIT2", "Aiff Title"),
                                        fixtures::PictureFrame(version, fixtures::FakeJpeg(500))});
            spec.id3BeforeSound = before;
            Bytes file = fixtures::AiffFile(spec);
            ASSERT_EQ(Load("tagged.aiff", file), 0);
            EXPECT_EQ(Name(), "Aiff Title") << before << version;
            EXPECT_EQ(Duration(), 3);
            ASSERT_EQ(tags.GetImageCount(), 1);
            Bytes data;
            ASSERT_EQ(tags.ReadImageData(0, data), 0);
            EXPECT_EQ(data, fixtures::FakeJpeg(500));
            auto [start, end] = Range();
            EXPECT_EQ(end - start + 1, 1000u);
            EXPECT_EQ(Bytes(file.begin() + static_cast<std::ptrdiff_t>(start),
                            file.begin() + static_cast<std::ptrdiff_t>(end + 1)),
                      spec.sound);
        }
    }
}

TEST_F(ID3Read, AIFFChunkOfOddLengthIsFollowedByAPadByte)
{
    fixtures::AiffSpec spec = Aiff();
    spec.extraChunks = {{"NAME", {'O', 'd', 'd'}}, {"ANNO", {}}};
    spec.id3Tag = Tag(3, {TextFrame("TIT2", "After Odd")});
    spec.id3BeforeSound = true;
    ASSERT_EQ(Load("odd.aif", fixtures::AiffFile(spec)), 0);
    EXPECT_EQ(Name(), "After Odd");
}

TEST_F(ID3Read, AIFCAndSampleRatesOfTheExtendedForm)
{
    for (double rate : {8000.0, 22050.0, 48000.0, 96000.0}) {
        fixtures::AiffSpec spec = Aiff();
        spec.aifc = true;
        spec.channels = 1;
        spec.sampleFrames = static_cast<std::uint32_t>(rate * 7);
        spec.sampleRate = rate;
        ASSERT_EQ(Load("rate.aif", fixtures::AiffFile(spec)), 0);
        EXPECT_EQ(Duration(), 7) << rate;
        EXPECT_EQ(BitRate(), static_cast<long>(rate * 16 / 1000 + 0.5)) << rate;
    }
}

// ---- Comparing music ----------------------------------------------------------------------------

class ID3Music : public testing::Test
{
protected:
    AString Song(const std::string& name, const std::string& artist, int seconds, std::uint32_t seed)
    {
        fixtures::SongSpec song;
        song.title = name;
        song.artist = artist;
        song.seconds = seconds;
        song.seed = seed;
        fixtures::WriteSong(dir / name, song);
        return dir.A(name);
    }
    fixtures::TempDir dir;
};

TEST_F(ID3Music, CalcMusicSizeIsTheLengthOfTheMusicRange)
{
    AString mp3 = Song("a.mp3", "X", 2, 1);
    Bytes file = fixtures::ReadFile(dir / "a.mp3");
    ID3 tags;
    ASSERT_EQ(tags.SetFilePath(mp3), 0);
    unsigned long long start = 0, end = 0;
    ASSERT_EQ(tags.GetMusicRange(&start, &end), 1);
    EXPECT_EQ(ID3::CalcMusicSize(&mp3), end - start);
    EXPECT_EQ(end, file.size() - 1);
    AString wav = dir.A("x.wav");
    fixtures::WriteFile(dir / "x.wav", Bytes(500, 1));
    EXPECT_EQ(ID3::CalcMusicSize(&wav), 0u);
    AString missing = dir.A("missing.mp3");
    EXPECT_EQ(ID3::CalcMusicSize(&missing), 0u);
}

TEST_F(ID3Music, SameMusicUnderOtherTagsIsEqual)
{
    AString a = Song("a.mp3", "One", 2, 7), b = Song("b.mp3", "Two", 2, 7);
    EXPECT_EQ(ID3::FilesEqualMusicCRC32(&a, &b, 0), 1);
    // With `untaggedOnly`, songs that name an artist are not compared.
    EXPECT_EQ(ID3::FilesEqualMusicCRC32(&a, &b, 1), 0);
    AString c = Song("c.mp3", "", 2, 7), d = Song("d.mp3", "", 2, 7);
    EXPECT_EQ(ID3::FilesEqualMusicCRC32(&c, &d, 1), 1);
}

TEST_F(ID3Music, MusicOfTheSameLengthButOtherBytesIsNotEqual)
{
    AString a = Song("a.mp3", "", 2, 1), b = Song("b.mp3", "", 2, 2);
    ASSERT_EQ(ID3::CalcMusicSize(&a), ID3::CalcMusicSize(&b));
    EXPECT_EQ(ID3::FilesEqualMusicCRC32(&a, &b, 0), 0);
    EXPECT_EQ(ID3::FilesEqualMusicCRC32(&a, &b, 1), 0);
}

TEST_F(ID3Music, MusicOfAnotherLengthOrUnknownIsNotEqual)
{
    AString a = Song("a.mp3", "", 2, 1), b = Song("b.mp3", "", 3, 1);
    EXPECT_EQ(ID3::FilesEqualMusicCRC32(&a, &b, 0), 0);
    AString wav = dir.A("x.wav");
    fixtures::WriteFile(dir / "x.wav", Bytes(500, 1));
    EXPECT_EQ(ID3::FilesEqualMusicCRC32(&wav, &wav, 0), 0);
}

// ---- Album art ----------------------------------------------------------------------------------

class ID3Insert : public ID3Read
{
protected:
    // Inserts `image` into the file last loaded; returns the result.
    int Insert(const Bytes& image) { return tags.InsertImage(image.data(), static_cast<int>(image.size())); }
    Bytes OnDisk() const { return fixtures::ReadFile(path); }
    static std::uint32_t SynchsafeAt(const Bytes& bytes, std::size_t at)
    {
        return static_cast<std::uint32_t>(bytes[at]) << 21 | static_cast<std::uint32_t>(bytes[at + 1]) << 14 |
               static_cast<std::uint32_t>(bytes[at + 2]) << 7 | bytes[at + 3];
    }
    static bool EndsWith(const Bytes& file, const Bytes& tail)
    {
        return file.size() >= tail.size() &&
               std::equal(tail.begin(), tail.end(), file.end() - static_cast<std::ptrdiff_t>(tail.size()));
    }
};

TEST_F(ID3Insert, FileWithoutTagGainsAVersion22TagWithOnePicture)
{
    const Bytes audio = Audio();
    ASSERT_EQ(Load("bare.mp3", audio), 0);
    const Bytes jpeg = fixtures::FakeJpeg(1000);
    ASSERT_EQ(Insert(jpeg), 0);
    const Bytes file = OnDisk();
    const Bytes header = {'I', 'D', '3', 2, 0, 0};
    ASSERT_TRUE(std::equal(header.begin(), header.end(), file.begin()));
    EXPECT_EQ(SynchsafeAt(file, 6), 12 + jpeg.size());
    const Bytes frameStart = {'P', 'I', 'C', 0, 0x03, 0xEE, 0, 'J', 'P', 'G', 0, 0};
    EXPECT_TRUE(std::equal(frameStart.begin(), frameStart.end(), file.begin() + 10));
    EXPECT_EQ(file.size(), 10 + 12 + jpeg.size() + audio.size());
    EXPECT_TRUE(EndsWith(file, audio));
    // The object has read the new file.
    EXPECT_EQ(tags.GetImageCount(), 1);
    EXPECT_EQ(tags.GetTagKinds(), ID3::kID3v22);
    Bytes data;
    ASSERT_EQ(tags.ReadImageData(0, data), 0);
    EXPECT_EQ(data, jpeg);
}

TEST_F(ID3Insert, NewPictureFollowsTheOldFramesAndThePaddingIsDropped)
{
    const Bytes audio = Audio(200, 9);
    const Bytes oldPicture = fixtures::FakePng(200);
    for (int version : {2, 3, 4}) {
        const bool v2 = version == 2;
        std::vector<ID3v2Frame> frames = {TextFrame(v2 ? "TT2" : "TIT2", "Title"),
                                          fixtures::PictureFrame(version, oldPicture, "image/png"),
                                          TextFrame(v2 ? "TP1" : "TPE1", "Artist")};
        ID3v2Options options;
        options.version = version;
        Bytes withoutPadding = fixtures::ID3v2Tag(frames, options);
        const std::size_t framesSize = withoutPadding.size() - 10;
        options.padding = 4096 - framesSize;
        const Bytes tag = fixtures::ID3v2Tag(frames, options);
        ASSERT_EQ(tag.size(), 4106u);
        ASSERT_EQ(Load("tagged.mp3", Concat({tag, audio})), 0);

        const Bytes jpeg = fixtures::FakeJpeg(700, 4);
        ASSERT_EQ(Insert(jpeg), 0) << version;
        const Bytes file = OnDisk();
        const std::size_t frameLength = v2 ? 12 : 23;
        EXPECT_EQ(SynchsafeAt(file, 6), framesSize + frameLength + jpeg.size()) << version;
        EXPECT_EQ(file.size(), 10 + framesSize + frameLength + jpeg.size() + audio.size()) << version;
        // The old frames as they were, then the new one.
        EXPECT_TRUE(std::equal(withoutPadding.begin() + 10, withoutPadding.end(), file.begin() + 10))
            << version;
        const std::string id(file.begin() + 10 + static_cast<std::ptrdiff_t>(framesSize),
                             file.begin() + 10 + static_cast<std::ptrdiff_t>(framesSize) + (v2 ? 3 : 4));
        EXPECT_EQ(id, v2 ? "PIC" : "APIC");
        EXPECT_TRUE(EndsWith(file, audio)) << version;

        ASSERT_EQ(tags.SetFilePath(AString::FromUTF8(path)), 0);
        EXPECT_EQ(Name(), "Title");
        EXPECT_EQ(Artist(), "Artist");
        ASSERT_EQ(tags.GetImageCount(), 2);
        EXPECT_EQ(tags.GetImages()[0].kind, 1u);
        EXPECT_EQ(tags.GetImages()[1].kind, 2u);
        Bytes data;
        ASSERT_EQ(tags.ReadImageData(1, data), 0);
        EXPECT_EQ(data, jpeg);
        EXPECT_EQ(BitRate(), 128);
        EXPECT_EQ(Range().first, 10 + framesSize + frameLength + jpeg.size());
    }
}

TEST_F(ID3Insert, Version24PictureFrameSizeIsSynchsafe)
{
    ASSERT_EQ(Load("v24.mp3", Concat({Tag(4, {TextFrame("TIT2", "Title")}), Audio()})), 0);
    const Bytes jpeg = fixtures::FakeJpeg(5000);
    ASSERT_EQ(Insert(jpeg), 0);
    const Bytes file = OnDisk();
    const std::size_t frameAt = 10 + 10 + 6; // header, TIT2 with "Title"
    ASSERT_EQ(std::string(file.begin() + frameAt, file.begin() + frameAt + 4), "APIC");
    for (std::size_t i = 0; i < 4; ++i)
        EXPECT_LT(file[frameAt + 4 + i], 0x80);
    EXPECT_EQ(SynchsafeAt(file, frameAt + 4), jpeg.size() + 13);
    const Bytes mime = {0, 'i', 'm', 'a', 'g', 'e', '/', 'j', 'p', 'g', 0, 0, 0};
    EXPECT_TRUE(std::equal(mime.begin(), mime.end(), file.begin() + frameAt + 10));
}

TEST_F(ID3Insert, UnsynchronisedTagsStayDecodable)
{
    const Bytes jpeg = fixtures::FakeJpeg(3000, 8);
    for (int version : {2, 3, 4}) {
        ID3v2Options options;
        options.unsynchronise = true;
        const std::string title = "\xC3\xBF\xC3\xA9";
        ASSERT_EQ(
            Load("unsync.mp3",
                 Concat({Tag(version, {TextFrame(version == 2 ? "TT2" : "TIT2", title)}, options), Audio()})),
            0);
        ASSERT_EQ(Insert(jpeg), 0) << version;
        EXPECT_EQ(OnDisk()[5] & 0x80, 0x80) << version;
        ASSERT_EQ(tags.GetImageCount(), 1) << version;
        EXPECT_EQ(Name(), title) << version;
        Bytes data;
        ASSERT_EQ(tags.ReadImageData(0, data), 0);
        EXPECT_EQ(data, jpeg) << version;
        EXPECT_EQ(BitRate(), 128) << version;
    }
}

TEST_F(ID3Insert, ExtendedHeaderIsDroppedAndTheFooterRenewed)
{
    ID3v2Options options;
    options.extendedHeader = true;
    options.footer = true;
    options.padding = 300;
    const Bytes audio = Audio();
    ASSERT_EQ(Load("footer.mp3", Concat({Tag(4, {TextFrame("TIT2", "Title")}, options), audio})), 0);
    const Bytes png = fixtures::FakePng(400);
    ASSERT_EQ(Insert(png), 0);
    const Bytes file = OnDisk();
    EXPECT_EQ(file[5], 0x10); // footer kept, extended header gone
    const std::uint32_t size = SynchsafeAt(file, 6);
    EXPECT_EQ(size, 16 + 23 + png.size());
    ASSERT_EQ(std::string(file.begin() + 10 + size, file.begin() + 13 + size), "3DI");
    EXPECT_EQ(SynchsafeAt(file, 10 + size + 6), size);
    EXPECT_TRUE(EndsWith(file, audio));
    EXPECT_EQ(file.size(), 20 + size + audio.size());
    EXPECT_EQ(Name(), "Title");
    ASSERT_EQ(tags.GetImageCount(), 1);
    EXPECT_EQ(tags.GetImages()[0].kind, 1u);
    EXPECT_EQ(Range().first, 20 + size);
}

TEST_F(ID3Insert, ImageKindsAndRefusals)
{
    const Bytes tagged = Concat({Tag(3, {TextFrame("TIT2", "x")}), Audio()});
    struct Case
    {
        const char* file;
        Bytes image;
        int expected;
        const char* mime; // nullptr when the file must stay as it was
    };
    const std::vector<Case> cases = {
        {"a.mp3", {0xFF, 0xD8, 0xFF}, 0, "image/jpg"},
        {"a.mp3", fixtures::FakePng(20), 0, "image/png"},
        {"a.mp3", {'G', 'I', 'F', '8', '9', 'a', 0, 0}, kErrUnknown, nullptr},
        {"a.mp3", {0xFF}, kErrUnknown, nullptr},
        {"a.m4a", {0xFF, 0xD8, 0xFF}, kErrNotSupported, nullptr},
        {"a.aiff", {0xFF, 0xD8, 0xFF}, kErrNotSupported, nullptr},
        {"a.wav", {0xFF, 0xD8, 0xFF}, 0, nullptr},
    };
    for (const Case& c : cases) {
        Load(c.file, tagged);
        EXPECT_EQ(Insert(c.image), c.expected) << c.file;
        const Bytes file = OnDisk();
        if (!c.mime) {
            EXPECT_EQ(file, tagged) << c.file;
            continue;
        }
        const std::size_t frameAt = 10 + 10 + 2;
        ASSERT_EQ(std::string(file.begin() + frameAt, file.begin() + frameAt + 4), "APIC");
        EXPECT_EQ(std::string(file.begin() + frameAt + 11, file.begin() + frameAt + 20), c.mime);
    }
    Bytes v5 = tagged;
    v5[3] = 5;
    fixtures::WriteFile(dir / "v5.mp3", v5);
    Load("v5ok.mp3", tagged);
    ID3 other;
    ASSERT_EQ(other.SetFilePath(dir.A("v5ok.mp3")), 0);
    fixtures::WriteFile(dir / "v5ok.mp3", v5); // the file changed after it was read
    const Bytes jpeg = fixtures::FakeJpeg(100);
    EXPECT_EQ(other.InsertImage(jpeg.data(), static_cast<int>(jpeg.size())), kErrUnknown);
    EXPECT_EQ(fixtures::ReadFile(dir / "v5ok.mp3"), v5);
}

TEST_F(ID3Insert, TagWhoseFramesCannotBeWalkedToTheEndIsLeftAlone)
{
    // Junk after the frames, and a tag that claims more than the file holds: the bytes after the
    // last whole frame are not padding, and dropping them would lose data.
    Bytes junk = Concat({Tag(3, {TextFrame("TIT2", "x")}, ID3v2Options{3, 64}), Audio()});
    junk[10 + 12 + 5] = 0x55;
    Bytes oversized = Concat({Tag(3, {TextFrame("TIT2", "x")}), Audio()});
    const Bytes huge = fixtures::Synchsafe(static_cast<std::uint32_t>(oversized.size()));
    std::copy(huge.begin(), huge.end(), oversized.begin() + 6);
    for (const Bytes& original : {junk, oversized}) {
        ASSERT_EQ(Load("odd.mp3", original), 0);
        EXPECT_EQ(Insert(fixtures::FakeJpeg(100)), kErrUnknown);
        EXPECT_EQ(OnDisk(), original);
    }
}

TEST_F(ID3Insert, ReplacementLeavesNoTemporaryFileAndKeepsThePermissions)
{
    ASSERT_EQ(Load("song.mp3", Concat({Tag(3, {TextFrame("TIT2", "x")}), Audio()})), 0);
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    ASSERT_EQ(Insert(fixtures::FakeJpeg(100)), 0);
    EXPECT_EQ(fixtures::ListFiles(dir.Path()), std::vector<std::string>{"song.mp3"});
    struct stat info
    {
    };
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
}

TEST_F(ID3Insert, FileNamedLikeATemporaryBesideTheSongIsLeftAlone)
{
    ASSERT_EQ(Load("song.mp3", Concat({Tag(3, {TextFrame("TIT2", "x")}), Audio()})), 0);
    fixtures::WriteFile(dir / "song.mp3.tmp", std::string("the user's own file"));
    ASSERT_EQ(Insert(fixtures::FakeJpeg(100)), 0);
    EXPECT_EQ(fixtures::ReadText(dir / "song.mp3.tmp"), "the user's own file");
    EXPECT_EQ(fixtures::ListFiles(dir.Path()), (std::vector<std::string>{"song.mp3", "song.mp3.tmp"}));
}

TEST_F(ID3Insert, FailedWriteLeavesTheOriginalUntouched)
{
    const Bytes original = Concat({Tag(3, {TextFrame("TIT2", "x")}), Audio(1000)});
    ASSERT_EQ(Load("song.mp3", original), 0);
    // Writing stops at 64 KB, well before the new file is complete.
    struct rlimit old
    {
    };
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto previous = signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 64 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    int err = Insert(fixtures::FakeJpeg(1000));
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, previous);
    EXPECT_NE(err, 0);
    EXPECT_EQ(OnDisk(), original);
    EXPECT_EQ(fixtures::ListFiles(dir.Path()), std::vector<std::string>{"song.mp3"});
}

TEST(ID3SeekEnd, FramesEndAtPaddingOrAtAFrameThatRunsPast)
{
    // TIT2 "ab", then padding.
    const Bytes v23 = {'T', 'I', 'T', '2', 0, 0, 0, 3, 0, 0, 0, 'a', 'b', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(ID3::SeekID3End23(v23.data(), static_cast<unsigned>(v23.size())), 13u);
    // A second frame that claims more than the body holds.
    Bytes runsPast = v23;
    const Bytes second = {'T', 'A', 'L', 'B', 0, 0, 1, 0, 0, 0};
    std::copy(second.begin(), second.end(), runsPast.begin() + 13);
    EXPECT_EQ(ID3::SeekID3End23(runsPast.data(), static_cast<unsigned>(runsPast.size())), 13u);
    const Bytes v22 = {'T', 'T', '2', 0, 0, 3, 0, 'a', 'b'};
    EXPECT_EQ(ID3::SeekID3End22(v22.data(), static_cast<unsigned>(v22.size())), 9u);
    // 2.4: a synchsafe size of 200 (0x01 0x48).
    Bytes v24 = {'T', 'I', 'T', '2', 0, 0, 0x01, 0x48, 0, 0};
    v24.resize(10 + 200, 'x');
    v24.resize(v24.size() + 30, 0);
    EXPECT_EQ(ID3::SeekID3End24(v24.data(), static_cast<unsigned>(v24.size())), 210u);
}

// ---- SongInfoStruct -----------------------------------------------------------------------------

TEST_F(ID3Read, GetSongInfoCopiesEveryTagValue)
{
    fixtures::SongSpec song = FullSong("Title", "Jazz");
    song.seconds = 3;
    song.bitRate = 160;
    fixtures::WriteSong(dir / "song.mp3", song);
    ASSERT_EQ(tags.SetFilePath(dir.A("song.mp3")), 0);
    SongInfoStruct info;
    tags.GetSongInfo(info);
    EXPECT_EQ(Text(info.name), "Title");
    EXPECT_EQ(Text(info.artist), "Artist");
    EXPECT_EQ(Text(info.album), "Album");
    EXPECT_EQ(Text(info.genre), "Jazz");
    EXPECT_EQ(Text(info.composer), "Composer");
    EXPECT_EQ(info.trackNumber, 4);
    EXPECT_EQ(info.discNumber, 2);
    EXPECT_EQ(info.discCount, 3);
    EXPECT_EQ(info.year, 1987);
    EXPECT_EQ(info.compilation, 1);
    EXPECT_EQ(info.mediaKind, -1);
    EXPECT_EQ(info.duration, 3);
    EXPECT_EQ(info.bitRate, 160);
    EXPECT_EQ(info.size, static_cast<int>(fixtures::ReadFile(dir / "song.mp3").size()));
    EXPECT_EQ(Text(info.fileExtension), "mp3");
    EXPECT_EQ(Text(info.modifiedName), "Title");
}

TEST_F(ID3Read, WriteSongMakesFilesThatReadBackInEveryFormat)
{
    fixtures::SongSpec song = FullSong("Ti\xC3\xBFle", "Jazz");
    song.picture = fixtures::FakePng(100);
    for (const char* name : {"a.mp3", "b.m4a", "c.aiff"}) {
        for (int version : {2, 3, 4}) {
            song.id3Version = version;
            fixtures::WriteSong(dir / name, song);
            ASSERT_EQ(tags.SetFilePath(dir.A(name)), 0) << name;
            EXPECT_EQ(Name(), song.title) << name << version;
            EXPECT_EQ(Artist(), "Artist") << name;
            EXPECT_EQ(Genre(), "Jazz") << name;
            EXPECT_EQ(Track(), 4) << name;
            EXPECT_EQ(tags.GetYear(), 1987) << name;
            EXPECT_TRUE(tags.IsCompilation()) << name;
            EXPECT_EQ(Duration(), 2) << name;
            EXPECT_EQ(BitRate(), 128) << name;
            EXPECT_EQ(tags.GetImageCount(), 1) << name;
            EXPECT_NE(Range().second, 0u) << name;
        }
    }
}

} // namespace
