// The song library sync between a folder of songs (left) and an iPod read through its own database
// (right): whole runs of every sync type, checked by the files on both sides and by the iPod's
// database as it reads back afterwards.

#include "ACommon/sync/ASyncLib.h"

#include "ACommon/base/AError.h"
#include "ACommon/itunesdb/IPodDB.h"
#include "ACommon/itunesdb/MHIT.h"
#include "ACommon/itunesdb/MHLT.h"
#include "ACommon/sources/ADirPodDB.h"
#include "fixtures/IPodFixture.h"
#include "fixtures/MusicFiles.h"
#include "fixtures/RecordingFrontend.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <sys/stat.h>
#include <vector>

using fixtures::Exists;
using fixtures::ListFiles;
using fixtures::ReadFile;

namespace {

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

fixtures::SongSpec SongSpecOf(const std::string& title, const std::string& artist = "Artist",
                              std::uint32_t seed = 0)
{
    fixtures::SongSpec songSpec;
    songSpec.title = title;
    songSpec.artist = artist;
    songSpec.album = "Album";
    songSpec.genre = "Rock";
    songSpec.track = 1;
    songSpec.seed = seed;
    songSpec.seconds = 1;
    songSpec.bitRate = 32;
    return songSpec;
}

// A track as the iPod's database lists it, and whether its file is there.
struct PodSong {
    std::string title, artist, album, genre, path;
    bool fileThere = false;
    bool operator==(const PodSong&) const = default;
};

// A folder of songs and an iPod, and a song sync between them whose state lives in a file from
// one run to the next.
class FolderAndIPod {
public:
    explicit FolderAndIPod(const fixtures::IPodOptions& options = {})
    {
        std::filesystem::create_directories(tmp / "Songs");
        root = fixtures::MakeIPod(tmp / "Volumes", "POD", options);
    }
    std::string Folder(const std::string& relative = "") const { return tmp / ("Songs/" + relative); }
    void WriteSong(const std::string& relative, const fixtures::SongSpec& songSpec)
    {
        fixtures::WriteSong(Folder(relative), songSpec);
    }

    // One run, answering Yes to All; `adjust` changes the sync's settings first.
    int Run(int autoAction, signed char destDeletes, const std::function<void(ASyncLib&)>& adjust = {})
    {
        ASyncLib sync(ADir::kTypeSongFolder, ADir::kTypeIPodDB);
        AString path = tmp.A("state"), left = tmp.A("Songs"), right = AString::FromUTF8(root);
        if (Exists(tmp / "state")) {
            AFile in;
            EXPECT_EQ(in.Open(&path, 1), 0);
            EXPECT_EQ(sync.ReadState(&in), 0);
        }
        sync.SetRootPath1(&left, nullptr, 0);
        sync.SetRootPath2(&right, nullptr, 0);
        sync.SetAutoAction(autoAction);
        sync.SetDestDeletes(destDeletes);
        sync.SetShowActionsList(0);
        sync.SetRememberedAnswers(ASync::kAnswerYesToAll, ASync::kAnswerYesToAll, ASync::kAnswerYesToAll);
        if (adjust)
            adjust(sync);
        const int result = sync.DoSync(nullptr);
        std::filesystem::remove(tmp / "state");
        AFile out;
        EXPECT_EQ(out.Open(&path, 2), 0);
        EXPECT_EQ(sync.WriteState(&out), 0);
        return result;
    }

    // The iPod's database as it reads back from the iPod, by title.
    std::map<std::string, PodSong> IPodSongs() const
    {
        std::map<std::string, PodSong> songs;
        IPodDB db;
        AString r = AString::FromUTF8(root);
        EXPECT_EQ(db.Load(&r, 1, nullptr, nullptr), 0);
        db.GetDatabase()->GetTrackList()->ForEachTrack([&](MHIT& track) {
            PodSong song{track.GetName().ToStdString(),     track.GetArtist().ToStdString(),
                         track.GetAlbum().ToStdString(),    track.GetGenre().ToStdString(),
                         track.GetFilepath().ToStdString(), Exists(root + track.GetFilepath().ToStdString())};
            songs[song.title] = song;
        });
        return songs;
    }
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
    std::vector<std::string> Titles() const
    {
        std::vector<std::string> titles;
        for (const auto& [title, song] : IPodSongs())
            titles.push_back(title);
        return titles;
    }

    fixtures::RecordingFrontend frontend;
    fixtures::TempDir tmp;
    std::string root;
};

} // namespace

