// The iPod database source on iPod folder trees: listing through the database, virtual paths and
// lookups, copying songs onto the iPod, deleting them, and mending what a stopped run left.

#include "ACommon/sources/ADirPodDB.h"
#include "ACommon/tags/AudioFormats.h"

#include "ACommon/base/AError.h"
#include "ACommon/base/AFile.h"
#include "ACommon/itunesdb/IPodDB.h"
#include "ACommon/itunesdb/IPodJournal.h"
#include "ACommon/itunesdb/IPodStoreCadence.h"
#include "ACommon/itunesdb/MHBD.h"
#include "ACommon/itunesdb/MHIT.h"
#include "ACommon/itunesdb/MHLT.h"
#include "ACommon/tags/SongInfoStruct.h"
#include "fixtures/IPodDatabase.h"
#include "fixtures/IPodFixture.h"
#include "fixtures/MusicFiles.h"
#include "fixtures/RecordingFrontend.h"
#include "fixtures/StateFile.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <regex>
#include <utility>

#include <sys/stat.h>

using fixtures::ListFiles;
using fixtures::ReadFile;

namespace {

using fixtures::SongSpecOf;

class ADirPodDBTest : public ::testing::Test {
protected:
    void SetUp() override { root = fixtures::MakeIPod(volumes.Path(), "POD", options); }

    AString Root() const { return AString::FromUTF8(root); }
    // Lists the iPod's songs into `source`.
    void Load(ADirPodDB& source)
    {
        AString r = Root();
        ASSERT_EQ(source.InitWPath(&r, 0, nullptr), 0);
    }
    AString Song(const std::string& name, const fixtures::SongSpec& songSpec)
    {
        fixtures::WriteSong(music / name, songSpec);
        return AString::FromUTF8(music / name);
    }
    // Copies the songs (each in a file of its title) onto the iPod through `source` (through one of
    // their own that then stores the database when null).
    void Put(const std::vector<fixtures::SongSpec>& songs, ADirPodDB* source = nullptr)
    {
        ADirPodDB own;
        if (!source) {
            source = &own;
            Load(own);
        }
        for (const fixtures::SongSpec& song : songs) {
            AString file = Song(song.title + ".mp3", song);
            ASSERT_EQ(source->AddSongFromDisk(&file, nullptr, nullptr), 0) << song.title;
        }
        if (source == &own) {
            ASSERT_EQ(own.Finalize(), 0);
        }
    }
    std::vector<std::string> Listed(ADirPodDB& source)
    {
        source.Sort(1);
        std::vector<std::string> paths;
        for (int i = 0; i < source.Count(); ++i) {
            std::string path = source.GetFPath(i)->ToStdString();
            paths.push_back(path.substr(0, path.rfind('?')));
        }
        return paths;
    }
    // The journal as a run leaves it once its copies were flushed.
    void SettleJournal() const
    {
        IPodJournal journal;
        ASSERT_EQ(journal.Read(Root() + "/"), 0);
        std::vector<IPodJournal::Entry> entries = journal.Entries();
        for (IPodJournal::Entry& entry : entries)
            entry.pending = false;
        ASSERT_EQ(journal.Set(std::move(entries)), 0);
    }
    // The music files on the iPod, relative to its music folder.
    std::vector<std::string> MusicFiles() const { return ListFiles(root + "/iPod_Control/Music"); }
    std::vector<std::string> ITunesFiles() const { return ListFiles(root + "/iPod_Control/iTunes"); }
    std::size_t StoredTracks() const { return fixtures::IPodTitles(root).size(); }
    AString Full(const AString& virtualPath) const
    {
        AString full = Root();
        full += "/";
        full.AppendPathComponent(virtualPath);
        return full;
    }

    fixtures::RecordingFrontend frontend;
    fixtures::TempDir volumes;
    fixtures::TempDir music;
    fixtures::IPodOptions options;
    std::string root;
};

const std::vector<std::string> kBareITunes{"iTunesDB", "iTunesPrefs"};

} // namespace

