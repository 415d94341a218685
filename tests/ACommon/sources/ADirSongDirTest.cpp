// A folder of songs as a song source: listing by tags, finding a song's file, the state record,
// and filing songs into the folder.

#include "ACommon/sources/ADirSongDir.h"

#include "ACommon/base/AError.h"
#include "ACommon/tags/AudioFormats.h"
#include "ACommon/tags/ID3.h"
#include "ACommon/tags/SongInfoStruct.h"
#include "fixtures/MusicFiles.h"
#include "fixtures/RecordingFrontend.h"
#include "fixtures/StateFile.h"
#include "fixtures/TempDir.h"
#include "fixtures/Text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

using fixtures::ListFiles;
using fixtures::ReadFile;
using fixtures::RecordingFrontend;
using fixtures::TempDir;
using fixtures::WriteFile;
using Files = std::vector<std::string>;

namespace {

using fixtures::Has;

fixtures::SongSpec Song(const std::string& title, const std::string& artist = "Artist",
                        const std::string& album = "Album", int track = 0)
{
    fixtures::SongSpec song = fixtures::SongSpecOf(title, 0, track, artist);
    song.album = album;
    return song;
}

Files Records(ADir& dir)
{
    Files records;
    for (int i = 0; i < dir.Count(); ++i)
        records.push_back(dir.GetFPath(i)->ToStdString());
    return records;
}

// A folder "Music" in a temporary folder, listed as songs.
struct SongFolder {
    SongFolder()
    {
        std::filesystem::create_directories(tmp / "Music");
        AString root = tmp.A("Music");
        songs.SetRootPath(&root);
    }
    std::string Put(const std::string& relative, const fixtures::SongSpec& song)
    {
        const std::string path = tmp / ("Music/" + relative);
        fixtures::WriteSong(path, song);
        return path;
    }
    int List(CancelProc cancel = nullptr)
    {
        AString root = tmp.A("Music");
        return songs.InitWPath(&root, 0, cancel);
    }
    // The file a path finds: a full path as a sync joins it (root and virtual path), or a record.
    std::string Find(const std::string& vpath, signed char isRecord = 0, int* err = nullptr)
    {
        AString path = isRecord ? AString::FromUTF8(vpath) : Full(vpath), disk;
        int result = songs.GetFileDiskPath(&path, &disk, isRecord);
        if (err)
            *err = result;
        return result == 0 ? disk.ToStdString() : "";
    }
    AString Full(const std::string& vpath) const
    {
        AString full = tmp.A("Music/");
        full.AppendPathComponent(AString::FromUTF8(vpath));
        return full;
    }
    // Files `relative` (below the temporary folder) into the folder.
    int Add(const std::string& relative, const char* fallbackName = nullptr)
    {
        AString file = tmp.A(relative), fallback(fallbackName ? fallbackName : "");
        return songs.AddSongFromDisk(&file, fallbackName ? &fallback : nullptr, nullptr);
    }

    TempDir tmp;
    ADirSongDir songs;
};

} // namespace

// ---------------------------------------------------------------------------------------------
// Listing

TEST(ADirSongDir, ListsMusicFilesByTheirTags)
{
    SongFolder folder;
    folder.Put("Artist/Album/01 One.mp3", Song("One"));
    folder.Put("Artist/Album/02 Two.M4A", Song("Two"));
    folder.Put("untagged/Track 3.mp3", fixtures::SongSpec{});
    WriteFile(folder.tmp / "Music/b.txt", "not music");
    ASSERT_EQ(folder.List(), 0);
    EXPECT_EQ(folder.songs.GetType(), ADir::kTypeSongFolder);
    EXPECT_EQ(folder.songs.GetDiskList().Count(), 3);
    folder.songs.Sort(1);
    const Files records = Records(folder.songs);
    const AString untagged = folder.tmp.A("Music/untagged/Track 3.mp3");
    const Files paths = {"/*/" + std::to_string(ID3::CalcMusicSize(&untagged)) + "/*/Track/mp3",
                         "/Rock/Artist/Album/One/mp3", "/Rock/Artist/Album/Two/M4A"};
    ASSERT_EQ(records.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(records[i].substr(0, records[i].find('?')), paths[i]);
        // Every key finds its own file.
        AString vpath, disk = AString::FromUTF8(folder.Find(records[i], 1));
        ASSERT_EQ(folder.songs.MakeSongInfoString(&disk, &vpath), 0);
        EXPECT_EQ(vpath.ToStdString(), paths[i]);
    }
}

