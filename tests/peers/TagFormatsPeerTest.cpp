// The tag reader against TagLib, an independent reader, on files other programs made: FLAC, Ogg
// Vorbis, Opus, WAV and Apple Lossless files from the formats' own encoders, and MP3 and M4A files
// tagged by ffmpeg, LAME, id3v2, eyeD3 and AtomicParsley. Every field the reader gives must be the
// one TagLib reads (and the one the tool was given), so a misreading shared by this program's writer
// and reader cannot hide.

#include "ACommon/base/AString.h"
#include "ACommon/tags/ID3.h"
#include "ACommon/tags/SongInfoStruct.h"
#include "fixtures/EncodedFiles.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>
#include <taglib/audioproperties.h>
#include <taglib/fileref.h>
#include <taglib/flacfile.h>
#include <taglib/id3v2tag.h>
#include <taglib/mp4file.h>
#include <taglib/tag.h>
#include <taglib/tpropertymap.h>
#include <taglib/wavfile.h>
#include <taglib/xiphcomment.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

namespace {

struct Made {
    std::string path;
    fixtures::EncodedSong song;
};

fixtures::EncodedSong FullSong(const std::string& title, bool picture)
{
    return {.title = title,
            .artist = "Ärtist Ünicode",
            .albumArtist = "Album Artist",
            .album = "The Album",
            .genre = "Post-Rock",
            .composer = "Com Poser",
            .track = 3,
            .trackCount = 12,
            .disc = 1,
            .discCount = 2,
            .year = 2004,
            .compilation = true,
            .seconds = 2.5,
            .picture = picture};
}

// What TagLib reads, in the reader's terms.
struct PeerValues {
    std::string title, artist, albumArtist, album, genre, composer;
    int track = 0, trackCount = 0, disc = 0, discCount = 0, year = 0, compilation = 0;
    int seconds = 0, sampleRate = 0, bitRate = 0;
    std::vector<std::size_t> pictureSizes;
};

std::string First(const TagLib::PropertyMap& map, const char* key)
{
    auto it = map.find(key);
    return it == map.end() || it->second.isEmpty() ? std::string() : it->second.front().to8Bit(true);
}

// "3/12", or "3" with the count under its own key.
void Pair(const TagLib::PropertyMap& map, const char* key, const char* countKey, int& number, int& count)
{
    const std::string text = First(map, key);
    number = std::atoi(text.c_str());
    const std::size_t slash = text.find('/');
    count = slash != std::string::npos ? std::atoi(text.c_str() + slash + 1)
                                       : std::atoi(First(map, countKey).c_str());
}

PeerValues ReadWithTagLib(const std::string& path)
{
    PeerValues v;
    TagLib::FileRef ref(path.c_str(), true, TagLib::AudioProperties::Accurate);
    if (ref.isNull())
        return v;
    const TagLib::PropertyMap map = ref.file()->properties();
    v.title = First(map, "TITLE");
    v.artist = First(map, "ARTIST");
    v.albumArtist = First(map, "ALBUMARTIST");
    v.album = First(map, "ALBUM");
    v.genre = First(map, "GENRE");
    v.composer = First(map, "COMPOSER");
    Pair(map, "TRACKNUMBER", "TRACKTOTAL", v.track, v.trackCount);
    Pair(map, "DISCNUMBER", "DISCTOTAL", v.disc, v.discCount);
    v.year = std::atoi(First(map, "DATE").c_str());
    // A WAV file's basic fields: the ID3 chunk's, and the INFO list's where the chunk has none (TagLib
    // gives them apart).
    if (auto* wav = dynamic_cast<TagLib::RIFF::WAV::File*>(ref.file())) {
        const TagLib::Tag* id3 = wav->hasID3v2Tag() ? wav->ID3v2Tag() : nullptr;
        const TagLib::Tag* info = wav->hasInfoTag() ? wav->InfoTag() : nullptr;
        auto text = [&](TagLib::String (TagLib::Tag::*get)() const) {
            if (id3 && !(id3->*get)().isEmpty())
                return (id3->*get)().to8Bit(true);
            return info ? (info->*get)().to8Bit(true) : std::string();
        };
        auto number = [&](unsigned (TagLib::Tag::*get)() const) {
            return static_cast<int>(id3 && (id3->*get)() ? (id3->*get)() : info ? (info->*get)() : 0);
        };
        v.title = text(&TagLib::Tag::title);
        v.artist = text(&TagLib::Tag::artist);
        v.album = text(&TagLib::Tag::album);
        v.genre = text(&TagLib::Tag::genre);
        v.track = number(&TagLib::Tag::track);
        v.year = number(&TagLib::Tag::year);
    }
    v.compilation = std::atoi(First(map, "COMPILATION").c_str());
    if (TagLib::AudioProperties* audio = ref.audioProperties()) {
        v.seconds = audio->lengthInSeconds();
        v.sampleRate = audio->sampleRate();
        v.bitRate = audio->bitrate();
    }
    if (auto* flac = dynamic_cast<TagLib::FLAC::File*>(ref.file())) {
        for (const TagLib::FLAC::Picture* picture : flac->pictureList())
            v.pictureSizes.push_back(picture->data().size());
    } else if (auto* mp4 = dynamic_cast<TagLib::MP4::File*>(ref.file())) {
        if (mp4->tag() && mp4->tag()->contains("covr"))
            for (const TagLib::MP4::CoverArt& art : mp4->tag()->item("covr").toCoverArtList())
                v.pictureSizes.push_back(art.data().size());
    } else if (auto* wav = dynamic_cast<TagLib::RIFF::WAV::File*>(ref.file())) {
        if (wav->hasID3v2Tag())
            v.pictureSizes.resize(wav->ID3v2Tag()->frameList("APIC").size());
    } else if (auto* xiph = dynamic_cast<TagLib::Ogg::XiphComment*>(ref.tag())) {
        for (const TagLib::FLAC::Picture* picture : xiph->pictureList())
            v.pictureSizes.push_back(picture->data().size());
    }
    return v;
}

class TagFormatsPeer : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (!fixtures::EncodersAvailable())
            return;
        dir = std::make_unique<fixtures::TempDir>();
        for (const char* name :
             {"full.flac", "full.ogg", "full.opus", "full.wav", "full.m4a", "bare.flac", "bare.opus"}) {
            const std::string file = name;
            const bool bare = file.rfind("bare", 0) == 0;
            fixtures::EncodedSong song = bare ? fixtures::EncodedSong() : FullSong("Song of " + file, true);
            const std::string path = *dir / file;
            const std::string error = fixtures::Encode(path, song);
            ASSERT_EQ(error, "");
            files.push_back({path, song});
        }
        // A WAV file whose ID3 chunk (written by TagLib) disagrees with its INFO list.
        const std::string path = *dir / "id3.wav";
        ASSERT_EQ(fixtures::Encode(path, FullSong("Info Title", false)), "");
        TagLib::RIFF::WAV::File wav(path.c_str());
        wav.ID3v2Tag()->setTitle("ID3 Title");
        wav.ID3v2Tag()->setArtist("ID3 Artist");
        ASSERT_TRUE(wav.save());
        files.push_back({path, FullSong("ID3 Title", false)});
        // An MP3 file of ffmpeg's LAME encoder, for the sample count and the gaps.
        mp3 = *dir / "lame.mp3";
        ASSERT_EQ(fixtures::Encode(mp3, FullSong("Counted", false)), "");
    }
    static void TearDownTestSuite()
    {
        files.clear();
        dir.reset();
    }
    void SetUp() override
    {
        if (files.empty())
            GTEST_SKIP() << "flac, oggenc, opusenc or ffmpeg is missing";
    }
    // Runs `check` on every file made, read by this program's reader and by TagLib.
    static void ForEachFile(const std::function<void(const Made&, ID3&, const PeerValues&)>& check)
    {
        for (const Made& made : files) {
            ID3 tags;
            ASSERT_EQ(tags.SetFilePath(AString::FromUTF8(made.path)), 0) << made.path;
            check(made, tags, ReadWithTagLib(made.path));
        }
    }

    static std::unique_ptr<fixtures::TempDir> dir;
    static std::vector<Made> files;
    static std::string mp3;
};