TEST_F(ADirPodDBTest, PathShapeFlagsShapeEveryPath)
{
    ADirPodDB put;
    Load(put);
    fixtures::SongSpec other = SongSpecOf("Song B", 1, 0, "Other");
    other.album = "Live";
    other.genre = "Jazz";
    for (auto [name, song] : {std::pair{"a.mp3", SongSpecOf("Song A")}, {"b.m4a", other}}) {
        AString file = Song(name, song);
        ASSERT_EQ(put.AddSongFromDisk(&file, nullptr, nullptr), 0);
    }
    ASSERT_EQ(put.Finalize(), 0);
    struct Case {
        signed char extension, genre, album;
        std::vector<std::string> paths;
    };
    for (const Case& c : {Case{1, 1, 1, {"/Jazz/Other/Live/Song B/m4a", "/Rock/Artist/Album/Song A/mp3"}},
                          Case{0, 1, 1, {"/Jazz/Other/Live/Song B", "/Rock/Artist/Album/Song A"}},
                          Case{1, 0, 1, {"/Artist/Album/Song A/mp3", "/Other/Live/Song B/m4a"}},
                          Case{1, 1, 0, {"/Jazz/Other/Song B/m4a", "/Rock/Artist/Song A/mp3"}},
                          Case{0, 0, 0, {"/Artist/Song A", "/Other/Song B"}}}) {
        ADirPodDB source;
        source.SetFileTypeRelevantOnDupSongCompare(c.extension);
        source.SetGenreRelevantOnDupSongCompare(c.genre);
        source.SetAlbumRelevantOnDupSongCompare(c.album);
        Load(source);
        EXPECT_EQ(Listed(source), c.paths);
        AString disk, full = Full(AString::FromUTF8(c.paths[0]) + "?");
        EXPECT_EQ(source.GetFileDiskPath(&full, &disk, 0), 0) << c.paths[0];
        // Each path ends in "?" and the handle of its track.
        const std::string first = source.GetFPath(0)->ToStdString();
        MHIT* track = source.GetDatabase()->GetSortedSong(0);
        ASSERT_NE(track, nullptr);
        EXPECT_EQ(first.substr(first.rfind('?') + 1), std::to_string(track->GetHandle()));
    }
}

TEST_F(ADirPodDBTest, LookupsFindTheTrackBehindAPath)
{
    fixtures::SongSpec songSpec = SongSpecOf("Song A");
    songSpec.seconds = 4;
    Put({songSpec});
    ADirPodDB source;
    Load(source);
    ASSERT_EQ(source.Count(), 1);
    const AString listed = Full(*source.GetFPath(0));
    AString disk;
    ASSERT_EQ(source.GetFileDiskPath(&listed, &disk, 1), 0);
    EXPECT_TRUE(disk.ToStdString().rfind(root + "/iPod_Control/Music/F", 0) == 0) << disk.ToStdString();
    EXPECT_TRUE(source.FileExists(&listed));
    EXPECT_EQ(source.GetFileModTime(&listed), AFile::FileModTime(&disk));
    SongInfoStruct info;
    ASSERT_EQ(source.GetSongInfo(&listed, &info), 0);
    EXPECT_EQ(info.duration, 4);
    // Another side's key after "?" still finds the song without `fromList`; the case is ignored.
    AString other = Full("/rock/ARTIST/album/song a/MP3?77");
    EXPECT_EQ(source.GetFileDiskPath(&other, &disk, 0), 0);
    EXPECT_NE(source.GetFileDiskPath(&other, &disk, 1), 0);
    AString missing = Full("/Rock/Artist/Album/No Such Song/mp3?1");
    EXPECT_EQ(source.GetFileDiskPath(&missing, &disk, 0), kErrUnknown);
    EXPECT_EQ(source.GetSongInfo(&missing, &info), kErrUnknown);
    EXPECT_FALSE(source.FileExists(&missing));
    EXPECT_EQ(source.GetFileModTime(&missing), 0u);
}

