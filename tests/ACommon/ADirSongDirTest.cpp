// A folder of songs as a song source: listing by tags, finding a song's file, the state record,
// and filing songs into the folder.

#include "ACommon/ADirSongDir.h"

#include "ACommon/AError.h"
#include "ACommon/ID3.h"
#include "ACommon/SongInfoStruct.h"
#include "fixtures/MusicFiles.h"
#include "fixtures/RecordingFrontend.h"
#include "fixtures/StateFile.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

using fixtures::Exists;
using fixtures::ListFiles;
using fixtures::ReadFile;
using fixtures::RecordingFrontend;
using fixtures::SetModTime;
using fixtures::TempDir;
using fixtures::WriteFile;

namespace {

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

fixtures::SongSpec Song(const std::string& title, const std::string& artist = "Artist",
                        const std::string& album = "Album", const std::string& genre = "Rock")
{
    fixtures::SongSpec spec;
    spec.title = title;
    spec.artist = artist;
    spec.album = album;
    spec.genre = genre;
    spec.seconds = 1;
    spec.bitRate = 32;
    return spec;
}

std::vector<std::string> Records(ADir& dir)
{
    std::vector<std::string> records;
    for (int i = 0; i < dir.Count(); ++i)
        records.push_back(dir.GetFPath(i)->ToStdString());
    return records;
}

// A folder "Music" in a temporary folder, listed as songs.
struct SongFolder {
    std::string Put(const std::string& relative, const fixtures::SongSpec& spec)
    {
        const std::string path = tmp / ("Music/" + relative);
        fixtures::WriteSong(path, spec);
        return path;
    }
    int List(CancelProc cancel = nullptr)
    {
        std::filesystem::create_directories(tmp / "Music");
        AString root = tmp.A("Music");
        return songs.InitWPath(&root, 0, cancel);
    }
    std::string Root() const { return tmp / "Music/"; }
    // The full path of a song of this folder, as a sync joins it: root and virtual path.
    AString Full(const std::string& vpath) const
    {
        AString full = tmp.A("Music/");
        full.AppendPathComponent(AString::FromUTF8(vpath));
        return full;
    }

    TempDir tmp;
    ADirSongDir songs;
};

} // namespace

// ---------------------------------------------------------------------------------------------
// Listing

TEST(ADirSongDir, ListsMusicFilesByTheirTagsWithTheirListIndexAsKey)
{
    SongFolder folder;
    folder.Put("a.mp3", Song("Song A"));
    WriteFile(folder.tmp / "Music/b.txt", "not music");
    ASSERT_EQ(folder.List(), 0);
    EXPECT_EQ(folder.songs.GetType(), ADir::kTypeSongFolder);
    EXPECT_EQ(Records(folder.songs), (std::vector<std::string>{"/Rock/Artist/Album/Song A/mp3?0"}));
    ASSERT_EQ(folder.songs.GetDiskList().Count(), 1);
    EXPECT_EQ(*folder.songs.GetDiskList().Get(0), "a.mp3");
}

TEST(ADirSongDir, ListingLeavesOutFoldersAndKeepsTheExtensionAsWritten)
{
    SongFolder folder;
    folder.Put("Artist/Album/01 One.mp3", Song("One"));
    folder.Put("Artist/Album/02 Two.M4A", Song("Two"));
    folder.Put("untagged/Track 3.mp3", fixtures::SongSpec{});
    ASSERT_EQ(folder.List(), 0);
    folder.songs.Sort(1);
    std::vector<std::string> records = Records(folder.songs);
    ASSERT_EQ(records.size(), 3u);
    const AString untagged = folder.tmp.A("Music/untagged/Track 3.mp3");
    EXPECT_EQ(records[0].substr(0, records[0].find('?')),
              "/*/" + std::to_string(ID3::CalcMusicSize(&untagged)) + "/*/Track/mp3");
    EXPECT_EQ(records[1].substr(0, records[1].find('?')), "/Rock/Artist/Album/One/mp3");
    EXPECT_EQ(records[2].substr(0, records[2].find('?')), "/Rock/Artist/Album/Two/M4A");
    // Every key finds its own file.
    for (const std::string& record : records) {
        AString path = AString::FromUTF8(record), disk;
        ASSERT_EQ(folder.songs.GetFileDiskPath(&path, &disk, 1), 0);
        AString vpath;
        ASSERT_EQ(folder.songs.MakeSongInfoString(&disk, &vpath), 0);
        EXPECT_EQ(record.substr(0, record.find('?')), vpath.ToStdString());
    }
}

