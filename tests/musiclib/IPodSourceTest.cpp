// An iPod attached to the library, served from its own database through scripts.

#include "LibraryFixture.h"

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
namespace bridge = fixtures::bridge;

namespace {

constexpr const char* kPod = "Jane's \"Pod\"";

class IPodSourceTest : public LibraryTest {
protected:
    void SetUp() override
    {
        LibraryTest::SetUp();
        root = fixtures::MakeIPod(volumes, "POD", {.name = kPod});
        std::string error;
        ASSERT_EQ(library->AttachIPod("POD", error), 0) << error;
    }

    // The iPod's database as it is on disk: the titles of each playlist of the first playlist
    // dataset, the library playlist first.
    std::vector<std::vector<std::string>> OnDisk()
    {
        IPodDB db;
        AString where = AString::FromUTF8(root);
        EXPECT_EQ(db.Load(&where, 1, nullptr, nullptr), 0);
        std::vector<std::vector<std::string>> playlists;
        for (MHLP* list : db.GetDatabase()->GetPlaylistLists()) {
            for (int i = 0; i < list->GetPlaylistCount(); ++i) {
                MHYP* playlist = list->GetPlaylist(i);
                AString name;
                playlist->GetName(name);
                std::vector<std::string> entry{name.ToStdString()};
                for (int j = 0; j < playlist->GetSongCount(); ++j)
                    entry.push_back(playlist->GetSong(j)->GetName().ToStdString());
                playlists.push_back(entry);
            }
            break;
        }
        return playlists;
    }

    // Puts the iPod's track `id` in the iPod's playlist `playlist`, by the location of its file.
    void PutInPlaylist(std::int64_t id, const std::string& playlist)
    {
        Must(Tell("add (get location of first track of playlist \"" + Quote(kPod) + "\" in source \"" +
                  Quote(kPod) + "\" whose database ID = " + std::to_string(id) + ") to playlist \"" +
                  Quote(playlist) + "\" in source \"" + Quote(kPod) + "\""));
    }

    // A song file added to the iPod's playlist `playlist`: the track's ID.
    std::int64_t AddToPod(const std::string& file, const std::string& playlist = kPod)
    {
        return Must(bridge::AddFromDisk(file, playlist, kPod)).Int64Value();
    }
    std::vector<std::string> Names(const std::string& playlist)
    {
        return Strings(Must(bridge::IPodProperty("name", playlist, kPod)));
    }
    int Count(const std::string& playlist)
    {
        return Must(bridge::IPodSongCount(playlist, kPod)).Int32Value();
    }

    std::vector<std::string> MusicFiles()
    {
        std::vector<std::string> files;
        for (const std::string& file : fixtures::ListFiles(root + "/iPod_Control/Music"))
            files.push_back(file);
        return files;
    }

    void Reopen()
    {
        library.reset();
        std::string error;
        ASSERT_EQ(MusicLibrary::Open(dir / "Library", false, library, error), 0) << error;
    }

    std::string root;
};

} // namespace

