// The song library sync between a folder of songs (left) and an iPod read through its own database
// (right): whole runs of every sync type, checked by the files on both sides and by the iPod's
// database as it reads back afterwards.

#include "ACommon/sync/ASyncLib.h"

#include "ACommon/base/AError.h"
#include "ACommon/base/CopyAhead.h"
#include "ACommon/itunesdb/IPodDB.h"
#include "ACommon/itunesdb/IPodLock.h"
#include "ACommon/itunesdb/MHIT.h"
#include "ACommon/itunesdb/MHLT.h"
#include "ACommon/sources/ADirPodDB.h"
#include "fixtures/FolderPair.h"
#include "fixtures/IPodFixture.h"
#include "fixtures/MusicFiles.h"
#include "fixtures/RecordingFrontend.h"
#include "fixtures/TempDir.h"
#include "fixtures/Text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

using fixtures::Exists;
using fixtures::ListFiles;
using fixtures::ReadFile;

namespace {

using fixtures::Has;

// A song filed as track 1.
fixtures::SongSpec SongSpecOf(const std::string& title, const std::string& artist = "Artist",
                              std::uint32_t seed = 0)
{
    return fixtures::SongSpecOf(title, seed, 1, artist);
}

// A folder of songs and an iPod, and a song sync between them whose state lives in a file from
// one run to the next.
class FolderAndIPod : public fixtures::FolderPair {
public:
    explicit FolderAndIPod(const fixtures::IPodOptions& options = {})
    {
        right = root = fixtures::MakeIPod(tmp / "Volumes", "POD", options);
    }
    std::string Folder(const std::string& relative = "") const { return L(relative); }
    void WriteSong(const std::string& relative, const fixtures::SongSpec& songSpec)
    {
        fixtures::WriteSong(Folder(relative), songSpec);
    }

    // One run, answering Yes to All; `adjust` changes the sync's settings first.
    int Run(int autoAction, signed char destDeletes, const std::function<void(ASyncLib&)>& adjust = {})
    {
        std::unique_ptr<ASyncLib> sync =
            Load<ASyncLib>({"", autoAction, destDeletes}, nullptr, ADir::kTypeSongFolder, ADir::kTypeIPodDB);
        sync->SetRememberedAnswers(ASync::kAnswerYesToAll, ASync::kAnswerYesToAll, ASync::kAnswerYesToAll);
        if (adjust)
            adjust(*sync);
        return FolderPair::Run(*sync);
    }

    std::map<std::string, fixtures::IPodTrack> IPodSongs() const { return fixtures::IPodTracks(root); }
    // Puts songs onto the iPod as another program would: copied and entered into its database.
    void PutOnIPod(const std::vector<std::pair<std::string, fixtures::SongSpec>>& songs)
    {
        ADirPodDB pod;
        AString r = AString::FromUTF8(root);
        ASSERT_EQ(pod.InitWPath(&r, 0, nullptr), 0);
        for (const auto& [name, songSpec] : songs) {
            fixtures::WriteSong(tmp / ("elsewhere/" + name), songSpec);
            AString file = AString::FromUTF8(tmp / ("elsewhere/" + name));
            ASSERT_EQ(pod.AddSongFromDisk(&file, nullptr, nullptr), 0) << name;
        }
        ASSERT_EQ(pod.Finalize(), 0);
    }
    // Deletes a song on the iPod as another program would: its file and its track.
    void DeleteOnIPod(const std::string& title)
    {
        ADirPodDB pod;
        pod.SetMoveInsteadOfDelete(0);
        AString r = AString::FromUTF8(root);
        ASSERT_EQ(pod.InitWPath(&r, 0, nullptr), 0);
        pod.Sort(1);
        for (int i = 0; i < pod.Count(); ++i) {
            if (Has(pod.GetFPath(i)->ToStdString(), "/" + title + "/")) {
                ASSERT_EQ(pod.DeleteEntry(i, 1, 0), 0);
                ASSERT_EQ(pod.Finalize(), 0);
                return;
            }
        }
        FAIL() << title << " is not on the iPod";
    }
    std::vector<std::string> Titles() const { return fixtures::IPodTitles(root); }

