// The song source base: virtual paths, tag filters, the state record, the choice of the copy to
// keep and the duplicate scan.

#include "ACommon/sources/ADirSong.h"

#include "ACommon/base/AError.h"
#include "fixtures/MusicFiles.h"
#include "fixtures/RecordingFrontend.h"
#include "fixtures/StateFile.h"
#include "fixtures/TempDir.h"
#include "fixtures/Text.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

using fixtures::ListFiles;
using fixtures::RecordingFrontend;
using fixtures::SetModTime;
using fixtures::TempDir;
using fixtures::WriteFile;

namespace {

using fixtures::Has;

// Sets the same mode and lists on the genre, artist and album filters.
void SetValueFilters(ADirSong& song, int mode, const char* include, const char* exclude)
{
    song.SetGenreFilterMode(mode);
    song.SetGenreIncludeFilter(AString(include));
    song.SetGenreExcludeFilter(AString(exclude));
    song.SetArtistFilterMode(mode);
    song.SetArtistIncludeFilter(AString(include));
    song.SetArtistExcludeFilter(AString(exclude));
    song.SetAlbumFilterMode(mode);
    song.SetAlbumIncludeFilter(AString(include));
    song.SetAlbumExcludeFilter(AString(exclude));
}

// A song source over a fixed list whose keys name files in a table, so that the scan can be given
// any list, two records of one file included.
class ListedSongs : public ADirSong {
public:
    void Add(const std::string& record, const std::string& disk)
    {
        AString path = AString::FromUTF8(record);
        AddFPath(&path);
        disks[record.substr(record.rfind('?') + 1)] = disk;
    }
    int GetFileDiskPath(const AString* path, AString* diskPath, signed char) override
    {
        std::string text = path->ToStdString();
        auto found = disks.find(text.substr(text.rfind('?') + 1));
        if (found == disks.end())
            return kErrObjectNotFound;
        *diskPath = AString::FromUTF8(found->second);
        return 0;
    }
    // A record's file is the file of its key, as in every song source.
    int Delete(const AString* path, signed char fromList, signed char keepFile) override
    {
        AString disk;
        if (int err = GetFileDiskPath(path, &disk, fromList); err != 0)
            return err;
        return ADir::Delete(&disk, fromList, keepFile);
    }
    APLock& Busy() { return busyLock; }

private:
    std::map<std::string, std::string> disks;
};

// A folder with songs for the scan: each entry names a file below the folder "Music".
struct ScanFolder {
    ScanFolder()
    {
        AString root = tmp.A("Music");
        songs.SetRootPath(&root);
    }
    std::string Song(const std::string& name, int seconds = 1)
    {
        fixtures::SongSpec song = fixtures::SongSpecOf("Song");
        song.seconds = seconds;
        const std::string path = tmp / ("Music/" + name);
        fixtures::WriteSong(path, song);
        SetModTime(path, 1000000000);
        return path;
    }
    // Two records of the song `name`: "name.mp3" and its copy "name 1.mp3".
    void AddPair(const std::string& name)
    {
        songs.Add("/R/X/Y/" + name + "/mp3?" + name + "0", Song(name + ".mp3"));
        songs.Add("/R/X/Y/" + name + "/mp3?" + name + "1", Song(name + " 1.mp3"));
    }
    TempDir tmp;
    ListedSongs songs;
};

} // namespace

// ---------------------------------------------------------------------------------------------
// Virtual paths