TEST_F(IPodSourceTest, TheIPodIsASourceOfKindIPod)
{
    EXPECT_EQ(Must(bridge::GetIPodCount()).Int32Value(), 1);
    EXPECT_EQ(Strings(Must(bridge::GetIPodNames())), std::vector<std::string>{kPod});
    EXPECT_EQ(Strings(Must(bridge::GetIPodPlaylists(kPod))), std::vector<std::string>{kPod});
    EXPECT_EQ(Must(bridge::SpecialKind(kPod, kPod)).StringValue(), "kSpN");
    EXPECT_FALSE(Must(bridge::Smart(kPod, kPod)).BooleanValue());

    Must(bridge::MakePlaylist("Road: \"Trip\"", kPod));
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
    EXPECT_EQ(Strings(Must(bridge::IPodProperty("artist", kPod, kPod))),
              (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(Names("Road: \"Trip\""), std::vector<std::string>{"Beta"});
    const ScriptDescriptor ids = Must(bridge::IPodProperty("database ID", kPod, kPod));
    EXPECT_EQ(ids.ItemAt(1)->Int64Value(), idA);
    EXPECT_EQ(ids.ItemAt(2)->Int64Value(), idB);
    const ScriptDescriptor sizes = Must(bridge::IPodProperty("size", kPod, kPod));
    EXPECT_EQ(sizes.ItemAt(1)->Int64Value(), static_cast<std::int64_t>(std::filesystem::file_size(a)));
    const ScriptDescriptor location = Must(bridge::IPodProperty("location", kPod, kPod));
    ASSERT_EQ(location.NumberOfItems(), 2);
    EXPECT_EQ(location.ItemAt(1)->AliasPath()->rfind(root + "/iPod_Control/Music/F", 0), 0u)
        << *location.ItemAt(1)->AliasPath();
    EXPECT_EQ(Must(bridge::ArtCount(kPod, idA, kPod)).Int32Value(), 1);
    EXPECT_EQ(Must(bridge::Art(0, kPod, idA, kPod)).DataValue(), fixtures::FakeJpeg(900, 3));

    // The same file (or the same song) again is the same track, put in the playlist once.
    EXPECT_EQ(AddToPod(a, "Road: \"Trip\""), idA);
    EXPECT_EQ(AddToPod(a, "Road: \"Trip\""), idA);
    EXPECT_EQ(AddToPod(*location.ItemAt(2)->AliasPath()), idB);
    EXPECT_EQ(MusicFiles().size(), 2u);
    EXPECT_EQ(Names("Road: \"Trip\""), (std::vector<std::string>{"Beta", "Alpha"}));
}

TEST_F(IPodSourceTest, ChangesAreWrittenBackAtAnUpdate)
{
    const std::int64_t id = AddToPod(Song("a.mp3", Tags("Alpha", "A")));
    Must(bridge::MakePlaylist("Mix", kPod));
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
    EXPECT_EQ(Must(bridge::IPodProperty("database ID", "Mix", kPod)).ItemAt(1)->Int64Value(), id);
    // A change another program writes is read before the next script.
    {
        IPodDB db;
        AString where = AString::FromUTF8(root);
        ASSERT_EQ(db.Load(&where, 1, nullptr, nullptr), 0);
        SongInfoStruct song = fixtures::MakeSong("Other", "O", "P", "Q", "/iPod_Control/Music/F00/OTHR.mp3");
        ASSERT_EQ(db.AddSong(song, nullptr, 1), 0);
        ASSERT_EQ(db.Store(nullptr), 0);
    }
    const ScriptDescriptor ids = Must(bridge::IPodProperty("database ID", kPod, kPod));
    ASSERT_EQ(ids.NumberOfItems(), 2);
    EXPECT_EQ(Names(kPod), (std::vector<std::string>{"Alpha", "Other"}));
    EXPECT_EQ(ids.ItemAt(1)->Int64Value(), id);
    const std::int64_t other = ids.ItemAt(2)->Int64Value();
    Reopen();
    EXPECT_EQ(Must(bridge::IPodProperty("database ID", kPod, kPod)).ItemAt(2)->Int64Value(), other)
        << "a track written without a lasting id keeps its ID";
}

TEST_F(IPodSourceTest, DeletingTakesTracksOutButLeavesTheFilesToTheCaller)
{
    const std::int64_t a = AddToPod(Song("a.mp3", Tags("Alpha", "A")));
    const std::int64_t b = AddToPod(Song("b.mp3", Tags("Beta", "B", "", 1)));
    Must(bridge::MakePlaylist("Mix", kPod));
    PutInPlaylist(a, "Mix");
    EXPECT_EQ(Count("Mix"), 1);

    EXPECT_TRUE(Must(bridge::DeleteSong("Mix", a, kPod)).IsNothing());
    EXPECT_EQ(Count("Mix"), 0);
    EXPECT_EQ(Count(kPod), 2);

    EXPECT_TRUE(Must(bridge::DeleteSong(kPod, b, kPod)).IsNothing());
    EXPECT_EQ(Names(kPod), std::vector<std::string>{"Alpha"});
    EXPECT_EQ(MusicFiles().size(), 2u) << "no script deletes a file";
    EXPECT_FALSE(Run(bridge::DeleteSong(kPod, b, kPod))) << "gone";

    EXPECT_TRUE(Must(bridge::DeletePlaylist("Mix", kPod)).IsNothing());
    EXPECT_EQ(Strings(Must(bridge::GetIPodPlaylists(kPod))), std::vector<std::string>{kPod});
    EXPECT_FALSE(Run(bridge::DeletePlaylist(kPod, kPod))) << "the library playlist stays";
    EXPECT_FALSE(Run(bridge::MakePlaylist(kPod, kPod))) << "its name is taken";
    Must(Tell("update"));
    EXPECT_EQ(OnDisk(), (std::vector<std::vector<std::string>>{{kPod, "Alpha"}}));
}

TEST_F(IPodSourceTest, AScriptThatFailsLeavesTheIPodAsItWas)
{
    Must(bridge::MakePlaylist("Keep", kPod));
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
    Must(bridge::AddFromDisk(Song("a.mp3", Tags("Alpha")), kPod, kPod));
    IPodLock other;
    EXPECT_EQ(other.Acquire(AString::FromUTF8(root), 100), kErrBusy);
    Must(bridge::IPodSongCount(kPod, kPod));
    EXPECT_EQ(other.Acquire(AString::FromUTF8(root), 100), kErrBusy) << "a listing writes nothing";
    Must(Tell("update"));
    EXPECT_EQ(other.Acquire(AString::FromUTF8(root), 100), 0);
    // Another writer holds the lock: the library's change waits for it instead of failing.
    std::thread release([&other] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        other.Release();
    });
    Must(bridge::MakePlaylist("After", kPod));
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
    Must(bridge::MakePlaylist("Mix", kPod));
    other->Library().Rollback();
    // A script that changes the library as well still does it, in one transaction.
    Must(Tell("add alias \"" + Quote(platform::PosixToHfsPath(song)) + "\" to playlist \"Mix\" in source \"" +
              Quote(kPod) + "\"\n add alias \"" + Quote(platform::PosixToHfsPath(song)) + "\""));
    EXPECT_EQ(Must(bridge::LibCount("Library")).Int32Value(), 1);
    EXPECT_EQ(Count("Mix"), 1);
}

TEST_F(IPodSourceTest, ADamagedDatabaseFailsOnlyTheScriptsThatReadIt)
{
    fixtures::WriteFile(fixtures::DatabasePath(root), std::string("mhbd but not really a database"));
    EXPECT_EQ(Must(bridge::GetIPodCount()).Int32Value(), 1);
    EXPECT_EQ(Strings(Must(bridge::GetIPodNames())), std::vector<std::string>{"POD"})
        << "named after its volume";
    EXPECT_EQ(Strings(Must(bridge::GetLibName())), std::vector<std::string>{"Library"});
    std::string error;
    EXPECT_FALSE(Run(bridge::IPodSongCount("POD", "POD"), &error));
    EXPECT_NE(error.find("cannot be read"), std::string::npos) << error;
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
        EXPECT_EQ(Must(bridge::GetIPodCount()).Int32Value(), 1);
        std::filesystem::remove_all(volumes + "/ELSEWHERE");
        std::filesystem::rename(root, volumes + "/ELSEWHERE");
        if (c.other)
            fixtures::MakeIPod(volumes, "POD", *c.other);
        EXPECT_EQ(Must(bridge::GetIPodCount()).Int32Value(), 0);
        EXPECT_FALSE(Run(bridge::IPodSongCount(kPod, kPod)));
    }
}