// A copy goes to "Fnn/ABCD.ext" (the music folder made when missing; two digits, four upper-case
// letters, the extension in lower case); a name a file already has is not taken again.
TEST_F(ADirPodDBTest, ASongIsCopiedUnderAFreeFourLetterName)
{
    options.musicFolders = 0;
    root = fixtures::MakeIPod(volumes.Path(), "BARE", options);
    ADirPodDB source;
    Load(source);
    AString file = Song("Loud Name.MP3", SongSpecOf("Song A"));
    ASSERT_EQ(source.AddSongFromDisk(&file, nullptr, nullptr), 0);
    ASSERT_EQ(MusicFiles().size(), 1u);
    const std::string copied = MusicFiles()[0];
    EXPECT_TRUE(std::regex_match(copied, std::regex("F[0-9]{2}/[A-Z]{4}\\.mp3"))) << copied;
    MHIT* track = source.GetDatabase()->GetDatabase()->GetTrackList()->GetSong(0);
    ASSERT_NE(track, nullptr);
    EXPECT_EQ(track->GetFilepath().ToStdString(), "/iPod_Control/Music/" + copied);
    // The track leaves the database but its file stays: the same song comes back to a taken name.
    source.Sort(1);
    ASSERT_EQ(source.DeleteEntry(0, 1, 1), 0);
    EXPECT_EQ(source.GetDatabase()->GetTrackCount(), 0);
    ASSERT_EQ(source.AddSongFromDisk(&file, nullptr, nullptr), 0);
    ASSERT_EQ(MusicFiles().size(), 2u);
    for (const std::string& name : MusicFiles())
        EXPECT_EQ(ReadFile(root + "/iPod_Control/Music/" + name), ReadFile(file.ToStdString())) << name;
}

TEST_F(ADirPodDBTest, ADuplicateSongIsRefusedBeforeAnyCopy)
{
    ADirPodDB source;
    Load(source);
    AString first = Song("a.mp3", SongSpecOf("Song A"));
    // Other music, other file name, the same tags in other case: the same song.
    fixtures::SongSpec same = SongSpecOf("song a", 9, 0, "ARTIST");
    same.album = "album";
    same.genre = "rock";
    AString second = Song("b.mp3", same);
    ASSERT_EQ(source.AddSongFromDisk(&first, nullptr, nullptr), 0);
    EXPECT_EQ(source.AddSongFromDisk(&second, nullptr, nullptr), kErrDuplicate);
    EXPECT_EQ(MusicFiles().size(), 1u);
    // Another extension is another song.
    AString third = Song("c.m4a", SongSpecOf("Song A"));
    EXPECT_EQ(source.AddSongFromDisk(&third, nullptr, nullptr), 0);
    EXPECT_EQ(MusicFiles().size(), 2u);
}

TEST_F(ADirPodDBTest, ASongWithoutANameTakesTheGivenNameOrItsFileName)
{
    ADirPodDB source;
    Load(source);
    AString given("Given Name");
    AString first = Song("Track 1.mp3", SongSpecOf(""));
    AString second = Song("Track 2.mp3", SongSpecOf("", 2));
    ASSERT_EQ(source.AddSongFromDisk(&first, &given, nullptr), 0);
    ASSERT_EQ(source.AddSongFromDisk(&second, nullptr, nullptr), 0);
    EXPECT_EQ(Listed(source), (std::vector<std::string>{"/Rock/Artist/Album/Given Name/mp3",
                                                        "/Rock/Artist/Album/Track 2/mp3"}));
}

namespace {

// Adds the song being copied to the database while the copy runs: the database then refuses the
// copy as a duplicate.
std::function<void()> gDuringCopy;
signed char AddWhileCopying()
{
    if (gDuringCopy)
        std::exchange(gDuringCopy, nullptr)();
    return 0;
}

} // namespace

TEST_F(ADirPodDBTest, ACopyTheDatabaseRefusesIsDeletedAgain)
{
    ADirPodDB source;
    Load(source);
    fixtures::SongSpec songSpec = SongSpecOf("Long Song");
    songSpec.seconds = 80; // over a megabyte: the copy asks the cancel callback as it goes
    songSpec.bitRate = 128;
    AString file = Song("long.mp3", songSpec);
    ASSERT_GT(AFile::GetFileSize(&file), AFile::kLargeFileSize);
    gDuringCopy = [&source] {
        SongInfoStruct twin = fixtures::MakeSong("Long Song", "Artist", "Album", "Rock", "/x/long.mp3");
        source.GetDatabase()->AddSong(twin, nullptr, 1);
    };
    EXPECT_EQ(source.AddSongFromDisk(&file, nullptr, AddWhileCopying), kErrDuplicate);
    gDuringCopy = nullptr;
    EXPECT_TRUE(MusicFiles().empty());
}