std::unique_ptr<fixtures::TempDir> TagFormatsPeer::dir;
std::vector<Made> TagFormatsPeer::files;
std::string TagFormatsPeer::mp3;

TEST_F(TagFormatsPeer, TextFieldsMatchTagLib)
{
    ForEachFile([](const Made& made, ID3& tags, const PeerValues& peer) {
        AString value;
        tags.GetName(value);
        EXPECT_EQ(value.ToStdString(), peer.title) << made.path;
        tags.GetArtist(value);
        // An untagged artist falls back to the album artist; TagLib keeps them apart.
        EXPECT_EQ(value.ToStdString(), peer.artist.empty() ? peer.albumArtist : peer.artist) << made.path;
        if (made.path.find("id3.wav") == std::string::npos) {
            EXPECT_EQ(tags.GetAlbumArtist().ToStdString(), peer.albumArtist) << made.path;
        }
        tags.GetAlbum(value);
        EXPECT_EQ(value.ToStdString(), peer.album) << made.path;
        tags.GetGenre(value);
        EXPECT_EQ(value.ToStdString(), peer.genre) << made.path;
        tags.GetComposer(value);
        EXPECT_EQ(value.ToStdString(), peer.composer) << made.path;
    });
}

TEST_F(TagFormatsPeer, NumericFieldsMatchTagLib)
{
    ForEachFile([](const Made& made, ID3& tags, const PeerValues& peer) {
        long number = 0;
        tags.GetTrackNumber(number);
        EXPECT_EQ(number, peer.track) << made.path;
        if (made.path.find(".wav") == std::string::npos) { // INFO lists hold no counts or discs
            EXPECT_EQ(tags.GetTrackCount(), peer.trackCount) << made.path;
            tags.GetDiskNumber(number);
            EXPECT_EQ(number, peer.disc) << made.path;
            tags.GetDiskCount(number);
            EXPECT_EQ(number, peer.discCount) << made.path;
            EXPECT_EQ(tags.GetCompilation(), peer.compilation) << made.path;
        }
        EXPECT_EQ(tags.GetYear(), peer.year) << made.path;
    });
}