    fixtures::RecordingFrontend frontend;
    std::string root;
};

} // namespace

TEST(ASyncLibIPod, AReplacedSongFileIsDescribedAnewInTheDatabase)
{
    FolderAndIPod pair;
    pair.PutOnIPod({{"one.mp3", SongSpecOf("One")}});
    // The same song, longer and at another bit rate, newer on the folder side.
    fixtures::SongSpec longer = SongSpecOf("One", "Artist", 5);
    longer.seconds = 3;
    longer.bitRate = 64;
    pair.WriteSong("Artist/Album/01 One.mp3", longer);
    fixtures::SetModTime(pair.Folder("Artist/Album/01 One.mp3"), std::time(nullptr) + 1000);
    ASSERT_EQ(pair.Run(3, 0), 0) << pair.frontend.Log();
    EXPECT_TRUE(Has(pair.frontend.Log(), "Replacing")) << pair.frontend.Log();

    IPodDB db;
    AString r = AString::FromUTF8(pair.root);
    ASSERT_EQ(db.Load(&r, 1, nullptr, nullptr), 0);
    ASSERT_EQ(db.GetTrackCount(), 1);
    MHIT* track = db.GetDatabase()->GetTrackList()->GetSong(0);
    const std::string file = pair.root + track->GetFilepath().ToStdString();
    EXPECT_EQ(ReadFile(file), ReadFile(pair.Folder("Artist/Album/01 One.mp3")));
    EXPECT_EQ(track->GetDuration(), 3);
    EXPECT_EQ(track->GetBitrate(), 64);
    EXPECT_EQ(track->GetFileSize(), ReadFile(file).size());
}

// With the file type left out of what tells songs apart, an M4A and an MP3 of one song are the
// same song. A replacement by the other type takes that type's name and, on the iPod, a track of
// that type (AAC bytes under ".mp3" would be played as an MP3); the old file goes the side's way.
TEST(ASyncLibIPod, AReplacementByAnotherFileTypeTakesTheNewType)
{
    auto typeLeftOut = [](ASyncLib& sync) { sync.SetFileTypeRelevantOnDupSongCompare(0); };
    {
        FolderAndIPod pair;
        pair.WriteSong("Artist/Album/01 One.mp3", SongSpecOf("One"));
        ASSERT_EQ(pair.Run(1, 0, typeLeftOut), 0) << pair.frontend.Log();
        std::filesystem::remove(pair.Folder("Artist/Album/01 One.mp3"));
        pair.WriteSong("Artist/Album/01 One.m4a", SongSpecOf("One", "Artist", 5));
        fixtures::SetModTime(pair.Folder("Artist/Album/01 One.m4a"), std::time(nullptr) + 1000);
        ASSERT_EQ(pair.Run(1, 0, typeLeftOut), 0) << pair.frontend.Log();
        const auto songs = pair.IPodSongs();
        ASSERT_EQ(songs.size(), 1u);
        const std::string path = songs.at("One").path;
        EXPECT_EQ(path.substr(path.size() - 4), ".m4a");
        EXPECT_EQ(ReadFile(pair.root + path), ReadFile(pair.Folder("Artist/Album/01 One.m4a")));
        EXPECT_EQ(ListFiles(pair.root + "/iPod_Control/Music").size(), 1u);
        EXPECT_EQ(ListFiles(pair.root + "/Removed Files").size(), 1u);
    }
    FolderAndIPod pair;
    pair.PutOnIPod({{"one.m4a", SongSpecOf("One", "Artist", 5)}});
    pair.WriteSong("Artist/Album/01 One.mp3", SongSpecOf("One"));
    fixtures::SetModTime(pair.Folder("Artist/Album/01 One.mp3"), 1000000000);
    ASSERT_EQ(pair.Run(2, 0, typeLeftOut), 0) << pair.frontend.Log();
    EXPECT_EQ(ListFiles(pair.Folder()), std::vector<std::string>{"Artist/Album/01 One.m4a"});
    EXPECT_EQ(ReadFile(pair.Folder("Artist/Album/01 One.m4a")),
              ReadFile(pair.root + pair.IPodSongs().at("One").path));
    EXPECT_EQ(ListFiles(pair.tmp / "Removed Files").size(), 1u);
}