TEST(ADirSongDir, FilesWhoseTagsCannotBeReadAreLeftOutCountedAndLoggedOnce)
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
    EXPECT_TRUE(Has(log, "Reading Song Dir: " + folder.Root()));
    EXPECT_TRUE(Has(log, "Reading Song Directory Done!"));
    EXPECT_TRUE(Has(log, "2 files could not be read"));
    EXPECT_EQ(log.find("could not be read"), log.rfind("could not be read"));
    EXPECT_EQ(frontend.detail.Text(), "3 / 3");
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
    ASSERT_EQ(folder.songs.Count(), 1);
    EXPECT_EQ(*folder.songs.GetFPath(0), "/Rock/Wanted/Album/Keep/mp3?0");
}

TEST(ADirSongDir, CancelLeavesOnlySongsInTheList)
{
    SongFolder folder;
    for (int i = 0; i < 3; ++i)
        folder.Put("s" + std::to_string(i) + ".mp3", Song("S" + std::to_string(i)));
    EXPECT_EQ(folder.List([] { return static_cast<signed char>(1); }), kErrUserCancel);
    for (const std::string& record : Records(folder.songs))
        EXPECT_NE(record.find('?'), std::string::npos) << record;
    EXPECT_EQ(folder.songs.Count(), folder.songs.GetDiskList().Count());
}

TEST(ADirSongDir, MissingFolderGivesAnErrorAndAnEmptyList)
{
    TempDir tmp;
    ADirSongDir songs;
    AString root = tmp.A("nowhere");
    EXPECT_EQ(songs.InitWPath(&root, 0, nullptr), kErrOpen);
    EXPECT_EQ(songs.Count(), 0);
}

// ---------------------------------------------------------------------------------------------
// Finding a song's file

TEST(ADirSongDir, KeyFindsTheFileAndAKeyOutsideTheListIsNotFound)
{
    SongFolder folder;
    const std::string file = folder.Put("x/a.mp3", Song("A"));
    ASSERT_EQ(folder.List(), 0);
    struct Case {
        const char* path;
        int result;
    };
    for (const Case& c : {Case{"/Rock/Artist/Album/A/mp3?0", 0},
                          {"/Rock/Artist/Album/A/mp3?1", kErrObjectNotFound},
                          {"/Rock/Artist/Album/A/mp3?", kErrObjectNotFound},
                          {"/Rock/Artist/Album/A/mp3?-1", kErrObjectNotFound},
                          {"/Rock/Artist/Album/A/mp3", kErrObjectNotFound}}) {
        AString path(c.path), disk;
        EXPECT_EQ(folder.songs.GetFileDiskPath(&path, &disk, 1), c.result) << c.path;
        if (c.result == 0) {
            EXPECT_EQ(disk.ToStdString(), file);
        }
    }
}

