// The song library sync: its sources by type, its song settings, the song comparisons, display
// texts, the checks before a run, the state record, and whole runs between folders of songs checked
// by the files on disk.

#include "ACommon/sync/ASyncLib.h"

#include "ACommon/base/AError.h"
#include "ACommon/sources/ADirSong.h"
#include "fixtures/FolderPair.h"
#include "fixtures/MusicFiles.h"
#include "fixtures/RecordingFrontend.h"
#include "fixtures/StateFile.h"
#include "fixtures/TempDir.h"
#include "fixtures/Text.h"
#include "samples/IPodTree.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

using fixtures::ListFiles;
using fixtures::ReadFile;
using fixtures::RecordingFrontend;
using fixtures::SetModTime;
using fixtures::TempDir;

namespace {

using fixtures::Has;
using fixtures::SongSpecOf;

ADirSong* Song(ADir* dir) { return dynamic_cast<ADirSong*>(dir); }

std::vector<int> Kinds(ASync& sync)
{
    std::vector<int> kinds;
    for (int i = 0; i < sync.GetActionCount(); ++i)
        kinds.push_back(sync.GetAction(i)->kind);
    return kinds;
}

// Song syncs between two folders L and R.
class SongPair : public fixtures::FolderPair {
public:
    std::unique_ptr<ASyncLib> Load(int autoAction, signed char destDeletes) const
    {
        return FolderPair::Load<ASyncLib>({"", autoAction, destDeletes}, nullptr, ADir::kTypeSongFolder,
                                          ADir::kTypeSongFolder);
    }
    int Run(int autoAction, signed char destDeletes) const
    {
        return FolderPair::Run(*Load(autoAction, destDeletes));
    }
    // Plans only: lists, drops duplicates and plans; the actions stay in the sync.
    std::unique_ptr<ASyncLib> Plan(int autoAction, signed char destDeletes,
                                   const std::function<void(ASyncLib&)>& adjust = {}) const
    {
        std::unique_ptr<ASyncLib> sync = Load(autoAction, destDeletes);
        if (adjust)
            adjust(*sync);
        EXPECT_EQ(sync->UpdateFileLists(nullptr), 0);
        EXPECT_EQ(sync->ScanForDups(nullptr), 0);
        if (autoAction == 3)
            EXPECT_EQ(sync->TwoWaySync(nullptr), 0);
        else
            EXPECT_EQ(sync->XCopy(autoAction == 1 ? sync->GetDir1() : sync->GetDir2(),
                                  autoAction == 1 ? sync->GetDir2() : sync->GetDir1(), nullptr),
                      0);
        return sync;
    }
};

// A song source that stands for the sources not built yet, for the checks before a run.
class StandInSource : public ADirSong {
public:
    StandInSource(int kind, std::string volumeName, int playlistKind)
        : type(kind), volume(std::move(volumeName)), playlistType(playlistKind)
    {
    }
    int GetType() const override { return type; }
    void GetRealRootPath(AString* out) override { *out = AString::FromUTF8(volume); }
    int GetPlayListType() const override { return playlistType; }

private:
    int type;
    std::string volume;
    int playlistType;
};

class StandInSync : public ASyncLib {
public:
    StandInSync() : ASyncLib(ADir::kTypeSongFolder, ADir::kTypeSongFolder) {}
    void SetSide(int side, int type, const std::string& volume, int playlistType)
    {
        (side == 1 ? dir1 : dir2) = std::make_unique<StandInSource>(type, volume, playlistType);
    }
};

} // namespace

// ---------------------------------------------------------------------------------------------
// Sources by type