// From the same start, a song on both sides, one only in the folder and one only on the iPod: each
// sync type leaves the songs it must on either side, their files equal to the other side's and
// their tags in the iPod's database, and on the iPod only the tracks' own files (the others moved
// under their names, or deleted).
TEST(ASyncLibIPod, EachSyncTypeLeavesTheExpectedSongsOnBothSides)
{
    using Files = std::vector<std::string>;
    struct Case {
        const char* name;
        int autoAction;
        signed char destDeletes, move;
        Files folder, titles, removedOnIPod;
    };
    const std::string left = "Artist/Album/01 Left.mp3", one = "Artist/Album/01 One.mp3",
                      right = "Artist/Album/01 Right.mp3";
    const Case cases[] = {
        {"copy to iPod", 1, 0, 1, {left, one}, {"Left", "One", "Right"}, {}},
        {"make iPod equal", 1, 1, 1, {left, one}, {"Left", "One"}, {"Artist/Album/Right.mp3"}},
        {"make iPod equal, deleting", 1, 1, 0, {left, one}, {"Left", "One"}, {}},
        {"copy from iPod", 2, 0, 1, {left, one, right}, {"One", "Right"}, {}},
        {"make folder equal, deleting", 2, 1, 0, {one, right}, {"One", "Right"}, {}},
        {"merge", 3, 0, 1, {left, one, right}, {"Left", "One", "Right"}, {}}};
    for (const Case& c : cases) {
        FolderAndIPod pair;
        pair.WriteSong(one, SongSpecOf("One"));
        pair.WriteSong(left, SongSpecOf("Left", "Artist", 1));
        pair.PutOnIPod({{"one.mp3", SongSpecOf("One")}, {"right.mp3", SongSpecOf("Right", "Artist", 2)}});
        ASSERT_EQ(pair.Run(c.autoAction, c.destDeletes,
                           [&c](ASyncLib& sync) { sync.SetMoveInsteadOfDelete(c.move); }),
                  0)
            << c.name << pair.frontend.Log();
        EXPECT_EQ(ListFiles(pair.Folder()), c.folder) << c.name;
        EXPECT_EQ(pair.Titles(), c.titles) << c.name;
        EXPECT_EQ(ListFiles(pair.root + "/iPod_Control/Music").size(), c.titles.size()) << c.name;
        EXPECT_EQ(ListFiles(pair.root + "/Removed Files"), c.removedOnIPod) << c.name;
        EXPECT_FALSE(Exists(pair.root + "/iPod_Control/iTunes/iTunesSD"))
            << c.name << ": an iPod video reads none";
        for (const auto& [title, song] : pair.IPodSongs()) {
            EXPECT_EQ(song.artist + "|" + song.album + "|" + song.genre, "Artist|Album|Rock") << c.name;
            EXPECT_TRUE(song.fileThere && song.path.rfind("/iPod_Control/Music/F", 0) == 0)
                << c.name << song.path;
            const std::string file = pair.Folder("Artist/Album/01 " + title + ".mp3");
            if (Exists(file)) {
                EXPECT_EQ(ReadFile(file), ReadFile(pair.root + song.path)) << c.name << " " << title;
            }
        }
    }
}

