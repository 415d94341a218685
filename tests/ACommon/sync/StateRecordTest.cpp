// Every record the state file is made of, from a string to a whole sync group: an object with its
// settings changed and its lists filled is written, read back into a new object and written again
// to the same bytes; a record cut anywhere and a record of another kind are refused.

#include "ACommon/base/AArray.h"
#include "ACommon/base/AError.h"
#include "ACommon/base/AFileList.h"
#include "ACommon/itunesdb/IPodDB.h"
#include "ACommon/sources/ADirPodDB.h"
#include "ACommon/sources/ADirSongDir.h"
#include "ACommon/sync/ASyncGroup.h"
#include "ACommon/sync/ASyncLib.h"
#include "fixtures/FolderPair.h"
#include "fixtures/IPodFixture.h"
#include "fixtures/MusicFiles.h"
#include "fixtures/RecordingFrontend.h"
#include "fixtures/StateFile.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

using fixtures::Bytes;

namespace {

// A kind of record: the bytes of a filled object's record, and a reader of such bytes into a new
// object, which on success checks what the bytes cannot show and gives that object's record.
struct Kind {
    std::string name;
    Bytes marks; // what every record of the kind begins with
    Bytes tail;  // and the fields it ends with, where they are kept in a known order
    Bytes written;
    std::function<int(const Bytes& bytes, Bytes& again)> readBack;
};

// Two folders of files, a folder of songs and an iPod that the records name.
struct World : fixtures::FolderPair {
    World()
    {
        fixtures::WriteFile(L("a.txt"), "a");
        fixtures::WriteFile(R("b.txt"), "b");
        for (const char* title : {"One", "Two"})
            fixtures::WriteSong(tmp / (std::string("Songs/Artist/Album/") + title + ".mp3"),
                                fixtures::SongSpecOf(title));
        ipod = fixtures::MakeIPod(tmp / "Volumes", "POD");
    }
    AString IPod() const { return AString::FromUTF8(ipod); }