TEST_F(ADirPodDBTest, DeletionsLeaveNoTraceOfTheSong)
{
    Put({SongSpecOf("Song A"), SongSpecOf("Song B", 1)});
    ADirPodDB source;
    source.SetMoveInsteadOfDelete(0);
    Load(source);
    ASSERT_EQ(source.Count(), 2);
    AString first = Full(*source.GetFPath(0));
    ASSERT_EQ(source.Delete(&first, 1, 0), 0);
    // The entry of the sorted view is dropped by DeleteEntry, not by Delete.
    ASSERT_EQ(source.DeleteEntry(0, 0, 0), 0);
    EXPECT_EQ(source.Count(), 1);
    EXPECT_EQ(source.Delete(&first, 1, 0), kErrUnknown);
    EXPECT_EQ(source.GetDatabase()->GetTrackCount(), 1);
    // The file goes once the database that no longer lists it is stored.
    EXPECT_EQ(MusicFiles().size(), 2u);
    ASSERT_EQ(source.Finalize(), 0);
    EXPECT_EQ(MusicFiles().size(), 1u);
}

TEST_F(ADirPodDBTest, ASongWhoseFileCannotBeMovedStaysListed)
{
    Put({SongSpecOf("Song A")});
    // "Removed Files" cannot be made: a file has its name.
    fixtures::WriteFile(root + "/Removed Files", std::string("in the way"));
    ADirPodDB source;
    Load(source);
    ASSERT_EQ(source.Count(), 1);
    AString song = Full(*source.GetFPath(0));
    EXPECT_NE(source.Delete(&song, 1, 0), 0);
    EXPECT_EQ(MusicFiles().size(), 1u);
    EXPECT_EQ(source.GetDatabase()->GetTrackCount(), 1);
}

// Track locations are text from the database. One that leads out of the music folder (through
// ".." or a link) or names a folder must not cost the user a file: the file is neither handed out
// for reading and writing over nor refreshed, and deleting the track leaves the disk alone.
TEST_F(ADirPodDBTest, OnlyARegularFileInsideTheMusicFolderIsUsedOrDeleted)
{
    const std::string musicFolder = root + "/iPod_Control/Music";
    const std::string outside = volumes / "precious.mp3";
    std::filesystem::create_directories(musicFolder + "/F00/X.mp3");
    fixtures::WriteFile(musicFolder + "/F00/X.mp3/other.mp3", std::string("another song"));
    std::filesystem::create_symlink(outside, musicFolder + "/F00/LINK.mp3");
    fixtures::WriteFile(musicFolder + "/F01/OTHER.mp3", std::string("another track's file"));
    std::filesystem::create_symlink(musicFolder + "/F01/OTHER.mp3", musicFolder + "/F00/LINK2.mp3");
    struct Case {
        const char* what;
        std::u16string location;
        std::string kept; // what must still be there afterwards
    };
    for (const Case& c :
         {Case{"climbing out with ..", u":iPod_Control:Music:F00:..:..:..:..:precious.mp3", outside},
          {"a folder", u":iPod_Control:Music:F00:X.mp3", musicFolder + "/F00/X.mp3/other.mp3"},
          {"a link to a file outside", u":iPod_Control:Music:F00:LINK.mp3", outside},
          {"a link to another track's file", u":iPod_Control:Music:F00:LINK2.mp3",
           musicFolder + "/F01/OTHER.mp3"}}) {
        fixtures::WriteFile(outside, std::string("the user's own file"));
        using namespace fixtures::itdb;
        const Bytes track = Track(244, 1,
                                  {StringObject(1, u"Precious"), StringObject(4, u"Ann"),
                                   StringObject(3, u"Al"), StringObject(2, c.location)},
                                  {{36, 5}});
        fixtures::WriteFile(fixtures::DatabasePath(root),
                            Database({Dataset(1, List("mhlt", 92, {track})),
                                      Dataset(2, List("mhlp", 92, {Playlist(u"Pod", true, {Item(1)})}))}));
        for (signed char move : {0, 1}) {
            frontend.Clear();
            ADirPodDB source;
            source.SetMoveInsteadOfDelete(move);
            Load(source);
            ASSERT_EQ(source.Count(), 1) << c.what;
            AString song = Full(*source.GetFPath(0)), disk;
            EXPECT_EQ(source.GetFileDiskPath(&song, &disk, 1), kErrUnknown) << c.what;
            EXPECT_TRUE(disk.IsEmpty()) << c.what;
            EXPECT_NE(AError::FailureDetail(kErrUnknown).ToStdString().find("\"Precious\" is not used"),
                      std::string::npos);
            EXPECT_EQ(source.RefreshSong(&song), kErrUnknown) << c.what;
            EXPECT_FALSE(source.FileExists(&song)) << c.what;
            EXPECT_EQ(source.DeleteEntry(0, 1, 0), 0) << c.what;
            EXPECT_TRUE(std::filesystem::exists(c.kept)) << c.what << (move ? ", moving" : ", deleting");
            EXPECT_EQ(source.GetDatabase()->GetTrackCount(), 0) << c.what;
            EXPECT_NE(frontend.Log().find("\"Precious\""), std::string::npos) << c.what << frontend.Log();
        }
        EXPECT_FALSE(std::filesystem::exists(root + "/Removed Files")) << c.what;
    }
}