TEST(ASyncLib, ATypeWithoutASourceLeavesItsSideAsItWas)
{
    for (int type : {12345, 0}) {
        ASyncLib sync(ADir::kTypeSongFolder, ADir::kTypeSongFolder);
        ADir* right = sync.GetDir2();
        EXPECT_EQ(sync.SetTypes(ADir::kTypeFolder, type), kErrNotSupported) << type;
        EXPECT_EQ(sync.GetDir1()->GetType(), ADir::kTypeFolder);
        EXPECT_EQ(sync.GetDir2(), right);
        EXPECT_NE(sync.GetSavedDir2(), nullptr);
        EXPECT_EQ(sync.GetType2(), ADir::kTypeSongFolder);
    }
}

// ---------------------------------------------------------------------------------------------
// Song settings

TEST(ASyncLib, OnlyChangingWhatTellsSongsApartDropsTheSavedLists)
{
    ASyncLib sync(ADir::kTypeSongFolder, ADir::kTypeSongFolder);
    AString entry("/Rock/A/B/S/mp3?0");
    AString rock(":Rock:"), rockUpper(":ROCK:"), jazz(":Jazz:"), ids(":me:");
    sync.SetGenreIncludeFilter(&rock);
    // `same` sets what is set already, `other` changes it.
    auto check = [&](const char* what, const std::function<void()>& same, const std::function<void()>& other,
                     bool drops) {
        sync.GetSavedDir1()->AddFPath(&entry);
        sync.GetSavedDir2()->AddFPath(&entry);
        auto savedKept = [&] { return sync.GetSavedDir1()->Count() > 0 && sync.GetSavedDir2()->Count() > 0; };
        same();
        EXPECT_TRUE(savedKept()) << what;
        other();
        EXPECT_EQ(savedKept(), !drops) << what;
        sync.GetSavedDir1()->DeleteAll();
        sync.GetSavedDir2()->DeleteAll();
    };
    struct Flag {
        const char* what;
        void (ASyncLib::*set)(signed char);
        signed char same, other;
        bool drops;
    };
    for (const Flag& f : {Flag{"genre relevant", &ASyncLib::SetGenreRelevantOnDupSongCompare, 1, 0, true},
                          {"album relevant", &ASyncLib::SetAlbumRelevantOnDupSongCompare, 1, 0, true},
                          {"file type relevant", &ASyncLib::SetFileTypeRelevantOnDupSongCompare, 1, 0, true},
                          {"favor size", &ASyncLib::SetFavorSizeVsDate, 1, 0, true},
                          {"dont dup songs", &ASyncLib::SetDontDupSongs, 0, 1, false},
                          {"move instead of delete", &ASyncLib::SetMoveInsteadOfDelete, 1, 0, false},
                          {"create last playlist", &ASyncLib::SetCreateLastPlaylist, 1, 0, false}})
        check(
            f.what, [&] { (sync.*f.set)(f.same); }, [&] { (sync.*f.set)(f.other); }, f.drops);
    check(
        "genre filter mode", [&] { sync.SetGenreFilterMode(0); }, [&] { sync.SetGenreFilterMode(1); }, true);
    // Texts compare ignoring case.
    check(
        "genre filter text", [&] { sync.SetGenreIncludeFilter(&rockUpper); },
        [&] { sync.SetGenreIncludeFilter(&jazz); }, true);
    check(
        "apple ids", [] {}, [&] { sync.SetAppleIDs(&ids); }, false);
    // Set on all four sources.
    for (ADir* dir : {sync.GetDir1(), sync.GetDir2(), sync.GetSavedDir1(), sync.GetSavedDir2()}) {
        EXPECT_EQ(Song(dir)->GetGenreRelevantOnDupSongCompare(), 0);
        EXPECT_EQ(Song(dir)->GetGenreIncludeFilter(), ":Jazz:");
        EXPECT_EQ(Song(dir)->GetDontDupSongs(), 1);
        EXPECT_EQ(dir->GetMoveInsteadOfDelete(), 0);
        EXPECT_EQ(Song(dir)->GetAppleIDs(), ":me:");
        EXPECT_EQ(Song(dir)->GetCreateLastPlaylist(), 0);
    }
    EXPECT_EQ(sync.GetGenreRelevantOnDupSongCompare(), 0);
    EXPECT_EQ(*sync.GetGenreIncludeFilter(), ":Jazz:");
}