TEST(ASyncLibIPod, CopyToIPodPutsEverySongOnTheIPodAndInItsDatabase)
{
    FolderAndIPod pair;
    pair.WriteSong("Artist/Album/01 One.mp3", SongSpecOf("One"));
    pair.WriteSong("Artist/Album/02 Two.m4a", SongSpecOf("Two", "Artist", 1));
    pair.WriteSong("Other/Live/01 Three.mp3", SongSpecOf("Three", "Other", 2));
    ASSERT_EQ(pair.Run(1, 0), 0) << pair.frontend.Log();

    const auto songs = pair.IPodSongs();
    ASSERT_EQ(songs.size(), 3u);
    EXPECT_EQ(songs.at("Two").artist, "Artist");
    EXPECT_EQ(songs.at("Three").artist, "Other");
    for (const auto& [title, song] : songs) {
        EXPECT_TRUE(song.fileThere) << title;
        EXPECT_EQ(song.album, "Album");
        EXPECT_EQ(song.genre, "Rock");
        EXPECT_TRUE(song.path.rfind("/iPod_Control/Music/F", 0) == 0) << song.path;
    }
    EXPECT_EQ(songs.at("Two").path.substr(songs.at("Two").path.size() - 4), ".m4a");
    EXPECT_EQ(ReadFile(pair.root + songs.at("One").path), ReadFile(pair.Folder("Artist/Album/01 One.mp3")));
    EXPECT_FALSE(fixtures::Exists(pair.root + "/iPod_Control/iTunes/iTunesSD")) << "an iPod video reads none";
    // The log names the iPod side by the iPod's name.
    EXPECT_TRUE(Has(pair.frontend.Log(), "iPod: Test iPod Main Library")) << pair.frontend.Log();

    // A second run finds both sides equal.
    pair.frontend.Clear();
    ASSERT_EQ(pair.Run(1, 0), 0);
    EXPECT_TRUE(Has(pair.frontend.Log(), "Nothing to Sync!")) << pair.frontend.Log();
    EXPECT_EQ(pair.IPodSongs(), songs);
}

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

TEST(ASyncLibIPod, MakeIPodEqualMovesWhatTheFolderLacksIntoRemovedFilesOrDeletesIt)
{
    for (signed char move : {1, 0}) {
        FolderAndIPod pair;
        pair.WriteSong("Artist/Album/01 One.mp3", SongSpecOf("One"));
        pair.PutOnIPod({{"one.mp3", SongSpecOf("One")}, {"gone.mp3", SongSpecOf("Gone", "Artist", 3)}});
        ASSERT_EQ(pair.Run(1, 1, [move](ASyncLib& sync) { sync.SetMoveInsteadOfDelete(move); }), 0)
            << pair.frontend.Log();
        ASSERT_EQ(pair.Titles(), std::vector<std::string>{"One"});
        // Only the song's own file is left in the music folders; the other is moved under its name.
        EXPECT_EQ(ListFiles(pair.root + "/iPod_Control/Music").size(), 1u);
        EXPECT_EQ(ListFiles(pair.root + "/Removed Files"),
                  move ? std::vector<std::string>{"Artist/Album/Gone.mp3"} : std::vector<std::string>{});
        EXPECT_EQ(Exists(pair.root + "/Removed Files"), move == 1);
    }
}

TEST(ASyncLibIPod, CopyFromIPodFilesTheIPodsSongsIntoTheFolder)
{
    FolderAndIPod pair;
    pair.PutOnIPod({{"one.mp3", SongSpecOf("One")}, {"two.m4a", SongSpecOf("Two", "Other", 1)}});
    const auto before = pair.IPodSongs();
    ASSERT_EQ(pair.Run(2, 0), 0) << pair.frontend.Log();
    EXPECT_EQ(ListFiles(pair.Folder()),
              (std::vector<std::string>{"Artist/Album/01 One.mp3", "Other/Album/01 Two.m4a"}));
    EXPECT_EQ(ReadFile(pair.Folder("Artist/Album/01 One.mp3")), ReadFile(pair.root + before.at("One").path));
    EXPECT_EQ(pair.IPodSongs(), before);
}