TEST_F(ADirPodDBTest, OnlyAnIPodThatPlaysVideoHandlesVideo)
{
    // The 5th generation, a classic, a nano of the 3rd and of the 4th generation; a nano of the 1st.
    for (auto [model, video] :
         {std::pair{"MA147", true}, {"MC293", true}, {"MA978", true}, {"MB754", true}, {"MA107", false}}) {
        options.modelNumStr = model;
        root = fixtures::MakeIPod(volumes.Path(), model, options);
        {
            IPodDB db;
            AString r = Root();
            ASSERT_EQ(db.Load(&r, 1, nullptr, nullptr), 0);
            for (const char* file : {"AAAA.mp3", "AAAB.m4v"})
                fixtures::TestIPod::Add(db, file, file);
            ASSERT_EQ(db.Store(nullptr), 0);
        }
        ADirPodDB source;
        AString r = Root();
        source.SetRootPath(&r);
        source.SetRootPath(&r); // setting the root again does not repeat the types
        EXPECT_EQ(source.GetTypeIncludeFilter().ToStdString(),
                  std::string(AudioFormats::kSongTypes) + (video ? "m4v:mp4:ipg:" : ""))
            << model;
        ADirPodDB listing;
        Load(listing);
        EXPECT_EQ(listing.Count(), video ? 2 : 1) << model;
    }
}