TEST(ADirSongDir, FilesWhoseTagsCannotBeReadAreLeftOut)
{
    RecordingFrontend frontend;
    SongFolder folder;
    folder.Put("good.mp3", Song("Good"));
    WriteFile(folder.tmp / "Music/empty.mp3", std::string());
    // An ID3v2 tag of a version that does not exist.
    WriteFile(folder.tmp / "Music/bad.mp3",
              std::vector<std::uint8_t>{'I', 'D', '3', 9, 0, 0, 0, 0, 0, 0, 0xFF, 0xFB});
    ASSERT_EQ(folder.List(), 0);
    EXPECT_EQ(folder.songs.Count(), 1);
    EXPECT_EQ(folder.songs.GetUnreadableCount(), 2);
    const std::string log = frontend.Log();
    EXPECT_TRUE(Has(log, "Reading Song Dir: " + folder.tmp / "Music/"));
    EXPECT_TRUE(Has(log, "Reading Song Directory Done!"));
    EXPECT_TRUE(Has(log, "2 files could not be read"));
    EXPECT_EQ(log.find("could not be read"), log.rfind("could not be read"));
    EXPECT_EQ(frontend.detail.Text(), "3 / 3");
    // Such a file, or none at all, is not filed into the folder either.
    EXPECT_EQ(folder.Add("Music/empty.mp3"), kErrFileNotFound);
    EXPECT_EQ(folder.Add("none.mp3"), kErrFileNotFound);
    EXPECT_EQ(ListFiles(folder.tmp / "Music"), (Files{"bad.mp3", "empty.mp3", "good.mp3"}));
}

TEST(ADirSongDir, TagFiltersApplyWhileListing)
{
    SongFolder folder;
    folder.Put("a.mp3", Song("Keep", "Wanted"));
    folder.Put("b.mp3", Song("Drop", "Other"));
    folder.Put("c.mp3", Song("Live Drop", "Wanted"));
    folder.songs.SetArtistFilterMode(1);
    folder.songs.SetArtistIncludeFilter(AString(":wanted:"));
    folder.songs.SetSongNameFilterMode(2);
    folder.songs.SetSongNameExcludeFilter(AString(":Live:"));
    ASSERT_EQ(folder.List(), 0);
    EXPECT_EQ(Records(folder.songs), Files{"/Rock/Wanted/Album/Keep/mp3?0"});
}

TEST(ADirSongDir, ListingThatIsCancelledOrFailsLeavesOnlyWholeSongRecords)
{
    SongFolder folder;
    for (int i = 0; i < 3; ++i)
        folder.Put("s" + std::to_string(i) + ".mp3", Song("S" + std::to_string(i)));
    EXPECT_EQ(folder.List([] { return static_cast<signed char>(1); }), kErrUserCancel);
    for (const std::string& record : Records(folder.songs))
        EXPECT_NE(record.find('?'), std::string::npos) << record;
    EXPECT_EQ(folder.songs.Count(), folder.songs.GetDiskList().Count());
    AString missing = folder.tmp.A("nowhere");
    EXPECT_EQ(folder.songs.InitWPath(&missing, 0, nullptr), kErrOpen);
    EXPECT_EQ(folder.songs.Count(), 0);
}

// ---------------------------------------------------------------------------------------------
// Finding a song's file

TEST(ADirSongDir, KeyOrFullPathFindsTheFile)
{
    SongFolder folder;
    const std::string file = folder.Put("x/a.mp3", Song("Ébène"));
    ASSERT_EQ(folder.List(), 0);
    EXPECT_EQ(folder.Find("/Rock/Artist/Album/Ébène/mp3?0", 1), file);
    // As a sync joins it (the path's own "/" dropped or not), with another side's key, in other
    // case, and with the accent as a separate mark.
    for (const char* vpath : {"/Rock/Artist/Album/Ébène/mp3?17", "/ROCK/artist/ALBUM/ébène/MP3?3",
                              "/Rock/Artist/Album/E\u0301be\u0300ne/mp3", "Rock/Artist/Album/Ébène/mp3?0"})
        EXPECT_EQ(folder.Find(vpath), file) << vpath;
    AString doubled = AString::FromUTF8(folder.tmp / "Music//Rock/Artist/Album/Ébène/mp3?2"), disk;
    EXPECT_EQ(folder.songs.GetFileDiskPath(&doubled, &disk, 0), 0);
    EXPECT_EQ(disk.ToStdString(), file);
    for (const char* record : {"/Rock/Artist/Album/Ébène/mp3?1", "/Rock/Artist/Album/Ébène/mp3?",
                               "/Rock/Artist/Album/Ébène/mp3?-1", "/Rock/Artist/Album/Ébène/mp3"}) {
        int err = 0;
        folder.Find(record, 1, &err);
        EXPECT_EQ(err, kErrObjectNotFound) << record;
    }
    int err = 0;
    folder.Find("/Rock/Artist/Album/Ebene/mp3?0", 0, &err);
    EXPECT_EQ(err, kErrObjectNotFound);
    AString elsewhere("/elsewhere/Rock/Artist/Album/Ébène/mp3?0");
    EXPECT_EQ(folder.songs.GetFileDiskPath(&elsewhere, &disk, 0), kErrObjectNotFound);
}

