// Cross-checks with TagLib, an independent tag reader, on music files that other programs wrote
// (ffmpeg, LAME, id3v2, eyeD3, AtomicParsley): the tags this program reads are the ones the tool was
// given and the ones TagLib reads, so a misreading shared by this program's writer and reader
// cannot hide. A row whose tool is not installed is skipped and named.

#include "ACommon/tags/ID3.h"
#include "ACommon/tags/SongInfoStruct.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>
#include <taglib/audioproperties.h>
#include <taglib/fileref.h>
#include <taglib/tag.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Tags {
    std::string title, artist, album, genre;
    int year = 0;
    int track = 0;
};

struct Read {
    Tags tags;
    int seconds = 0;
    int sampleRate = 0;
};

bool Installed(const std::string& tool)
{
    return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

Read OursOf(const std::string& path)
{
    ID3 reader;
    EXPECT_EQ(reader.SetFilePath(AString::FromUTF8(path)), 0) << path;
    SongInfoStruct song;
    reader.GetSongInfo(song);
    return {{song.name.ToStdString(), song.artist.ToStdString(), song.album.ToStdString(),
             song.genre.ToStdString(), song.year, song.trackNumber},
            song.duration,
            song.sampleRate};
}

Read TagLibOf(const std::string& path)
{
    TagLib::FileRef file(path.c_str(), true, TagLib::AudioProperties::Accurate);
    Read read;
    if (file.isNull() || !file.tag()) {
        ADD_FAILURE() << "TagLib cannot read " << path;
        return read;
    }
    const TagLib::Tag* tag = file.tag();
    read.tags = {tag->title().to8Bit(true), tag->artist().to8Bit(true),    tag->album().to8Bit(true),
                 tag->genre().to8Bit(true), static_cast<int>(tag->year()), static_cast<int>(tag->track())};
    if (const TagLib::AudioProperties* audio = file.audioProperties()) {
        read.seconds = audio->lengthInSeconds();
        read.sampleRate = audio->sampleRate();
    }
    return read;
}

} // namespace

TEST(TagPeer, TagsWrittenByOtherToolsReadAsTagLibReadsThem)
{
    fixtures::TempDir tmp;
    const std::string sine = "ffmpeg -v error -y -f lavfi -i sine=frequency=440:duration=3 ";
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
        const Read ours = OursOf(path);
        const Read theirs = TagLibOf(path);
        for (const Tags* want : {&c.expected, &theirs.tags}) {
            const char* whose = want == &c.expected ? "as written" : "as TagLib reads it";
            EXPECT_EQ(ours.tags.title, want->title) << c.row << ", title " << whose;
            EXPECT_EQ(ours.tags.artist, want->artist) << c.row << ", artist " << whose;
            EXPECT_EQ(ours.tags.album, want->album) << c.row << ", album " << whose;
            EXPECT_EQ(ours.tags.genre, want->genre) << c.row << ", genre " << whose;
            EXPECT_EQ(ours.tags.year, want->year) << c.row << ", year " << whose;
            EXPECT_EQ(ours.tags.track, want->track) << c.row << ", track " << whose;
        }
        EXPECT_NEAR(ours.seconds, theirs.seconds, 1) << c.row << ", duration";
        EXPECT_EQ(ours.sampleRate, theirs.sampleRate) << c.row << ", sample rate";
    }
    if (!skipped.empty())
        GTEST_SKIP() << "not installed:" << skipped;
}