TEST(ASyncLibIPod, MakeFolderEqualRemovesWhatTheIPodLacks)
{
    FolderAndIPod pair;
    pair.PutOnIPod({{"one.mp3", SongSpecOf("One")}});
    pair.WriteSong("Artist/Album/01 One.mp3", SongSpecOf("One"));
    pair.WriteSong("Artist/Album/05 Extra.mp3", SongSpecOf("Extra", "Artist", 4));
    ASSERT_EQ(pair.Run(2, 1, [](ASyncLib& sync) { sync.SetMoveInsteadOfDelete(0); }), 0)
        << pair.frontend.Log();
    EXPECT_EQ(ListFiles(pair.Folder()), std::vector<std::string>{"Artist/Album/01 One.mp3"});
    EXPECT_EQ(pair.Titles(), std::vector<std::string>{"One"});
}

TEST(ASyncLibIPod, MergeCopiesWhatEachSideLacksToTheOther)
{
    FolderAndIPod pair;
    pair.WriteSong("Artist/Album/01 Left.mp3", SongSpecOf("Left"));
    pair.PutOnIPod({{"right.mp3", SongSpecOf("Right", "Artist", 1)}});
    ASSERT_EQ(pair.Run(3, 0), 0) << pair.frontend.Log();
    EXPECT_EQ(pair.Titles(), (std::vector<std::string>{"Left", "Right"}));
    EXPECT_EQ(ListFiles(pair.Folder()),
              (std::vector<std::string>{"Artist/Album/01 Left.mp3", "Artist/Album/01 Right.mp3"}));
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
TEST(ASyncLibIPod, AnIPodWhoseDatabaseCannotBeWrittenGetsNoSongFileAndTheRunSaysWhy)
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

TEST(ASyncLibIPod, AnIPodThatChecksASignatureIsRefusedBeforeAnythingIsCopiedButCanBeCopiedFrom)
{
    FolderAndIPod pair({.modelNumStr = "MB029", .later = true});
    pair.WriteSong("Artist/Album/01 One.mp3", SongSpecOf("One"));
    const auto database = ReadFile(fixtures::DatabasePath(pair.root));
    for (auto [autoAction, destDeletes] : {std::pair{1, 0}, {1, 1}, {3, 0}, {3, 1}}) {
        pair.frontend.Clear();
        EXPECT_EQ(pair.Run(autoAction, static_cast<signed char>(destDeletes)), kErrNotSupported)
            << autoAction;
        const std::vector<std::string> told = pair.frontend.questions.Informed();
        ASSERT_EQ(told.size(), 1u);
        EXPECT_TRUE(Has(told[0], "model MB029")) << told[0];
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
    struct Case {
        const char* what;
        std::function<void(const std::string& root)> damage;
    };
    const Case cases[] = {
        {"a music folder that is a file",
         [](const std::string& root) {
             std::filesystem::remove_all(root + "/iPod_Control/Music");
             fixtures::WriteFile(root + "/iPod_Control/Music", std::string("not a folder"));
         }},
        {"a database whose track list is of an unknown type",
         [](const std::string& root) {
             auto bytes = ReadFile(fixtures::DatabasePath(root));
             const std::uint32_t firstDataset = fixtures::itdb::GetU32(bytes, 4);
             fixtures::itdb::PutU32(bytes, firstDataset + 12, 99);
             fixtures::WriteFile(fixtures::DatabasePath(root), bytes);
         }},
    };
    for (const Case& c : cases) {
        FolderAndIPod pair({.modelNumStr = "MA133"}); // a shuffle, which has an iTunesSD to write
        pair.PutOnIPod({{"old.mp3", SongSpecOf("Old")}});
        pair.WriteSong("Artist/Album/01 One.mp3", SongSpecOf("One"));
        c.damage(pair.root);
        // Each file by its contents and its inode: a file written again, even the same, is a new one.
        auto snapshot = [&pair] {
            std::map<std::string, std::pair<ino_t, std::vector<std::uint8_t>>> files;
            for (const std::string& file : ListFiles(pair.root)) {
                struct stat info {};
                stat((pair.root + "/" + file).c_str(), &info);
                files[file] = {info.st_ino, ReadFile(pair.root + "/" + file)};
            }
            return files;
        };
        const auto before = snapshot();
        EXPECT_NE(pair.Run(1, 0), 0) << c.what;
        EXPECT_EQ(snapshot(), before) << c.what;
    }
}

namespace {

int RefuseReview(AArray*, ASync*) { return kErrUserCancel; }

} // namespace

// What a stopped run left on a shuffle (a song copied but not listed, a temporary file, an iTunesSD
// older than the database) is mended by the next run, even one with nothing else to do; a run that
// only plans, or is refused at its review, leaves it as it is.
TEST(ASyncLibIPod, WhatAStoppedRunLeftIsMendedByARunWithNothingToDoAndLeftByARunThatChangesNothing)
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