TEST(ADirSongDir, FullPathFindsTheSongIgnoringCaseAndKey)
{
    SongFolder folder;
    const std::string file = folder.Put("a.mp3", Song("Ébène", "Artist"));
    ASSERT_EQ(folder.List(), 0);
    // As a sync joins it (the path's own "/" dropped), with another side's key, in other case, and
    // with the accent as a separate mark.
    for (const char* vpath : {"/Rock/Artist/Album/Ébène/mp3?17", "/ROCK/artist/ALBUM/ébène/MP3?3",
                              "/Rock/Artist/Album/E\u0301be\u0300ne/mp3", "Rock/Artist/Album/Ébène/mp3?0"}) {
        AString full = folder.Full(vpath), disk;
        EXPECT_EQ(folder.songs.GetFileDiskPath(&full, &disk, 0), 0) << vpath;
        EXPECT_EQ(disk.ToStdString(), file) << vpath;
    }
    // Joined without dropping the path's own "/".
    AString doubled = AString::FromUTF8(folder.Root() + "/Rock/Artist/Album/Ébène/mp3?2"), found;
    EXPECT_EQ(folder.songs.GetFileDiskPath(&doubled, &found, 0), 0);
    EXPECT_EQ(found.ToStdString(), file);
    AString other = folder.Full("/Rock/Artist/Album/Ebene/mp3?0"), disk;
    EXPECT_EQ(folder.songs.GetFileDiskPath(&other, &disk, 0), kErrObjectNotFound);
    AString elsewhere = AString("/elsewhere/Rock/Artist/Album/Ébène/mp3?0");
    EXPECT_EQ(folder.songs.GetFileDiskPath(&elsewhere, &disk, 0), kErrObjectNotFound);
}

TEST(ADirSongDir, FullPathFindsTheFirstRecordAsTheListStandsNow)
{
    SongFolder folder;
    // Three copies of one song and one other: the index must give what a search through the list
    // in its current order would give, after sorting and deleting records too.
    const std::string files[] = {folder.Put("c.mp3", Song("Same")), folder.Put("a.mp3", Song("Same")),
                                 folder.Put("b.mp3", Song("Same")), folder.Put("d.mp3", Song("Other"))};
    ASSERT_EQ(folder.List(), 0);
    auto firstBySearch = [&folder](const std::string& vpath) {
        for (int i = 0; i < folder.songs.Count(); ++i) {
            AString record = *folder.songs.GetFPath(i);
            AString song = record.Left(record.ReverseFind('?'));
            if (song.CompareNoCase(AString::FromUTF8(vpath)) == 0) {
                AString disk;
                folder.songs.GetFileDiskPath(&record, &disk, 1);
                return disk.ToStdString();
            }
        }
        return std::string();
    };
    auto byIndex = [&folder](const std::string& vpath) {
        AString full = folder.Full(vpath + "?99"), disk;
        folder.songs.GetFileDiskPath(&full, &disk, 0);
        return disk.ToStdString();
    };
    const std::string same = "/Rock/Artist/Album/Same/mp3";
    EXPECT_EQ(byIndex(same), firstBySearch(same));
    folder.songs.Sort(0);
    EXPECT_EQ(byIndex(same), firstBySearch(same));
    folder.songs.Sort(1);
    EXPECT_EQ(byIndex(same), firstBySearch(same));
    const std::string before = byIndex(same);
    for (int i = 0; i < folder.songs.Count(); ++i) {
        AString disk;
        folder.songs.GetFileDiskPath(folder.songs.GetFPath(i), &disk, 1);
        if (disk.ToStdString() == before) {
            folder.songs.DeleteEntry(i, 0, 0);
            break;
        }
    }
    EXPECT_NE(byIndex(same), before);
    EXPECT_EQ(byIndex(same), firstBySearch(same));
    EXPECT_EQ(byIndex("/Rock/Artist/Album/Other/mp3"), files[3]);
}

