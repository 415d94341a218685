// An iPod attached to the library, served from its own database through scripts.

#include "fixtures/LibraryFixture.h"

#include "ACommon/itunesdb/IPodJournal.h"
#include "ACommon/itunesdb/IPodLock.h"
#include "ACommon/tags/ID3.h"
#include "ACommon/tags/SongInfoStruct.h"

#include "ACommon/base/AError.h"

#include "ACommon/itunesdb/IPodDB.h"
#include "ACommon/itunesdb/MHBD.h"
#include "ACommon/itunesdb/MHLP.h"
#include "ACommon/itunesdb/MHYP.h"
#include "APlatform/HfsPath.h"
#include "fixtures/IPodFixture.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>

using fixtures::LibraryTest;
using platform::ScriptDescriptor;

namespace {

constexpr const char* kPod = "Jane's \"Pod\"";

class IPodSourceTest : public LibraryTest {
protected:
    void SetUp() override
    {
        LibraryTest::SetUp();
        root = AttachNewIPod(kPod);
    }

    // The iPod's database as it is on disk: the titles of each playlist of the first playlist
    // dataset, the library playlist first.
    std::vector<std::vector<std::string>> OnDisk()
    {
        IPodDB db;
        AString where = AString::FromUTF8(root);
        EXPECT_EQ(db.Load(&where, 1, nullptr, nullptr), 0);
        std::vector<std::vector<std::string>> playlists;
        const MHLP* list = db.GetDatabase()->GetPlaylistLists().at(0);
        for (int i = 0; i < list->GetPlaylistCount(); ++i) {
            MHYP* playlist = list->GetPlaylist(i);
            AString name;
            playlist->GetName(name);
            playlists.push_back({name.ToStdString()});
            for (int j = 0; j < playlist->GetSongCount(); ++j)
                playlists.back().push_back(playlist->GetSong(j)->GetName().ToStdString());
        }
        return playlists;
    }

    // Puts the iPod's track `id` in the iPod's playlist `playlist`, by the location of its file.
    static void PutInPlaylist(std::int64_t id, const std::string& playlist)
    {
        EXPECT_EQ(Bridge(kPod, kPod)
                      .IPodAddSongToPlaylist(AString::FromUTF8(playlist), static_cast<std::uint32_t>(id)),
                  0);
    }
    // A song file added to the iPod's playlist `playlist`: the track's ID.
    static std::int64_t AddToPod(const std::string& file, const std::string& playlist = kPod)
    {
        return Add(file, playlist, kPod);
    }
    static std::vector<std::string> Names(const std::string& playlist)
    {
        return Property("name", playlist, kPod);
    }
    static int Count(const std::string& playlist) { return LibraryTest::Count(playlist, kPod); }
    static int DeletePlaylist(const std::string& name)
    {
        return Bridge("", kPod).DeletePlaylistIPod(AString::FromUTF8(name));
    }

    std::vector<std::string> MusicFiles()
    {
        std::vector<std::string> files;
        for (const std::string& file : fixtures::ListFiles(root + "/iPod_Control/Music"))
            files.push_back(file);
        return files;
    }

    std::string root;
};

} // namespace