TEST_F(TagFormatsPeer, AudioPropertiesMatchTagLib)
{
    ForEachFile([](const Made& made, ID3& tags, const PeerValues& peer) {
        long value = 0;
        tags.GetDuration(value);
        EXPECT_EQ(value, peer.seconds) << made.path;
        EXPECT_EQ(tags.GetSampleRate(), peer.sampleRate) << made.path;
        tags.GetBitrate(value);
        // TagLib gives an Apple Lossless file the rate its encoder declared; the reader, as for
        // every MP4 file, the average of the stored audio.
        if (made.path.find(".m4a") != std::string::npos)
            return;
        // Both count the bytes after the headers, but not the same overhead: within 3%.
        EXPECT_NEAR(static_cast<double>(value), peer.bitRate, peer.bitRate * 0.03 + 1) << made.path;
    });
}

TEST_F(TagFormatsPeer, PicturesMatchTagLib)
{
    ForEachFile([](const Made& made, ID3& tags, const PeerValues& peer) {
        ASSERT_EQ(static_cast<std::size_t>(tags.GetImageCount()), peer.pictureSizes.size()) << made.path;
        for (int i = 0; i < tags.GetImageCount(); ++i) {
            std::vector<std::uint8_t> data;
            ASSERT_EQ(tags.ReadImageData(i, data), 0) << made.path;
            if (peer.pictureSizes[static_cast<std::size_t>(i)] != 0) {
                EXPECT_EQ(data.size(), peer.pictureSizes[static_cast<std::size_t>(i)]) << made.path;
            }
            EXPECT_EQ(tags.GetImages()[static_cast<std::size_t>(i)].kind, 1u) << made.path; // PNG
        }
    });
}