// The flags choose the components (genre, artist, album, name, type); the music size is asked for,
// and stands for the artist, only for an untagged song, which loses a copy number (a space and one
// digit 1 to 9) too. Blank tags are no tags ("*"); components are made path-safe.
TEST(ADirSong, VirtualPathHasTheComponentsTheFlagsChoose)
{
    struct Case {
        signed char genre, album, type;
        const char *genreTag, *artist, *albumTag, *name, *extension, *key, *expected;
    };
    const char *rock = "Rock", *artist = "Some Artist", *album = "Some Album", *song = "Some Song";
    const Case cases[] = {
        {1, 1, 1, rock, artist, album, song, "mp3", "12", "/Rock/Some Artist/Some Album/Some Song/mp3?12"},
        {0, 1, 1, rock, artist, album, song, "mp3", "12", "/Some Artist/Some Album/Some Song/mp3?12"},
        {1, 0, 1, rock, artist, album, song, "mp3", "12", "/Rock/Some Artist/Some Song/mp3?12"},
        {1, 1, 0, rock, artist, album, song, "mp3", "12", "/Rock/Some Artist/Some Album/Some Song?12"},
        {0, 0, 0, rock, artist, album, song, "mp3", "12", "/Some Artist/Some Song?12"},
        {1, 1, 1, "", "", "", "Track 2", "mp3", "7", "/*/99/*/Track/mp3?7"},
        // Tags that are not part of the path do not count: without genre and album, a song with no
        // artist is untagged whatever its genre and album say; one usable tag keeps name and artist.
        {0, 0, 1, rock, "", "Album", "Track 2", "mp3", nullptr, "/99/Track/mp3"},
        {1, 1, 1, rock, "", "", "Track 2", "mp3", nullptr, "/Rock/*/*/Track 2/mp3"},
        {1, 1, 1, "", "", "Album", "Track 2", "mp3", nullptr, "/*/*/Album/Track 2/mp3"},
        {0, 0, 0, "", "", "", "Track 12", "mp3", nullptr, "/99/Track 12"},
        {1, 1, 1, " Hard Rock ", "AC/DC", "Who? Me: \"Live\" <1|2>", "Back\\Slash*", "MP3", nullptr,
         "/Hard Rock/AC_DC/Who_ Me_ _Live_ _1_2_/Back_Slash_/MP3"},
        {1, 1, 1, "", "Artist", "", "", "", nullptr, "/*/Artist/*/*/*"},
        {1, 1, 0, "\t", "Artist", "  \t", "Song", "mp3", nullptr, "/*/Artist/*/Song"}};
    for (const Case& c : cases) {
        bool asked = false;
        auto musicSize = [&asked] {
            asked = true;
            return std::uint64_t{99};
        };
        const AString key(c.key ? c.key : "");
        const std::string path =
            ADirSong::MakeVirtualPath(c.genre, c.album, c.type, AString(c.genreTag), AString(c.artist),
                                      AString(c.albumTag), AString(c.name), AString(c.extension), musicSize,
                                      c.key ? &key : nullptr)
                .ToStdString();
        EXPECT_EQ(path, c.expected);
        EXPECT_EQ(asked, path.find("99") != std::string::npos) << c.expected;
    }
}

// ---------------------------------------------------------------------------------------------
// Tag filters

TEST(ADirSong, ValueFiltersMatchWholeValuesIgnoringCase)
{
    ADirSong song;
    struct Case {
        int mode;
        const char *include, *exclude, *value;
        bool passes;
    };
    // An active list that is empty filters nothing; an empty value is "*", as a path shows it.
    const Case cases[] = {{1, ":Rock:Jazz:", "", "rock", true},  {1, ":Rock:Jazz:", "", "Rockabilly", false},
                          {1, ":Rock:Jazz:", "", "Roc", false},  {1, ":Rock:Jazz:", "", "", false},
                          {1, ":Rock:*:", "", "", true},         {2, "", ":Rock:", "ROCK", false},
                          {2, "", ":Rock:", "Hard Rock", true},  {3, ":Rock:Jazz:", ":jazz:", "Jazz", false},
                          {0, ":Rock:", ":Jazz:", "Jazz", true}, {1, "", "", "Pop", true}};
    for (const Case& c : cases) {
        AString value(c.value);
        SetValueFilters(song, c.mode, c.include, c.exclude);
        EXPECT_EQ(song.GenreFilterCheck(&value), c.passes) << c.value << " mode " << c.mode;
        EXPECT_EQ(song.ArtistFilterCheck(&value), c.passes) << c.value << " mode " << c.mode;
        EXPECT_EQ(song.AlbumFilterCheck(&value), c.passes) << c.value << " mode " << c.mode;
    }
    // Genre and album filters pass everything when they are not part of the path.
    SetValueFilters(song, 1, ":Rock:", "");
    song.SetGenreRelevantOnDupSongCompare(0);
    song.SetAlbumRelevantOnDupSongCompare(0);
    AString pop("Pop");
    EXPECT_TRUE(song.GenreFilterCheck(&pop));
    EXPECT_TRUE(song.AlbumFilterCheck(&pop));
    EXPECT_FALSE(song.ArtistFilterCheck(&pop));
}

