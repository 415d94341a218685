#include "ACommon/tags/ID3.h"
#include "ACommon/base/AError.h"
#include "ACommon/base/ByteReader.h"
#include "ACommon/tags/SongInfoStruct.h"
#include "fixtures/MusicFiles.h"
#include "fixtures/StateFile.h"
#include "fixtures/TagReader.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using fixtures::Atom;
using fixtures::Bytes;
using fixtures::Concat;
using fixtures::ID3v2Frame;
using fixtures::ID3v2Options;
using fixtures::Mp4Spec;
using fixtures::MpegFrameSpec;
using fixtures::MpegVersion;
using fixtures::TextEncoding;
using fixtures::TextFrame;

namespace {

Bytes Tag(int version, const std::vector<ID3v2Frame>& frames, ID3v2Options options = {})
{
    options.version = version;
    return fixtures::ID3v2Tag(frames, options);
}

// A little CBR audio, so that a file reads like a real MP3.
Bytes Audio(std::size_t frames = 100, std::uint32_t seed = 0)
{
    return fixtures::MpegFrames(MpegFrameSpec{}, frames, seed);
}

// An MP3 file: a tag of `version` holding `frames`, then the audio.
Bytes Mp3(int version, const std::vector<ID3v2Frame>& frames, ID3v2Options options = {})
{
    return Concat({Tag(version, frames, options), Audio()});
}

const char* TitleId(int version) { return version == 2 ? "TT2" : "TIT2"; }

// Bytes `start` to `end` (inclusive) of `file`.
Bytes Slice(const Bytes& file, std::uint64_t start, std::uint64_t end)
{
    return Bytes(file.begin() + static_cast<std::ptrdiff_t>(start),
                 file.begin() + static_cast<std::ptrdiff_t>(end + 1));
}

Mp4Spec Movie(std::vector<Atom> items)
{
    Mp4Spec movie;
    movie.items = std::move(items);
    movie.timeScale = 600;
    movie.durationUnits = 10 * 600;
    movie.audio = Bytes(160000, 0x5A);
    return movie;
}

fixtures::AiffSpec Aiff()
{
    fixtures::AiffSpec aiff;
    aiff.channels = 2;
    aiff.sampleBits = 16;
    aiff.sampleRate = 44100;
    aiff.sampleFrames = 44100 * 3 + 100;
    aiff.sound = Bytes(1000, 0x33); // the sound data is not all there; the header counts
    return aiff;
}

class ID3Read : public fixtures::TagReaderTest {
protected:
    std::string Name() const { return Text(&ID3::GetName); }
    long Duration() const { return Number(&ID3::GetDuration); }
    long BitRate() const { return Number(&ID3::GetBitrate); }
    // The values most tests look at, as one line:
    // name|artist|album|genre|track/count|disc/count|year|album artist.
    std::string Values() const
    {
        return Name() + "|" + Text(&ID3::GetArtist) + "|" + Text(&ID3::GetAlbum) + "|" +
               Text(&ID3::GetGenre) + "|" + std::to_string(Number(&ID3::GetTrackNumber)) + "/" +
               std::to_string(tags.GetTrackCount()) + "|" + std::to_string(Number(&ID3::GetDiskNumber)) +
               "/" + std::to_string(Number(&ID3::GetDiskCount)) + "|" + std::to_string(tags.GetYear()) + "|" +
               tags.GetAlbumArtist().ToStdString();
    }
    Bytes ImageData(int index) const
    {
        Bytes data;
        EXPECT_EQ(tags.ReadImageData(index, data), 0) << index;
        return data;
    }
    // The pictures found are `pictures`, a JPEG, a PNG and one of another kind, where `file` holds them.
    void ExpectPictures(const Bytes& file, const std::vector<Bytes>& pictures) const
    {
        ASSERT_EQ(tags.GetImageCount(), static_cast<int>(pictures.size()));
        for (std::size_t i = 0; i < pictures.size(); ++i) {
            const ID3::Image& image = tags.GetImages()[i];
            EXPECT_EQ(image.kind, 2 - i) << "picture " << i;
            EXPECT_EQ(image.length, pictures[i].size()) << "picture " << i;
            EXPECT_FALSE(image.unsynchronised) << "picture " << i;
            EXPECT_EQ(Slice(file, image.start, image.end), pictures[i]) << "picture " << i;
            EXPECT_EQ(ImageData(static_cast<int>(i)), pictures[i]) << "picture " << i;
        }
    }
};

// ---- Which tag and which frame wins -------------------------------------------------------------

TEST_F(ID3Read, ID3v1TagsAreReadTrimmedUnlessAnID3v2TagReplacesThem)
{
    auto v1 = [](const char* title, const char* artist, const char* year, int track, int genre) {
        fixtures::ID3v1Spec tag{title, artist, "Album", year, "comment"};
        tag.track = track;
        tag.genre = genre;
        return fixtures::ID3v1Tag(tag);
    };
    struct Case {
        Bytes file;
        std::string values;
        std::uint32_t kinds;
    };
    // A value that begins with a space is empty; track numbers above 127 are not negative; "199 "
    // is a year that was never filled in; an ID3v2 tag replaces every value, even those it lacks.
    const Case cases[] = {
        {Concat({Audio(), v1("Title  ", "  Artist", "1999", 200, 17)}), "Title||Album|Rock|200/0|0/0|1999|",
         ID3::kID3v11},
        {Concat({Audio(), v1("T", "A", "199 ", 0, 0)}), "T|A|Album|Blues|0/0|0/0|0|", ID3::kID3v10},
        {Concat({Audio(), v1("T", "A", "1999", 0, 125)}), "T|A|Album|Dance Hall|0/0|0/0|1999|", ID3::kID3v10},
        {Concat({Audio(), v1("T", "A", "", 0, 126)}), "T|A|Album||0/0|0/0|0|", ID3::kID3v10},
        {Concat({Mp3(3, {TextFrame("TIT2", "New")}), v1("T", "A", "1999", 7, 17)}), "New||||0/0|0/0|0|",
         ID3::kID3v11 | ID3::kID3v23}};
    for (const Case& c : cases) {
        ASSERT_EQ(Load("v1.mp3", c.file), 0);
        EXPECT_EQ(Values(), c.values);
        EXPECT_EQ(tags.GetTagKinds(), c.kinds) << c.values;
    }
}

TEST_F(ID3Read, FramesTakePrecedenceInOrder)
{
    // The track's artist wins over the album's, in any order (a compilation's tracks keep their
    // own artists), and the album's stands in only for a missing or empty one; of two track
    // artist frames, 2.2 and 2.4 take the first, 2.3 the last. 2.4: the later year frame, and the
    // year of a time stamp.
    const std::pair<Bytes, const char*> cases[] = {
        {Mp3(2, {TextFrame("TP2", "one"), TextFrame("TP1", "two")}), "|two|||0/0|0/0|0|one"},
        {Mp3(3, {TextFrame("TPE2", "one"), TextFrame("TPE1", "two")}), "|two|||0/0|0/0|0|one"},
        {Mp3(3, {TextFrame("TPE1", "one"), TextFrame("TPE2", "two")}), "|one|||0/0|0/0|0|two"},
        {Mp3(4, {TextFrame("TPE2", "one"), TextFrame("TPE1", "two")}), "|two|||0/0|0/0|0|one"},
        {Mp3(4, {TextFrame("TPE1", "one"), TextFrame("TPE2", "two")}), "|one|||0/0|0/0|0|two"},
        {Mp3(3, {TextFrame("TPE1", ""), TextFrame("TPE2", "two")}), "|two|||0/0|0/0|0|two"},
        {Mp3(2, {TextFrame("TP1", "one"), TextFrame("TP1", "two")}), "|one|||0/0|0/0|0|"},
        {Mp3(3, {TextFrame("TPE1", "one"), TextFrame("TPE1", "two")}), "|two|||0/0|0/0|0|"},
        {Mp3(4, {TextFrame("TYER", "1990"), TextFrame("TDRC", "2004-05-06T10:00")}), "||||0/0|0/0|2004|"},
        {Mp3(4, {TextFrame("TDRC", "2004"), TextFrame("TYER", "1990")}), "||||0/0|0/0|1990|"},
        // Numbers keep their low 16 bits and split at the slash.
        {Mp3(2, {TextFrame("TRK", "4/9"), TextFrame("TPA", "1/2"), TextFrame("TYE", "1987")}),
         "||||4/9|1/2|1987|"},
        {Mp3(3, {TextFrame("TRCK", "3/12"), TextFrame("TPOS", "2/3"), TextFrame("TYER", "1999")}),
         "||||3/12|2/3|1999|"},
        {Mp3(3, {TextFrame("TRCK", "70000"), TextFrame("TPOS", "4"), TextFrame("TYER", "99")}),
         "||||4464/0|4/0|0|"},
        {Mp3(3, {TextFrame("TRCK", "x"), TextFrame("TPOS", "/5"), TextFrame("TYER", "2004-01")}),
         "||||0/0|0/5|2004|"}};
    for (const auto& [file, values] : cases) {
        ASSERT_EQ(Load("order.mp3", file), 0);
        EXPECT_EQ(Values(), values);
    }
}

// ---- Text, numbers, flags and genres ------------------------------------------------------------

TEST_F(ID3Read, TextFramesDecodeTheEncodingsTheVersionAllows)
{
    const std::string text = "Caf\xC3\xA9 \xF0\x9D\x84\x9E"; // "Café 𝄞": Latin-1 and a surrogate pair
    struct Case {
        const char* what;
        int version;
        ID3v2Frame frame;
        std::string expected;
    };
    // (2.3 in UTF-16 and 2.4 in UTF-8, as ffmpeg and eyeD3 write them: TagPeer.)
    const Case cases[] = {
        {"2.2 UTF-16", 2, TextFrame("TT2", text, TextEncoding::UTF16), text},
        {"UTF-8 came with 2.4", 3, TextFrame("TIT2", text, TextEncoding::UTF8), ""},
        {"UTF-16BE came with 2.4", 3, TextFrame("TIT2", text, TextEncoding::UTF16BE), ""},
        {"2.4 UTF-16BE", 4, TextFrame("TIT2", text, TextEncoding::UTF16BE), text},
        {"UTF-8 in encoding 0 is UTF-8", 3, {"TIT2", {0, 'C', 'a', 'f', 0xC3, 0xA9}}, "Caf\xC3\xA9"},
        {"Latin-1 in encoding 0", 3, {"TIT2", {0, 'C', 'a', 'f', 0xE9}}, "Caf\xC3\xA9"},
        {"text ends at its first zero", 3, {"TIT2", {0, 'O', 'n', 'e', 0, 'T', 'w', 'o'}}, "One"},
        {"UTF-16 without a mark is big-endian", 3, {"TIT2", {1, 0, 'H', 0, 'i'}}, "Hi"},
        {"UTF-16 ends at its zero unit", 3, {"TIT2", {1, 0xFF, 0xFE, 'H', 0, 0, 0, 'X', 0}}, "H"},
        {"an unpaired surrogate gives nothing", 3, {"TIT2", {1, 0xFF, 0xFE, 0x00, 0xD8, 'H', 0}}, ""},
        {"an unknown encoding gives nothing", 3, {"TIT2", {7, 'H', 'i'}}, ""},
        {"an empty frame gives nothing", 3, {"TIT2", {}}, ""},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(Load("text.mp3", Mp3(c.version, {c.frame})), 0);
        EXPECT_EQ(Name(), c.expected) << c.what;
    }
}

TEST_F(ID3Read, FlagFramesAreRead)
{
    ASSERT_EQ(Load("flags.mp3", Mp3(2, {TextFrame("TCP", "1"), ID3v2Frame{"PCS", {}}})), 0);
    EXPECT_TRUE(tags.IsCompilation());
    EXPECT_TRUE(tags.IsPodCast());
    ASSERT_EQ(Load("flags.mp3",
                   Mp3(3, {TextFrame("TCMP", ""), TextFrame("TCOM", "Bach"), TextFrame("TCON", "(17)")})),
              0);
    EXPECT_FALSE(tags.IsCompilation());
    EXPECT_FALSE(tags.IsPodCast());
    EXPECT_EQ(Text(&ID3::GetComposer), "Bach");
    EXPECT_EQ(Text(&ID3::GetGenre), "Rock");
}

// ---- MPEG audio ---------------------------------------------------------------------------------

TEST_F(ID3Read, AudioPropertiesComeFromTheMusicOfEveryFormat)
{
    auto mp3 = [](const Bytes& audio, std::size_t padding = 0) {
        return Concat({Tag(3, {TextFrame("TIT2", "x")}, {3, padding}), audio});
    };
    auto withHeader = [](const Bytes& first, const MpegFrameSpec& frame, std::size_t count) {
        return Concat({first, fixtures::MpegFrames(frame, count - 1)});
    };
    auto xing = [&](const MpegFrameSpec& frame, std::size_t count, std::optional<std::uint32_t> bytes,
                    std::size_t padding = 0) {
        fixtures::XingSpec header;
        header.frames = static_cast<std::uint32_t>(count);
        header.bytes = bytes;
        header.table = bytes.has_value();
        return mp3(withHeader(fixtures::XingFrame(frame, header), frame, count), padding);
    };
    // 168,000 bytes over the 10.5 seconds of the movie header: 128 kbit/s.
    auto m4a = [](bool version1, int timeScale, bool withTrack) {
        Mp4Spec movie = Movie({});
        movie.movieHeaderVersion1 = version1;
        movie.timeScale = timeScale;
        movie.durationUnits = 6300;
        movie.sampleRate = 22050;
        movie.withTrack = withTrack;
        movie.audio = Bytes(168000, 1);
        return fixtures::Mp4File(movie);
    };
    // Seven seconds; 44100 x 16 x 2 is 1411 kbit/s.
    auto aiff = [](double rate, int channels) {
        fixtures::AiffSpec made = Aiff();
        made.aifc = channels == 1;
        made.channels = channels;
        made.sampleFrames = static_cast<std::uint32_t>(rate * 7);
        made.sampleRate = rate;
        return fixtures::AiffFile(made);
    };
    // 3,999,900 bytes at 128 kbit/s are 249.99 seconds; the ID3v1 tag behind them is no audio.
    Bytes cbr = fixtures::MpegFrames(MpegFrameSpec{}, 9593);
    cbr.resize(3999900, 0);
    cbr = Concat({cbr, fixtures::ID3v1Tag({"T", "", "", "", ""})});
    const MpegFrameSpec layer1{MpegVersion::V1, 1, 384, 48000}, mpeg2{MpegVersion::V2, 3, 64, 22050};
    const MpegFrameSpec mpeg25Mono{MpegVersion::V25, 3, 64, 8000, true},
        mpeg2At24k{MpegVersion::V2, 3, 160, 24000};
    struct Case {
        const char* what;
        const char* name;
        Bytes file;
        long duration, bitRate;
        int sampleRate;
    };
    // Variable bit rates: average frame length x sample rate / (samples per frame / 8), where
    // MPEG-2 and 2.5 Layer III frames hold half the samples of MPEG-1 ones.
    const Case cases[] = {
        {"CBR MPEG-1 Layer III with an ID3v1 tag", "a.mp3", mp3(cbr), 249, 128, 44100},
        {"CBR MPEG-1 Layer I", "a.mp3", mp3(fixtures::MpegFrames(layer1, 1000)), 8, 384, 48000},
        {"CBR MPEG-2 Layer III", "a.mp3", mp3(fixtures::MpegFrames(mpeg2, 1000)), 26, 64, 22050},
        {"Xing MPEG-1: 417 x 44100 / 144", "a.mp3", xing({}, 1000, 417960), 26, 127, 44100},
        {"Xing MPEG-2: 208 x 22050 / 72", "a.mp3", xing(mpeg2, 1000, 208000), 26, 63, 22050},
        {"Xing MPEG-2.5 mono, 13 bytes into the frame", "a.mp3", xing(mpeg25Mono, 100, 28800), 14, 32, 8000},
        {"Xing without a byte count takes the audio size", "a.mp3", xing({}, 100, std::nullopt), 2, 127,
         44100},
        {"VBRI MPEG-2: 480 x (24000 / 72)", "a.mp3",
         mp3(withHeader(fixtures::VbriFrame(mpeg2At24k, 100, 48000), mpeg2At24k, 100)), 2, 159, 24000},
        {"Xing behind a tag larger than the audio", "a.mp3", xing({}, 100, 20900, 100000), 5, 64, 44100},
        {"junk before the first frame", "a.mp3",
         mp3(Concat({Bytes{0x12, 0xFF, 0x00, 0x34, 0xFF, 0xF0}, fixtures::MpegFrames({}, 1000)})), 26, 128,
         44100},
        {"no frame at all", "a.mp3", mp3(Bytes(5000, 0x11)), 0, 0, 0},
        {"MP4, 32-bit movie header", "a.m4a", m4a(false, 600, true), 10, 128, 22050},
        {"MP4, 64-bit movie header, no sound track", "a.m4a", m4a(true, 600, false), 10, 128, 0},
        {"MP4, no time scale", "a.m4a", m4a(false, 0, true), 0, 0, 22050},
        {"AIFF", "a.aif", aiff(44100, 2), 7, 1411, 44100},
        {"AIFC at 8 kHz", "a.aif", aiff(8000, 1), 7, 128, 8000},
        {"AIFC at 96 kHz", "a.aif", aiff(96000, 1), 7, 1536, 96000}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(Load(c.name, c.file), 0);
        EXPECT_EQ(Duration(), c.duration);
        EXPECT_EQ(BitRate(), c.bitRate);
        EXPECT_EQ(tags.GetSampleRate(), c.sampleRate);
    }
}

TEST_F(ID3Read, MusicRangeOfMP3LeavesOutEveryTag)
{
    const Bytes tag = Tag(3, {TextFrame("TIT2", "x")}, ID3v2Options{3, 100}), audio = Audio();
    const Bytes both = Concat({tag, audio, fixtures::ID3v1Tag({"T", "", "", "", ""})});
    struct Case {
        const char* what;
        const char* name;
        Bytes file;
        MusicRange range;
    };
    // A tag with nothing after it would start at the end of the file and end one byte before: a
    // wrapped music size. (An extension in capitals is read as its format: ADirSongDir lists
    // "Two.M4A" by its tags.)
    const Case cases[] = {
        {"ID3v2 and ID3v1 tags", "a.mp3", both, {tag.size(), both.size() - 129}},
        {"untagged: the whole file", "song.mp3", audio, {0, audio.size() - 1}},
        {"a tag with nothing after it", "a.mp3", Tag(3, {TextFrame("TIT2", "x")}, {3, 300}), {0, 0}},
        {"an unknown extension reads no tags", "a.wav", both, {0, 0}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(Load(c.name, c.file), 0);
        EXPECT_EQ(Range(), c.range);
        EXPECT_EQ(ID3::CalcMusicSize(&tags.GetFilePath()), c.range.second - c.range.first);
    }
    EXPECT_EQ(Text(&ID3::GetFileExt) + "|" + Name(), "wav|");
    // Untagged, the file name stands in for the name.
    ASSERT_EQ(Load("song.mp3", audio), 0);
    EXPECT_EQ(Name() + "|" + Text(&ID3::GetModifiedName), "|song");
    EXPECT_EQ(tags.GetTagKinds(), 0u);
}

// ---- Pictures -----------------------------------------------------------------------------------

TEST_F(ID3Read, PicturesOfEveryVersionAreFound)
{
    const std::vector<Bytes> pictures = {
        fixtures::FakeJpeg(3000, 1), fixtures::FakePng(500, 2), {'G', 'I', 'F', '8', '9', 'a', 1, 2, 3}};
    for (auto [version, encoding] : {std::pair{2, TextEncoding::UTF16},
                                     {3, TextEncoding::Latin1},
                                     {4, TextEncoding::UTF8},
                                     {4, TextEncoding::UTF16BE}}) {
        const Bytes file =
            Mp3(version, {fixtures::PictureFrame(version, pictures[0], "image/jpeg", encoding, "Front"),
                          TextFrame(TitleId(version), "Between"),
                          fixtures::PictureFrame(version, pictures[1], "image/png", encoding, ""),
                          fixtures::PictureFrame(version, pictures[2], "image/gif", encoding, "x")});
        SCOPED_TRACE(std::to_string(version) + " " + std::to_string(static_cast<int>(encoding)));
        ASSERT_EQ(Load("pictures.mp3", file), 0);
        ExpectPictures(file, pictures);
        EXPECT_EQ(Name(), "Between");
    }
    Bytes data;
    EXPECT_EQ(tags.ReadImageData(3, data), kErrUnknown);
    EXPECT_EQ(tags.ReadImageData(-1, data), kErrUnknown);
}

TEST_F(ID3Read, PictureFramesWithoutPictureDataAddNothing)
{
    const std::vector<ID3v2Frame> frames = {
        ID3v2Frame{"APIC", {0, 'i', 'm', 'a', 'g', 'e'}},          // the MIME type never ends
        ID3v2Frame{"APIC", {0, 'i', 0, 3, 'd', 'e', 's', 'c', 0}}, // ends with the description
        ID3v2Frame{"APIC", {2, 'i', 0, 3, 0, 0xFF, 0xD8}},         // UTF-16BE is not a 2.3 encoding
    };
    ASSERT_EQ(Load("nopic.mp3", Mp3(3, frames)), 0);
    EXPECT_EQ(tags.GetImageCount(), 0);
}

// ---- Tag structures, unsynchronisation and untrusted sizes --------------------------------------

TEST_F(ID3Read, TagStructuresAreUndoneBeforeTheFramesAreRead)
{
    const std::string longTitle(300, 'T');
    // "ÿé" in ISO 8859-1 is 0xFF 0xE9, which unsynchronisation stuffs.
    const std::string stuffed = "\xC3\xBF\xC3\xA9 done";
    const ID3v2Options plain, plainSizes{.padding = 20, .plainFrameSizes = true},
        extended{.padding = 20, .extendedHeader = true}, footer{.padding = 20, .footer = true},
        both{.padding = 20, .extendedHeader = true, .footer = true},
        unsync{.padding = 20, .unsynchronise = true},
        unsyncLength{.padding = 20, .unsynchronise = true, .dataLengthIndicator = true};
    auto frames = [](int version, const std::string& title) {
        return std::vector<ID3v2Frame>{TextFrame(TitleId(version), title),
                                       TextFrame(version == 2 ? "TAL" : "TALB", "Album")};
    };
    ID3v2Frame compressed = TextFrame("TIT2", "zipped"), encrypted = TextFrame("TIT2", "secret");
    compressed.formatFlags = 0x80;
    encrypted.formatFlags = 0x04;
    ID3v2Frame grouped = TextFrame("TALB", "Album");
    grouped.formatFlags = 0x20; // a group byte stands before the data
    grouped.data.insert(grouped.data.begin(), 7);
    Bytes bogus = Tag(3, frames(3, "Title"));
    bogus[5] |= 0x40; // an extended header flagged, but the body begins with a frame
    Bytes compressedTag = Tag(2, frames(2, "Title"));
    compressedTag[5] |= 0x40; // no compression scheme was ever defined: its frames cannot be read
    const std::pair<Bytes, std::string> cases[] = {
        {Tag(4, frames(4, longTitle), plain), longTitle},
        {Tag(4, frames(4, longTitle), plainSizes), longTitle},
        {Tag(4, {TextFrame("TALB", "Album"), TextFrame("TIT2", longTitle)}, plainSizes), longTitle},
        {Tag(3, frames(3, "Title"), extended), "Title"},
        {Tag(4, frames(4, "Title"), extended), "Title"},
        {Tag(4, frames(4, "Title"), footer), "Title"},
        {Tag(4, frames(4, "Title"), both), "Title"},
        {bogus, "Title"},
        {Tag(2, frames(2, stuffed), unsync), stuffed},
        {Tag(3, frames(3, stuffed), unsync), stuffed},
        {Tag(4, frames(4, stuffed), unsync), stuffed},
        {Tag(4, frames(4, stuffed), unsyncLength), stuffed},
        {Tag(3, {compressed, grouped}), ""},
        {Tag(4, {encrypted, TextFrame("TALB", "Album")}), ""},
        {compressedTag, "-"}};
    for (const auto& [tag, title] : cases) {
        ASSERT_EQ(Load("tag.mp3", Concat({tag, Audio()})), 0) << title;
        EXPECT_EQ(Values(), title == "-" ? "||||0/0|0/0|0|" : title + "||Album||0/0|0/0|0|");
        EXPECT_EQ(BitRate(), 128) << title;
        EXPECT_EQ(Range().first, tag.size()) << title;
    }
}

TEST_F(ID3Read, SizesThatRunPastTheTagOrTheFileAreCut)
{
    // A tag that claims more than the file holds is read as far as the file goes.
    Bytes huge = Tag(3, {TextFrame("TIT2", "Title")}, ID3v2Options{3, 200});
    const Bytes size = fixtures::Synchsafe(0x0FFFFFFF);
    std::copy(size.begin(), size.end(), huge.begin() + 6);
    ASSERT_EQ(Load("huge.mp3", huge), 0);
    EXPECT_EQ(Name(), "Title");
    EXPECT_EQ(Duration(), 0);
    // A frame (TALB, after the header and the 16-byte TIT2 frame) claiming 1000 bytes ends the walk.
    Bytes file = Mp3(3, {TextFrame("TIT2", "Title"), TextFrame("TALB", "Album")});
    file[10 + 16 + 6] = 0x03;
    file[10 + 16 + 7] = 0xE8;
    ASSERT_EQ(Load("long.mp3", file), 0);
    EXPECT_EQ(Values(), "Title||||0/0|0/0|0|");
}

TEST_F(ID3Read, FailuresLeaveNoValuesOfThePreviousFile)
{
    ASSERT_EQ(Load("good.mp3", Mp3(3, {TextFrame("TIT2", "Title")})), 0);
    EXPECT_EQ(tags.SetFilePath(dir.A("missing.mp3")), kErrFileNotFound);
    EXPECT_EQ(Name(), "");
    EXPECT_EQ(BitRate(), 0);
    Bytes v5 = Mp3(3, {TextFrame("TIT2", "x")});
    v5[3] = 5;
    EXPECT_EQ(Load("v5.mp3", v5), kErrUnknown);
    EXPECT_EQ(Load("tiny.mp3", Bytes(100, 0xAB)), kErrUnknown); // too short for an ID3v1 tag
    EXPECT_EQ(Load("empty.mp3", Bytes{}), kErrInconsistentSize);
    ASSERT_EQ(mkdir((dir / "folder.mp3").c_str(), 0755), 0);
    EXPECT_NE(tags.SetFilePath(dir.A("folder.mp3")), 0);
    // A link to nothing is a missing file, and reading it creates nothing.
    ASSERT_EQ(symlink((dir / "gone.mp3").c_str(), (dir / "dangling.mp3").c_str()), 0);
    EXPECT_EQ(tags.SetFilePath(dir.A("dangling.mp3")), kErrFileNotFound);
    EXPECT_FALSE(fixtures::Exists(dir / "gone.mp3"));
}

// ---- MP4 ----------------------------------------------------------------------------------------

// (The items ffmpeg and AtomicParsley write are read against TagLib in TagPeer and TagFormatsPeer.)
TEST_F(ID3Read, MP4ItemsFillTheirMembers)
{
    const std::vector<Atom> items = {fixtures::TextItem("tvsh", "Show"),
                                     fixtures::TextItem(fixtures::kItemYear, "2004-05-06T00:00:00Z"),
                                     fixtures::IntegerItem("stik", 10, 1),
                                     fixtures::IntegerItem("pcst", 1, 1),
                                     fixtures::TextItem("apID", "someone@example.com"),
                                     fixtures::IntegerItem("gnre", 18, 2)};
    ASSERT_EQ(Load("tv.m4v", fixtures::Mp4File(Movie(items))), 0);
    EXPECT_EQ(Values(), "|||Rock|0/0|0/0|2004|");
    EXPECT_EQ(Text(&ID3::GetTVShow) + "|" + Text(&ID3::GetAppleID), "Show|someone@example.com");
    EXPECT_TRUE(tags.IsTVShow());
    EXPECT_FALSE(tags.IsMovie());
    EXPECT_TRUE(tags.IsPodCast());
    EXPECT_EQ(tags.GetTagKinds(), ID3::kMP4);
}

TEST_F(ID3Read, MP4ItemsFallBackByValueType)
{
    using fixtures::DataItem;
    using fixtures::kItemName;
    using fixtures::TextItem;
    const Bytes utf16 = fixtures::EncodeText("Caf\xC3\xA9", TextEncoding::UTF16BE);
    const std::pair<std::vector<Atom>, const char*> cases[] = {
        {{TextItem("aART", "Band")}, "|Band|||0/0|0/0|0|Band"},
        {{TextItem(fixtures::kItemGenre, "Trip"), fixtures::IntegerItem("gnre", 18, 2)},
         "|||Trip|0/0|0/0|0|"},
        {{TextItem(fixtures::kItemGenre, "(18)")}, "|||Rock|0/0|0/0|0|"},
        {{fixtures::IntegerItem("gnre", 0, 2)}, "||||0/0|0/0|0|"},
        {{fixtures::IntegerItem("gnre", 127, 2)}, "||||0/0|0/0|0|"},
        {{DataItem(kItemName, 2, utf16)}, "Caf\xC3\xA9||||0/0|0/0|0|"},
        {{DataItem(kItemName, 21, {0, 0, 1, 0})}, "256||||0/0|0/0|0|"},
        {{DataItem(kItemName, 0, {0, 0, 0, 3, 0, 0, 0, 9})}, "3/9||||0/0|0/0|0|"},
        {{DataItem(kItemName, 13, {0xFF, 0xD8})}, "||||0/0|0/0|0|"},
        {{Atom(kItemName, {}, {Atom("mean", {0, 0, 0, 0})})}, "||||0/0|0/0|0|"}};
    for (const auto& [items, values] : cases) {
        ASSERT_EQ(Load("items.m4a", fixtures::Mp4File(Movie(items))), 0);
        EXPECT_EQ(Values(), values);
    }
}

TEST_F(ID3Read, MP4MusicRangeIsTheAudioDataWhereverItLies)
{
    struct Case {
        bool mdatFirst, largeMdat, withMetadata;
    };
    for (auto [mdatFirst, largeMdat, withMetadata] :
         {Case{false, false, true}, {true, false, true}, {false, true, true}, {true, false, false}}) {
        Mp4Spec movie = Movie({fixtures::TextItem(fixtures::kItemName, "x")});
        movie.mdatFirst = mdatFirst;
        movie.largeMdat = largeMdat;
        movie.withMetadata = withMetadata;
        movie.audio = fixtures::FakePng(5000, 3);
        const Bytes file = fixtures::Mp4File(movie);
        ASSERT_EQ(Load("range.m4a", file), 0);
        EXPECT_EQ(Slice(file, Range().first, Range().second), movie.audio)
            << mdatFirst << largeMdat << withMetadata;
        EXPECT_EQ(Name(), withMetadata ? "x" : "");
        EXPECT_EQ(BitRate(), 4); // 5000 bytes over 10 seconds
    }
    // A top-level atom of size 0 runs to the end of the file.
    Bytes file = fixtures::Mp4File(Movie({fixtures::TextItem(fixtures::kItemName, "x")}));
    const std::size_t mdatAt = file.size() - 160000 - 8;
    ASSERT_EQ(std::string(file.begin() + mdatAt + 4, file.begin() + mdatAt + 8), "mdat");
    std::fill_n(file.begin() + static_cast<std::ptrdiff_t>(mdatAt), 4, 0);
    ASSERT_EQ(Load("open.m4a", file), 0);
    EXPECT_EQ(Name(), "x");
    EXPECT_EQ(Range(), MusicRange(mdatAt + 8, file.size() - 1));
}

TEST_F(ID3Read, MP4CoverItemHoldsSeveralPicturesUpToTheCap)
{
    const std::vector<Bytes> pictures = {
        fixtures::FakeJpeg(2000, 1), fixtures::FakePng(300, 2), {'B', 'M', 1, 2, 3, 4, 5, 6, 7, 8}};
    const Bytes file =
        fixtures::Mp4File(Movie({fixtures::CoverItem({pictures[0], pictures[1], pictures[2], {1, 2, 3}})}));
    ASSERT_EQ(Load("covers.m4a", file), 0);
    ExpectPictures(file, pictures); // a picture of fewer than 8 bytes ends the list
    // A file full of tiny pictures cannot make the list grow without end.
    ASSERT_EQ(Load("many.m4a",
                   fixtures::Mp4File(Movie({fixtures::CoverItem(std::vector<Bytes>(3000, Bytes(8, 1)))}))),
              0);
    EXPECT_EQ(tags.GetImageCount(), 1000);
}

TEST_F(ID3Read, MP4AtomSizesThatCannotBeTrustedEndTheWalk)
{
    // A 64-bit size on the movie atom is followed, and so is a meta atom without version bytes,
    // as older QuickTime files wrote it.
    Atom ilst("ilst", {}, {fixtures::TextItem(fixtures::kItemName, "Name")});
    for (const Atom& meta :
         {Atom("meta", {0, 0, 0, 0}, {ilst}), Atom("meta", {}, {Atom("hdlr", Bytes(25, 0)), ilst})}) {
        Atom moov("moov", {}, {Atom("udta", {}, {meta})}, true);
        ASSERT_EQ(Load("large.m4a", Concat({fixtures::Serialize(Atom("ftyp", {'M', '4', 'A', ' '})),
                                            fixtures::Serialize(moov)})),
                  0);
        EXPECT_EQ(Name(), "Name");
    }

    // Sizes 0 (inside a parent) and 2 to 7, and sizes that run past the parent or the file.
    const Bytes good = fixtures::Mp4File(Movie({ilst.children[0]}));
    const std::size_t moovAt = good[3]; // after the ftyp atom
    ASSERT_EQ(std::string(good.begin() + moovAt + 4, good.begin() + moovAt + 8), "moov");
    for (std::uint32_t size : {0u, 2u, 7u, 0x7FFFFFFFu}) {
        Bytes bad = good;
        for (int i = 0; i < 4; ++i) // the size of mvhd, the first child
            bad[moovAt + 8 + i] = static_cast<std::uint8_t>(size >> (24 - 8 * i));
        ASSERT_EQ(Load("bad.m4a", bad), 0) << size;
        EXPECT_EQ(Name(), "") << size;
        EXPECT_NE(Range().second, 0u) << size; // the top level still finds the audio
    }
}

// ---- AIFF ---------------------------------------------------------------------------------------

TEST_F(ID3Read, AIFFWithID3ChunkReadsItsTagBehindChunksOfOddLength)
{
    for (auto [before, version] : {std::pair{false, 2}, {true, 3}, {false, 4}}) {
        fixtures::AiffSpec aiff = Aiff();
        aiff.id3Tag = Tag(version, {TextFrame(TitleId(version), "Aiff Title"),
                                    fixtures::PictureFrame(version, fixtures::FakeJpeg(500))});
        aiff.id3BeforeSound = before;
        aiff.extraChunks = {{"NAME", {'O', 'd', 'd'}}, {"ANNO", {}}}; // a pad byte follows odd data
        const Bytes file = fixtures::AiffFile(aiff);
        ASSERT_EQ(Load("tagged.aiff", file), 0);
        EXPECT_EQ(Name(), "Aiff Title") << before << version;
        EXPECT_EQ(Duration(), 3);
        ExpectPictures(file, {fixtures::FakeJpeg(500)});
        EXPECT_EQ(Slice(file, Range().first, Range().second), aiff.sound);
    }
}

// ---- Comparing music ----------------------------------------------------------------------------

// (The program never asks to compare untagged songs only.)
TEST(ID3Music, FilesEqualMusicComparesTheMusicBytesWhateverTheTags)
{
    fixtures::TempDir dir;
    auto song = [&dir](const std::string& name, const std::string& artist, int seconds, std::uint32_t seed) {
        fixtures::SongSpec songSpec = fixtures::SongSpecOf(name, seed, 0, artist);
        songSpec.seconds = seconds;
        fixtures::WriteSong(dir / name, songSpec);
        return dir.A(name);
    };
    fixtures::WriteFile(dir / "x.wav", Bytes(500, 1));
    const AString one = song("one.mp3", "One", 2, 7), two = song("two.mp3", "Two", 2, 7),
                  other = song("other.mp3", "One", 2, 8), longer = song("long.mp3", "One", 3, 7),
                  wav = dir.A("x.wav"), missing = dir.A("missing.mp3");
    EXPECT_EQ(ID3::CalcMusicSize(&missing), 0u);
    for (auto [a, b, expected] :
         {std::tuple{&one, &two, 1}, {&one, &other, 0}, {&one, &longer, 0}, {&wav, &wav, 0}})
        EXPECT_EQ(ID3::FilesEqualMusicCRC32(a, b), expected) << a->ToStdString() << " " << b->ToStdString();
}

// ---- Album art ----------------------------------------------------------------------------------

class ID3Insert : public ID3Read {
protected:
    // Inserts `image` into the file last loaded; returns the result.
    int Insert(const Bytes& image) { return tags.InsertImage(image.data(), static_cast<int>(image.size())); }
    Bytes OnDisk() const { return fixtures::ReadFile(path); }
    static std::uint32_t SynchsafeAt(const Bytes& bytes, std::size_t at)
    {
        return ByteReader(bytes.data() + at, 4).ReadSynchsafe28();
    }
    static bool EndsWith(const Bytes& file, const Bytes& tail)
    {
        return file.size() >= tail.size() && Slice(file, file.size() - tail.size(), file.size() - 1) == tail;
    }
    static std::string TextAt(const Bytes& file, std::size_t at, std::size_t length)
    {
        const Bytes text = Slice(file, at, at + length - 1);
        return std::string(text.begin(), text.end());
    }
};

TEST_F(ID3Insert, FileWithoutTagGainsAVersion22TagWithOnePicture)
{
    const Bytes audio = Audio();
    ASSERT_EQ(Load("bare.mp3", audio), 0);
    const Bytes jpeg = fixtures::FakeJpeg(1000);
    ASSERT_EQ(Insert(jpeg), 0);
    const Bytes file = OnDisk();
    EXPECT_EQ(Slice(file, 0, 5), (Bytes{'I', 'D', '3', 2, 0, 0}));
    EXPECT_EQ(SynchsafeAt(file, 6), 12 + jpeg.size());
    EXPECT_EQ(Slice(file, 10, 21), (Bytes{'P', 'I', 'C', 0, 0x03, 0xEE, 0, 'J', 'P', 'G', 0, 0}));
    EXPECT_EQ(file.size(), 10 + 12 + jpeg.size() + audio.size());
    EXPECT_TRUE(EndsWith(file, audio));
    // The object has read the new file.
    EXPECT_EQ(tags.GetImageCount(), 1);
    EXPECT_EQ(tags.GetTagKinds(), ID3::kID3v22);
    EXPECT_EQ(ImageData(0), jpeg);
}

TEST_F(ID3Insert, NewPictureFollowsTheOldFrames)
{
    const Bytes audio = Audio(200, 9), png = fixtures::FakePng(200), jpeg = fixtures::FakeJpeg(700, 4);
    const std::string title = "\xC3\xBF\xC3\xA9"; // 0xFF 0xE9 in Latin-1, which unsynchronisation stuffs
    struct Case {
        const char* what;
        int version;
        bool unsynchronise, extras; // extras: an extended header and a footer
        std::uint8_t flags;         // of the new tag: unsynchronisation and the footer are kept
    };
    for (const Case& c :
         {Case{"2.2", 2, false, false, 0}, Case{"2.3", 3, false, false, 0}, Case{"2.4", 4, false, false, 0},
          Case{"2.2 unsynchronised", 2, true, false, 0x80}, Case{"2.3 unsynchronised", 3, true, false, 0x80},
          Case{"2.4 unsynchronised", 4, true, false, 0x80},
          Case{"2.4 with an extended header and a footer", 4, false, true, 0x10}}) {
        SCOPED_TRACE(c.what);
        const bool v2 = c.version == 2;
        const std::vector<ID3v2Frame> frames = {TextFrame(TitleId(c.version), title),
                                                fixtures::PictureFrame(c.version, png, "image/png"),
                                                TextFrame(v2 ? "TP1" : "TPE1", "Artist")};
        ID3v2Options options{c.version, 300};
        options.unsynchronise = c.unsynchronise;
        options.extendedHeader = options.footer = c.extras;
        ASSERT_EQ(Load("tagged.mp3", Concat({Tag(c.version, frames, options), audio})), 0);
        ASSERT_EQ(Insert(jpeg), 0);
        const Bytes file = OnDisk();
        EXPECT_EQ(file[5], c.flags);
        const Bytes plain = Tag(c.version, frames);
        const std::size_t newFrameAt = plain.size(), tagEnd = SynchsafeAt(file, 6) + (c.extras ? 20 : 10);
        EXPECT_EQ(file.size(), tagEnd + audio.size());
        EXPECT_TRUE(EndsWith(file, audio));
        if (!c.unsynchronise) { // the old frames as they were, then the new one, in place of the padding
            EXPECT_EQ(tagEnd, newFrameAt + (v2 ? 12 : 23) + jpeg.size() + (c.extras ? 10 : 0));
            EXPECT_TRUE(std::equal(plain.begin() + 10, plain.end(), file.begin() + 10));
            EXPECT_EQ(TextAt(file, newFrameAt, v2 ? 3 : 4), v2 ? "PIC" : "APIC");
        }
        if (c.version == 4 && !c.unsynchronise) { // the new frame's size is synchsafe too
            for (std::size_t i = 4; i < 8; ++i)
                EXPECT_LT(file[newFrameAt + i], 0x80);
            EXPECT_EQ(SynchsafeAt(file, newFrameAt + 4), jpeg.size() + 13);
        }
        if (c.extras) {
            ASSERT_EQ(TextAt(file, tagEnd - 10, 3), "3DI");
            EXPECT_EQ(SynchsafeAt(file, tagEnd - 4), SynchsafeAt(file, 6));
        }
        ASSERT_EQ(tags.SetFilePath(AString::FromUTF8(path)), 0);
        EXPECT_EQ(Name() + "|" + Text(&ID3::GetArtist), title + "|Artist");
        ASSERT_EQ(tags.GetImageCount(), 2);
        EXPECT_EQ(tags.GetImages()[0].kind, 1u);
        EXPECT_EQ(tags.GetImages()[1].kind, 2u);
        EXPECT_EQ(ImageData(0), png);
        EXPECT_EQ(ImageData(1), jpeg);
        EXPECT_EQ(BitRate(), 128);
        EXPECT_EQ(Range().first, tagEnd);
    }
}

TEST_F(ID3Insert, MimeTypeFollowsThePicture)
{
    for (auto [image, mime] :
         {std::pair{Bytes{0xFF, 0xD8, 0xFF}, "image/jpg"}, {fixtures::FakePng(20), "image/png"}}) {
        ASSERT_EQ(Load("a.mp3", Mp3(3, {TextFrame("TIT2", "x")})), 0);
        EXPECT_EQ(Insert(image), 0) << mime;
        ASSERT_EQ(TextAt(OnDisk(), 22, 4), "APIC"); // after the header and the title frame
        EXPECT_EQ(TextAt(OnDisk(), 22 + 11, 9), mime);
    }
}

TEST_F(ID3Insert, AFileThatCannotTakeThePictureIsLeftAsItWas)
{
    const Bytes tagged = Mp3(3, {TextFrame("TIT2", "x")}), jpeg{0xFF, 0xD8, 0xFF};
    // Junk after the frames, and a tag that claims more than the file holds: the bytes after the
    // last whole frame are not padding, and dropping them would lose data.
    Bytes junk = Concat({Tag(3, {TextFrame("TIT2", "x")}, ID3v2Options{3, 64}), Audio()});
    junk[10 + 12 + 5] = 0x55;
    Bytes oversized = tagged;
    const Bytes huge = fixtures::Synchsafe(static_cast<std::uint32_t>(oversized.size()));
    std::copy(huge.begin(), huge.end(), oversized.begin() + 6);
    // An extended header whose size runs past the tag: the frames behind it cannot be found, and
    // a new tag would hold the picture alone.
    Bytes unreadable = Mp3(3, {TextFrame("TIT2", "x")}, {.extendedHeader = true});
    unreadable[12] = unreadable[13] = 0x7F;
    Bytes v5 = tagged; // the file changed to a tag of an unknown version after it was read
    v5[3] = 5;
    struct Case {
        const char* what;
        const char* name;
        Bytes file, image;
        int expected;
        Bytes onDisk; // written after the file was read, when not empty
    };
    const Case cases[] = {{"a GIF", "a.mp3", tagged, {'G', 'I', 'F', '8', '9', 'a', 0, 0}, kErrUnknown, {}},
                          {"an MP4 file", "a.m4a", tagged, jpeg, kErrNotSupported, {}},
                          {"an AIFF file", "a.aiff", tagged, jpeg, kErrNotSupported, {}},
                          {"a WAV file: nothing to do", "a.wav", tagged, jpeg, 0, {}},
                          {"junk after the frames", "a.mp3", junk, jpeg, kErrUnknown, {}},
                          {"a tag larger than the file", "a.mp3", oversized, jpeg, kErrUnknown, {}},
                          {"an extended header past the tag", "a.mp3", unreadable, jpeg, kErrUnknown, {}},
                          {"a tag of an unknown version", "a.mp3", tagged, jpeg, kErrUnknown, v5}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Load(c.name, c.file);
        if (!c.onDisk.empty())
            fixtures::WriteFile(path, c.onDisk);
        EXPECT_EQ(Insert(c.image), c.expected);
        EXPECT_EQ(OnDisk(), c.onDisk.empty() ? c.file : c.onDisk);
    }
}

TEST_F(ID3Insert, PictureThroughASymbolicLinkGoesIntoTheSong)
{
    ASSERT_EQ(Load("song.mp3", Mp3(3, {TextFrame("TIT2", "x")})), 0);
    const std::string link = dir / "link.mp3";
    ASSERT_EQ(symlink(path.c_str(), link.c_str()), 0);
    ASSERT_EQ(tags.SetFilePath(AString::FromUTF8(link)), 0);
    ASSERT_EQ(Insert(fixtures::FakeJpeg(100)), 0);
    struct stat info {};
    ASSERT_EQ(lstat(link.c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    ASSERT_EQ(tags.SetFilePath(AString::FromUTF8(path)), 0);
    EXPECT_EQ(tags.GetImageCount(), 1);
}

} // namespace

TEST_F(ID3Read, MP4GaplessFactsComeFromAWellFormedITunSMPBItemOnly)
{
    auto text = [](const std::string& s) { return Bytes(s.begin(), s.end()); };
    auto freeform = [&text](const std::string& name, const std::string& value) {
        return Atom("----", {},
                    {Atom("mean", Concat({Bytes(4, 0), text("com.apple.iTunes")})),
                     Atom("name", Concat({Bytes(4, 0), text(name)})),
                     Atom("data", Concat({Bytes{0, 0, 0, 1, 0, 0, 0, 0}, text(value)}))});
    };
    const std::string smpb =
        " 00000000 00000840 000001CA 00000000003F31F6 00000000 00000000 00000000 00000000 00000000 00000000 "
        "00000000 00000000";
    struct Case {
        Atom item;
        std::uint64_t samples;
        std::uint32_t pregap, postgap;
    };
    const Case cases[] = {{freeform("iTunSMPB", smpb), 0x3F31F6, 0x840, 0x1CA},
                          {freeform("iTunNORM", smpb), 0, 0, 0},
                          {freeform("iTunSMPB", " 00000000 00000840"), 0, 0, 0},
                          {freeform("iTunSMPB", " 00000000 zz 1 2"), 0, 0, 0},
                          {freeform("iTunSMPB", std::string(300, '1')), 0, 0, 0}};
    for (const Case& c : cases) {
        ASSERT_EQ(Load("gapless.m4a", fixtures::Mp4File(Movie({c.item}))), 0);
        EXPECT_EQ(tags.GetSampleCount(), c.samples);
        EXPECT_EQ(tags.GetPregap(), c.pregap);
        EXPECT_EQ(tags.GetPostgap(), c.postgap);
    }
}

// A pipe is opened to be looked at, never waited on, and refused.
TEST_F(ID3Read, APipeNamedAsASongIsRefusedWithoutWaitingForAWriter)
{
    ASSERT_EQ(mkfifo((dir / "pipe.mp3").c_str(), 0600), 0);
    EXPECT_EQ(tags.SetFilePath(dir.A("pipe.mp3")), kErrOpen);
}