TEST(ADirSongDir, FileQuestionsAreAnsweredFromTheSongsFile)
{
    SongFolder folder;
    fixtures::SongSpec spec = Song("A");
    spec.seconds = 3;
    const std::string file = folder.Put("a.mp3", spec);
    SetModTime(file, 1200000000);
    ASSERT_EQ(folder.List(), 0);
    AString full = folder.Full("/Rock/Artist/Album/A/mp3?5"),
            missing = folder.Full("/Rock/Artist/Album/B/mp3?0");
    // The record carries no time; the file's time is asked for.
    EXPECT_EQ(folder.songs.GetDiskList().Count(), 1);
    EXPECT_TRUE(folder.songs.FileExists(&full));
    EXPECT_FALSE(folder.songs.FileExists(&missing));
    EXPECT_EQ(folder.songs.GetFileModTime(&full), 1200000000u + AFile::kFileTimeOffset);
    EXPECT_EQ(folder.songs.GetFileModTime(&missing), 0u);
    SongInfoStruct info;
    info.name = "untouched";
    EXPECT_EQ(folder.songs.GetSongInfo(&full, &info), 0);
    EXPECT_EQ(info.duration, 3);
    EXPECT_EQ(info.bitRate, 32);
    EXPECT_EQ(info.name, "untouched");
    EXPECT_EQ(folder.songs.GetSongInfo(&missing, &info), kErrObjectNotFound);
    std::filesystem::remove(file);
    EXPECT_FALSE(folder.songs.FileExists(&full));
    EXPECT_EQ(folder.songs.GetSongInfo(&full, &info), kErrFileNotFound);
}

TEST(ADirSongDir, DeleteMovesTheSongsFileIntoRemovedFiles)
{
    SongFolder folder;
    folder.Put("deep/er/a.mp3", Song("A"));
    folder.Put("b.mp3", Song("B"));
    ASSERT_EQ(folder.List(), 0);
    folder.songs.Sort(1);
    AString a = folder.Full(folder.songs.GetFPath(0)->ToStdString());
    EXPECT_EQ(folder.songs.Delete(&a, 1, 1), 0); // keepFile: nothing happens
    EXPECT_EQ(folder.songs.Delete(&a, 1, 0), 0);
    EXPECT_EQ(ListFiles(folder.tmp.Path()),
              (std::vector<std::string>{"Music/b.mp3", "Removed Files/Artist/Album/a.mp3"}));
    // Already gone.
    EXPECT_EQ(folder.songs.Delete(&a, 1, 0), 0);
    folder.songs.SetMoveInsteadOfDelete(0);
    EXPECT_EQ(folder.songs.DeleteEntry(1, 1, 0), 0);
    EXPECT_EQ(ListFiles(folder.tmp / "Music"), std::vector<std::string>{});
    EXPECT_EQ(folder.songs.Count(), 1);
}

TEST(ADirSongDir, DeleteAllEmptiesBothLists)
{
    SongFolder folder;
    folder.Put("a.mp3", Song("A"));
    ASSERT_EQ(folder.List(), 0);
    folder.songs.DeleteAll();
    EXPECT_EQ(folder.songs.Count(), 0);
    EXPECT_EQ(folder.songs.GetDiskList().Count(), 0);
    AString full = folder.Full("/Rock/Artist/Album/A/mp3?0"), disk;
    EXPECT_EQ(folder.songs.GetFileDiskPath(&full, &disk, 0), kErrObjectNotFound);
}

TEST(ADirSongDir, StateRecordRestoresTheSongsAndTheirFiles)
{
    SongFolder folder;
    const std::string file = folder.Put("x/a.mp3", Song("A"));
    folder.Put("b.mp3", Song("B"));
    folder.songs.SetAlbumRelevantOnDupSongCompare(0);
    ASSERT_EQ(folder.List(), 0);
    int result = -1;
    fixtures::Bytes written = fixtures::BytesWrittenBy(
        folder.tmp / "state", [&folder](AFile* f) { return folder.songs.WriteState(f); }, &result);
    ASSERT_EQ(result, 0);
    ASSERT_GE(written.size(), 8u);
    // The mark is 10002 in decimal, then the song source's record.
    EXPECT_EQ(fixtures::Bytes(written.begin(), written.begin() + 8),
              (fixtures::Bytes{0x12, 0x27, 0x00, 0x00, 0x05, 0x00, 0x10, 0x00}));

    ADirSongDir back;
    AFile in;
    AString statePath = folder.tmp.A("state");
    ASSERT_EQ(in.Open(&statePath, 1), 0);
    ASSERT_EQ(back.ReadState(&in), 0);
    EXPECT_EQ(in.Remaining(), 0u);
    EXPECT_EQ(Records(back), Records(folder.songs));
    EXPECT_EQ(back.GetAlbumRelevantOnDupSongCompare(), 0);
    AString full = folder.Full("/Rock/Artist/A/mp3?9"), disk;
    EXPECT_EQ(back.GetFileDiskPath(&full, &disk, 0), 0);
    EXPECT_EQ(disk.ToStdString(), file);

    AFile plain;
    ASSERT_EQ(fixtures::OpenWith(plain, folder.tmp / "plain", fixtures::Bytes{0x05, 0x00, 0x10, 0x00}), 0);
    EXPECT_EQ(back.ReadState(&plain), kErrVersion);
}