TEST(ADirSong, VirtualPathFiltersMatchTheComponentTheFlagsName)
{
    ADirSong song;
    song.SetArtistFilterMode(1);
    song.SetArtistIncludeFilter(AString(":Keep:"));
    song.SetSongNameFilterMode(3);
    song.SetSongNameIncludeFilter(AString(":ong:Live:Remix"));
    song.SetSongNameExcludeFilter(AString(":Live:Demo:"));
    struct Case {
        signed char withGenre, withAlbum;
        const char* vpath;
        bool passes;
    };
    // With genre not relevant the artist is the first component; without the file type the name
    // runs to the key. Song names match fragments with case; the outer colons of a list may be left
    // out.
    const Case cases[] = {
        {1, 1, "/Rock/Keep/Album/Song/mp3?1", true},   {1, 1, "/Keep/Other/Album/Song/mp3?1", false},
        {0, 1, "/Keep/Album/Song/mp3?1", true},        {0, 0, "/Keep/Song Live/mp3?1", false},
        {1, 1, "/Rock/Keep/Album/Live Song?3", false}, {1, 1, "/Rock/Keep/Album/Song?3", true},
        {1, 1, "/Rock/Keep/Album/Old Demo?3", false},  {1, 1, "/Rock/Keep/Album/long live?3", true},
        {1, 1, "/Rock/Keep/Album/SONG?3", false},      {1, 1, "/Rock/Keep/Album/Remix?3", true}};
    for (const Case& c : cases) {
        song.SetGenreRelevantOnDupSongCompare(c.withGenre);
        song.SetAlbumRelevantOnDupSongCompare(c.withAlbum);
        AString vpath(c.vpath);
        EXPECT_EQ(song.VPathFilterCheck(&vpath), c.passes) << c.vpath;
    }
    song.SetGenreRelevantOnDupSongCompare(1);
    song.SetAlbumRelevantOnDupSongCompare(1);
    song.SetGenreFilterMode(2);
    song.SetGenreExcludeFilter(AString(":rock:"));
    song.SetAlbumFilterMode(1);
    song.SetAlbumIncludeFilter(AString(":Album:"));
    AString rock("/Rock/Keep/Album/Song/mp3?1"), jazz("/Jazz/Keep/Album/Song/mp3?1"),
        other("/Jazz/Keep/B/Song/mp3?1");
    EXPECT_FALSE(song.VPathGenreFilterCheck(&rock));
    EXPECT_TRUE(song.VPathFilterCheck(&jazz));
    EXPECT_FALSE(song.VPathAlbumFilterCheck(&other));
}

// ---------------------------------------------------------------------------------------------
// Which copy is kept

TEST(ADirSong, EachRuleForTheCopyToKeepDecidesInItsTurn)
{
    TempDir tmp;
    // Protected files with a store account (none when empty), and plain files.
    const std::pair<const char*, const char*> accounts[] = {{"mine.m4p", "me@example.com"},
                                                            {"theirs.m4p", "someone@example.com"},
                                                            {"noaccount.m4p", ""},
                                                            {"part.m4p", "one"}};
    for (auto [name, account] : accounts) {
        fixtures::Mp4Spec movie;
        movie.audio = fixtures::Bytes(1000, 0x22);
        movie.items = {fixtures::TextItem(fixtures::kItemName, "Song")};
        if (*account)
            movie.items.push_back(fixtures::TextItem("apID", account));
        WriteFile(tmp / name, fixtures::Mp4File(movie));
        SetModTime(tmp / name, 1000000000);
    }
    const std::pair<const char*, std::size_t> sizes[] = {
        {"big.mp3", 90000}, {"a.m4a", 90000},  {"b.mp3", 10},     {"c.MP3", 20},
        {"old.mp3", 1000},  {"new.mp3", 1000}, {"Song.mp3", 100}, {"Song 2.mp3", 100}};
    for (auto [name, size] : sizes) {
        WriteFile(tmp / name, std::string(size, 'x'));
        SetModTime(tmp / name, std::string(name) == "new.mp3" ? 1100000000 : 1000000000);
    }
    struct Case {
        const char *a, *b, *appleIDs;
        signed char deleteNotOwned, favorProtected;
        const char* favorTypes;
        signed char sizeFirst;
        int kept;
    };
    const char* me = ":Me@Example.com:other@example.com:";                // accounts are found ignoring case
    const Case cases[] = {{"mine.m4p", "big.mp3", me, 1, 1, "", 1, 1},    // owned beats a larger file
                          {"theirs.m4p", "mine.m4p", me, 1, 1, "", 1, 2}, // not owned loses at once,
                          {"mine.m4p", "theirs.m4p", me, 1, 1, "", 1, 1}, // on either side
                          {"noaccount.m4p", "big.mp3", me, 1, 1, "", 1, 2},   // no account: not protected
                          {"part.m4p", "b.mp3", ":someone:", 1, 1, "", 1, 2}, // accounts are whole entries
                          {"theirs.m4p", "big.mp3", me, 0, 1, "", 1, 1},      // ownership counts only if
                          {"theirs.m4p", "big.mp3", me, 0, 0, "", 1, 2},      // not-owned music goes
                          {"a.m4a", "b.mp3", "", 1, 1, ":aac:mp3:", 1, 2},    // a favoured type beats size
                          {"b.mp3", "c.MP3", "", 1, 1, ":aac:mp3:", 1, 2},    // both favoured: size
                          {"big.mp3", "new.mp3", "", 1, 1, "", 1, 1},         // size first
                          {"old.mp3", "new.mp3", "", 1, 1, "", 1, 2},         // then the newer
                          {"big.mp3", "new.mp3", "", 1, 1, "", 0, 2},         // date first
                          {"big.mp3", "old.mp3", "", 1, 1, "", 0, 1},         // then the larger
                          {"Song 2.mp3", "Song.mp3", "", 1, 1, "", 1, 2}};    // a copy number loses a tie
    for (const Case& c : cases) {
        ADirSong song;
        song.SetAppleIDs(AString(c.appleIDs));
        song.SetDeleteMusicNotOwned(c.deleteNotOwned);
        song.SetFavorProtectedMusic(c.favorProtected);
        song.SetFavorFileTypes(AString(c.favorTypes));
        song.SetFavorSizeVsDate(c.sizeFirst);
        AString a = tmp.A(c.a), b = tmp.A(c.b);
        EXPECT_EQ(song.DirPickFileToKeep(&a, &b), c.kept) << c.a << " / " << c.b;
    }
}