TEST_F(IPodSourceTest, TheIPodIsASourceOfKindIPod)
{
    EXPECT_EQ(ASiTunes::GetIPodCountiTunes(), 1);
    EXPECT_EQ(Bridge("").GetIPodNameiTunes(0).ToStdString(), kPod);
    EXPECT_EQ(Playlists(kPod), std::vector<std::string>{kPod});
    EXPECT_EQ(Bridge(kPod, kPod).GetIPodPlayListType(), ASiTunes::kPlaylistOrdinary);

    MakePlaylist("Road: \"Trip\"", kPod);
    const std::string a = Song("in/a.mp3", Tags("Alpha", "A", "X", 1, fixtures::FakeJpeg(900, 3)));
    const std::string b = Song("in/b.mp3", Tags("Beta", "B", "Y", 2));
    const std::int64_t idA = AddToPod(a);
    const std::int64_t idB = AddToPod(b, "Road: \"Trip\"");
    EXPECT_GT(idA, 0);
    EXPECT_NE(idA, idB);
    EXPECT_EQ(MusicFiles().size(), 2u) << "both copied onto the iPod";
    EXPECT_TRUE(std::filesystem::exists(a));

    EXPECT_EQ(Count(kPod), 2);
    EXPECT_EQ(Names(kPod), (std::vector<std::string>{"Alpha", "Beta"}));
    EXPECT_EQ(Property("artist", kPod, kPod), (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(Names("Road: \"Trip\""), std::vector<std::string>{"Beta"});
    const std::vector<ScriptDescriptor> ids = Items("database ID", kPod, kPod);
    EXPECT_EQ(ids[0].Int64Value(), idA);
    EXPECT_EQ(ids[1].Int64Value(), idB);
    const std::vector<ScriptDescriptor> sizes = Items("size", kPod, kPod);
    EXPECT_EQ(sizes[0].Int64Value(), static_cast<std::int64_t>(std::filesystem::file_size(a)));
    const std::vector<ScriptDescriptor> location = Items("location", kPod, kPod);
    ASSERT_EQ(location.size(), 2u);
    EXPECT_EQ(location[0].AliasPath()->rfind(root + "/iPod_Control/Music/F", 0), 0u)
        << *location[0].AliasPath();
    EXPECT_EQ(Bridge(kPod, kPod).GetIPodSongAlbumArtCount(static_cast<std::uint32_t>(idA)), 1);
    std::vector<std::uint8_t> art;
    EXPECT_EQ(Bridge(kPod, kPod).GetIPodSongAlbumArt(static_cast<std::uint32_t>(idA), 0, &art), 0);
    EXPECT_EQ(art, fixtures::FakeJpeg(900, 3));

    // The same file (or the same song) again is the same track, put in the playlist once.
    EXPECT_EQ(AddToPod(a, "Road: \"Trip\""), idA);
    EXPECT_EQ(AddToPod(a, "Road: \"Trip\""), idA);
    EXPECT_EQ(AddToPod(*location[1].AliasPath()), idB);
    EXPECT_EQ(AddToPod(b), idB);
    EXPECT_EQ(MusicFiles().size(), 2u);
    EXPECT_EQ(Names("Road: \"Trip\""), (std::vector<std::string>{"Beta", "Alpha"}));
}

TEST_F(IPodSourceTest, ChangesAreWrittenBackAtAnUpdate)
{
    const std::int64_t id = AddToPod(Song("a.mp3", Tags("Alpha", "A")));
    MakePlaylist("Mix", kPod);
    EXPECT_EQ(Count(kPod), 1) << "answered from memory";
    EXPECT_EQ(OnDisk().size(), 1u) << "a listing does not write the database";
    Must(Tell("update"));
    EXPECT_EQ(OnDisk(), (std::vector<std::vector<std::string>>{{kPod, "Alpha"}, {"Mix"}}));

    PutInPlaylist(id, "Mix");
    Must(Tell("update"));
    EXPECT_EQ(OnDisk(), (std::vector<std::vector<std::string>>{{kPod, "Alpha"}, {"Mix", "Alpha"}}));

    // Asked for in the script that makes the change: written once the change is made.
    Must(Tell("make new playlist at source \"" + Quote(kPod) + "\" with properties {name:\"Now\"}\n update"));
    EXPECT_EQ(OnDisk().back(), std::vector<std::string>{"Now"});

    Reopen();
    EXPECT_EQ(Items("database ID", "Mix", kPod)[0].Int64Value(), id);
    // A change another program writes is read before the next script.
    {
        IPodDB db;
        AString where = AString::FromUTF8(root);
        ASSERT_EQ(db.Load(&where, 1, nullptr, nullptr), 0);
        SongInfoStruct song = fixtures::MakeSong("Other", "O", "P", "Q", "/iPod_Control/Music/F00/OTHR.mp3");
        ASSERT_EQ(db.AddSong(song, nullptr, 1), 0);
        ASSERT_EQ(db.Store(nullptr), 0);
    }
    const std::vector<ScriptDescriptor> ids = Items("database ID", kPod, kPod);
    ASSERT_EQ(ids.size(), 2u);
    EXPECT_EQ(Names(kPod), (std::vector<std::string>{"Alpha", "Other"}));
    EXPECT_EQ(ids[0].Int64Value(), id);
    const std::int64_t other = ids[1].Int64Value();
    Reopen();
    EXPECT_EQ(Items("database ID", kPod, kPod)[1].Int64Value(), other)
        << "a track written without a lasting id keeps its ID";
}

TEST_F(IPodSourceTest, DeletingTakesTracksOutButLeavesTheFilesToTheCaller)
{
    const std::int64_t a = AddToPod(Song("a.mp3", Tags("Alpha", "A")));
    const std::int64_t b = AddToPod(Song("b.mp3", Tags("Beta", "B", "", 1)));
    MakePlaylist("Mix", kPod);
    PutInPlaylist(a, "Mix");
    EXPECT_EQ(Count("Mix"), 1);

    EXPECT_EQ(Delete(a, "Mix", kPod), 0);
    EXPECT_EQ(Count("Mix"), 0);
    EXPECT_EQ(Count(kPod), 2);

    EXPECT_EQ(Delete(b, kPod, kPod), 0);
    EXPECT_EQ(Names(kPod), std::vector<std::string>{"Alpha"});
    EXPECT_EQ(MusicFiles().size(), 2u) << "no script deletes a file";
    EXPECT_NE(Delete(b, kPod, kPod), 0) << "gone";

    EXPECT_EQ(DeletePlaylist("Mix"), 0);
    EXPECT_EQ(Playlists(kPod), std::vector<std::string>{kPod});
    EXPECT_NE(DeletePlaylist(kPod), 0) << "the library playlist stays";
    EXPECT_NE(Bridge("", kPod).MakePlaylistIPod(AString::FromUTF8(kPod)), 0) << "its name is taken";
    Must(Tell("update"));
    EXPECT_EQ(OnDisk(), (std::vector<std::vector<std::string>>{{kPod, "Alpha"}}));
}

TEST_F(IPodSourceTest, AScriptThatFailsLeavesTheIPodAsItWas)
{
    MakePlaylist("Keep", kPod);
    const std::int64_t kept = AddToPod(Song("k.mp3", Tags("Kept")), "Keep");
    Must(Tell("update"));
    const auto before = OnDisk();
    const std::string song = Song("new.mp3", Tags("New", "N", "", 5));
    const std::string pod = Quote(kPod);
    const std::vector<std::string> bodies = {
        "add alias \"" + Quote(platform::PosixToHfsPath(song)) + "\" to playlist \"Keep\" in source \"" +
            pod + "\"\n get name of playlist \"Missing\" in source \"" + pod + "\"",
        "delete playlist \"Keep\" of source \"" + pod + "\"\n get colour of source \"" + pod + "\"",
        "set p to make playlist of source \"" + pod + "\"\n set name of p to \"keep\"",
        "delete (first track of playlist \"" + pod + "\" in source \"" + pod +
            "\" whose database ID = " + std::to_string(kept) + ")\n delete playlist \"Library\"",
    };
    for (const std::string& body : bodies) {
        EXPECT_FALSE(Run(Tell(body))) << body;
        Must(Tell("update"));
        EXPECT_EQ(OnDisk(), before) << body;
        EXPECT_EQ(MusicFiles().size(), 1u) << "the copy of an undone add is removed: " << body;
        EXPECT_EQ(Names("Keep"), std::vector<std::string>{"Kept"});
    }
}

TEST_F(IPodSourceTest, UnsavedChangesHoldTheIPodsLockUntilTheyAreWritten)
{
    EXPECT_GT(AddToPod(Song("a.mp3", Tags("Alpha"))), 0);
    IPodLock other;
    EXPECT_EQ(other.Acquire(AString::FromUTF8(root), 100), kErrBusy);
    EXPECT_GE(Count(kPod), 0);
    EXPECT_EQ(other.Acquire(AString::FromUTF8(root), 100), kErrBusy) << "a listing writes nothing";
    Must(Tell("update"));
    EXPECT_EQ(other.Acquire(AString::FromUTF8(root), 100), 0);
    // Another writer holds the lock: the library's change waits for it instead of failing.
    std::thread release([&other] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        other.Release();
    });
    MakePlaylist("After", kPod);
    release.join();
    Must(Tell("update"));
    EXPECT_EQ(OnDisk().back(), std::vector<std::string>{"After"});
}

TEST_F(IPodSourceTest, AScriptThatChangesOnlyTheIPodLeavesTheLibraryToOtherWriters)
{
    // Another process is adding to the library (its write transaction is open).
    std::unique_ptr<MusicLibrary> other;
    std::string error;
    ASSERT_EQ(MusicLibrary::Open(dir / "Library", false, other, error), 0) << error;
    ASSERT_EQ(other->Library().Begin(true), 0);
    const std::string song = Song("a.mp3", Tags("Alpha"));
    EXPECT_GT(AddToPod(song), 0);
    MakePlaylist("Mix", kPod);
    other->Library().Rollback();
    // A script that changes the library as well still does it, in one transaction.
    Must(Tell("add alias \"" + Quote(platform::PosixToHfsPath(song)) + "\" to playlist \"Mix\" in source \"" +
              Quote(kPod) + "\"\n add alias \"" + Quote(platform::PosixToHfsPath(song)) + "\""));
    EXPECT_EQ(LibraryTest::Count("Library"), 1);
    EXPECT_EQ(Count("Mix"), 1);
}

TEST_F(IPodSourceTest, ADamagedDatabaseFailsOnlyTheScriptsThatReadIt)
{
    fixtures::WriteFile(fixtures::DatabasePath(root), std::string("mhbd but not really a database"));
    EXPECT_EQ(ASiTunes::GetIPodCountiTunes(), 1);
    EXPECT_EQ(Bridge("").GetIPodNameiTunes(0).ToStdString(), "POD") << "named after its volume";
    EXPECT_EQ(Bridge("").GetLibName(), AString("Library"));
    EXPECT_EQ(LibraryTest::Count("POD", "POD"), -1);
    AString why;
    ASiTunes::LastScriptFailure(&why);
    EXPECT_NE(why.ToStdString().find("cannot be read"), std::string::npos) << why.ToStdString();
}

// Gone between two scripts, or another iPod mounted where the attached one was (whichever file tells
// them apart): no longer a source.
TEST_F(IPodSourceTest, AnIPodThatIsNotMountedOrNotTheSameIsNotASource)
{
    struct Case {
        const char* row;
        std::optional<fixtures::IPodOptions> other; // none: nothing at the volume
    };
    for (const Case& c :
         {Case{"moved to another volume", std::nullopt},
          Case{"another GUID in SysInfo",
               fixtures::IPodOptions{.name = kPod, .firewireGuid = "0x000A2700FFFF0000"}},
          Case{"another GUID in SysInfoExtended",
               fixtures::IPodOptions{.name = kPod, .firewireGuid = "0x000A2700EEEE0000", .later = true}}}) {
        SCOPED_TRACE(c.row);
        std::filesystem::remove_all(root);
        fixtures::MakeIPod(volumes, "POD", {.name = kPod});
        EXPECT_EQ(ASiTunes::GetIPodCountiTunes(), 1);
        std::filesystem::remove_all(volumes + "/ELSEWHERE");
        std::filesystem::rename(root, volumes + "/ELSEWHERE");
        if (c.other)
            fixtures::MakeIPod(volumes, "POD", *c.other);
        EXPECT_EQ(ASiTunes::GetIPodCountiTunes(), 0);
        EXPECT_EQ(Count(kPod), -1);
    }
}

TEST_F(IPodSourceTest, ACopyIsNamedInTheIPodsJournalUntilAStoreListsIt)
{
    const std::string journal = root + "/iPod_Control/iTunes/PelorinJournal";
    const std::string song = Song("in/j.mp3", Tags("Journal", "A", "X", 5));
    EXPECT_GT(AddToPod(song), 0);
    ASSERT_EQ(MusicFiles().size(), 1u);
    std::ifstream in(journal, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    const std::string copied = MusicFiles()[0].substr(MusicFiles()[0].rfind('/') + 1);
    EXPECT_NE(bytes.find(copied), std::string::npos) << "the journal names the copy before the store";
    Must(Tell("update")); // stores the database
    EXPECT_FALSE(std::filesystem::exists(journal));
}

TEST_F(IPodSourceTest, WhatAnInterruptedRunLeftIsTakenIn)
{
    // A run copied two songs (one whole, one cut short), left a temporary file, and dropped a song
    // whose file it named as removed; it stopped before storing anything after that.
    const std::string folder = root + "/iPod_Control/Music/F01";
    std::filesystem::create_directories(folder);
    std::vector<IPodJournal::Entry> entries;
    for (const char* title : {"Whole", "Cut"}) {
        const std::string song = Song(std::string("in/") + title + ".mp3", Tags(title, "A", "X", 1));
        const std::string file = folder + "/" + std::string(title).substr(0, 3) + "X.mp3";
        std::filesystem::copy_file(song, file);
        ID3 tags;
        ASSERT_EQ(tags.SetFilePath(AString::FromUTF8(file)), 0);
        SongInfoStruct read;
        tags.GetSongInfo(read);
        entries.push_back({.size = std::filesystem::file_size(file),
                           .location = AString::FromUTF8(file.substr(root.size())),
                           .genre = read.genre,
                           .artist = read.artist,
                           .album = read.album,
                           .name = read.name});
    }
    std::filesystem::resize_file(folder + "/CutX.mp3", entries[1].size / 2);
    fixtures::WriteFile(folder + "/GONE.mp3", std::string("a removed song's file"));
    IPodJournal::Entry removed;
    removed.kind = IPodJournal::Kind::kRemoved;
    removed.location = AString("/iPod_Control/Music/F01/GONE.mp3");
    entries.push_back(removed);
    fixtures::WriteFile(folder + "/.WhoX.mp3.pelorin-12-3.tmp", std::string("half a copy"));
    IPodJournal journal;
    journal.Read(AString::FromUTF8(root + "/"));
    ASSERT_EQ(journal.Set(entries), 0);
    Reopen();

    // Listing takes the whole copy in and changes nothing on the iPod.
    const auto files = MusicFiles();
    EXPECT_EQ(Names(kPod), std::vector<std::string>{"Whole"});
    EXPECT_EQ(MusicFiles(), files);
    EXPECT_EQ(OnDisk(), (std::vector<std::vector<std::string>>{{kPod}}));

    Must(Tell("update"));
    EXPECT_EQ(OnDisk(), (std::vector<std::vector<std::string>>{{kPod, "Whole"}}));
    EXPECT_EQ(MusicFiles(), std::vector<std::string>{"F01/WhoX.mp3"});
    EXPECT_FALSE(std::filesystem::exists(root + "/iPod_Control/iTunes/PelorinJournal"));
}

TEST_F(IPodSourceTest, ASongFileInTheMusicFolderThatNoTrackListsIsEnteredWhereItIs)
{
    const std::string folder = root + "/iPod_Control/Music/F02";
    std::filesystem::create_directories(folder);
    const std::string file = folder + "/LOST.mp3";
    std::filesystem::copy_file(Song("in/lost.mp3", Tags("Lost", "L")), file);
    const std::int64_t id = AddToPod(file);
    EXPECT_GT(id, 0);
    EXPECT_EQ(MusicFiles(), std::vector<std::string>{"F02/LOST.mp3"}) << "not copied again";
    Must(Tell("update"));
    EXPECT_EQ(OnDisk(), (std::vector<std::vector<std::string>>{{kPod, "Lost"}}));
    // A file of the iPod outside its music folder is no song of it.
    const std::string outside = root + "/Notes.mp3";
    std::filesystem::copy_file(Song("in/notes.mp3", Tags("Notes", "N")), outside);
    EXPECT_EQ(AddToPod(outside), -1);
}

TEST_F(IPodSourceTest, CopiedSongsWaitForTheWrite)
{
    MakePlaylist("Last Sync", kPod);
    Must(Tell("update"));
    const auto before = OnDisk();
    const int songs = 20;
    for (int i = 0; i < songs; ++i) {
        const std::string title = "Song " + std::to_string(i);
        PutInPlaylist(AddToPod(Song("in/" + std::to_string(i) + ".mp3", Tags(title, "A"))), "Last Sync");
    }
    EXPECT_EQ(OnDisk(), before) << "a few small songs: nothing written yet";
    Must(Tell("update"));
    EXPECT_EQ(OnDisk().back().size(), static_cast<std::size_t>(songs) + 1);
}

TEST_F(IPodSourceTest, ATrackAskedForByItsDatabaseIdIsThatTrackAlone)
{
    const std::int64_t idA = AddToPod(Song("in/a.mp3", Tags("Alpha", "A", "X", 1)));
    const std::int64_t idB = AddToPod(Song("in/b.mp3", Tags("Beta", "B", "Y", 2)));
    struct Case {
        std::string id;
        std::vector<std::string> names;
    };
    for (const Case& c : {Case{std::to_string(idA), {"Alpha"}}, Case{std::to_string(idB), {"Beta"}},
                          Case{std::to_string(idA + idB), {}}, Case{"-1", {}}, Case{"1.5", {}}}) {
        EXPECT_EQ(Strings(Must(Tell("get name of every track of playlist \"" + Quote(kPod) +
                                    "\" in source \"" + Quote(kPod) + "\" whose database ID = " + c.id))),
                  c.names)
            << c.id;
    }
}

TEST_F(IPodSourceTest, AFileOfTheIPodFindsItsTrackThroughEveryAddOrRemoval)
{
    MakePlaylist("Mix", kPod);
    const std::int64_t a = AddToPod(Song("in/a.mp3", Tags("Alpha", "A")));
    PutInPlaylist(a, "Mix");
    const std::int64_t b = AddToPod(Song("in/b.mp3", Tags("Beta", "B")));
    PutInPlaylist(b, "Mix");
    EXPECT_EQ(Property("name", "Mix", kPod), (std::vector<std::string>{"Alpha", "Beta"}));
    EXPECT_EQ(Count(kPod), 2) << "no second track for a file";

    const std::string fileOfB = *Items("location", kPod, kPod)[1].AliasPath();
    EXPECT_EQ(Delete(b, kPod, kPod), 0);
    const std::int64_t again = AddToPod(fileOfB);
    EXPECT_NE(again, b) << "the file left by a removed track is entered anew";
    EXPECT_EQ(Property("name", kPod, kPod), (std::vector<std::string>{"Alpha", "Beta"}));
    EXPECT_EQ(MusicFiles().size(), 2u);
}

TEST_F(IPodSourceTest, ATrackTakenOutOfAPlaylistCanBePutBack)
{
    const std::int64_t a = AddToPod(Song("in/a.mp3", Tags("Alpha", "A")));
    const std::string pod = Quote(kPod);
    const std::string track = "first track of playlist \"" + pod + "\" in source \"" + pod +
                              "\" whose database ID = " + std::to_string(a);
    // Each way out of the playlist "Mix": a deletion, or an add undone by the script failing after it.
    struct Case {
        bool putInFirst;
        std::string takeOut;
    };
    for (const Case& c :
         {Case{true, std::string()}, // through the bridge
          Case{false, Tell("add (get location of " + track + ") to playlist \"Mix\" in source \"" + pod +
                           "\"\n get name of playlist \"Missing\" in source \"" + pod + "\"")}}) {
        MakePlaylist("Mix", kPod);
        if (c.putInFirst)
            PutInPlaylist(a, "Mix");
        if (c.takeOut.empty())
            EXPECT_EQ(Delete(a, "Mix", kPod), 0);
        else
            EXPECT_FALSE(Run(c.takeOut));
        EXPECT_EQ(Count("Mix"), 0) << c.takeOut;
        PutInPlaylist(a, "Mix");
        EXPECT_EQ(Count("Mix"), 1) << c.takeOut;
        EXPECT_EQ(DeletePlaylist("Mix"), 0);
    }
}