TEST(ADirSongDir, FullPathFindsTheFirstRecordAsTheListStandsNow)
{
    SongFolder folder;
    // Three copies of one song and one other: the index must give what a search through the list
    // in its current order would give, after sorting and deleting records too.
    for (const char* name : {"c.mp3", "a.mp3", "b.mp3"})
        folder.Put(name, Song("Same"));
    const std::string other = folder.Put("d.mp3", Song("Other"));
    ASSERT_EQ(folder.List(), 0);
    const std::string same = "/Rock/Artist/Album/Same/mp3";
    auto firstBySearch = [&folder, &same] {
        for (int i = 0; i < folder.songs.Count(); ++i) {
            const std::string record = folder.songs.GetFPath(i)->ToStdString();
            if (record.substr(0, record.rfind('?')) == same)
                return folder.Find(record, 1);
        }
        return std::string();
    };
    EXPECT_EQ(folder.Find(same + "?99"), firstBySearch());
    folder.songs.Sort(0);
    EXPECT_EQ(folder.Find(same + "?99"), firstBySearch());
    folder.songs.Sort(1);
    const std::string before = folder.Find(same + "?99");
    EXPECT_EQ(before, firstBySearch());
    for (int i = 0; i < folder.songs.Count(); ++i)
        if (folder.Find(folder.songs.GetFPath(i)->ToStdString(), 1) == before) {
            folder.songs.DeleteEntry(i, 0, 0);
            break;
        }
    EXPECT_NE(folder.Find(same + "?99"), before);
    EXPECT_EQ(folder.Find(same + "?99"), firstBySearch());
    EXPECT_EQ(folder.Find("/Rock/Artist/Album/Other/mp3"), other);
}

TEST(ADirSongDir, FileQuestionsAreAnsweredFromTheSongsFile)
{
    SongFolder folder;
    fixtures::SongSpec song = Song("A");
    song.seconds = 3;
    const std::string file = folder.Put("a.mp3", song);
    fixtures::SetModTime(file, 1200000000);
    ASSERT_EQ(folder.List(), 0);
    AString full = folder.Full("/Rock/Artist/Album/A/mp3?5"),
            missing = folder.Full("/Rock/Artist/Album/B/mp3?0");
    // The record carries no time; the file's time is asked for.
    EXPECT_EQ(folder.songs.GetFileModTime(&full), 1200000000u + AFile::kFileTimeOffset);
    EXPECT_EQ(folder.songs.GetFileModTime(&missing), 0u);
    SongInfoStruct info;
    EXPECT_EQ(folder.songs.GetSongInfo(&full, &info), 0);
    EXPECT_EQ(info.duration, 3);
    EXPECT_EQ(folder.songs.GetSongInfo(&missing, &info), kErrObjectNotFound);
    std::filesystem::remove(file);
    EXPECT_FALSE(folder.songs.FileExists(&full));
    EXPECT_EQ(folder.songs.GetSongInfo(&full, &info), kErrFileNotFound);
}

TEST(ADirSongDir, DeletingASongMovesItsFileUnderItsAlbumFolder)
{
    SongFolder folder;
    folder.Put("deep/er/a.mp3", Song("A"));
    folder.Put("b.mp3", Song("B"));
    ASSERT_EQ(folder.List(), 0);
    folder.songs.Sort(1);
    AString a = folder.Full(folder.songs.GetFPath(0)->ToStdString());
    EXPECT_EQ(folder.songs.Delete(&a, 1, 1), 0); // keepFile: nothing happens
    EXPECT_EQ(folder.songs.Delete(&a, 1, 0), 0);
    EXPECT_EQ(ListFiles(folder.tmp.Path()), (Files{"Music/b.mp3", "Removed Files/Artist/Album/a.mp3"}));
    EXPECT_EQ(folder.songs.Delete(&a, 1, 0), 0); // already gone
    folder.songs.DeleteAll();
    EXPECT_EQ(folder.songs.Count() + folder.songs.GetDiskList().Count(), 0);
    EXPECT_EQ(folder.Find("/Rock/Artist/Album/B/mp3?0"), "");
}