TEST(ASyncLibIPod, SynchronizeCarriesDeletionsMadeOnEitherSideOver)
{
    FolderAndIPod pair;
    pair.WriteSong("Artist/Album/01 Kept.mp3", SongSpecOf("Kept"));
    pair.WriteSong("Artist/Album/02 Left Gone.mp3", SongSpecOf("Left Gone", "Artist", 1));
    pair.WriteSong("Artist/Album/03 Pod Gone.mp3", SongSpecOf("Pod Gone", "Artist", 2));
    // The first run copies everything onto the iPod and saves both lists.
    ASSERT_EQ(pair.Run(3, 1), 0) << pair.frontend.Log();
    ASSERT_EQ(pair.Titles(), (std::vector<std::string>{"Kept", "Left Gone", "Pod Gone"}));

    // Between the runs one song goes on each side; the iPod's was copied there by the first run.
    std::filesystem::remove(pair.Folder("Artist/Album/02 Left Gone.mp3"));
    pair.DeleteOnIPod("Pod Gone");
    pair.frontend.Clear();
    ASSERT_EQ(pair.Run(3, 1, [](ASyncLib& sync) { sync.SetMoveInsteadOfDelete(0); }), 0)
        << pair.frontend.Log();
    EXPECT_EQ(pair.Titles(), std::vector<std::string>{"Kept"});
    EXPECT_EQ(ListFiles(pair.Folder()), std::vector<std::string>{"Artist/Album/01 Kept.mp3"});

    // And a third run has nothing left to do.
    pair.frontend.Clear();
    ASSERT_EQ(pair.Run(3, 1), 0);
    EXPECT_TRUE(Has(pair.frontend.Log(), "Nothing to Sync!")) << pair.frontend.Log();
}

namespace {

std::string gITunesFolder;

// Takes the iPod's iTunes folder away while the user reviews the plan, as an unplugged cable would.
int UnplugDuringReview(AArray*, ASync*)
{
    std::filesystem::rename(gITunesFolder, gITunesFolder + ".away");
    return 0;
}

} // namespace

// A song is copied onto the iPod only where its database can be written: otherwise the copy would
// stay on the iPod, listed nowhere.
TEST(ASyncLibIPod, AnIPodWhoseDatabaseCannotBeWrittenGetsNoSongFile)
{
    FolderAndIPod pair;
    pair.WriteSong("Artist/Album/01 One.mp3", SongSpecOf("One"));
    gITunesFolder = pair.root + "/iPod_Control/iTunes";
    const int result = pair.Run(1, 0, [](ASyncLib& sync) {
        sync.SetShowActionsList(1);
        sync.SetActionsListDlogProc(UnplugDuringReview);
    });
    EXPECT_EQ(result, kErrFileNotFound);
    EXPECT_TRUE(ListFiles(pair.root + "/iPod_Control/Music").empty());
    EXPECT_TRUE(Has(pair.frontend.Log(),
                    "-11160: File not found. (cannot open " + gITunesFolder + ": No such file or directory)"))
        << pair.frontend.Log();
}

TEST(ASyncLibIPod, AnIPodWhoseSignatureCannotBeMadeIsRefusedBeforeAnythingIsCopiedButCanBeCopiedFrom)
{
    FolderAndIPod pair({.modelNumStr = "MB029", .firewireGuid = ""});
    pair.WriteSong("Artist/Album/01 One.mp3", SongSpecOf("One"));
    const auto database = ReadFile(fixtures::DatabasePath(pair.root));
    for (auto [autoAction, destDeletes] : {std::pair{1, 0}, {1, 1}, {3, 0}, {3, 1}}) {
        pair.frontend.Clear();
        EXPECT_EQ(pair.Run(autoAction, static_cast<signed char>(destDeletes)), kErrNotSupported)
            << autoAction;
        const std::vector<std::string> told = pair.frontend.questions.Informed();
        ASSERT_EQ(told.size(), 1u);
        EXPECT_TRUE(Has(told[0], "This iPod classic (6th generation), model MB029 needs its FireWire GUID"))
            << told[0];
        EXPECT_TRUE(Has(told[0], "run `pelorin ipods --write-identity " +
                                     pair.root.substr(pair.root.rfind('/') + 1) +
                                     "` while it is connected by USB"))
            << told[0];
        EXPECT_TRUE(Has(told[0], "Nothing was changed.")) << told[0];
    }
    EXPECT_TRUE(ListFiles(pair.root + "/iPod_Control/Music").empty());
    EXPECT_EQ(ReadFile(fixtures::DatabasePath(pair.root)), database);
    EXPECT_EQ(pair.Run(2, 0), 0) << "copying from it changes nothing on it";
    EXPECT_EQ(ReadFile(fixtures::DatabasePath(pair.root)), database);
}