    fixtures::RecordingFrontend frontend;
    std::string ipod;
};

template <class T>
Kind FileRecord(
    const World& world, std::string name, Bytes marks, Bytes tail, T& filled,
    std::function<void(T&)> check = {},
    std::function<std::unique_ptr<T>()> fresh = [] { return std::make_unique<T>(); })
{
    const std::string path = world.tmp / "record";
    int result = -1;
    Bytes written = fixtures::BytesWrittenBy(
        path, [&filled](AFile* f) { return filled.WriteState(f); }, &result);
    EXPECT_EQ(result, 0) << name;
    auto readBack = [path, fresh, check](const Bytes& bytes, Bytes& again) {
        AFile in;
        EXPECT_EQ(fixtures::OpenWith(in, path, bytes), 0);
        std::unique_ptr<T> back = fresh();
        if (int err = back->ReadState(&in); err != 0)
            return err;
        EXPECT_EQ(in.Remaining(), 0u) << "bytes left unread";
        again = fixtures::BytesWrittenBy(path + ".again", [&back](AFile* f) { return back->WriteState(f); });
        if (check)
            check(*back);
        return 0;
    };
    return Kind{std::move(name), std::move(marks), std::move(tail), std::move(written), readBack};
}

std::unique_ptr<ASyncLib> SongFolders()
{
    return std::make_unique<ASyncLib>(ADir::kTypeSongFolder, ADir::kTypeSongFolder);
}

void ChangeEverySetting(ADirSong& song)
{
    song.SetTypeFilter(0);
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

// The record of a new plain folder source.
Bytes NewFolderRecord(const Bytes& emptyString)
{
    Bytes r = {0x08, 0x00, 0x10, 0x00};
    fixtures::Append(r, emptyString);  // rootPath
    r.push_back(0x01);                 // openLogAutomatically
    fixtures::Append(r, {0, 0, 0, 0}); // typeFilterMode
    fixtures::Append(r, emptyString);
    fixtures::Append(r, emptyString);
    fixtures::Append(r, {0, 0, 0, 0}); // pathFilterMode
    fixtures::Append(r, emptyString);
    fixtures::Append(r, emptyString);
    fixtures::Append(r, {0x00, 0x00, 0x10, 0x00}); // file list: mark, root, array mark, count
    fixtures::Append(r, emptyString);
    fixtures::Append(r, {0x01, 0x00, 0x10, 0x00, 0, 0, 0, 0});
    // useFullPaths stopOnError detectOnly moveInsteadOfDelete verboseLog
    fixtures::Append(r, {0x00, 0x01, 0x00, 0x01, 0x00});
    fixtures::Append(r, emptyString); // removedFilesFolder
    return r;
}

std::vector<Kind> Kinds(const World& world)
{
    std::vector<Kind> kinds;
    const Bytes stringMark = {0x00, 0x00, 0x10, 0x00}, arrayMark = {0x01, 0x00, 0x10, 0x00},
                folderMark = {0x08, 0x00, 0x10, 0x00},
                songMarks = {0x05, 0x00, 0x10, 0x00, 0x08, 0x00, 0x10, 0x00};

    AString text("Caf\xC3\xA9 \xF0\x9F\x8E\xB5");
    kinds.push_back(FileRecord<AString>(world, "AString", stringMark, {}, text));

    AArray array;
    array.AddPtr(reinterpret_cast<const void*>(std::uintptr_t{0x1234}));
    array.AddCopy("abc", 3);
    kinds.push_back(FileRecord<AArray>(world, "AArray", arrayMark, {}, array));

    AFileList list;
    AString root("/M");
    list.SetRootPath(&root);
    list.AddWithTime(new AString("b"), 0x0102030405060708ull);
    kinds.push_back(FileRecord<AFileList>(world, "AFileList", stringMark, {}, list));

    ADir dir;
    dir.SetTypeFilter(1);
    dir.SetFileExtentionIncludeFilter(AString(":txt:"));
    dir.SetPathFilterMode(2);
    dir.SetPathExcludeFilter(AString(":x:"));
    dir.SetMoveInsteadOfDelete(0);
    dir.SetOpenLogAutomatically(0);
    dir.SetRemovedFilesFolder(AString("/trash"));
    AString left = world.tmp.A("L");
    EXPECT_EQ(dir.InitWPath(&left, 0, nullptr), 0);
    kinds.push_back(FileRecord<ADir>(world, "ADir", folderMark, {}, dir));

    // The plain folder's record ... and at the end the eight flags and the accounts.
    ADirSong song;
    ChangeEverySetting(song);
    Bytes songTail = {0, 1, 0, 0, 0, 0, 0, 0};
    fixtures::PutStringRecord(songTail, u":me:");
    kinds.push_back(FileRecord<ADirSong>(world, "ADirSong", songMarks, songTail, song));

    // The songs are found through an index made when the record is read.
    ADirSongDir songDir;
    songDir.SetAlbumRelevantOnDupSongCompare(0);
    AString songs = world.tmp.A("Songs");
    EXPECT_EQ(songDir.InitWPath(&songs, 0, nullptr), 0);
    kinds.push_back(
        FileRecord<ADirSongDir>(world, "ADirSongDir", {0x12, 0x27, 0x00, 0x00, 0x05, 0x00, 0x10, 0x00}, {},
                                songDir, [&world](ADirSongDir& back) {
                                    AString full = world.tmp.A("Songs/Rock/Artist/One/mp3?9"), disk;
                                    EXPECT_EQ(back.GetFileDiskPath(&full, &disk, 0), 0);
                                    EXPECT_EQ(disk, world.tmp.A("Songs/Artist/Album/One.mp3"));
                                }));

    // A group of a song sync between the folder of songs and the iPod, after a two-way run that put
    // the songs on the iPod and saved both lists.
    AString ipod = world.IPod();
    ASyncGroup group;
    group.SetGroupName(AString("Pocket"));
    ASyncLib* onto = group.AddASyncLib(ADir::kTypeSongFolder, ADir::kTypeIPodDB);
    onto->SetRootPath1(&songs, nullptr, 0);
    onto->SetRootPath2(&ipod, nullptr, 0);
    onto->SetShowActionsList(0);
    onto->SetAutoAction(ASync::kTwoWay);
    onto->SetMoveInsteadOfDelete(0);
    EXPECT_EQ(group.DoSync(nullptr, 0), 0);
    onto->SetRememberedAnswers(ASync::kAnswerYesToAll, ASync::kAnswerNoToAll, ASync::kAnswerYesToAll);
    AString groupPath = world.tmp.A("group");
    EXPECT_EQ(group.WriteSyncState(&groupPath), 0);
    auto readGroup = [&world](const Bytes& bytes, Bytes& again) {
        std::filesystem::remove(world.tmp / "group");
        fixtures::WriteFile(world.tmp / "group", bytes);
        ASyncGroup back;
        AString path = world.tmp.A("group"), copy = world.tmp.A("group.again");
        if (int err = back.ReadSyncState(&path); err != 0)
            return err;
        EXPECT_EQ(back.WriteSyncState(&copy), 0);
        again = fixtures::ReadFile(world.tmp / "group.again");
        return 0;
    };
    kinds.push_back(Kind{"ASyncGroup", arrayMark, {}, fixtures::ReadFile(world.tmp / "group"), readGroup});

    // A database read back from a record is never written; given its iPod again, also mounted
    // elsewhere, the source keeps the songs it listed.
    ADirPodDB pod;
    pod.SetGenreRelevantOnDupSongCompare(0);
    pod.SetLocalTempPath(AString("/tmp/pelorin"));
    EXPECT_EQ(pod.InitWPath(&ipod, 0, nullptr), 0);
    Bytes podMarks = arrayMark;
    fixtures::Append(podMarks, songMarks);
    kinds.push_back(FileRecord<ADirPodDB>(world, "ADirPodDB", podMarks, {}, pod, [&world](ADirPodDB& back) {
        const int listed = back.Count();
        EXPECT_EQ(listed, 2);
        AString mounted = world.IPod(), moved = AString::FromUTF8(world.ipod + "1");
        back.SetRootPath(&mounted);
        EXPECT_EQ(back.Count(), listed);
        std::filesystem::rename(world.ipod, world.ipod + "1");
        back.SetRootPath(&moved);
        EXPECT_EQ(back.Count(), listed);
        EXPECT_EQ(*back.GetRootPath(), moved + "/");
        EXPECT_EQ(back.Finalize(), kErrUnknown);
        std::filesystem::rename(world.ipod + "1", world.ipod);
    }));

    IPodDB db;
    EXPECT_EQ(db.Load(&ipod, 1, nullptr, nullptr), 0);
    db.SetRelevantFields(1, 0, 1);
    db.SetLocalTempPath("/tmp/x");
    db.GetVeltranoIPodID(nullptr);
    SongInfoStruct added =
        fixtures::MakeSong("Song", "Artist", "Album", "Rock", "/iPod_Control/Music/F00/ABCD.mp3");
    EXPECT_EQ(db.AddSong(added, nullptr, 1), 0);
    kinds.push_back(FileRecord<IPodDB>(world, "IPodDB", stringMark, {}, db,
                                       [](IPodDB& back) { EXPECT_EQ(back.Store(nullptr), kErrUnknown); }));

    // A new sync's record, byte for byte: its four sources, then its own fields.
    const Bytes emptyString = {0x00, 0x00, 0x10, 0x00, 0x02, 0x00, 0xFF, 0xFE};
    Bytes newSync = {0x05, 0x00, 0x10, 0x00};
    for (int i = 0; i < 4; ++i)
        fixtures::Append(newSync, NewFolderRecord(emptyString));
    newSync.push_back(0x01); // reservedFlag
    fixtures::Append(newSync, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0});
    fixtures::Append(newSync, {0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00});
    fixtures::Append(newSync, emptyString);
    fixtures::Append(newSync, emptyString);
    ASync fresh;
    kinds.push_back(FileRecord<ASync>(world, "a new ASync", newSync, {}, fresh));

    // The current lists are never stored; the saved lists of a two-way sync are.
    ASync sync;
    world.Aim(sync, fixtures::kSynchronize);
    sync.SetStopOnErr(1);
    sync.SetLogOnly(1);
    sync.SetVerboseLog(1);
    sync.SetAutoRunOnVolumeMount(-1);
    sync.SetRememberedAnswers(2, 4, 2);
    EXPECT_EQ(sync.UpdateFileLists(nullptr), 0);
    EXPECT_EQ(sync.RepopulateLists(nullptr), 0);
    kinds.push_back(FileRecord<ASync>(world, "ASync", {0x05, 0x00, 0x10, 0x00}, {}, sync, [](ASync& back) {
        EXPECT_EQ(back.GetDir1()->Count() + back.GetDir2()->Count(), 0);
        EXPECT_EQ(back.GetSavedDir1()->Count() + back.GetSavedDir2()->Count(), 2);
    }));

    // The sync's record, then copyAsITunesReady (1) and an empty reserved text.
    std::unique_ptr<ASyncLib> songSync = SongFolders();
    songSync->SetAlbumRelevantOnDupSongCompare(0);
    songSync->SetAutoAction(ASync::kTwoWay);
    songSync->SetDontDupSongs(1);
    Bytes songSyncTail = {1};
    fixtures::PutStringRecord(songSyncTail, u"");
    Bytes songSyncMarks = stringMark;
    fixtures::Append(songSyncMarks, {0x05, 0x00, 0x10, 0x00});
    kinds.push_back(
        FileRecord<ASyncLib>(world, "ASyncLib", songSyncMarks, songSyncTail, *songSync, {}, SongFolders));
    return kinds;
}

} // namespace

TEST(StateRecord, EveryRecordReadsBackToTheSameBytes)
{
    World world;
    for (const Kind& kind : Kinds(world)) {
        SCOPED_TRACE(kind.name);
        ASSERT_GE(kind.written.size(), kind.marks.size() + kind.tail.size());
        EXPECT_TRUE(std::equal(kind.marks.begin(), kind.marks.end(), kind.written.begin()));
        EXPECT_TRUE(std::equal(kind.tail.rbegin(), kind.tail.rend(), kind.written.rbegin()));
        Bytes again;
        ASSERT_EQ(kind.readBack(kind.written, again), 0);
        EXPECT_EQ(again, kind.written);
        for (std::size_t cut = 0; cut < kind.written.size(); ++cut) {
            const Bytes part(kind.written.begin(), kind.written.begin() + static_cast<std::ptrdiff_t>(cut));
            EXPECT_NE(kind.readBack(part, again), 0) << "cut at " << cut;
        }
        Bytes otherMark = kind.written;
        otherMark[0] ^= 0xFF;
        EXPECT_EQ(kind.readBack(otherMark, again), kErrVersion);
    }
}