TEST(ASyncLib, WithAPlainLeftSideTheSettingsAreTheRightSides)
{
    ASyncLib sync(ADir::kTypeFolder, ADir::kTypeSongFolder);
    AString entry("x"), songEntry("/Rock/A/B/S/mp3?0");
    sync.SetGenreRelevantOnDupSongCompare(0);
    sync.GetSavedDir1()->AddFPath(&entry);
    sync.GetSavedDir2()->AddFPath(&songEntry);
    sync.SetGenreRelevantOnDupSongCompare(0);
    EXPECT_EQ(sync.GetSavedDir2()->Count(), 1);
    EXPECT_EQ(sync.GetGenreRelevantOnDupSongCompare(), 0);
    sync.SetDontDupSongs(1);
    EXPECT_EQ(sync.GetDontDupSongs(), 1);
    EXPECT_EQ(Song(sync.GetDir2())->GetDontDupSongs(), 1);
}

// ---------------------------------------------------------------------------------------------
// Comparisons and texts

TEST(ASyncLib, SongsCompareUpToTheirKeyIgnoringCase)
{
    ASyncLib sync(ADir::kTypeSongFolder, ADir::kTypeSongFolder);
    struct Case {
        const char* a;
        const char* b;
        int sign;
    };
    for (const Case& c : {Case{"/Rock/A/B/S/mp3?1", "/Rock/A/B/S/mp3?2", 0},
                          {"/Rock/A/B/S/mp3?1", "/rock/a/b/s/MP3?77", 0},
                          {"/Rock/A/B/S/mp3?9", "/Rock/A/B/S 1/mp3?0", 1},
                          {"/Rock/A/B/S/mp3?1", "/Rock/A/B/T/mp3?0", -1},
                          {"a/b", "A/B", 0},
                          {"a/b", "a/c", -1}})
        EXPECT_EQ(sync.SyncCompare(AString(c.a), AString(c.b)), c.sign) << c.a << " " << c.b;
}

TEST(ASyncLib, DisplayTextsShowTheSongsTags)
{
    ASyncLib sync(ADir::kTypeSongFolder, ADir::kTypeSongFolder);
    AString left("/L/"), right("/R/");
    sync.SetRootPath1(&left, nullptr, 0);
    sync.SetRootPath2(&right, nullptr, 0);
    struct Case {
        const char* vp;
        signed char isFile;
        int maxLen;
        signed char detailed;
        const char* text;
    };
    const std::string longTitle(30, 'T');
    const std::string longPath = "/R/Rock/Artist/Album/" + longTitle + "/mp3?1";
    for (const Case& c :
         {Case{"/L/Rock/Artist/Album/Song/mp3?3", 1, -1, 1, "Rock; Artist; Album; Song; mp3"},
          {"/L/Rock/Artist/Album/Song/mp3?3", 1, -1, 0, "/L/: Rock; Artist; Album; Song; mp3"},
          {"/R/*/123/*/Track/mp3?3", 1, -1, 1, "Unknown Genre; 123; Unknown Album; Track; mp3"},
          {"/R/Rock/*/Album/*/*?3", 1, -1, 1, "Rock; Unknown Artist; Album; Unknown Title; Unknown Type"},
          {"/R/Rock/Artist/Album/Song/mp3?3", 0, -1, 1, "/R/"},
          // The title always, then artist, album, genre and type as long as they fit.
          {"/R/Rock/Artist/Album/Song/mp3?3", 1, 25, 0, "Artist; Album; Song"},
          {"/R/Rock/Artist/Album/Song/mp3?3", 1, 40, 0, "Rock; Artist; Album; Song; mp3"},
          {"/R/Rock/Artist/Album/Song/mp3?3", 1, 14, 0, "Artist; Song"},
          {longPath.c_str(), 1, 25, 0, longTitle.c_str()},
          // Not a song path: shown as it is.
          {"/L/plain/file.mp3", 1, 25, 0, "/L/plain/file.mp3"}}) {
        AString vp(c.vp);
        EXPECT_EQ(sync.FormatVPForDisplay(&vp, c.isFile, c.maxLen, c.detailed).ToStdString(), c.text) << c.vp;
    }
    sync.SetGenreRelevantOnDupSongCompare(0);
    sync.SetFileTypeRelevantOnDupSongCompare(0);
    AString vp("/L/Artist/Album/Song?3");
    EXPECT_EQ(sync.FormatVPForDisplay(&vp, 1, -1, 1), "Artist; Album; Song");
}