TEST(ADirSongDir, TheDuplicateScanRemovesTrueCopiesOnly)
{
    RecordingFrontend frontend;
    frontend.questions.SetDefaultAnswer("Yes to All");
    {
        // Two tracks of one album that share a title are two songs.
        SongFolder folder;
        folder.Put("03 Skit.mp3", Song("Skit", "Artist", "Album", 3));
        folder.Put("07 Skit.mp3", Song("Skit", "Artist", "Album", 7));
        ASSERT_EQ(folder.List(), 0);
        EXPECT_EQ(folder.songs.ScanForDuplicates(1, 1, 1, nullptr, 1), 0);
        EXPECT_EQ(ListFiles(folder.tmp / "Music"), (Files{"03 Skit.mp3", "07 Skit.mp3"}));
    }
    // Names that differ only in case are two files here: one of them is a copy to remove.
    SongFolder folder;
    folder.Put("Song.mp3", Song("Song"));
    folder.Put("song.mp3", Song("Song"));
    ASSERT_EQ(folder.List(), 0);
    EXPECT_EQ(folder.songs.ScanForDuplicates(1, 1, 1, nullptr, 1), 0);
    EXPECT_EQ(folder.songs.Count(), 1);
    EXPECT_EQ(ListFiles(folder.tmp / "Music").size(), 1u);
}

// ---------------------------------------------------------------------------------------------
// Filing songs into the folder

TEST(ADirSongDir, AddedSongsAreFiledByTheirTags)
{
    struct Case {
        fixtures::SongSpec song;
        const char *source, *fallback, *filed;
    };
    auto disc = [](fixtures::SongSpec song, int number, int count) {
        song.disc = number;
        song.discCount = count;
        return song;
    };
    fixtures::SongSpec compilation = Song("Hit");
    compilation.compilation = true;
    // Dots at either end of a folder name are made safe: no hidden or dot-ended folders; a name of
    // blanks only keeps its inner blanks.
    const Case cases[] = {
        {disc(Song("Name", "Artist", "Album", 7), 1, 1), "in/a.mp3", nullptr, "Artist/Album/07 Name.mp3"},
        {disc(Song("Name", "Artist", "Album", 7), 2, 2), "in/b.mp3", nullptr, "Artist/Album/2-07 Name.mp3"},
        {Song("Twelve", "Artist", "Album", 12), "in/c.mp3", nullptr, "Artist/Album/12 Twelve.mp3"},
        {Song("No Track"), "in/d.m4a", nullptr, "Artist/Album/No Track.m4a"},
        {compilation, "in/e.mp3", nullptr, "Compilations/Album/Hit.mp3"},
        {Song("Lonely", "", ""), "in/f.mp3", nullptr, "Unknown Artist/Unknown Album/Lonely.mp3"},
        {Song(" What? A/B "), "in/g.mp3", nullptr, "Artist/Album/What_ A_B.mp3"},
        {Song("", "Artist", "Album", 3), "in/h.mp3", "Fallback", "Artist/Album/03 Fallback.mp3"},
        {Song("", "Artist", "Album", 3), "in/own name.mp3", nullptr, "Artist/Album/03 own name.mp3"},
        {Song("Dots", " .hidden", "end."), "in/i.mp3", nullptr, "_hidden/end_/Dots.mp3"},
        {Song("Blank", "   ", "  Spaced  "), "in/j.mp3", nullptr, "_ _/Spaced/Blank.mp3"}};
    for (const Case& c : cases) {
        SongFolder folder;
        fixtures::WriteSong(folder.tmp / c.source, c.song);
        EXPECT_EQ(folder.Add(c.source, c.fallback), 0) << c.filed;
        EXPECT_EQ(ListFiles(folder.tmp / "Music"), Files{c.filed});
        EXPECT_EQ(ReadFile(folder.tmp / ("Music/" + std::string(c.filed))), ReadFile(folder.tmp / c.source))
            << c.filed;
    }
}