// A run that cannot change the iPod writes nothing to it: not the database it could not read
// whole, not a database or iTunesSD it did not change, not a journal.
TEST(ASyncLibIPod, ARunThatCanChangeNothingOnTheIPodWritesNothingToIt)
{
    using Damage = std::function<void(const std::string& root)>;
    using Bytes = std::vector<std::uint8_t>;
    // The database with `change` made to its bytes.
    auto database = [](std::function<void(Bytes&)> change) -> Damage {
        return [change](const std::string& root) {
            Bytes bytes = ReadFile(fixtures::DatabasePath(root));
            change(bytes);
            fixtures::WriteFile(fixtures::DatabasePath(root), bytes);
        };
    };
    const std::pair<const char*, Damage> cases[] = {
        {"a music folder that is a file",
         [](const std::string& root) {
             std::filesystem::remove_all(root + "/iPod_Control/Music");
             fixtures::WriteFile(root + "/iPod_Control/Music", std::string("not a folder"));
         }},
        {"a database whose track list is of an unknown type", database([](Bytes& bytes) {
             fixtures::itdb::PutU32(bytes, fixtures::itdb::GetU32(bytes, 4) + 12, 99);
         })},
        {"a database whose track list counts fewer tracks than follow", database([](Bytes& bytes) {
             const std::string tag = "mhlt";
             const auto list =
                 std::search(bytes.begin(), bytes.end(), tag.begin(), tag.end()) - bytes.begin();
             fixtures::itdb::PutU32(bytes, static_cast<std::size_t>(list) + 8, 1);
         })},
        {"a journal that is a folder",
         [](const std::string& root) {
             std::filesystem::create_directories(root + "/iPod_Control/iTunes/PelorinJournal/inside");
         }},
        {"a database file longer than the database", database([](Bytes& bytes) {
             bytes.insert(bytes.end(), {'m', 'h', 'i', 't'});
         })},
    };
    for (const auto& [what, damage] : cases) {
        FolderAndIPod pair({.modelNumStr = "MA133"}); // a shuffle, which has an iTunesSD to write
        pair.PutOnIPod({{"old.mp3", SongSpecOf("Old")}, {"older.mp3", SongSpecOf("Older", "Other")}});
        pair.WriteSong("Artist/Album/01 One.mp3", SongSpecOf("One"));
        damage(pair.root);
        // Each file by its contents and its inode: a file written again, even the same, is a new one.
        // Folders too, even empty ones.
        auto snapshot = [&pair] {
            std::map<std::string, std::pair<ino_t, std::vector<std::uint8_t>>> files;
            for (const std::string& file : ListFiles(pair.root)) {
                struct stat info {};
                stat((pair.root + "/" + file).c_str(), &info);
                files[file] = {info.st_ino, ReadFile(pair.root + "/" + file)};
            }
            for (const auto& entry : std::filesystem::recursive_directory_iterator(pair.root))
                if (entry.is_directory())
                    files[entry.path().string()] = {};
            return files;
        };
        const auto before = snapshot();
        EXPECT_NE(pair.Run(1, 0), 0) << what;
        EXPECT_EQ(snapshot(), before) << what;
    }
}

namespace {

int RefuseReview(AArray*, ASync*) { return kErrUserCancel; }

} // namespace