// ---------------------------------------------------------------------------------------------
// Checks before a run

// A run the sides cannot take is refused before it starts, with one message; a read-only playlist
// refuses only when it receives.
TEST(ASyncLib, ARunTheSidesCannotTakeIsRefusedBeforeItStarts)
{
    fixtures::TempDir dir;
    const std::string iPod = samples::MakeIPod(dir.Path(), "iPod");
    samples::IPodOptions automatic;
    automatic.autoUpdate = true;
    const std::string updating = samples::MakeIPod(dir.Path(), "Auto", automatic);
    struct Case {
        const char* what;
        int autoAction;
        std::string volume; // of the iPod on the right
        int iPodPlaylist;   // 1: read only; the library's on the left is read only
        int result;
        const char* told;
    };
    for (const Case& c : {
             Case{"the library's playlist receives", ASync::kRightToLeft, iPod, 0, kErrInvalidPlaylist,
                  "The selected Playlist in iTunes is a Read Only Playlist. Songs cannot be added to a Read "
                  "Only Playlist. Select a different Playlist or a different Sync type."},
             Case{"the library's playlist sends", ASync::kLeftToRight, iPod, 0, 0, ""},
             Case{"the iPod's playlist receives", ASync::kLeftToRight, iPod, 1, kErrInvalidPlaylist,
                  "The selected Playlist in iPod is a Read Only Playlist."},
             Case{
                 "an iPod set to update itself", ASync::kLeftToRight, updating, 1, kErrAutoUpdate,
                 "Selected iPod is set to Automatic Update. The iPod must be set to \"Manual Update\" before "
                 "performing a Sync."},
             Case{"a folder that is no iPod", ASync::kLeftToRight, dir.Path(), 0, kErrUnknown,
                  ""}, // not told
             Case{
                 "an iPod whose volume is missing", ASync::kLeftToRight, "", 0, kErrVolumeNotFound,
                 "Selected iPod's volume cannot be found! The iPod must be set to \"Enable Disk Use\" before "
                 "performing a sync."},
         }) {
        RecordingFrontend frontend;
        StandInSync sync;
        sync.SetSide(1, ADir::kTypeITunes, "/Music", 1);
        sync.SetSide(2, ADir::kTypeIPod, c.volume, c.iPodPlaylist);
        sync.SetAutoAction(c.autoAction);
        EXPECT_EQ(c.result ? sync.DoSync(nullptr) : sync.PreSyncCheck(), c.result) << c.what;
        // One message where one is given here; none for a run that may go on.
        const std::vector<std::string> told = frontend.questions.Informed();
        EXPECT_EQ(told.size(), *c.told ? 1u : 0u) << c.what;
        if (*c.told && !told.empty()) {
            EXPECT_EQ(told[0].rfind(c.told, 0), 0u) << c.what << ": " << told[0];
        }
        EXPECT_FALSE(Has(frontend.Log(), "Initializing sync...")) << c.what;
    }
}

// ---------------------------------------------------------------------------------------------
// Whole runs between folders of songs