// ---------------------------------------------------------------------------------------------
// Filing songs into the folder

TEST(ADirSongDir, AddedSongsAreFiledUnderArtistAlbumAndTrackNumberedNames)
{
    struct Case {
        fixtures::SongSpec spec;
        const char* source;
        const char* fallback;
        const char* filed;
    };
    auto with = [](fixtures::SongSpec spec, int track, int disc, int discCount) {
        spec.track = track;
        spec.disc = disc;
        spec.discCount = discCount;
        return spec;
    };
    fixtures::SongSpec compilation = Song("Hit");
    compilation.compilation = true;
    const Case cases[] = {
        {with(Song("Name"), 7, 1, 1), "in/a.mp3", nullptr, "Artist/Album/07 Name.mp3"},
        {with(Song("Name"), 7, 2, 2), "in/b.mp3", nullptr, "Artist/Album/2-07 Name.mp3"},
        {with(Song("Twelve"), 12, 0, 0), "in/c.mp3", nullptr, "Artist/Album/12 Twelve.mp3"},
        {Song("No Track"), "in/d.m4a", nullptr, "Artist/Album/No Track.m4a"},
        {compilation, "in/e.mp3", nullptr, "Compilations/Album/Hit.mp3"},
        {Song("Lonely", "", ""), "in/f.mp3", nullptr, "Unknown Artist/Unknown Album/Lonely.mp3"},
        {Song(" What? A/B "), "in/g.mp3", nullptr, "Artist/Album/What_ A_B.mp3"},
        {with(Song(""), 3, 0, 0), "in/h.mp3", "Fallback", "Artist/Album/03 Fallback.mp3"},
        {with(Song(""), 3, 0, 0), "in/own name.mp3", nullptr, "Artist/Album/03 own name.mp3"},
        {Song("Dots", " .hidden", "end."), "in/i.mp3", nullptr, "_hidden/end_/Dots.mp3"},
    };
    for (const Case& c : cases) {
        TempDir tmp;
        std::filesystem::create_directories(tmp / "Music");
        fixtures::WriteSong(tmp / c.source, c.spec);
        ADirSongDir songs;
        AString root = tmp.A("Music"), file = tmp.A(c.source);
        songs.SetRootPath(&root);
        AString fallback(c.fallback ? c.fallback : "");
        EXPECT_EQ(songs.AddSongFromDisk(&file, c.fallback ? &fallback : nullptr, nullptr), 0) << c.filed;
        EXPECT_EQ(ListFiles(tmp / "Music"), std::vector<std::string>{c.filed});
        EXPECT_EQ(ReadFile(tmp / ("Music/" + std::string(c.filed))), ReadFile(tmp / c.source)) << c.filed;
    }
}

TEST(ADirSongDir, AddingTheSameFileAgainCopiesNothing)
{
    SongFolder folder;
    fixtures::SongSpec spec = Song("Name");
    spec.track = 7;
    fixtures::WriteSong(folder.tmp / "in/a.mp3", spec);
    std::filesystem::create_directories(folder.tmp / "Music");
    AString root = folder.tmp.A("Music"), file = folder.tmp.A("in/a.mp3");
    folder.songs.SetRootPath(&root);
    EXPECT_EQ(folder.songs.AddSongFromDisk(&file, nullptr, nullptr), 0);
    EXPECT_EQ(folder.songs.AddSongFromDisk(&file, nullptr, nullptr), 0);
    // The file already in place, added from where it is.
    AString inPlace = folder.tmp.A("Music/Artist/Album/07 Name.mp3");
    EXPECT_EQ(folder.songs.AddSongFromDisk(&inPlace, nullptr, nullptr), 0);
    EXPECT_EQ(ListFiles(folder.tmp / "Music"), std::vector<std::string>{"Artist/Album/07 Name.mp3"});
}