// What a stopped run left on a shuffle (a song copied but not listed, a temporary file, an iTunesSD
// older than the database) is mended by the next run, even one with nothing else to do; a run that
// only plans, or is refused at its review, leaves it as it is.
TEST(ASyncLibIPod, WhatAStoppedRunLeftIsMendedOnlyByARunThatMayWrite)
{
    FolderAndIPod pair({.modelNumStr = "MA133"});
    pair.WriteSong("Artist/Album/01 One.mp3", SongSpecOf("One"));
    pair.WriteSong("Artist/Album/02 Two.mp3", SongSpecOf("Two", "Artist", 1));
    ASSERT_EQ(pair.Run(1, 0), 0);
    const std::string shuffleFile = pair.root + "/iPod_Control/iTunes/iTunesSD";
    const auto current = ReadFile(shuffleFile);
    // Stopped after iTunesDB was replaced and before iTunesSD was, with a copy half made.
    fixtures::WriteFile(shuffleFile, std::vector<std::uint8_t>(IPodDB::kSDHeaderLength, 0));
    fixtures::WriteFile(pair.root + "/iPod_Control/Music/F03/.ABCD.mp3.pelorin-77-1.tmp",
                        std::string("half"));
    auto snapshot = [&pair] {
        std::map<std::string, std::vector<std::uint8_t>> files;
        for (const std::string& file : ListFiles(pair.root))
            files[file] = ReadFile(pair.root + "/" + file);
        return files;
    };
    const auto stopped = snapshot();

    EXPECT_EQ(pair.Run(1, 0, [](ASyncLib& sync) { sync.SetPlanOnly(true); }), 0);
    pair.WriteSong("Artist/Album/03 Three.mp3", SongSpecOf("Three", "Artist", 2));
    EXPECT_EQ(pair.Run(1, 0,
                       [](ASyncLib& sync) {
                           sync.SetShowActionsList(1);
                           sync.SetActionsListDlogProc(RefuseReview);
                       }),
              kErrUserCancel);
    EXPECT_EQ(snapshot(), stopped);

    std::filesystem::remove(pair.Folder("Artist/Album/03 Three.mp3"));
    pair.frontend.Clear();
    ASSERT_EQ(pair.Run(1, 0), 0);
    EXPECT_TRUE(Has(pair.frontend.Log(), "Nothing to Sync!")) << pair.frontend.Log();
    EXPECT_EQ(ReadFile(shuffleFile), current);
    EXPECT_EQ(ListFiles(pair.root + "/iPod_Control/Music").size(), 2u);
}

// The line a run ends with counts what is true on the iPod afterwards: songs copied and removed in
// a run whose database could not be written are on it or gone from it only as files.
TEST(ASyncLibIPod, ARunWhoseDatabaseStoreFailsCountsNoSongAsCopiedOrRemoved)
{
    FolderAndIPod pair;
    pair.PutOnIPod({{"old.mp3", SongSpecOf("Old")}, {"older.mp3", SongSpecOf("Older", "Other")}});
    pair.WriteSong("Artist/Album/01 One.mp3", SongSpecOf("One"));
    pair.WriteSong("Artist/Album/02 Two.mp3", SongSpecOf("Two"));
    const auto titles = pair.Titles();
    // Another program writes the iPod's database again while the first song is copied, as its own
    // application would: the store at the end of the run is then refused.
    const std::string database = fixtures::DatabasePath(pair.root);
    bool overtaken = false;
    AFile::SetCopyHookForTesting([&](const AString&) {
        if (std::exchange(overtaken, true))
            return;
        const auto bytes = ReadFile(database);
        std::filesystem::remove(database);
        fixtures::WriteFile(database, bytes);
    });
    auto sync = pair.Load<ASyncLib>({"", 1, 1}, nullptr, ADir::kTypeSongFolder, ADir::kTypeIPodDB);
    sync->SetRememberedAnswers(ASync::kAnswerYesToAll, ASync::kAnswerYesToAll, ASync::kAnswerYesToAll);
    const int result = pair.FolderPair::Run(*sync);
    AFile::SetCopyHookForTesting(nullptr);
    EXPECT_TRUE(overtaken);
    EXPECT_NE(result, 0);
    EXPECT_EQ(pair.Titles(), titles);
    EXPECT_EQ(
        sync->GetTally().Summary(AString("Songs"), AString("POD"), true, true, kErrUnknown).ToStdString(),
        "Copied 0 songs; removed 0; 1 error.");
}