TEST_F(IPodSourceTest, ACopyIsNamedInTheIPodsJournalUntilAStoreListsIt)
{
    const std::string journal = root + "/iPod_Control/iTunes/PelorinJournal";
    const std::string song = Song("in/j.mp3", Tags("Journal", "A", "X", 5));
    Must(bridge::AddFromDisk(song, kPod, kPod));
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
        IPodJournal::Entry entry;
        entry.location = AString::FromUTF8(file.substr(root.size()));
        entry.size = std::filesystem::file_size(file);
        entry.genre = read.genre;
        entry.artist = read.artist;
        entry.album = read.album;
        entry.name = read.name;
        entries.push_back(entry);
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
    EXPECT_FALSE(Run(bridge::AddFromDisk(outside, kPod, kPod)));
}

TEST_F(IPodSourceTest, CopiedSongsWaitForTheWrite)
{
    Must(bridge::MakePlaylist("Last Sync", kPod));
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
    Must(bridge::MakePlaylist("Mix", kPod));
    const std::int64_t a =
        Must(bridge::AddFromDisk(Song("in/a.mp3", Tags("Alpha", "A")), kPod, kPod)).Int64Value();
    PutInPlaylist(a, "Mix");
    const std::int64_t b =
        Must(bridge::AddFromDisk(Song("in/b.mp3", Tags("Beta", "B")), kPod, kPod)).Int64Value();
    PutInPlaylist(b, "Mix");
    EXPECT_EQ(Strings(Must(bridge::IPodProperty("name", "Mix", kPod))),
              (std::vector<std::string>{"Alpha", "Beta"}));
    EXPECT_EQ(Must(bridge::IPodSongCount(kPod, kPod)).Int32Value(), 2) << "no second track for a file";

    const std::string fileOfB = *Must(bridge::IPodProperty("location", kPod, kPod)).ItemAt(2)->AliasPath();
    Must(bridge::DeleteSong(kPod, b, kPod));
    const std::int64_t again = Must(bridge::AddFromDisk(fileOfB, kPod, kPod)).Int64Value();
    EXPECT_NE(again, b) << "the file left by a removed track is entered anew";
    EXPECT_EQ(Strings(Must(bridge::IPodProperty("name", kPod, kPod))),
              (std::vector<std::string>{"Alpha", "Beta"}));
    EXPECT_EQ(MusicFiles().size(), 2u);
}