TEST(ADirSongDir, DifferentFilesWithEqualTagsGetCopyNumbers)
{
    SongFolder folder;
    std::filesystem::create_directories(folder.tmp / "Music");
    AString root = folder.tmp.A("Music");
    folder.songs.SetRootPath(&root);
    for (std::uint32_t seed = 0; seed < 3; ++seed) {
        fixtures::SongSpec spec = Song("Name");
        spec.track = 7;
        spec.seed = seed;
        fixtures::WriteSong(folder.tmp / ("in/" + std::to_string(seed) + ".mp3"), spec);
    }
    for (const char* name : {"in/0.mp3", "in/1.mp3", "in/2.mp3", "in/1.mp3"}) {
        AString file = folder.tmp.A(name);
        EXPECT_EQ(folder.songs.AddSongFromDisk(&file, nullptr, nullptr), 0) << name;
    }
    EXPECT_EQ(ListFiles(folder.tmp / "Music"),
              (std::vector<std::string>{"Artist/Album/07 Name 1.mp3", "Artist/Album/07 Name 2.mp3",
                                        "Artist/Album/07 Name.mp3"}));
    EXPECT_EQ(ReadFile(folder.tmp / "Music/Artist/Album/07 Name 2.mp3"), ReadFile(folder.tmp / "in/2.mp3"));
}

TEST(ADirSongDir, DontDupSongsTakesASongOfAKnownArtistAsPresent)
{
    SongFolder folder;
    std::filesystem::create_directories(folder.tmp / "Music");
    AString root = folder.tmp.A("Music");
    folder.songs.SetRootPath(&root);
    folder.songs.SetDontDupSongs(1);
    fixtures::SongSpec known = Song("Name"), unknown = Song("Name", "");
    for (std::uint32_t seed = 0; seed < 2; ++seed) {
        known.seed = unknown.seed = seed;
        fixtures::WriteSong(folder.tmp / ("in/known" + std::to_string(seed) + ".mp3"), known);
        fixtures::WriteSong(folder.tmp / ("in/unknown" + std::to_string(seed) + ".mp3"), unknown);
    }
    for (const char* name : {"in/known0.mp3", "in/known1.mp3", "in/unknown0.mp3", "in/unknown1.mp3"}) {
        AString file = folder.tmp.A(name);
        EXPECT_EQ(folder.songs.AddSongFromDisk(&file, nullptr, nullptr), 0) << name;
    }
    EXPECT_EQ(ListFiles(folder.tmp / "Music"),
              (std::vector<std::string>{"Artist/Album/Name.mp3", "Unknown Artist/Album/Name 1.mp3",
                                        "Unknown Artist/Album/Name.mp3"}));
}

TEST(ADirSongDir, AddingAFileWithoutReadableTagsFails)
{
    SongFolder folder;
    std::filesystem::create_directories(folder.tmp / "Music");
    AString root = folder.tmp.A("Music"), empty = folder.tmp.A("empty.mp3"),
            missing = folder.tmp.A("none.mp3");
    WriteFile(folder.tmp / "empty.mp3", std::string());
    folder.songs.SetRootPath(&root);
    EXPECT_EQ(folder.songs.AddSongFromDisk(&empty, nullptr, nullptr), kErrFileNotFound);
    EXPECT_EQ(folder.songs.AddSongFromDisk(&missing, nullptr, nullptr), kErrFileNotFound);
    EXPECT_EQ(ListFiles(folder.tmp / "Music"), std::vector<std::string>{});
}