TEST(ASyncLibRun, DuplicatesOnOneSideAreCopiedOnce)
{
    SongPair pair;
    fixtures::WriteSong(pair.L("Song.mp3"), SongSpecOf("Song", 0));
    fixtures::WriteSong(pair.L("Song 1.mp3"), SongSpecOf("Song", 1));
    EXPECT_EQ(pair.Run(1, 0), 0);
    EXPECT_EQ(ListFiles(pair.R()), std::vector<std::string>{"Artist/Album/Song.mp3"});
    EXPECT_EQ(ListFiles(pair.L()).size(), 2u);
}

// Other music under the same tags replaces the older copy in place; a newer destination is judged
// on the songs' files and asked about.
TEST(ASyncLibRun, NewerMusicReplacesTheOlderFileInPlace)
{
    struct Case {
        int direction;
        std::int64_t leftTime; // the right copy is dated 1000000000
        const char* answer;
        bool replaced;
        const char* asked;
    };
    for (const Case& c : {Case{3, 1100000000, "Yes", true, "Replace file?"},
                          Case{1, 900000000, "No", false, "Replace newer file?"}}) {
        RecordingFrontend frontend;
        frontend.questions.SetDefaultAnswer(c.answer);
        SongPair pair;
        fixtures::WriteSong(pair.L("a.mp3"), SongSpecOf("Song", 1));
        fixtures::WriteSong(pair.R("Artist/Album/Song.mp3"), SongSpecOf("Song", 2));
        SetModTime(pair.L("a.mp3"), c.leftTime);
        SetModTime(pair.R("Artist/Album/Song.mp3"), 1000000000);
        const auto winner = ReadFile(c.replaced ? pair.L("a.mp3") : pair.R("Artist/Album/Song.mp3"));
        EXPECT_EQ(Kinds(*pair.Plan(c.direction, 1)), std::vector<int>{ASync::kReplaceRight}) << c.asked;
        EXPECT_EQ(pair.Run(c.direction, 0), 0);
        EXPECT_EQ(frontend.QuestionTitles(), std::vector<std::string>{c.asked});
        EXPECT_EQ(ListFiles(pair.R()), std::vector<std::string>{"Artist/Album/Song.mp3"});
        EXPECT_EQ(ReadFile(pair.R("Artist/Album/Song.mp3")), winner) << c.asked;
    }
}

TEST(ASyncLib, OnlyAnotherPlaylistDropsTheSavedLists)
{
    ASyncLib sync(ADir::kTypeITunes, ADir::kTypeIPod);
    AString entry("/Rock/A/B/S/mp3?1:0");
    auto fill = [&] {
        sync.GetSavedDir1()->AddFPath(&entry);
        sync.GetSavedDir2()->AddFPath(&entry);
    };
    AString library("Library"), mix("Mix"), pod("Pod"), road("Road");
    sync.SetPlaylist1(&library);
    sync.SetPlaylist2(&pod);
    fill();
    sync.SetPlaylist1(&library);
    sync.SetPlaylist2(&pod);
    EXPECT_EQ(sync.GetSavedDir1()->Count(), 1);
    sync.SetPlaylist1(&mix);
    EXPECT_EQ(sync.GetSavedDir1()->Count() + sync.GetSavedDir2()->Count(), 0);
    fill();
    sync.SetPlaylist2(&road);
    EXPECT_EQ(sync.GetSavedDir1()->Count() + sync.GetSavedDir2()->Count(), 0);
}