TEST_F(TagFormatsPeer, CodecIsTheEncoders)
{
    struct Case {
        const char* file;
        ID3::Codec codec;
        bool lossless;
    };
    for (auto [file, codec, lossless] : {Case{"full.flac", ID3::Codec::kFLAC, true},
                                         {"full.ogg", ID3::Codec::kVorbis, false},
                                         {"full.opus", ID3::Codec::kOpus, false},
                                         {"full.wav", ID3::Codec::kPCM, true},
                                         {"full.m4a", ID3::Codec::kALAC, true}}) {
        ID3 tags;
        ASSERT_EQ(tags.SetFilePath(AString::FromUTF8(*dir / file)), 0) << file;
        EXPECT_EQ(tags.GetCodec(), codec) << file;
        EXPECT_EQ(tags.IsLossless(), lossless) << file;
    }
}

TEST_F(TagFormatsPeer, SampleCountIsWhatTheEncoderWasGiven)
{
    // Every tone is 2.5 seconds at 44.1 kHz; Opus always counts at 48 kHz.
    struct Case {
        std::string file;
        std::uint64_t samples;
    };
    for (const auto& [file, samples] : {Case{*dir / "full.flac", 110250},
                                        {*dir / "full.wav", 110250},
                                        {*dir / "full.opus", 120000},
                                        {*dir / "full.ogg", 110250},
                                        {mp3, 110250}}) {
        ID3 tags;
        ASSERT_EQ(tags.SetFilePath(AString::FromUTF8(file)), 0) << file;
        EXPECT_EQ(tags.GetSampleCount(), samples) << file;
    }
}

TEST_F(TagFormatsPeer, MP3GapsAreWhatTheEncoderPutAroundTheSamples)
{
    ID3 tags;
    ASSERT_EQ(tags.SetFilePath(AString::FromUTF8(mp3)), 0);
    // LAME's delay of 576 samples, and a decoder's own 529; the padding fills the last frame.
    EXPECT_EQ(tags.GetPregap(), 576u + 529u);
    const std::uint64_t padded = tags.GetPregap() + tags.GetSampleCount() + tags.GetPostgap();
    EXPECT_EQ(padded % 1152, 0u) << padded;
    // Everything but the ID3v2 tag in front and the last eight frames of 417 or 418 bytes.
    const std::uint64_t size = std::filesystem::file_size(mp3);
    EXPECT_LE(tags.GetGaplessData() + 8 * 418 + 128, size);
    EXPECT_GE(tags.GetGaplessData() + 8 * 418 + 1024, size);
}

bool Installed(const std::string& tool)
{
    return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

} // namespace