// Another program that holds the iPod's lock is waited for once; then the run stops with one error
// that says who holds it, instead of waiting and failing once per song.
TEST(ASyncLibIPod, AnIPodLockedByAnotherProgramStopsTheRunAfterOneWait)
{
    FolderAndIPod pair;
    for (const char* title : {"One", "Two", "Three"})
        pair.WriteSong(std::string("Artist/Album/") + title + ".mp3", SongSpecOf(title));
    const auto database = ReadFile(fixtures::DatabasePath(pair.root));
    IPodLock other;
    ASSERT_EQ(other.Acquire(AString::FromUTF8(pair.root), 0), 0);
    auto sync = pair.Load<ASyncLib>({"", 1, 0}, nullptr, ADir::kTypeSongFolder, ADir::kTypeIPodDB);
    sync->SetRememberedAnswers(ASync::kAnswerYesToAll, ASync::kAnswerYesToAll, ASync::kAnswerYesToAll);
    static_cast<ADirPodDB*>(sync->GetDir2())->SetLockWait(20);
    EXPECT_EQ(pair.FolderPair::Run(*sync), kErrBusy);
    EXPECT_EQ(sync->GetTally().Errors(), 1);
    const std::string log = pair.frontend.Log();
    EXPECT_TRUE(Has(log, "another sync is running on this iPod (process " + std::to_string(getpid()) +
                             "); try again when it has finished. Nothing was changed."))
        << log;
    EXPECT_TRUE(ListFiles(pair.root + "/iPod_Control/Music").empty());
    EXPECT_EQ(ReadFile(fixtures::DatabasePath(pair.root)), database);
}

namespace {

// A song of a compilation: its own artist (when given) and the album's, in that frame order, and
// the music of `song`.
void WriteCompilationSong(const std::string& path, const std::string& artist, fixtures::SongSpec song)
{
    using namespace fixtures;
    std::vector<ID3v2Frame> frames{TextFrame("TIT2", song.title)};
    if (!artist.empty())
        frames.push_back(TextFrame("TPE1", artist));
    frames.push_back(TextFrame("TPE2", "Various Artists"));
    frames.push_back(TextFrame("TALB", song.album));
    frames.push_back(TextFrame("TCON", song.genre));
    frames.push_back(TextFrame("TRCK", "1"));
    song.id3Version = 0;
    Bytes bytes = ID3v2Tag(frames);
    const Bytes music = SongBytes("mp3", song);
    bytes.insert(bytes.end(), music.begin(), music.end());
    WriteFile(path, bytes);
}

} // namespace

// A song that was listed by its album's artist in the lists a synchronize run saved, and is read by
// its own artist now, stays on the iPod once, under the artist it is read by, and in the folder
// once.
TEST(ASyncLibIPod, ASongReadUnderAnotherArtistSinceTheSavedListsIsNeitherLostNorDuplicated)
{
    FolderAndIPod pair;
    const std::string file = pair.Folder("Various Artists/Album/01 Song.mp3");
    WriteCompilationSong(file, "", SongSpecOf("Song"));
    ASSERT_EQ(pair.Run(3, 1), 0) << pair.frontend.Log();
    ASSERT_EQ(pair.IPodSongs().at("Song").artist, "Various Artists");

    WriteCompilationSong(file, "Singer", SongSpecOf("Song"));
    pair.frontend.Clear();
    ASSERT_EQ(pair.Run(3, 1), 0) << pair.frontend.Log();
    EXPECT_EQ(pair.Titles(), std::vector<std::string>{"Song"});
    const auto songs = pair.IPodSongs();
    EXPECT_EQ(songs.at("Song").artist, "Singer");
    EXPECT_TRUE(songs.at("Song").fileThere);
    EXPECT_EQ(ListFiles(pair.Folder()), std::vector<std::string>{"Various Artists/Album/01 Song.mp3"});

    pair.frontend.Clear();
    ASSERT_EQ(pair.Run(3, 1), 0);
    EXPECT_TRUE(Has(pair.frontend.Log(), "Nothing to Sync!")) << pair.frontend.Log();
}

namespace {

// Runs once, the first time the left side's one song has been listed.
std::function<void()> gOnceListed;
ASync* gListing = nullptr;
signed char ChangeOnceListed()
{
    if (gOnceListed && gListing && gListing->GetDir1()->Count() == 1) {
        const std::function<void()> change = std::move(gOnceListed);
        gOnceListed = nullptr;
        change();
    }
    return 0;
}

} // namespace