// ---------------------------------------------------------------------------------------------
// The duplicate scan

TEST(ADirSong, SilentScanDropsOnlyDuplicateRecords)
{
    RecordingFrontend frontend;
    ScanFolder folder;
    const std::string small = folder.Song("A.mp3", 1), large = folder.Song("a 1.mp3", 2),
                      other = folder.Song("B.mp3");
    folder.songs.Add("/Rock/X/Y/A/mp3?0", small);
    folder.songs.Add("/rock/x/y/a/MP3?1", large);
    folder.songs.Add("/Rock/X/Y/B/mp3?2", other);
    for (int i = 0; i < 3; ++i) // a run of equal songs shrinks to one
        folder.songs.Add("/R/A/B/S/mp3?" + std::to_string(3 + i),
                         folder.Song("S " + std::to_string(i) + ".mp3"));
    EXPECT_EQ(folder.songs.ScanForDuplicates(0, 1, 1, nullptr, 0), 0);
    // The larger file's record stays.
    ASSERT_EQ(folder.songs.Count(), 3);
    EXPECT_EQ(*folder.songs.GetFPath(1), "/rock/x/y/a/MP3?1");
    EXPECT_EQ(*folder.songs.GetFPath(2), "/Rock/X/Y/B/mp3?2");
    EXPECT_TRUE(frontend.questions.Asked().empty());
    EXPECT_EQ(ListFiles(folder.tmp / "Music").size(), 6u);
}

TEST(ADirSong, TwoRecordsOfOneFileLoseOnlyTheRecord)
{
    RecordingFrontend frontend;
    ScanFolder folder;
    const std::string file = folder.Song("Song.mp3");
    folder.songs.Add("/R/A/B/Song/mp3?0", file);
    folder.songs.Add("/R/A/B/Song/mp3?1", file);
    EXPECT_EQ(folder.songs.ScanForDuplicates(1, 1, 1, nullptr, 1), 0);
    ASSERT_EQ(frontend.questions.Asked().size(), 1u);
    EXPECT_EQ(frontend.questions.Asked()[0].title.rfind("Detected Dup: /R/A/B/Song/mp3 from ", 0), 0u);
    EXPECT_EQ(folder.songs.Count(), 1);
    EXPECT_EQ(ListFiles(folder.tmp.Path()), (std::vector<std::string>{"Music/Song.mp3"}));
}