TEST(TagPeer, TagsWrittenByOtherToolsReadAsTagLibReadsThem)
{
    fixtures::TempDir tmp;
    const std::string sine = "ffmpeg -v error -y -f lavfi -i sine=frequency=440:duration=3 ";
    struct Tags {
        std::string title, artist, album, genre;
        int year = 0;
        int track = 0;
    };
    struct Case {
        const char* row;
        const char* tool;
        std::string commands; // run in the temporary folder; they make `file`
        const char* file;
        Tags expected;
    };
    const std::vector<Case> cases = {
        {"ffmpeg, MP3 with ID3v2.3 and ID3v1, Latin text",
         "ffmpeg",
         sine + "-c:a libmp3lame -b:a 128k -id3v2_version 3 -write_id3v1 1 -metadata title='Fjärran' "
                "-metadata artist='Ånglaparken' -metadata album='Öar' -metadata genre=Rock "
                "-metadata date=1999 -metadata track=3/12 a.mp3",
         "a.mp3",
         {"Fjärran", "Ånglaparken", "Öar", "Rock", 1999, 3}},
        {"ffmpeg, MP3 with ID3v2.4, UTF-8 text",
         "ffmpeg",
         sine + "-c:a libmp3lame -id3v2_version 4 -metadata title='夜明けの歌' -metadata artist='Ложка' "
                "-metadata album='Ωmega' -metadata genre='Trip-Hop' -metadata date=2015 -metadata track=11 "
                "b.mp3",
         "b.mp3",
         {"夜明けの歌", "Ложка", "Ωmega", "Trip-Hop", 2015, 11}},
        {"LAME, ID3v2 and ID3v1 of its own",
         "lame",
         sine + "c.wav && lame --quiet -b 160 --tt 'Blue Train' --ta 'John Coltrane' --tl 'Blue Train' "
                "--ty 1957 --tn 5/9 --tg Jazz --add-id3v2 c.wav c.mp3",
         "c.mp3",
         {"Blue Train", "John Coltrane", "Blue Train", "Jazz", 1957, 5}},
        {"id3v2, ID3v2.3 with a numbered genre, and ID3v1",
         "id3v2",
         sine +
             "-c:a libmp3lame d.mp3 && id3v2 -t 'Title D' -a 'Artist D' -A 'Album D' -y 1987 -T 7 -g 8 d.mp3",
         "d.mp3",
         {"Title D", "Artist D", "Album D", "Jazz", 1987, 7}},
        {"eyeD3, ID3v2.4",
         "eyeD3",
         sine + "-c:a libmp3lame -write_id3v1 0 -id3v2_version 0 e.mp3 && eyeD3 --to-v2.4 -t 'Größe' "
                "-a 'Ça ira' -A 'Été' -G Electronic --recording-date 2010 -n 2 -N 10 e.mp3 >/dev/null",
         "e.mp3",
         {"Größe", "Ça ira", "Été", "Electronic", 2010, 2}},
        {"eyeD3, ID3v2.3 in UTF-16",
         "eyeD3",
         sine + "-c:a libmp3lame -write_id3v1 0 -id3v2_version 0 f.mp3 && eyeD3 --to-v2.3 -t 'Ελένη' "
                "-a 'Wałęsa' -A 'Ærø' -G Folk --recording-date 1975 -n 9 f.mp3 >/dev/null",
         "f.mp3",
         {"Ελένη", "Wałęsa", "Ærø", "Folk", 1975, 9}},
        {"ffmpeg, M4A (AAC)",
         "ffmpeg",
         sine + "-c:a aac -b:a 96k -metadata title='Otoño' -metadata artist='Mañana' -metadata album='Días' "
                "-metadata genre=Pop -metadata date=2021 -metadata track=4/11 g.m4a",
         "g.m4a",
         {"Otoño", "Mañana", "Días", "Pop", 2021, 4}},
        {"AtomicParsley, M4A with a standard genre as a number",
         "AtomicParsley",
         sine + "-c:a aac h.m4a && AtomicParsley h.m4a --title 'Hoochie Coochie Man' --artist 'Muddy Waters' "
                "--album 'Chess Box' --genre Blues --year 1962 --tracknum 1/4 --overWrite >/dev/null",
         "h.m4a",
         {"Hoochie Coochie Man", "Muddy Waters", "Chess Box", "Blues", 1962, 1}},
    };
    std::string skipped;
    for (const Case& c : cases) {
        if (!Installed(c.tool) || !Installed("ffmpeg")) {
            skipped += std::string(" ") + c.tool;
            continue;
        }
        ASSERT_EQ(std::system(("cd '" + tmp.Path() + "' && " + c.commands).c_str()), 0) << c.row;
        const std::string path = tmp.Path() + "/" + c.file;
        ID3 reader;
        ASSERT_EQ(reader.SetFilePath(AString::FromUTF8(path)), 0) << c.row;
        SongInfoStruct song;
        reader.GetSongInfo(song);
        const PeerValues theirs = ReadWithTagLib(path);
        const Tags ours{song.name.ToStdString(),
                        song.artist.ToStdString(),
                        song.album.ToStdString(),
                        song.genre.ToStdString(),
                        song.year,
                        song.trackNumber};
        const Tags peer{theirs.title, theirs.artist, theirs.album, theirs.genre, theirs.year, theirs.track};
        // Title, artist, album, genre, year and track.
        auto fields = [](const Tags& t) {
            return std::tie(t.title, t.artist, t.album, t.genre, t.year, t.track);
        };
        EXPECT_EQ(fields(ours), fields(c.expected)) << c.row << ", as written";
        EXPECT_EQ(fields(ours), fields(peer)) << c.row << ", as TagLib reads it";
        EXPECT_NEAR(song.duration, theirs.seconds, 1) << c.row << ", duration";
        EXPECT_EQ(song.sampleRate, theirs.sampleRate) << c.row << ", sample rate";
    }
    if (!skipped.empty())
        GTEST_SKIP() << "not installed:" << skipped;
}
