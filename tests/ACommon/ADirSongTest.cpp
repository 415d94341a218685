// The song source base: virtual paths, tag filters, name helpers, the folders songs are filed
// under, the state record, the choice of the copy to keep and the duplicate scan.

#include "ACommon/ADirSong.h"

#include "ACommon/AError.h"
#include "ACommon/ID3.h"
#include "fixtures/MusicFiles.h"
#include "fixtures/RecordingFrontend.h"
#include "fixtures/StateFile.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <thread>
#include <vector>

using fixtures::Exists;
using fixtures::ListFiles;
using fixtures::RecordingFrontend;
using fixtures::SetModTime;
using fixtures::TempDir;
using fixtures::WriteFile;

namespace {

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::string VPath(signed char withGenre, signed char withAlbum, signed char withType, const char* genre,
                  const char* artist, const char* album, const char* name, const char* extension,
                  std::uint64_t musicSize = 0, const char* key = nullptr)
{
    AString keyText(key ? key : "");
    return ADirSong::MakeVirtualPath(
               withGenre, withAlbum, withType, AString(genre), AString(artist), AString(album), AString(name),
               AString(extension), [musicSize] { return musicSize; }, key ? &keyText : nullptr)
        .ToStdString();
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
    std::vector<std::string> Records()
    {
        std::vector<std::string> records;
        for (int i = 0; i < Count(); ++i)
            records.push_back(GetFPath(i)->ToStdString());
        return records;
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
    std::string Song(const std::string& name, int seconds = 1, std::int64_t time = 1000000000)
    {
        fixtures::SongSpec spec;
        spec.title = "Song";
        spec.artist = "Artist";
        spec.album = "Album";
        spec.seconds = seconds;
        spec.bitRate = 32;
        const std::string path = tmp / ("Music/" + name);
        fixtures::WriteSong(path, spec);
        SetModTime(path, time);
        return path;
    }
    TempDir tmp;
    ListedSongs songs;
};

} // namespace

// ---------------------------------------------------------------------------------------------
// Virtual paths

TEST(ADirSong, VirtualPathHasTheComponentsTheThreeFlagsChoose)
{
    struct Case {
        signed char genre, album, type;
        const char* expected;
    };
    for (const Case& c : {Case{1, 1, 1, "/Rock/Some Artist/Some Album/Some Song/mp3?12"},
                          {1, 1, 0, "/Rock/Some Artist/Some Album/Some Song?12"},
                          {1, 0, 1, "/Rock/Some Artist/Some Song/mp3?12"},
                          {1, 0, 0, "/Rock/Some Artist/Some Song?12"},
                          {0, 1, 1, "/Some Artist/Some Album/Some Song/mp3?12"},
                          {0, 1, 0, "/Some Artist/Some Album/Some Song?12"},
                          {0, 0, 1, "/Some Artist/Some Song/mp3?12"},
                          {0, 0, 0, "/Some Artist/Some Song?12"}})
        EXPECT_EQ(
            VPath(c.genre, c.album, c.type, "Rock", "Some Artist", "Some Album", "Some Song", "mp3", 0, "12"),
            c.expected)
            << int(c.genre) << int(c.album) << int(c.type);
}

TEST(ADirSong, UntaggedSongIsFiledUnderItsMusicSizeWithoutItsCopyNumber)
{
    EXPECT_EQ(VPath(1, 1, 1, "", "", "", "Track 2", "mp3", 3456789, "7"), "/*/3456789/*/Track/mp3?7");
    // The tags that are not part of the path do not count: without genre and album, a song with no
    // artist is untagged whatever its genre and album say.
    EXPECT_EQ(VPath(0, 0, 1, "Rock", "", "Album", "Track 2", "mp3", 99), "/99/Track/mp3");
    // One usable tag is enough to keep the name and the artist as they are.
    EXPECT_EQ(VPath(1, 1, 1, "Rock", "", "", "Track 2", "mp3", 99), "/Rock/*/*/Track 2/mp3");
    EXPECT_EQ(VPath(1, 1, 1, "", "", "Album", "Track 2", "mp3", 99), "/*/*/Album/Track 2/mp3");
    // Only a space and one digit 1 to 9 is a copy number.
    EXPECT_EQ(VPath(0, 0, 0, "", "", "", "Track 12", "mp3", 5), "/5/Track 12");
}

TEST(ADirSong, MusicSizeIsAskedOnlyForUntaggedSongs)
{
    int asked = 0;
    auto size = [&asked]() -> std::uint64_t {
        ++asked;
        return 42;
    };
    ADirSong::MakeVirtualPath(1, 1, 1, AString("Rock"), AString("A"), AString("B"), AString("S"),
                              AString("mp3"), size, nullptr);
    EXPECT_EQ(asked, 0);
    ADirSong::MakeVirtualPath(1, 1, 1, AString(), AString(), AString(), AString("S"), AString("mp3"), size,
                              nullptr);
    EXPECT_EQ(asked, 1);
}

TEST(ADirSong, ComponentsAreMadePathSafeTrimmedAndStarredWhenEmpty)
{
    EXPECT_EQ(VPath(1, 1, 1, " Hard Rock ", "AC/DC", "Who? Me: \"Live\" <1|2>", "Back\\Slash*", "MP3", 1),
              "/Hard Rock/AC_DC/Who_ Me_ _Live_ _1_2_/Back_Slash_/MP3");
    EXPECT_EQ(VPath(1, 1, 1, "", "Artist", "", "", "", 1), "/*/Artist/*/*/*");
    // Blank tags are no tags: trimmed to nothing they are "*".
    EXPECT_EQ(VPath(1, 1, 0, "\t", "Artist", "  \t", "Song", "mp3", 1), "/*/Artist/*/Song");
}

TEST(ADirSong, FlagsOfTheSourceChooseItsPaths)
{
    ADirSong song;
    auto path = [&song] {
        return song
            .BuildVirtualPath(AString("Rock"), AString("A"), AString("B"), AString("S"), AString("m4a"),
                              nullptr, nullptr)
            .ToStdString();
    };
    EXPECT_EQ(path(), "/Rock/A/B/S/m4a");
    song.SetGenreRelevantOnDupSongCompare(0);
    song.SetFileTypeRelevantOnDupSongCompare(0);
    EXPECT_EQ(path(), "/A/B/S");
}

// ---------------------------------------------------------------------------------------------
// Tag filters

TEST(ADirSong, ValueFiltersMatchWholeValuesIgnoringCase)
{
    ADirSong song;
    struct Case {
        int mode;
        const char* include;
        const char* exclude;
        const char* value;
        bool passes;
    };
    for (const Case& c : {Case{1, ":Rock:Jazz:", "", "rock", true},
                          {1, ":Rock:Jazz:", "", "Rockabilly", false},
                          {1, ":Rock:Jazz:", "", "Roc", false},
                          {1, ":Rock:Jazz:", "", "", false},
                          {1, ":Rock::", "", "", true},
                          {2, "", ":Rock:", "ROCK", false},
                          {2, "", ":Rock:", "Hard Rock", true},
                          {3, ":Rock:Jazz:", ":jazz:", "Jazz", false},
                          {0, ":Rock:", ":Jazz:", "Jazz", true},
                          // An active list that is empty filters nothing.
                          {1, "", "", "Pop", true}}) {
        AString value(c.value);
        song.SetGenreFilterMode(c.mode);
        song.SetGenreIncludeFilter(AString(c.include));
        song.SetGenreExcludeFilter(AString(c.exclude));
        song.SetArtistFilterMode(c.mode);
        song.SetArtistIncludeFilter(AString(c.include));
        song.SetArtistExcludeFilter(AString(c.exclude));
        song.SetAlbumFilterMode(c.mode);
        song.SetAlbumIncludeFilter(AString(c.include));
        song.SetAlbumExcludeFilter(AString(c.exclude));
        EXPECT_EQ(song.GenreFilterCheck(&value), c.passes) << c.value << " mode " << c.mode;
        EXPECT_EQ(song.ArtistFilterCheck(&value), c.passes) << c.value << " mode " << c.mode;
        EXPECT_EQ(song.AlbumFilterCheck(&value), c.passes) << c.value << " mode " << c.mode;
    }
}

TEST(ADirSong, GenreAndAlbumFiltersPassEverythingWhenTheyAreNotPartOfThePath)
{
    ADirSong song;
    for (auto set :
         {&ADirSong::SetGenreFilterMode, &ADirSong::SetArtistFilterMode, &ADirSong::SetAlbumFilterMode})
        (song.*set)(1);
    song.SetGenreIncludeFilter(AString(":Rock:"));
    song.SetArtistIncludeFilter(AString(":Rock:"));
    song.SetAlbumIncludeFilter(AString(":Rock:"));
    song.SetGenreRelevantOnDupSongCompare(0);
    song.SetAlbumRelevantOnDupSongCompare(0);
    AString pop("Pop");
    EXPECT_TRUE(song.GenreFilterCheck(&pop));
    EXPECT_TRUE(song.AlbumFilterCheck(&pop));
    EXPECT_FALSE(song.ArtistFilterCheck(&pop));
}

TEST(ADirSong, SongNameFilterMatchesFragmentsKeepingCase)
{
    ADirSong song;
    struct Case {
        int mode;
        const char* include;
        const char* exclude;
        const char* name;
        bool passes;
    };
    for (const Case& c : {Case{2, "", ":Live:", "Live at Leeds", false},
                          {2, "", ":Live:", "live", true},
                          {2, "", ":Live:Demo:", "Old Demo", false},
                          {1, ":Remix:Edit:", "", "Song (Radio Edit)", true},
                          {1, ":Remix:Edit:", "", "Song", false},
                          // Entries are the texts between colons; text after the last one is no entry.
                          {1, ":Remix:Edit", "", "Song (Radio Edit)", false},
                          {1, ":Remix:Edit", "", "Remix", true}}) {
        song.SetSongNameFilterMode(c.mode);
        song.SetSongNameIncludeFilter(AString(c.include));
        song.SetSongNameExcludeFilter(AString(c.exclude));
        AString name(c.name);
        EXPECT_EQ(song.SongNameFilterCheck(&name), c.passes) << c.name;
    }
}

TEST(ADirSong, VirtualPathFiltersTakeTheirComponentByTheFlags)
{
    ADirSong song;
    song.SetArtistFilterMode(1);
    song.SetArtistIncludeFilter(AString(":Keep:"));
    song.SetSongNameFilterMode(2);
    song.SetSongNameExcludeFilter(AString(":Live:"));
    struct Case {
        signed char withGenre, withAlbum;
        const char* vpath;
        bool passes;
    };
    for (const Case& c : {Case{1, 1, "/Rock/Keep/Album/Song/mp3?1", true},
                          {1, 1, "/Keep/Other/Album/Song/mp3?1", false},
                          // With genre not relevant the artist is the first component.
                          {0, 1, "/Keep/Album/Song/mp3?1", true},
                          {0, 0, "/Keep/Song Live/mp3?1", false},
                          // Without the file type the name runs to the key.
                          {1, 1, "/Rock/Keep/Album/Live Song?3", false},
                          {1, 1, "/Rock/Keep/Album/Song?3", true}}) {
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
// Name helpers

TEST(ADirSong, GetNameTakesTheNameComponent)
{
    struct Case {
        const char* vpath;
        signed char withGenre, withAlbum;
        const char* name;
    };
    for (const Case& c : {Case{"/Rock/A/B/Song/mp3?3", 1, 1, "Song"},
                          {"/A/B/Song/m4a?1", 0, 1, "Song"},
                          {"/A/Song/m4a?1", 0, 0, "Song"},
                          {"/Rock/A/B/Song?12", 1, 1, "Song"},
                          {"Rock/A/B/Song/mp3?3", 1, 1, "Song"},
                          {"/Rock/A", 1, 1, ""}})
        EXPECT_EQ(ADirSong::GetName(AString(c.vpath), 0, c.withGenre, c.withAlbum).ToStdString(), c.name)
            << c.vpath;
}

TEST(ADirSong, RemoveSpaceNumberDropsOnlyASpaceAndOneDigitFromOneToNine)
{
    struct Case {
        const char* in;
        const char* out;
    };
    for (const Case& c : {Case{"Song 2", "Song"},
                          {"Song 9", "Song"},
                          {"Song 0", "Song 0"},
                          {"Song 12", "Song 12"},
                          {"Song2", "Song2"},
                          {" 1", " 1"},
                          {"a 1", "a"},
                          {"", ""}}) {
        AString name(c.in);
        ADirSong::RemoveSpaceNumber(&name);
        EXPECT_EQ(name.ToStdString(), c.out) << c.in;
    }
    for (const char* unknown : {"/*", "/*/*", "/*/*/*"}) {
        AString name("Song 1"), soFar(unknown);
        ADirSong::RemoveSpaceNumberWithVPathCheck(&name, &soFar);
        EXPECT_EQ(name, "Song") << unknown;
    }
    AString name("Song 1"), soFar("/Rock/*");
    ADirSong::RemoveSpaceNumberWithVPathCheck(&name, &soFar);
    EXPECT_EQ(name, "Song 1");
}

// ---------------------------------------------------------------------------------------------
// The folders a song is filed under

TEST(ADirSong, AppendArtistAlbumFilesSongsUnderArtistAndAlbumFolders)
{
    TempDir tmp;
    struct Case {
        fixtures::SongSpec spec;
        unsigned options;
        const char* folders;
        signed char unknownArtist;
    };
    auto spec = [](const char* artist, const char* album, bool compilation = false) {
        fixtures::SongSpec song;
        song.title = "T";
        song.artist = artist;
        song.album = album;
        song.compilation = compilation;
        return song;
    };
    const Case cases[] = {
        {spec("Artist", "Album"), 0, "/R/Artist/Album", 0},
        {spec("", "Album"), 0, "/R/Unknown Artist/Album", 1},
        {spec("Artist", ""), 0, "/R/Artist/Unknown Album", 0},
        {spec("Artist", "Album", true), 0, "/R/Compilations/Album", 0},
        {spec("  Spaced  ", "A/B"), 0, "/R/Spaced/A_B", 0},
        // Dots at either end are fixed after trimming: no hidden or dot-ended folders.
        {spec(" .hidden", "end. "), 0, "/R/_hidden/end_", 0},
        {spec("   ", "Album"), 0, "/R/_ _/Album", 0},
    };
    int n = 0;
    for (const Case& c : cases) {
        const std::string file = tmp / ("song" + std::to_string(n++) + ".mp3");
        fixtures::WriteSong(file, c.spec);
        ID3 tags;
        ASSERT_EQ(tags.SetFilePath(AString::FromUTF8(file)), 0);
        ADirSong song;
        AString path("/R");
        signed char unknown = 7;
        song.AppendArtistAlbum(&tags, &path, unknown, c.options);
        EXPECT_EQ(path.ToStdString(), c.folders);
        EXPECT_EQ(unknown, c.unknownArtist) << c.folders;
    }
}

TEST(ADirSong, PodcastsGoUnderPodcastsOnlyForNewerLibraries)
{
    TempDir tmp;
    fixtures::Mp4Spec spec;
    spec.audio = fixtures::Bytes(2000, 0x11);
    spec.items = {fixtures::TextItem(fixtures::kItemArtist, "Host"),
                  fixtures::TextItem(fixtures::kItemAlbum, ""), fixtures::IntegerItem("pcst", 1, 1)};
    WriteFile(tmp / "show.m4a", fixtures::Mp4File(spec));
    ID3 tags;
    ASSERT_EQ(tags.SetFilePath(tmp.A("show.m4a")), 0);
    ASSERT_TRUE(tags.IsPodCast());
    ADirSong song;
    signed char unknown = 0;
    AString path("/R");
    song.AppendArtistAlbum(&tags, &path, unknown, 700);
    EXPECT_EQ(path, "/R/Podcasts/Unknown Podcast");
    path = "/R";
    song.AppendArtistAlbum(&tags, &path, unknown, 699);
    EXPECT_EQ(path, "/R/Host/Unknown Album");
}

// ---------------------------------------------------------------------------------------------
// Settings and the state record

TEST(ADirSong, NewSourceListsOnlyMusicFilesAndTellsSongsApartByEveryTag)
{
    ADirSong song;
    EXPECT_EQ(song.GetTypeFilter(), 1);
    EXPECT_EQ(song.GetTypeIncludeFilter(), ":mp3:m4p:m4a:m4b:");
    EXPECT_EQ(song.GetGenreRelevantOnDupSongCompare(), 1);
    EXPECT_EQ(song.GetAlbumRelevantOnDupSongCompare(), 1);
    EXPECT_EQ(song.GetFileTypeRelevantOnDupSongCompare(), 1);
    EXPECT_EQ(song.GetDontDupSongs(), 0);
    EXPECT_EQ(song.GetType(), ADir::kTypeFolder);
}

namespace {

void ChangeEverySetting(ADirSong& song)
{
    song.SetDontDupSongs(1);
    song.SetFavorSizeVsDate(0);
    song.SetFileTypeRelevantOnDupSongCompare(0);
    song.SetGenreRelevantOnDupSongCompare(0);
    song.SetAlbumRelevantOnDupSongCompare(0);
    song.SetFavorProtectedMusic(0);
    song.SetDeleteMusicNotOwned(0);
    song.SetCreateLastPlaylist(0);
    song.SetGenreFilterMode(1);
    song.SetGenreIncludeFilter(AString(":g1:"));
    song.SetGenreExcludeFilter(AString(":g2:"));
    song.SetArtistFilterMode(2);
    song.SetArtistIncludeFilter(AString(":a1:"));
    song.SetArtistExcludeFilter(AString(":a2:"));
    song.SetAlbumFilterMode(3);
    song.SetAlbumIncludeFilter(AString(":b1:"));
    song.SetAlbumExcludeFilter(AString(":b2:"));
    song.SetSongNameFilterMode(1);
    song.SetSongNameIncludeFilter(AString(":n1:"));
    song.SetSongNameExcludeFilter(AString(":n2:"));
    song.SetFavorFileTypes(AString(":mp3:"));
    song.SetAppleIDs(AString(":me:"));
}

} // namespace

TEST(ADirSong, CopyPropertiesCopiesTheSongSettingsButNotTheLastSyncPlaylist)
{
    ADirSong from, to;
    ChangeEverySetting(from);
    from.SetTypeFilter(0);
    EXPECT_EQ(to.CopyProperties(&from), 0);
    EXPECT_EQ(to.GetTypeFilter(), 0);
    EXPECT_EQ(to.GetDontDupSongs(), 1);
    EXPECT_EQ(to.GetFavorSizeVsDate(), 0);
    EXPECT_EQ(to.GetFileTypeRelevantOnDupSongCompare(), 0);
    EXPECT_EQ(to.GetGenreRelevantOnDupSongCompare(), 0);
    EXPECT_EQ(to.GetAlbumRelevantOnDupSongCompare(), 0);
    EXPECT_EQ(to.GetFavorProtectedMusic(), 0);
    EXPECT_EQ(to.GetDeleteMusicNotOwned(), 0);
    EXPECT_EQ(to.GetCreateLastPlaylist(), 1);
    EXPECT_EQ(to.GetGenreFilterMode(), 1);
    EXPECT_EQ(to.GetGenreIncludeFilter(), ":g1:");
    EXPECT_EQ(to.GetArtistExcludeFilter(), ":a2:");
    EXPECT_EQ(to.GetAlbumFilterMode(), 3);
    EXPECT_EQ(to.GetSongNameExcludeFilter(), ":n2:");
    EXPECT_EQ(to.GetFavorFileTypes(), ":mp3:");
    EXPECT_EQ(to.GetAppleIDs(), ":me:");
}

TEST(ADirSong, StateRecordRestoresEverySettingAndRefusesAnotherMark)
{
    TempDir tmp;
    ADirSong song;
    ChangeEverySetting(song);
    int result = -1;
    fixtures::Bytes written = fixtures::BytesWrittenBy(
        tmp / "state", [&song](AFile* f) { return song.WriteState(f); }, &result);
    ASSERT_EQ(result, 0);
    // The mark, then the plain folder's record.
    ASSERT_GE(written.size(), 8u);
    EXPECT_EQ(fixtures::Bytes(written.begin(), written.begin() + 8),
              (fixtures::Bytes{0x05, 0x00, 0x10, 0x00, 0x08, 0x00, 0x10, 0x00}));
    // Ends with the eight flags and the accounts: ... 0 1 0 0 0 0 0 0, then ":me:".
    fixtures::Bytes tail;
    for (std::uint8_t flag : {0, 1, 0, 0, 0, 0, 0, 0})
        tail.push_back(flag);
    fixtures::PutStringRecord(tail, u":me:");
    ASSERT_GE(written.size(), tail.size());
    EXPECT_EQ(fixtures::Bytes(written.end() - static_cast<long>(tail.size()), written.end()), tail);

    AFile in;
    AString statePath = tmp.A("state");
    ASSERT_EQ(in.Open(&statePath, 1), 0);
    ADirSong back;
    ASSERT_EQ(back.ReadState(&in), 0);
    EXPECT_EQ(in.Remaining(), 0u);
    fixtures::Bytes again =
        fixtures::BytesWrittenBy(tmp / "again", [&back](AFile* f) { return back.WriteState(f); });
    EXPECT_EQ(again, written);

    AFile plain;
    ASSERT_EQ(fixtures::OpenWith(plain, tmp / "plain", fixtures::Bytes{0x08, 0x00, 0x10, 0x00}), 0);
    EXPECT_EQ(back.ReadState(&plain), kErrVersion);
}

// ---------------------------------------------------------------------------------------------
// Which copy is kept

namespace {

// An m4p file with a store account (none when empty) and `size` bytes of music.
void WriteProtected(const std::string& path, const std::string& account, std::size_t size)
{
    fixtures::Mp4Spec spec;
    spec.audio = fixtures::Bytes(size, 0x22);
    spec.items = {fixtures::TextItem(fixtures::kItemName, "Song")};
    if (!account.empty())
        spec.items.push_back(fixtures::TextItem("apID", account));
    WriteFile(path, fixtures::Mp4File(spec));
    SetModTime(path, 1000000000);
}

void WritePlain(const std::string& path, std::size_t size, std::int64_t time = 1000000000)
{
    WriteFile(path, std::string(size, 'x'));
    SetModTime(path, time);
}

} // namespace

TEST(ADirSong, ProtectedMusicTheUserOwnsIsKept)
{
    TempDir tmp;
    WriteProtected(tmp / "mine.m4p", "me@example.com", 1000);
    WriteProtected(tmp / "theirs.m4p", "someone@example.com", 1000);
    WriteProtected(tmp / "noaccount.m4p", "", 1000);
    WritePlain(tmp / "big.mp3", 90000);
    ADirSong song;
    song.SetAppleIDs(AString(":Me@Example.com:other@example.com:"));
    auto pick = [&](const char* a, const char* b) {
        AString pa = tmp.A(a), pb = tmp.A(b);
        return song.DirPickFileToKeep(&pa, &pb);
    };
    // Owned (the account is found ignoring case) beats a larger unprotected file.
    EXPECT_EQ(pick("mine.m4p", "big.mp3"), 1);
    EXPECT_EQ(pick("big.mp3", "mine.m4p"), 2);
    // Not owned loses at once, whichever side it is on.
    EXPECT_EQ(pick("theirs.m4p", "mine.m4p"), 2);
    EXPECT_EQ(pick("mine.m4p", "theirs.m4p"), 1);
    EXPECT_EQ(pick("theirs.m4p", "big.mp3"), 2);
    // Without an account it is not protected: the larger file wins.
    EXPECT_EQ(pick("noaccount.m4p", "big.mp3"), 2);
}

TEST(ADirSong, AccountsAreWholeEntriesOfTheList)
{
    TempDir tmp;
    WriteProtected(tmp / "part.m4p", "one", 1000);
    WritePlain(tmp / "x.mp3", 10);
    ADirSong song;
    AString a = tmp.A("part.m4p"), b = tmp.A("x.mp3");
    // "one" is a part of "someone", not an entry of the list.
    song.SetAppleIDs(AString(":someone:"));
    EXPECT_EQ(song.DirPickFileToKeep(&a, &b), 2);
    song.SetAppleIDs(AString(":someone:one:"));
    EXPECT_EQ(song.DirPickFileToKeep(&a, &b), 1);
}

TEST(ADirSong, OwnershipCountsOnlyWhenMusicNotOwnedIsToBeDeleted)
{
    TempDir tmp;
    WriteProtected(tmp / "theirs.m4p", "someone", 1000);
    WritePlain(tmp / "big.mp3", 90000);
    ADirSong song;
    AString a = tmp.A("theirs.m4p"), b = tmp.A("big.mp3");
    song.SetDeleteMusicNotOwned(0);
    EXPECT_EQ(song.DirPickFileToKeep(&a, &b), 1);
    song.SetFavorProtectedMusic(0);
    EXPECT_EQ(song.DirPickFileToKeep(&a, &b), 2);
}

TEST(ADirSong, FavouredFileTypeWinsWhateverTheSizes)
{
    TempDir tmp;
    WritePlain(tmp / "a.m4a", 90000);
    WritePlain(tmp / "b.mp3", 10);
    WritePlain(tmp / "c.MP3", 20);
    ADirSong song;
    song.SetFavorFileTypes(AString(":aac:mp3:"));
    AString a = tmp.A("a.m4a"), b = tmp.A("b.mp3"), c = tmp.A("c.MP3");
    EXPECT_EQ(song.DirPickFileToKeep(&a, &b), 2);
    EXPECT_EQ(song.DirPickFileToKeep(&b, &a), 1);
    // Both favoured: the sizes decide.
    EXPECT_EQ(song.DirPickFileToKeep(&b, &c), 2);
}

TEST(ADirSong, SizeOrDateDecidesByThePreference)
{
    TempDir tmp;
    WritePlain(tmp / "big-old.mp3", 2000, 1000000000);
    WritePlain(tmp / "small-new.mp3", 1000, 1100000000);
    WritePlain(tmp / "small-old.mp3", 1000, 1000000000);
    ADirSong song;
    AString bigOld = tmp.A("big-old.mp3"), smallNew = tmp.A("small-new.mp3"),
            smallOld = tmp.A("small-old.mp3");
    EXPECT_EQ(song.DirPickFileToKeep(&bigOld, &smallNew), 1);
    EXPECT_EQ(song.DirPickFileToKeep(&smallOld, &smallNew), 2); // equal sizes: the newer
    song.SetFavorSizeVsDate(0);
    EXPECT_EQ(song.DirPickFileToKeep(&bigOld, &smallNew), 2);
    EXPECT_EQ(song.DirPickFileToKeep(&bigOld, &smallOld), 1); // equal times: the larger
}

TEST(ADirSong, AtEqualSizeAndTimeTheFileWithoutACopyNumberIsKept)
{
    TempDir tmp;
    WritePlain(tmp / "Song.mp3", 100);
    WritePlain(tmp / "Song 2.mp3", 100);
    ADirSong song;
    AString plain = tmp.A("Song.mp3"), copy = tmp.A("Song 2.mp3");
    EXPECT_EQ(song.DirPickFileToKeep(&copy, &plain), 2);
    EXPECT_EQ(song.DirPickFileToKeep(&plain, &copy), 1);
}

// ---------------------------------------------------------------------------------------------
// The duplicate scan

TEST(ADirSong, SilentScanDropsDuplicateRecordsAndTouchesNoFile)
{
    RecordingFrontend frontend;
    ScanFolder folder;
    const std::string small = folder.Song("A.mp3", 1), large = folder.Song("a 1.mp3", 2),
                      other = folder.Song("B.mp3");
    folder.songs.Add("/Rock/X/Y/A/mp3?0", small);
    folder.songs.Add("/rock/x/y/a/MP3?1", large);
    folder.songs.Add("/Rock/X/Y/B/mp3?2", other);
    EXPECT_EQ(folder.songs.ScanForDuplicates(0, 1, 1, nullptr, 0), 0);
    // The larger file's record stays.
    EXPECT_EQ(folder.songs.Records(), (std::vector<std::string>{"/rock/x/y/a/MP3?1", "/Rock/X/Y/B/mp3?2"}));
    EXPECT_TRUE(frontend.questions.Asked().empty());
    EXPECT_TRUE(Exists(small) && Exists(large) && Exists(other));
}

TEST(ADirSong, ARunOfEqualSongsShrinksToOne)
{
    ScanFolder folder;
    for (int i = 0; i < 4; ++i)
        folder.songs.Add("/R/A/B/S/mp3?" + std::to_string(i), folder.Song("S " + std::to_string(i) + ".mp3"));
    EXPECT_EQ(folder.songs.ScanForDuplicates(0, 1, 1, nullptr, 0), 0);
    EXPECT_EQ(folder.songs.Count(), 1);
}

TEST(ADirSong, RemovingADuplicateMovesItsFileIntoRemovedFilesUnderArtistAndAlbum)
{
    RecordingFrontend frontend;
    ScanFolder folder;
    folder.songs.Add("/R/Artist/Album/Song/mp3?0", folder.Song("Song.mp3"));
    folder.songs.Add("/R/Artist/Album/Song/mp3?1", folder.Song("Song 1.mp3"));
    frontend.questions.Script({"Yes"});
    EXPECT_EQ(folder.songs.ScanForDuplicates(1, 1, 1, nullptr, 1), 0);
    EXPECT_EQ(ListFiles(folder.tmp.Path()),
              (std::vector<std::string>{"Music/Song.mp3", "Removed Files/Artist/Album/Song 1.mp3"}));
    ASSERT_EQ(frontend.questions.Asked().size(), 1u);
    EXPECT_TRUE(
        Has(frontend.questions.Asked()[0].title, "Deleting Duplicate: /R/Artist/Album/Song/mp3 from "));
    EXPECT_TRUE(Has(frontend.questions.Asked()[0].title, "Song 1.mp3"));
    EXPECT_TRUE(Has(frontend.message.Text() + frontend.Log(), "Scanning...Done. No Errors."));
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

TEST(ADirSong, YesToAllAsksOnceAndNoToAllStopsTheRemovals)
{
    for (const char* answer : {"Yes to All", "No to All"}) {
        RecordingFrontend frontend;
        ScanFolder folder;
        for (const char* song : {"A", "B", "C"}) {
            folder.songs.Add(std::string("/R/X/Y/") + song + "/mp3?" + song + "0",
                             folder.Song(std::string(song) + ".mp3"));
            folder.songs.Add(std::string("/R/X/Y/") + song + "/mp3?" + song + "1",
                             folder.Song(std::string(song) + " 1.mp3"));
        }
        folder.songs.SetVerboseLog(1);
        frontend.questions.Script({answer});
        EXPECT_EQ(folder.songs.ScanForDuplicates(1, 1, 1, nullptr, 1), 0) << answer;
        EXPECT_EQ(frontend.questions.Asked().size(), 1u) << answer;
        const bool yes = std::string(answer) == "Yes to All";
        EXPECT_EQ(folder.songs.Count(), yes ? 3 : 6) << answer;
        EXPECT_EQ(ListFiles(folder.tmp / "Music").size(), yes ? 3u : 6u) << answer;
        EXPECT_EQ(ListFiles(folder.tmp / "Removed Files").size(), yes ? 3u : 0u) << answer;
        // The log names what was removed, and nothing that was kept.
        const std::string log = frontend.Log();
        size_t lines = 0;
        for (size_t at = log.find("Deleting Duplicate: "); at != std::string::npos;
             at = log.find("Deleting Duplicate: ", at + 1))
            ++lines;
        EXPECT_EQ(lines, yes ? 3u : 0u) << answer;
    }
}

TEST(ADirSong, DetectOnlyReportsEveryDuplicateAndRemovesNoFile)
{
    RecordingFrontend frontend;
    ScanFolder folder;
    folder.songs.Add("/R/X/Y/S/mp3?0", folder.Song("S.mp3"));
    folder.songs.Add("/R/X/Y/S/mp3?1", folder.Song("S 1.mp3"));
    folder.songs.SetDetectOnly(1);
    EXPECT_EQ(folder.songs.ScanForDuplicates(1, 1, 1, nullptr, 1), 0);
    EXPECT_TRUE(frontend.questions.Asked().empty());
    EXPECT_TRUE(Has(frontend.Log(), "Detected Dup: /R/X/Y/S/mp3 from " + folder.tmp / "Music/S 1.mp3"));
    EXPECT_EQ(ListFiles(folder.tmp.Path()), (std::vector<std::string>{"Music/S 1.mp3", "Music/S.mp3"}));
}

TEST(ADirSong, ScanOfABusySourceIsRefused)
{
    ScanFolder folder;
    folder.songs.Add("/R/X/Y/S/mp3?0", folder.Song("S.mp3"));
    folder.songs.Add("/R/X/Y/S/mp3?1", folder.Song("S 1.mp3"));
    folder.songs.Busy().Lock();
    EXPECT_EQ(folder.songs.ScanForDuplicates(0, 1, 1, nullptr, 0), kErrBusy);
    folder.songs.Busy().Unlock();
    EXPECT_EQ(folder.songs.Count(), 2);
    EXPECT_EQ(folder.songs.ScanForDuplicates(0, 1, 1, nullptr, 0), 0);
    EXPECT_EQ(folder.songs.Count(), 1);
}

TEST(ADirSong, FailedRemovalStopsTheScan)
{
    RecordingFrontend frontend;
    ScanFolder folder;
    for (const char* song : {"A", "B"}) {
        folder.songs.Add(std::string("/R/X/Y/") + song + "/mp3?" + song + "0",
                         folder.Song(std::string(song) + ".mp3"));
        folder.songs.Add(std::string("/R/X/Y/") + song + "/mp3?" + song + "1",
                         folder.tmp / (std::string("Music/") + song + " gone.mp3"));
    }
    // The missing files lose to the ones that exist; moving them fails.
    EXPECT_EQ(folder.songs.ScanForDuplicates(1, 1, 1, nullptr, 0), kErrFileNotFound);
    EXPECT_EQ(folder.songs.Count(), 3); // B's pair was removed (and failed); A's was never reached
    EXPECT_TRUE(Has(frontend.Log(), "Error Deleting!"));
}

TEST(ADirSong, CancelEndsTheScanWithWhatWasRemoved)
{
    RecordingFrontend frontend;
    ScanFolder folder;
    for (const char* song : {"A", "B"}) {
        folder.songs.Add(std::string("/R/X/Y/") + song + "/mp3?" + song + "0",
                         folder.Song(std::string(song) + ".mp3"));
        folder.songs.Add(std::string("/R/X/Y/") + song + "/mp3?" + song + "1",
                         folder.Song(std::string(song) + " 1.mp3"));
    }
    EXPECT_EQ(folder.songs.ScanForDuplicates(
                  0, 1, 1, [] { return static_cast<signed char>(1); }, 1),
              kErrUserCancel);
    EXPECT_EQ(folder.songs.Count(), 3);
    EXPECT_TRUE(Has(frontend.Log(), "User Cancelled."));
}