// A song of a taken name is filed under a counted-up name (the file already in place, added from
// where it is, stays as it is); with "don't duplicate songs", an added song of a known artist whose
// file name is taken is taken as present instead, one of an unknown artist still counted up.
TEST(ADirSongDir, AddingNeverCopiesOverAnotherSong)
{
    struct Case {
        signed char dontDup;
        std::vector<std::string> added;
        Files filed;
    };
    const Case cases[] = {
        {0,
         {"in/a0.mp3", "in/a0.mp3", "in/a1.mp3", "in/a2.mp3", "in/a1.mp3", "Music/Artist/Album/07 Name.mp3"},
         {"Artist/Album/07 Name 1.mp3", "Artist/Album/07 Name 2.mp3", "Artist/Album/07 Name.mp3"}},
        {1,
         {"in/a0.mp3", "in/a1.mp3", "in/u0.mp3", "in/u1.mp3"},
         {"Artist/Album/07 Name.mp3", "Unknown Artist/Album/07 Name 1.mp3",
          "Unknown Artist/Album/07 Name.mp3"}}};
    for (const Case& c : cases) {
        SongFolder folder;
        folder.songs.SetDontDupSongs(c.dontDup);
        fixtures::SongSpec known = Song("Name", "Artist", "Album", 7), unknown = Song("Name", "", "Album", 7);
        for (std::uint32_t seed = 0; seed < 3; ++seed) {
            known.seed = unknown.seed = seed;
            fixtures::WriteSong(folder.tmp / ("in/a" + std::to_string(seed) + ".mp3"), known);
            fixtures::WriteSong(folder.tmp / ("in/u" + std::to_string(seed) + ".mp3"), unknown);
        }
        for (const std::string& name : c.added)
            EXPECT_EQ(folder.Add(name), 0) << name;
        EXPECT_EQ(ListFiles(folder.tmp / "Music"), c.filed);
        if (!c.dontDup) {
            EXPECT_EQ(ReadFile(folder.tmp / "Music/Artist/Album/07 Name 2.mp3"),
                      ReadFile(folder.tmp / "in/a2.mp3"));
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Types beyond MP3 and MP4

// Every tagged format is listed as songs, under its own type; facing an iPod, a song that will be
// converted carries the type it is converted to.
TEST(ADirSongDir, EachSongIsListedUnderTheTypeItHasOnTheOtherSide)
{
    for (const signed char facesIPod : {0, 1}) {
        SongFolder folder;
        folder.songs.SetConvertsForIPod(facesIPod);
        folder.Put("a/One.flac", Song("One"));
        folder.Put("a/Two.mp3", Song("Two"));
        folder.Put("a/Six.m4a", Song("Six"));
        // Header-only files whose tags the reader finds: an Ogg Opus, a WAV and an Ogg Vorbis file.
        WriteFile(folder.tmp / "Music/a/Three.opus", "OggS");
        WriteFile(folder.tmp / "Music/a/Four.wav", "RIFF");
        WriteFile(folder.tmp / "Music/a/Five.ogg", "OggS");
        WriteFile(folder.tmp / "Music/a/six.txt", "text");
        ASSERT_EQ(folder.List(), 0);
        std::map<std::string, std::string> types; // by name
        for (std::string record : Records(folder.songs)) {
            record = record.substr(0, record.find('?'));
            const std::size_t type = record.rfind('/'), name = record.rfind('/', type - 1);
            types[record.substr(name + 1, type - name - 1)] = record.substr(type + 1);
        }
        using Types = std::map<std::string, std::string>;
        const Types expected = facesIPod ? Types{{"One", "m4a"},   {"Two", "mp3"},  {"Six", "m4a"},
                                                 {"Three", "m4a"}, {"Four", "wav"}, {"Five", "m4a"}}
                                         : Types{{"One", "flac"},   {"Two", "mp3"},  {"Six", "m4a"},
                                                 {"Three", "opus"}, {"Four", "wav"}, {"Five", "ogg"}};
        EXPECT_EQ(types, expected);
    }
}

TEST(ADirSongDir, AStateSavedWithTheOldSongTypesListsTheNewOnes)
{
    struct Case {
        const char* saved;
        const char* read;
    };
    for (auto [saved, read] : {Case{":mp3:m4p:m4a:m4b:", AudioFormats::kSongTypes},
                               {":MP3:M4P:M4A:M4B:", AudioFormats::kSongTypes},
                               {":mp3:", ":mp3:"}}) {
        ADirSongDir before, after;
        before.SetFileExtentionIncludeFilter(AString(saved));
        fixtures::TempDir tmp;
        const fixtures::Bytes record =
            fixtures::BytesWrittenBy(tmp / "written", [&](AFile* f) { return before.WriteState(f); });
        AFile file;
        ASSERT_EQ(fixtures::OpenWith(file, tmp / "state", record), 0);
        ASSERT_EQ(after.ReadState(&file), 0);
        EXPECT_EQ(after.GetTypeIncludeFilter().ToStdString(), read) << saved;
    }
}