// In no direction: the same music under other tags, nor any song on both sides when songs are
// never duplicated.
TEST(ASyncLibRun, ASongOnBothSidesIsLeftAloneWhenNothingTellsItChanged)
{
    fixtures::SongSpec year1999 = SongSpecOf("Song", 5), year2001 = SongSpecOf("Song", 5);
    year1999.year = 1999;
    year2001.year = 2001;
    year2001.composer = "Someone";
    struct Case {
        const char* what;
        fixtures::SongSpec left, right;
        std::int64_t rightTime; // the left copy is dated 1100000000
        signed char dontDup;
    };
    for (const Case& c : {Case{"other tags, older", year1999, year2001, 1000000000, 0},
                          Case{"other music, newer, never duplicated", SongSpecOf("Song", 1),
                               SongSpecOf("Song", 2), 1200000000, 1}}) {
        SongPair pair;
        fixtures::WriteSong(pair.L("a.mp3"), c.left);
        fixtures::WriteSong(pair.R("b.mp3"), c.right);
        SetModTime(pair.L("a.mp3"), 1100000000);
        SetModTime(pair.R("b.mp3"), c.rightTime);
        for (int direction : {1, 2, 3})
            for (signed char deletes : {0, 1})
                EXPECT_EQ(
                    pair.Plan(direction, deletes, [&c](ASyncLib& sync) { sync.SetDontDupSongs(c.dontDup); })
                        ->GetActionCount(),
                    0)
                    << c.what << " " << direction << " " << int(deletes);
    }
}

TEST(ASyncLibRun, ASongThatCannotBeReadNeverCostsItsCopyOnTheOtherSide)
{
    // A damaged file (cut to nothing by a failed write) is left out of its side's list, which then
    // looks as if the song were gone from that side.
    RecordingFrontend frontend;
    frontend.questions.SetDefaultAnswer("Yes to All");
    {
        SongPair pair; // a mirror whose source copy is damaged
        fixtures::WriteSong(pair.R("Artist/Album/Song.mp3"), SongSpecOf("Song", 1));
        fixtures::WriteFile(pair.L("a.mp3"), std::string());
        EXPECT_EQ(pair.Run(1, 1), 0);
        EXPECT_EQ(ListFiles(pair.R()), std::vector<std::string>{"Artist/Album/Song.mp3"});
        EXPECT_TRUE(Has(frontend.Log(), "1 files on ")) << frontend.Log();
        EXPECT_TRUE(Has(frontend.Log(), " could not be read, so this sync deletes nothing on "))
            << frontend.Log();
    }
    SongPair pair; // a two-way sync whose earlier copy is damaged since the last run
    fixtures::WriteSong(pair.L("a.mp3"), SongSpecOf("Song", 1));
    std::unique_ptr<ASyncLib> sync = pair.Load(3, 1);
    ASSERT_EQ(sync->DoSync(nullptr), 0);
    ASSERT_EQ(ListFiles(pair.R()), std::vector<std::string>{"Artist/Album/Song.mp3"});
    fixtures::WriteFile(pair.R("Artist/Album/Song.mp3"), std::string());
    EXPECT_EQ(sync->DoSync(nullptr), 0);
    EXPECT_EQ(ListFiles(pair.L()), std::vector<std::string>{"a.mp3"});
    EXPECT_FALSE(std::filesystem::exists(pair.tmp / "Removed Files"));
}

TEST(ASyncLibRun, AnUntaggedFileFromAPlainFolderKeepsItsName)
{
    TempDir tmp;
    fixtures::SongSpec untagged;
    untagged.seconds = 1;
    untagged.bitRate = 32;
    fixtures::WriteSong(tmp / "L/Track.mp3", untagged);
    std::filesystem::create_directories(tmp / "R");
    ASyncLib sync(ADir::kTypeFolder, ADir::kTypeSongFolder);
    AString left = tmp.A("L"), right = tmp.A("R");
    sync.SetRootPath1(&left, nullptr, 0);
    sync.SetRootPath2(&right, nullptr, 0);
    sync.SetShowActionsList(0);
    EXPECT_EQ(sync.DoSync(nullptr), 0);
    EXPECT_EQ(ListFiles(tmp / "R"), std::vector<std::string>{"Unknown Artist/Unknown Album/Track.mp3"});
}

// ---------------------------------------------------------------------------------------------
// Synchronize runs between folders of songs, judged by what changed since the last run