// A run with nothing to do saves the lists it planned with: a song retagged while it ran is then a
// change for the next run to carry, not a song of the iPod to copy back beside it.
TEST(ASyncLibIPod, ASongRetaggedDuringARunWithNothingToDoIsCarriedByTheNextRun)
{
    FolderAndIPod pair;
    pair.WriteSong("Artist/Album/01 Song.mp3", SongSpecOf("Song"));
    ASSERT_EQ(pair.Run(3, 1), 0) << pair.frontend.Log();

    auto sync = pair.Load<ASyncLib>({"", 3, 1}, nullptr, ADir::kTypeSongFolder, ADir::kTypeIPodDB);
    gListing = sync.get();
    gOnceListed = [&] { pair.WriteSong("Artist/Album/01 Song.mp3", SongSpecOf("Retagged")); };
    ASSERT_EQ(sync->DoSync(ChangeOnceListed), 0) << pair.frontend.Log();
    gListing = nullptr;
    ASSERT_FALSE(gOnceListed) << "the song was not changed during the run";
    AString state = AString::FromUTF8(pair.tmp / "state");
    ASSERT_EQ(AFile::ReplaceSafely(
                  &state, [&](AFile* f) { return sync->WriteState(f); }, false),
              0);

    pair.frontend.Clear();
    ASSERT_EQ(pair.Run(3, 1, [](ASyncLib& next) { next.SetMoveInsteadOfDelete(0); }), 0)
        << pair.frontend.Log();
    EXPECT_EQ(pair.Titles(), std::vector<std::string>{"Retagged"});
    EXPECT_EQ(ListFiles(pair.Folder()), std::vector<std::string>{"Artist/Album/01 Song.mp3"});
}

// The lists a run with nothing to do saves (the iPod's kept as the bytes it was read from) still
// tell a deletion made on either side after it.
TEST(ASyncLibIPod, ADeletionAfterARunWithNothingToDoIsCarriedOver)
{
    for (const bool onIPod : {true, false}) {
        FolderAndIPod pair;
        pair.WriteSong("Artist/Album/01 Kept.mp3", SongSpecOf("Kept"));
        pair.WriteSong("Artist/Album/02 Gone.mp3", SongSpecOf("Gone", "Artist", 1));
        ASSERT_EQ(pair.Run(3, 1), 0) << pair.frontend.Log();
        pair.frontend.Clear();
        ASSERT_EQ(pair.Run(3, 1), 0);
        ASSERT_TRUE(Has(pair.frontend.Log(), "Nothing to Sync!")) << pair.frontend.Log();

        if (onIPod)
            pair.DeleteOnIPod("Gone");
        else
            std::filesystem::remove(pair.Folder("Artist/Album/02 Gone.mp3"));
        ASSERT_EQ(pair.Run(3, 1, [](ASyncLib& sync) { sync.SetMoveInsteadOfDelete(0); }), 0)
            << pair.frontend.Log();
        EXPECT_EQ(pair.Titles(), std::vector<std::string>{"Kept"}) << onIPod;
        EXPECT_EQ(ListFiles(pair.Folder()), std::vector<std::string>{"Artist/Album/01 Kept.mp3"}) << onIPod;
    }
}

// A first copy of several songs: all but the first are copied ahead while the run enters the ones
// before them, and each lands whole, under its track's path, with nothing left beside them.
TEST(ASyncLibIPod, AFirstCopyPutsTheSongsCopiedAheadInPlace)
{
    FolderAndIPod pair;
    std::vector<std::string> titles;
    for (int i = 0; i < 6; ++i) {
        titles.push_back("Song " + std::to_string(i));
        pair.WriteSong("Artist/Album/" + std::to_string(i) + ".mp3", SongSpecOf(titles.back(), "Artist", i));
    }
    CopyAhead::SetPatientForTesting(true);
    const int err = pair.Run(1, 0);
    CopyAhead::SetPatientForTesting(false);
    ASSERT_EQ(err, 0) << pair.frontend.Log();
    EXPECT_EQ(CopyAhead::LastCounts().taken, 5);
    EXPECT_EQ(pair.Titles(), titles);
    EXPECT_EQ(ListFiles(pair.root + "/iPod_Control/Music").size(), titles.size());
    for (int i = 0; i < 6; ++i) {
        const fixtures::IPodTrack song = pair.IPodSongs().at(titles[i]);
        EXPECT_EQ(ReadFile(pair.root + song.path),
                  ReadFile(pair.Folder("Artist/Album/" + std::to_string(i) + ".mp3")))
            << titles[i];
    }
}