// A run killed between copying songs and storing the database (here: a source that goes away
// without Finalize, as a killed process does) leaves complete copies, a copy cut short and
// temporary files. The next listing takes the complete copies in as the songs they are, and its
// run removes the rest, so that no song is copied twice and no file stays that nothing lists; a
// listing that changes nothing (a plan only) touches none of it.
TEST_F(ADirPodDBTest, WhatAnInterruptedRunLeftIsMended)
{
    std::vector<fixtures::SongSpec> songs;
    for (std::uint32_t i = 0; i < 4; ++i)
        songs.push_back(SongSpecOf("Song " + std::to_string(i), i));
    std::map<std::string, std::string> byName; // the files below the music folder
    {
        ADirPodDB killed;
        Load(killed);
        Put(songs, &killed);
        killed.GetDatabase()->GetDatabase()->GetTrackList()->ForEachTrack([&byName](MHIT& track) {
            byName[track.GetName().ToStdString()] = track.GetFilepath().ToStdString().substr(20);
        });
    }
    ASSERT_EQ(MusicFiles().size(), 4u);
    SettleJournal(); // the batch's copies reached the disk before the run stopped
    std::filesystem::resize_file(root + "/iPod_Control/Music/" + byName["Song 3"], 100); // cut short
    fixtures::WriteFile(root + "/iPod_Control/Music/F07/.ABCD.mp3.pelorin-4242-3.tmp", std::string("half"));
    fixtures::WriteFile(root + "/iPod_Control/iTunes/.iTunesSD.pelorin-4242-4.tmp", std::string("half"));
    fixtures::WriteFile(root + "/iPod_Control/Music/F07/.hidden.mp3", std::string("not ours"));
    EXPECT_TRUE(fixtures::Exists(root + "/iPod_Control/iTunes/PelorinJournal"));

    const std::vector<std::string> left = MusicFiles(), iTunesFolder = ITunesFiles();
    {
        ADirPodDB planOnly;
        Load(planOnly);
        EXPECT_EQ(planOnly.Count(), 3);
        EXPECT_NE(
            frontend.Log().find("3 songs that a run which did not finish copied onto the iPod are taken"),
            std::string::npos)
            << frontend.Log();
    }
    EXPECT_EQ(MusicFiles(), left);
    EXPECT_EQ(ITunesFiles(), iTunesFolder);

    ADirPodDB next;
    Load(next);
    EXPECT_EQ(next.Count(), 3);
    // The songs are there: adding them again copies nothing.
    for (int i = 0; i < 3; ++i) {
        AString file = AString::FromUTF8(music / (songs[i].title + ".mp3"));
        EXPECT_EQ(next.AddSongFromDisk(&file, nullptr, nullptr), kErrDuplicate);
    }
    ASSERT_EQ(next.Finalize(), 0);
    std::vector<std::string> expected{byName["Song 0"], byName["Song 1"], byName["Song 2"],
                                      "F07/.hidden.mp3"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(MusicFiles(), expected);
    EXPECT_EQ(ITunesFiles(), kBareITunes);
    EXPECT_EQ(StoredTracks(), 3u);
}

TEST_F(ADirPodDBTest, ACopyNotKnownToBeOnTheDiskIsRemovedNotTakenIn)
{
    {
        ADirPodDB killed;
        Load(killed);
        Put({SongSpecOf("Song", 1)}, &killed);
    }
    ASSERT_EQ(MusicFiles().size(), 1u); // complete, but its batch was never flushed
    ADirPodDB next;
    Load(next);
    EXPECT_EQ(next.Count(), 0);
    ASSERT_EQ(next.Finalize(), 0);
    EXPECT_TRUE(MusicFiles().empty());
}

TEST_F(ADirPodDBTest, ALongRunStoresTheDatabaseOnTheWay)
{
    ADirPodDB source;
    std::int64_t now = 0;
    source.SetStoreCadence(IPodStoreCadence([&now] { return now; }));
    Load(source);
    for (std::uint32_t i = 0; i < 4; ++i) {
        Put({SongSpecOf("Song " + std::to_string(i), i)}, &source);
        // A minute after the first song: the three songs kept are stored with the third.
        EXPECT_EQ(StoredTracks(), i < 2 ? 0u : 3u) << i;
        now += i == 1 ? IPodStoreCadence::kLongestKeepMs : 1;
    }
    ASSERT_EQ(source.Finalize(), 0);
    EXPECT_EQ(StoredTracks(), 4u);
    EXPECT_FALSE(fixtures::Exists(root + "/iPod_Control/iTunes/PelorinJournal"));
}

// A store that fails leaves every listed track with its file and says what it left. (That a run
// stopped between the store and the removal has the removal carried out by the next run is checked
// by stopping a run at every call in the fault suite.)
TEST_F(ADirPodDBTest, AFailedStoreLeavesEveryListedFile)
{
    Put({SongSpecOf("Song A"), SongSpecOf("Song B", 1)});
    const std::string database = fixtures::DatabasePath(root);
    const auto stored = ReadFile(database);
    ADirPodDB failing;
    Load(failing);
    ASSERT_EQ(failing.DeleteEntry(0, 1, 0), 0);
    // The database cannot be replaced: a folder has taken its name.
    std::filesystem::rename(database, database + ".kept");
    std::filesystem::create_directories(database + "/in the way");
    EXPECT_EQ(failing.Finalize(), kErrUnknown);
    EXPECT_EQ(AError::FailureDetail(kErrUnknown).ToStdString(),
              "the iPod's database " + database +
                  " was changed by another program since it was read; nothing was changed on the iPod");
    std::filesystem::remove_all(database);
    std::filesystem::rename(database + ".kept", database);
    EXPECT_EQ(ReadFile(database), stored);
    EXPECT_EQ(MusicFiles().size(), 2u);
    EXPECT_TRUE(ListFiles(root + "/Removed Files").empty());
}

// A run stopped between replacing iTunesDB and replacing iTunesSD leaves a shuffle playing the old
// list (or none at all); the next run rewrites iTunesSD even when it has nothing else to do.
TEST_F(ADirPodDBTest, AStaleShuffleFileIsRewrittenByARunWithNothingElseToDo)
{
    options.modelNumStr = "MA133";
    SetUp();
    Put({SongSpecOf("Song A")});
    const std::string shuffleFile = root + "/iPod_Control/iTunes/iTunesSD";
    const auto current = ReadFile(shuffleFile);
    ASSERT_EQ(current.size(), IPodDB::kSDHeaderLength + IPodDB::kSDEntryLength);
    for (const bool stale : {true, false}) {
        if (stale)
            fixtures::WriteFile(shuffleFile, std::vector<std::uint8_t>(IPodDB::kSDHeaderLength, 0));
        else
            std::filesystem::remove(shuffleFile);
        ADirPodDB source;
        Load(source);
        ASSERT_EQ(source.Finalize(), 0);
        EXPECT_EQ(ReadFile(shuffleFile), current) << stale;
    }
    // Up to date, a run with nothing to do writes nothing.
    fixtures::SetModTime(fixtures::DatabasePath(root), 1000000000);
    ADirPodDB again;
    Load(again);
    ASSERT_EQ(again.Finalize(), 0);
    struct stat info {};
    ASSERT_EQ(stat(fixtures::DatabasePath(root).c_str(), &info), 0);
    EXPECT_EQ(info.st_mtime, 1000000000);
}

// The state file remembers the iPod's mount point as the folder for removed songs; mounted
// elsewhere now, the iPod's songs still go onto it, never onto another iPod mounted where it was.
TEST_F(ADirPodDBTest, RemovedSongsGoOntoTheIPodTheyCameFromNotOntoAnotherMountedWhereItWas)
{
    const std::string other = fixtures::MakeIPod(volumes.Path(), "OTHER");
    Put({SongSpecOf("Song A")});
    ADirPodDB source;
    source.SetRemovedFilesFolder(AString::FromUTF8(other + "/"));
    Load(source);
    ASSERT_EQ(source.DeleteEntry(0, 1, 0), 0);
    ASSERT_EQ(source.Finalize(), 0);
    EXPECT_FALSE(fixtures::Exists(other + "/Removed Files"));
    EXPECT_EQ(ListFiles(root + "/Removed Files").size(), 1u);
}

// Two runs on one iPod: the one that changes it second reads the database the first stored again,
// and changes that one, so that neither run's work is lost.
TEST_F(ADirPodDBTest, AChangeMadeAfterAnotherProgramStoredTheDatabaseBuildsOnWhatItStored)
{
    Put({SongSpecOf("Song A"), SongSpecOf("Song B", 1)});
    ADirPodDB first, second;
    Load(first);
    Load(second);
    ASSERT_EQ(first.Count(), 2);
    const AString songA = Full(*first.GetFPath(0));
    Put({SongSpecOf("Song C", 2)}, &second);
    ASSERT_EQ(second.Finalize(), 0);

    // By its listed path (with a handle of the old database), the song is found by its tags.
    ASSERT_EQ(first.Delete(&songA, 1, 0), 0);
    EXPECT_NE(frontend.Log().find("changed by another program"), std::string::npos) << frontend.Log();
    // A listed entry by its number is not: the listing is of the old database.
    EXPECT_EQ(first.DeleteEntry(0, 1, 0), kErrBusy);
    ASSERT_EQ(first.Finalize(), 0);
    ADirPodDB check;
    Load(check);
    EXPECT_EQ(Listed(check),
              (std::vector<std::string>{"/Rock/Artist/Album/Song B/mp3", "/Rock/Artist/Album/Song C/mp3"}));
    EXPECT_EQ(MusicFiles().size(), 2u);
}

// A source that has not read the whole database (only the iPod's name, or a listing that failed)
// cannot store one, so it copies nothing onto the iPod: the copy would be listed nowhere.
TEST_F(ADirPodDBTest, WithoutTheWholeDatabaseNothingIsCopiedOrStored)
{
    AString file = Song("a.mp3", SongSpecOf("Song A"));
    ADirPodDB nameOnly;
    AString r = Root();
    nameOnly.SetRootPath(&r);
    EXPECT_EQ(nameOnly.AddSongFromDisk(&file, nullptr, nullptr), kErrUnknown);
    EXPECT_EQ(nameOnly.Finalize(), kErrUnknown);

    fixtures::WriteFile(fixtures::DatabasePath(root), std::string("not a database"));
    ADirPodDB failed;
    EXPECT_NE(failed.InitWPath(&r, 0, nullptr), 0);
    EXPECT_EQ(failed.AddSongFromDisk(&file, nullptr, nullptr), kErrUnknown);
    EXPECT_EQ(failed.Finalize(), kErrUnknown);
    EXPECT_TRUE(MusicFiles().empty());
    EXPECT_EQ(ITunesFiles(), kBareITunes);
}