namespace {

constexpr std::int64_t kSynced = 1000000000;
const char* const kRightSong = "Artist/Album/Song.mp3";

// A song synced once between the two folders (both copies dated kSynced).
void SyncOneSong(SongPair& pair, RecordingFrontend& frontend)
{
    fixtures::WriteSong(pair.L("a.mp3"), SongSpecOf("Song", 1));
    SetModTime(pair.L("a.mp3"), kSynced);
    ASSERT_EQ(pair.Run(3, 1), 0);
    SetModTime(pair.R(kRightSong), kSynced);
    ASSERT_EQ(pair.Run(3, 1), 0);
    frontend.Clear();
}

std::vector<std::string> RemovedFiles(const SongPair& pair)
{
    const std::string folder = pair.tmp / "Removed Files";
    return std::filesystem::exists(folder) ? ListFiles(folder) : std::vector<std::string>{};
}

} // namespace

TEST(ASyncLibRun, TheSongThatChangedWins)
{
    struct Case {
        const char* name;
        std::int64_t leftTime;       // 0: the left copy is left as it was
        std::int64_t rightTime;      // 0: the right copy is left as it was
        bool removed;                // the losing copy is in "Removed Files"
        std::uint32_t rightSeed = 8; // the right edit's music: 1 is the synced song's
        int rightTrack = 0;
    };
    for (const Case& c : {Case{"left edit with an older date", kSynced - 5000, 0, false},
                          Case{"right edit with an older date", 0, kSynced - 5000, false},
                          Case{"both edited, left newer", kSynced + 200, kSynced + 100, true},
                          // Of the same size: not a date a FAT volume shifted.
                          Case{"right edit within a minute of the copy", 0, kSynced + 30, false},
                          Case{"a tag-only edit", 0, kSynced + 100, false, 1, 5}}) {
        RecordingFrontend frontend;
        frontend.questions.SetDefaultAnswer("Yes to All");
        SongPair pair;
        SyncOneSong(pair, frontend);
        if (c.leftTime) {
            fixtures::WriteSong(pair.L("a.mp3"), SongSpecOf("Song", 7));
            SetModTime(pair.L("a.mp3"), c.leftTime);
        }
        if (c.rightTime) {
            fixtures::WriteSong(pair.R(kRightSong), SongSpecOf("Song", c.rightSeed, c.rightTrack));
            SetModTime(pair.R(kRightSong), c.rightTime);
        }
        const auto winner = c.leftTime ? ReadFile(pair.L("a.mp3")) : ReadFile(pair.R(kRightSong));
        EXPECT_EQ(pair.Run(3, 1), 0) << c.name;
        EXPECT_EQ(ReadFile(pair.L("a.mp3")), winner) << c.name;
        EXPECT_EQ(ReadFile(pair.R(kRightSong)), winner) << c.name;
        EXPECT_EQ(RemovedFiles(pair).size(), c.removed ? 1u : 0u) << c.name;
    }
}

TEST(ASyncLib, OnlySongSourcesFacingAnIPodCarryTheConvertedTypes)
{
    struct Case {
        int left, right;
        signed char leftConverts, rightConverts;
    };
    for (auto [left, right, leftConverts, rightConverts] :
         {Case{ADir::kTypeITunes, ADir::kTypeIPodDB, 1, 0},
          {ADir::kTypeSongFolder, ADir::kTypeIPod, 1, 0},
          {ADir::kTypeIPodDB, ADir::kTypeSongFolder, 0, 1},
          {ADir::kTypeSongFolder, ADir::kTypeSongFolder, 0, 0}}) {
        ASyncLib sync(ADir::kTypeITunes, ADir::kTypeIPodDB);
        ASSERT_EQ(sync.SetTypes(left, right), 0);
        for (auto [dir, converts] : {std::pair{sync.GetDir1(), leftConverts},
                                     {sync.GetSavedDir1(), leftConverts},
                                     {sync.GetDir2(), rightConverts},
                                     {sync.GetSavedDir2(), rightConverts}})
            EXPECT_EQ(static_cast<ADirSong*>(dir)->GetConvertsForIPod(), converts) << left << " " << right;
    }
}