TEST(ADirSong, ToAllAnswersHoldForEveryLaterRemoval)
{
    for (const char* answer : {"Yes to All", "No to All"}) {
        RecordingFrontend frontend;
        ScanFolder folder;
        for (const char* song : {"A", "B", "C"})
            folder.AddPair(song);
        folder.songs.SetVerboseLog(1);
        frontend.questions.Script({answer});
        EXPECT_EQ(folder.songs.ScanForDuplicates(1, 1, 1, nullptr, 1), 0) << answer;
        ASSERT_EQ(frontend.questions.Asked().size(), 1u) << answer;
        EXPECT_EQ(frontend.questions.Asked()[0].title,
                  "Deleting Duplicate: /R/X/Y/C/mp3 from " + folder.tmp / "Music/C 1.mp3");
        const bool yes = std::string(answer) == "Yes to All";
        EXPECT_EQ(folder.songs.Count(), yes ? 3 : 6) << answer;
        EXPECT_EQ(ListFiles(folder.tmp / "Music").size(), yes ? 3u : 6u) << answer;
        EXPECT_EQ(ListFiles(folder.tmp / "Removed Files").size(), yes ? 3u : 0u) << answer;
        // The log names what was removed, and nothing that was kept.
        const std::string log = frontend.Log();
        std::size_t lines = 0;
        for (std::size_t at = log.find("Deleting Duplicate: "); at != std::string::npos;
             at = log.find("Deleting Duplicate: ", at + 1))
            ++lines;
        EXPECT_EQ(lines, yes ? 3u : 0u) << answer;
    }
}

// The five scans run in one frame, which refuses a busy source: the duplicate scan stands for them.
TEST(ADirSong, ScanOfABusySourceIsRefused)
{
    ScanFolder folder;
    folder.AddPair("S");
    folder.songs.Busy().Lock();
    EXPECT_EQ(folder.songs.ScanForDuplicates(1, 1, 1, nullptr, 0), kErrBusy);
    folder.songs.Busy().Unlock();
    EXPECT_EQ(folder.songs.Count(), 2);
}

// A removal that fails, or a cancel, ends the scan with what it removed so far: of the pairs A and
// B (scanned from the end), only B's lost its record.
TEST(ADirSong, AFailedRemovalOrACancelEndsTheScan)
{
    struct Case {
        const char* what;
        bool copiesMissing; // the second file of each pair: moving it fails
        CancelProc cancel;
        int expected;
        const char* logged;
    };
    for (const Case& c : {Case{"failed removal", true, nullptr, kErrFileNotFound, "Error Deleting!"},
                          Case{"cancel", false, [] { return static_cast<signed char>(1); }, kErrUserCancel,
                               "User Cancelled."}}) {
        RecordingFrontend frontend;
        ScanFolder folder;
        for (std::string song : {"A", "B"}) {
            folder.songs.Add("/R/X/Y/" + song + "/mp3?" + song + "0", folder.Song(song + ".mp3"));
            const std::string copy = song + (c.copiesMissing ? " gone.mp3" : " 1.mp3");
            folder.songs.Add("/R/X/Y/" + song + "/mp3?" + song + "1",
                             c.copiesMissing ? folder.tmp / ("Music/" + copy) : folder.Song(copy));
        }
        const signed char deleteFiles = c.copiesMissing ? 1 : 0;
        EXPECT_EQ(folder.songs.ScanForDuplicates(deleteFiles, 1, 1, c.cancel, 1 - deleteFiles), c.expected)
            << c.what;
        EXPECT_EQ(folder.songs.Count(), 3) << c.what;
        EXPECT_TRUE(Has(frontend.Log(), c.logged)) << c.what << frontend.Log();
    }
}

TEST(ADirSongNames, FitNameCutsTheStemByBytesOnACharacterBoundary)
{
    auto repeat = [](const std::string& piece, int times) {
        std::string out;
        for (int i = 0; i < times; ++i)
            out += piece;
        return out;
    };
    struct Case {
        std::string stem, tail, expected;
    };
    const std::string emoji = "\xF0\x9F\x8E\xB5"; // 4 bytes, two UTF-16 units
    for (const Case& c : {
             Case{"Song", " 2.mp3", "Song 2.mp3"},
             Case{repeat("a", 300), ".mp3", repeat("a", 251) + ".mp3"},
             Case{repeat("\xE8\xAA\x9E", 90), " 12.m4a", repeat("\xE8\xAA\x9E", 82) + " 12.m4a"},
             Case{repeat(emoji, 70), ".mp3", repeat(emoji, 62) + ".mp3"},
             Case{repeat("a", 249) + " . bcd", ".mp3", repeat("a", 249) + ".mp3"},
         }) {
        const std::string fitted =
            ADirSong::FitName(AString::FromUTF8(c.stem), AString::FromUTF8(c.tail)).ToStdString();
        EXPECT_EQ(fitted, c.expected) << c.stem.size() << " bytes";
        EXPECT_LE(fitted.size(), 255u);
    }
}