TEST_F(IPodSourceTest, ATrackTakenOutOfAPlaylistCanBePutBack)
{
    const std::int64_t a =
        Must(bridge::AddFromDisk(Song("in/a.mp3", Tags("Alpha", "A")), kPod, kPod)).Int64Value();
    const std::string pod = Quote(kPod);
    const std::string track = "first track of playlist \"" + pod + "\" in source \"" + pod +
                              "\" whose database ID = " + std::to_string(a);
    // Each way out of the playlist "Mix": a deletion, or an add undone by the script failing after it.
    struct Case {
        bool putInFirst;
        std::string takeOut;
    };
    for (const Case& c :
         {Case{true, bridge::DeleteSong("Mix", a, kPod)},
          Case{false, Tell("add (get location of " + track + ") to playlist \"Mix\" in source \"" + pod +
                           "\"\n get name of playlist \"Missing\" in source \"" + pod + "\"")}}) {
        Must(bridge::MakePlaylist("Mix", kPod));
        if (c.putInFirst)
            PutInPlaylist(a, "Mix");
        Run(c.takeOut);
        EXPECT_EQ(Must(bridge::IPodSongCount("Mix", kPod)).Int32Value(), 0) << c.takeOut;
        PutInPlaylist(a, "Mix");
        EXPECT_EQ(Must(bridge::IPodSongCount("Mix", kPod)).Int32Value(), 1) << c.takeOut;
        Must(bridge::DeletePlaylist("Mix", kPod));
    }
}

TEST_F(IPodSourceTest, AListingOfTheIPodFollowsEveryChange)
{
    using Names = std::vector<std::string>;
    auto names = [this] { return Strings(Must(bridge::IPodProperty("name", kPod, kPod))); };
    const std::int64_t a =
        Must(bridge::AddFromDisk(Song("in/a.mp3", Tags("Alpha", "A")), kPod, kPod)).Int64Value();
    EXPECT_EQ(names(), Names{"Alpha"});
    Must(bridge::AddFromDisk(Song("in/b.mp3", Tags("Beta", "B")), kPod, kPod));
    EXPECT_EQ(names(), (Names{"Alpha", "Beta"}));
    Must(bridge::DeleteSong(kPod, a, kPod));
    EXPECT_EQ(names(), Names{"Beta"});
}

TEST_F(IPodSourceTest, AFileAddedAgainIsTheTrackOfItsSong)
{
    for (const std::string title : {"Alpha", "Beta", "Gamma"}) {
        const std::string file = Song("in/" + title + ".mp3", Tags(title, "A"));
        const std::int64_t id = Must(bridge::AddFromDisk(file, kPod, kPod)).Int64Value();
        EXPECT_EQ(Must(bridge::AddFromDisk(file, kPod, kPod)).Int64Value(), id) << title;
    }
    EXPECT_EQ(MusicFiles().size(), 3u);
}
