// The iPod database object on iPod folder trees: loading, safe storing, recovery, lookups by
// virtual path, iTunesSD, play counts and the state record.

#include "ACommon/itunesdb/IPodDB.h"
#include "ACommon/base/AError.h"
#include "ACommon/base/AFile.h"
#include "ACommon/base/AProgress.h"
#include "ACommon/itunesdb/MHIT.h"
#include "ACommon/itunesdb/MHLP.h"
#include "ACommon/itunesdb/MHLT.h"
#include "ACommon/itunesdb/MHYP.h"
#include "ACommon/tags/ID3.h"
#include "fixtures/IPodFixture.h"
#include "fixtures/MusicFiles.h"
#include "fixtures/Recorders.h"
#include "fixtures/StateFile.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>

using fixtures::itdb::GetU32;
using fixtures::itdb::PutU32;

namespace {

class IPodDBTest : public ::testing::Test {
protected:
    void SetUp() override { root = fixtures::MakeIPod(volumes.Path(), "POD"); }
    // Makes the iPod under test a shuffle, which plays from iTunesSD.
    void MakeShuffle()
    {
        fixtures::IPodOptions shuffle;
        shuffle.modelNumStr = "MA133";
        root = fixtures::MakeIPod(volumes.Path(), "SHUFFLE", shuffle);
    }

    AString Root() const { return AString::FromUTF8(root); }
    std::string ITunes(const std::string& name) const { return root + "/iPod_Control/iTunes/" + name; }

    // Loads the iPod with its playlists into `db`.
    void Load(IPodDB& db)
    {
        AString r = Root();
        ASSERT_EQ(db.Load(&r, 1, nullptr, nullptr), 0);
    }

    // Stores a database of the songs `names` (each in a file of its name) and gives the songs in the
    // order of their tracks in the stored file, which decides what the iPod's own files refer to.
    std::vector<std::string> StoreInFileOrder(const std::vector<std::string>& names)
    {
        IPodDB db;
        Load(db);
        for (const std::string& name : names)
            Add(db, name, "A", "B", "C", name + ".mp3");
        EXPECT_EQ(db.Store(nullptr), 0);
        IPodDB stored;
        Load(stored);
        std::vector<std::string> order;
        stored.GetDatabase()->GetTrackList()->ForEachTrack(
            [&](MHIT& t) { order.push_back(t.GetName().ToStdString()); });
        return order;
    }

    // A "Play Counts" file of `entries` entries, all zero: "mhdp", header length, entry length, count.
    static std::vector<std::uint8_t> PlayCounts(std::uint32_t entries)
    {
        std::vector<std::uint8_t> counts(0x60 + entries * 0x1C, 0);
        std::memcpy(counts.data(), "mhdp", 4);
        PutU32(counts, 4, 0x60);
        PutU32(counts, 8, 0x1C);
        PutU32(counts, 12, entries);
        return counts;
    }

    MHIT* Add(IPodDB& db, const std::string& name, const std::string& artist, const std::string& album,
              const std::string& genre, const std::string& file, int size = 1000)
    {
        SongInfoStruct song =
            fixtures::MakeSong(name, artist, album, genre, "/iPod_Control/Music/F00/" + file, size);
        MHIT* track = nullptr;
        EXPECT_EQ(db.AddSong(song, &track, 1), 0) << name;
        return track;
    }

    // What a store of one song leaves when it is stopped between writing the temporary database
    // (complete and flushed) and renaming it over iTunesDB.
    void CrashedStore()
    {
        const auto before = fixtures::ReadFile(ITunes("iTunesDB"));
        IPodDB db;
        Load(db);
        Add(db, "Song", "Artist", "Album", "Rock", "ABCD.mp3");
        ASSERT_EQ(db.Store(nullptr), 0);
        std::filesystem::rename(ITunes("iTunesDB"), ITunes(".iTunesDB.pelorin-99-0.tmp"));
        fixtures::WriteFile(ITunes("iTunesDB"), before);
        std::filesystem::remove(ITunes("iTunesSD"));
    }
    std::vector<std::string> ITunesFiles() const
    {
        return fixtures::ListFiles(root + "/iPod_Control/iTunes");
    }

    fixtures::TempDir volumes;
    std::string root;
};

} // namespace

TEST_F(IPodDBTest, StoreWritesTheDatabaseInPlace)
{
    IPodDB db;
    Load(db);
    Add(db, "Song", "Artist", "Album", "Rock", "ABCD.mp3");
    ASSERT_EQ(db.Store(nullptr), 0);
    EXPECT_EQ(ITunesFiles(), (std::vector<std::string>{"iTunesDB", "iTunesPrefs"}));
    IPodDB again;
    Load(again);
    EXPECT_EQ(again.GetTrackCount(), 1);
    AString name;
    EXPECT_EQ(again.GetIPodName(name), 0);
    EXPECT_EQ(name, "Test iPod");
}

TEST_F(IPodDBTest, StoreIsRefusedUnlessLoadedWithPlaylists)
{
    const auto before = fixtures::ReadFile(ITunes("iTunesDB"));
    AString r = Root();
    IPodDB nameOnly;
    ASSERT_EQ(nameOnly.LoadName(&r, 1), 0);
    EXPECT_EQ(nameOnly.Store(nullptr), kErrUnknown);
    IPodDB tracksOnly;
    ASSERT_EQ(tracksOnly.Load(&r, 0, nullptr, nullptr), 0);
    EXPECT_EQ(tracksOnly.Store(nullptr), kErrUnknown);
    IPodDB fresh;
    EXPECT_EQ(fresh.Store(&r), kErrUnknown);
    EXPECT_EQ(fixtures::ReadFile(ITunes("iTunesDB")), before);
    EXPECT_FALSE(fixtures::Exists(ITunes("iTunesSD")));
}

TEST_F(IPodDBTest, MissingDatabaseIsRecoveredFromACompleteTemporaryDatabase)
{
    CrashedStore();
    std::filesystem::remove(ITunes("iTunesDB"));
    IPodDB db;
    Load(db);
    EXPECT_EQ(db.GetTrackCount(), 1);
    EXPECT_EQ(ITunesFiles(), (std::vector<std::string>{"iTunesDB", "iTunesPrefs"}));
}

TEST_F(IPodDBTest, MissingDatabaseWithoutACompleteTemporaryFails)
{
    AString r = Root();
    const auto empty = fixtures::ReadFile(ITunes("iTunesDB"));
    std::filesystem::remove(ITunes("iTunesDB"));
    EXPECT_FALSE(IPodDB::IsIPodRoot(r));
    IPodDB none;
    EXPECT_EQ(none.Load(&r, 1, nullptr, nullptr), kErrEndOfFile);
    EXPECT_EQ(none.IsLoaded(), 0);
    EXPECT_FALSE(fixtures::Exists(ITunes("iTunesDB")));
    // A temporary database cut short is not put in place.
    fixtures::WriteFile(ITunes("iTunesDB"), empty);
    CrashedStore();
    std::filesystem::remove(ITunes("iTunesDB"));
    for (const std::string& name : ITunesFiles())
        if (name != "iTunesPrefs")
            std::filesystem::resize_file(ITunes(name), 100);
    IPodDB db;
    EXPECT_EQ(db.Load(&r, 1, nullptr, nullptr), kErrEndOfFile);
    EXPECT_FALSE(fixtures::Exists(ITunes("iTunesDB")));
}

TEST_F(IPodDBTest, DamagedDatabaseFailsWithAFormatError)
{
    auto bytes = fixtures::ReadFile(ITunes("iTunesDB"));
    PutU32(bytes, 8, 0x7FFFFFFF);
    fixtures::WriteFile(ITunes("iTunesDB"), bytes);
    const auto listing = fixtures::ListFiles(root);
    IPodDB db;
    AString r = Root();
    EXPECT_EQ(db.Load(&r, 1, nullptr, nullptr), kErrUnknown);
    EXPECT_EQ(db.Store(nullptr), kErrUnknown);
    EXPECT_EQ(fixtures::ReadFile(ITunes("iTunesDB")), bytes);
    EXPECT_EQ(fixtures::ListFiles(root), listing);
    EXPECT_EQ(db.GetTrackCount(), 0);
}

TEST_F(IPodDBTest, FolderNamesAreMatchedWithoutRegardToCase)
{
    std::filesystem::rename(root + "/iPod_Control", root + "/IPOD_CONTROL");
    std::filesystem::rename(root + "/IPOD_CONTROL/iTunes", root + "/IPOD_CONTROL/ITUNES");
    std::filesystem::rename(root + "/IPOD_CONTROL/ITUNES/iTunesDB", root + "/IPOD_CONTROL/ITUNES/ITUNESDB");
    EXPECT_TRUE(IPodDB::IsIPodRoot(Root()));
    IPodDB db;
    Load(db);
    Add(db, "Song", "Artist", "Album", "Rock", "ABCD.mp3");
    ASSERT_EQ(db.Store(nullptr), 0);
    EXPECT_EQ(fixtures::ListFiles(root + "/IPOD_CONTROL/ITUNES"),
              (std::vector<std::string>{"ITUNESDB", "iTunesPrefs"}));
    EXPECT_FALSE(fixtures::Exists(root + "/iPod_Control"));
}

TEST_F(IPodDBTest, TrackHandlesNeverRepeatSoAStalePathFindsNothing)
{
    IPodDB db;
    Load(db);
    db.SetRelevantFields(0, 0, 1);
    MHIT* first = Add(db, "Song", "Artist", "Album", "Rock", "A.mp3");
    const AString stale = first->ToString(0, 0, 1, 1);
    const std::uint64_t firstHandle = first->GetHandle();
    db.RemoveSong(stale);
    MHIT* second = Add(db, "Song", "Artist", "Album", "Rock", "B.mp3");
    EXPECT_NE(second->GetHandle(), firstHandle);
    db.Sort(1);
    MHIT* found = nullptr;
    EXPECT_EQ(db.GetSongInfo(&found, stale, 1), 0);
    db.RemoveSong(stale);
    EXPECT_EQ(db.GetTrackCount(), 1);
}

TEST_F(IPodDBTest, TrackListWorksWithEveryPathShape)
{
    // An untagged song whose file is on the iPod: it is known by the size of its music.
    fixtures::SongSpec untaggedSong;
    untaggedSong.id3Version = 0;
    untaggedSong.seconds = 3;
    fixtures::WriteSong(root + "/iPod_Control/Music/F00/CCCC.mp3", untaggedSong);
    AString onDisk = Root() + "/iPod_Control/Music/F00/CCCC.mp3";
    const std::uint64_t musicSize = ID3::CalcMusicSize(&onDisk);
    ASSERT_GT(musicSize, 0u);
    for (int flags = 0; flags < 8; ++flags) {
        const signed char ext = flags & 1, genre = (flags >> 1) & 1, album = (flags >> 2) & 1;
        SCOPED_TRACE(flags);
        IPodDB db;
        Load(db);
        db.SetRelevantFields(ext, genre, album);
        Add(db, "Beta", "Artist", "Album", "Rock", "BBBB.mp3");
        Add(db, "alpha", "Artist", "Album", "Rock", "AAAA.m4a");
        MHIT* untagged = Add(db, "Gamma 2", "", "", "", "CCCC.mp3", 4242);
        SongInfoStruct duplicate = fixtures::MakeSong("BETA", "artist", "ALBUM", "rock", "/x/Other.MP3");
        EXPECT_EQ(db.AddSong(duplicate, nullptr, 0), kErrDuplicate);
        db.Sort(1);
        ASSERT_EQ(db.CountSortedSongs(), 3);
        std::vector<AString> paths;
        for (int i = 0; i < 3; ++i) {
            MHIT* track = db.GetSortedSong(i);
            ASSERT_NE(track, nullptr);
            paths.push_back(track->ToString(ext, genre, album, 1, db.GetRootPath()));
            EXPECT_LE(i == 0 ? -1 : paths[i - 1].CompareNoCase(paths[i]), 0);
            MHIT* found = nullptr;
            EXPECT_EQ(db.GetSongInfo(&found, paths[i], 1), 1) << paths[i].CStr();
            EXPECT_EQ(found, track);
            // Without `exact` only the text up to "?" counts.
            AString otherHandle = paths[i].Left(paths[i].ReverseFind('?') + 1) + "999999999999";
            EXPECT_EQ(db.GetSongInfo(&found, otherHandle, 0), 1);
            EXPECT_EQ(db.GetSongInfo(&found, otherHandle, 1), 0);
            AString filePath;
            EXPECT_EQ(db.GetSongPath(filePath, paths[i], 0), 1) << paths[i].CStr();
            EXPECT_EQ(filePath, track->GetFilepath());
        }
        // The untagged track is listed under its music size and without its copy number.
        const std::string expected = std::string("/") + (genre ? "*/" : "") + std::to_string(musicSize) +
                                     "/" + (album ? "*/" : "") + "Gamma" + (ext ? "/mp3" : "");
        EXPECT_EQ(untagged->ToString(ext, genre, album, 0, db.GetRootPath()).ToStdString(), expected);

        for (const AString& path : paths)
            db.RemoveSong(path);
        EXPECT_EQ(db.GetTrackCount(), 0);
        for (MHLP* list : db.GetDatabase()->GetPlaylistLists())
            EXPECT_EQ(list->GetPlaylist(0)->GetSongCount(), 0);
    }
}

TEST_F(IPodDBTest, StoredTracksAreNumberedInWrittenOrder)
{
    IPodDB db;
    Load(db);
    for (int i = 0; i < 30; ++i)
        Add(db, "Song " + std::to_string(i * 7), "Artist", "Album", "Rock", "F" + std::to_string(i) + ".mp3");
    Add(db, "Caf\xC3\xA9", "\xE2\x98\x83 Snow", "", "Jazz", "ABCE.m4a");
    db.AddPlaylist("Mix");
    ASSERT_EQ(db.Store(nullptr), 0);
    const auto bytes = fixtures::ReadFile(ITunes("iTunesDB"));
    std::vector<std::uint32_t> ids, items;
    const std::string data(bytes.begin(), bytes.end());
    for (size_t at = data.find("mhit"); at != std::string::npos; at = data.find("mhit", at + 4))
        ids.push_back(GetU32(bytes, at + 16));
    for (size_t at = data.find("mhip"); at != std::string::npos; at = data.find("mhip", at + 4))
        items.push_back(GetU32(bytes, at + 20));
    ASSERT_EQ(ids.size(), 31u);
    for (std::uint32_t i = 0; i < 31; ++i)
        EXPECT_EQ(ids[i], i + 1);
    ASSERT_EQ(items.size(), 62u); // the library playlist of both playlist datasets
    for (std::uint32_t i = 0; i < 62; ++i)
        EXPECT_EQ(items[i], i % 31 + 1);
    IPodDB again;
    Load(again);
    ASSERT_EQ(again.Store(nullptr), 0);
    EXPECT_EQ(fixtures::ReadFile(ITunes("iTunesDB")), bytes);
}

TEST_F(IPodDBTest, ShuffleFileHoldsOneEntryPerTrack)
{
    MakeShuffle();
    IPodDB db;
    Load(db);
    ASSERT_EQ(db.Store(nullptr), 0);
    const auto empty = fixtures::ReadFile(ITunes("iTunesSD"));
    ASSERT_EQ(empty.size(), 18u);
    EXPECT_EQ(empty[0] | empty[1] | empty[2], 0);
    Add(db, "One", "A", "B", "C", "AAAA.MP3");
    Add(db, "Two", "A", "B", "C", "BBBB.m4a");
    Add(db, "Three", "A", "B", "C", "CCCC.wav");
    ASSERT_EQ(db.Store(nullptr), 0);
    const auto sd = fixtures::ReadFile(ITunes("iTunesSD"));
    ASSERT_EQ(sd.size(), 18u + 3 * 558u);
    EXPECT_EQ(std::vector<std::uint8_t>(sd.begin(), sd.begin() + 18),
              (std::vector<std::uint8_t>{0, 0, 3, 1, 7, 0, 0, 0, 0x12, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    std::map<std::string, std::uint32_t> types;
    for (int i = 0; i < 3; ++i) {
        const std::uint8_t* entry = sd.data() + 18 + 558 * i;
        EXPECT_EQ(std::vector<std::uint8_t>(entry, entry + 6),
                  (std::vector<std::uint8_t>{0, 2, 0x2E, 0x5A, 0xA5, 1}));
        EXPECT_EQ(std::vector<std::uint8_t>(entry + 6, entry + 24), std::vector<std::uint8_t>(18, 0));
        EXPECT_EQ(std::vector<std::uint8_t>(entry + 24, entry + 27), (std::vector<std::uint8_t>{0, 0, 0x64}));
        EXPECT_EQ(std::vector<std::uint8_t>(entry + 30, entry + 33), (std::vector<std::uint8_t>{0, 2, 0}));
        std::string path;
        for (int u = 0; entry[33 + 2 * u] != 0; ++u)
            path += static_cast<char>(entry[33 + 2 * u]);
        types[path] = entry[27] << 16 | entry[28] << 8 | entry[29];
        EXPECT_EQ(entry[555], 1);
        EXPECT_EQ(entry[556] | entry[557], 0);
    }
    EXPECT_EQ(types, (std::map<std::string, std::uint32_t>{{"/iPod_Control/Music/F00/AAAA.MP3", 1},
                                                           {"/iPod_Control/Music/F00/BBBB.m4a", 2},
                                                           {"/iPod_Control/Music/F00/CCCC.wav", 4}}));
}

TEST_F(IPodDBTest, PathTooLongForTheShuffleFileStopsTheStore)
{
    MakeShuffle();
    const auto before = fixtures::ReadFile(ITunes("iTunesDB"));
    AProgress progress;
    platform::RecordingLogView log;
    progress.SetLogTextView(&log);
    IPodDB db(&progress);
    Load(db);
    Add(db, "Long One", "A", "B", "C", std::string(240, 'x') + ".mp3");
    EXPECT_EQ(db.Store(nullptr), kErrInvalidPath);
    EXPECT_EQ(fixtures::ReadFile(ITunes("iTunesDB")), before);
    EXPECT_EQ(ITunesFiles(), (std::vector<std::string>{"iTunesDB", "iTunesPrefs"}));
    EXPECT_NE(log.Text().find("\"Long One\""), std::string::npos) << log.Text();
}

TEST_F(IPodDBTest, PlayCountsAreFoldedIntoTheTracks)
{
    const std::vector<std::string> fileOrder = StoreInFileOrder({"First", "Second"});
    ASSERT_EQ(fileOrder.size(), 2u);
    std::vector<std::uint8_t> counts = PlayCounts(2);
    PutU32(counts, 0x60 + 0, 5);          // plays
    PutU32(counts, 0x60 + 4, 0xC0000000); // last played
    PutU32(counts, 0x60 + 12, 80);        // four stars
    PutU32(counts, 0x60 + 20, 2);         // skips
    PutU32(counts, 0x60 + 0x1C + 12, 0xFFFFFFFF);
    fixtures::WriteFile(ITunes("Play Counts"), counts);
    fixtures::WriteFile(ITunes("OTGPlaylistInfo"), std::string("mhpo"));

    IPodDB db;
    Load(db);
    ASSERT_EQ(db.Store(nullptr), 0);
    EXPECT_FALSE(fixtures::Exists(ITunes("Play Counts")));
    EXPECT_EQ(fixtures::ReadFile(ITunes("Play Counts.bak")), counts);
    EXPECT_FALSE(fixtures::Exists(ITunes("OTGPlaylistInfo")));

    IPodDB after;
    Load(after);
    after.GetDatabase()->GetTrackList()->ForEachTrack([&](MHIT& t) {
        const bool played = t.GetName().ToStdString() == fileOrder[0];
        EXPECT_EQ(t.GetField(MHIT::kOffsetPlayCount), played ? 5u : 0u);
        EXPECT_EQ(t.GetField(MHIT::kOffsetLastPlayed), played ? 0xC0000000u : 0u);
        EXPECT_EQ(t.GetByte(MHIT::kOffsetRating), played ? 80 : 0);
        EXPECT_EQ(t.GetField(MHIT::kOffsetSkipCount), played ? 2u : 0u);
    });
}

TEST_F(IPodDBTest, PlayCountsThatCannotBeSetAsideAreDeleted)
{
    ASSERT_EQ(StoreInFileOrder({"First"}).size(), 1u);
    std::vector<std::uint8_t> counts = PlayCounts(1);
    PutU32(counts, 0x60, 5);
    fixtures::WriteFile(ITunes("Play Counts"), counts);
    // A folder in the way of the backup's name: renaming onto it fails.
    fixtures::WriteFile(ITunes("Play Counts.bak/keep"), std::string("x"));

    IPodDB db;
    Load(db);
    ASSERT_EQ(db.Store(nullptr), 0);
    EXPECT_FALSE(fixtures::Exists(ITunes("Play Counts")));

    // Stored again, the counts are not added a second time.
    IPodDB again;
    Load(again);
    ASSERT_EQ(again.Store(nullptr), 0);
    IPodDB after;
    Load(after);
    after.GetDatabase()->GetTrackList()->ForEachTrack(
        [](MHIT& t) { EXPECT_EQ(t.GetField(MHIT::kOffsetPlayCount), 5u); });
}

TEST_F(IPodDBTest, OnTheGoPlaylistsBecomePlaylists)
{
    const std::vector<std::string> fileOrder = StoreInFileOrder({"One", "Two", "Three"});
    ASSERT_EQ(fileOrder.size(), 3u);
    // "mhpo", header length, entry length, entry count, then the places of the songs' tracks.
    auto onTheGo = [](std::uint32_t entryLength, const std::vector<std::uint32_t>& places) {
        std::vector<std::uint8_t> bytes(20 + entryLength * places.size(), 0);
        std::memcpy(bytes.data(), "mhpo", 4);
        PutU32(bytes, 4, 20);
        PutU32(bytes, 8, entryLength);
        PutU32(bytes, 12, static_cast<std::uint32_t>(places.size()));
        for (std::size_t i = 0; i < places.size(); ++i)
            PutU32(bytes, 20 + entryLength * i, places[i]);
        return bytes;
    };
    fixtures::WriteFile(ITunes("OTGPlaylistInfo"), onTheGo(4, {2, 0}));
    fixtures::WriteFile(ITunes("OTGPlaylistInfo_1"), std::string("mhpo")); // damaged
    fixtures::WriteFile(ITunes("OTGPlaylistInfo_2"), onTheGo(8, {7, 1}));  // 7 names no track
    fixtures::WriteFile(ITunes("OTGPlaylistInfo_3"), onTheGo(4, {}));      // empty: no playlist

    AProgress progress;
    platform::RecordingLogView log;
    progress.SetLogTextView(&log);
    IPodDB db(&progress);
    Load(db);
    EXPECT_NE(log.Text().find("OTGPlaylistInfo_1"), std::string::npos) << log.Text();
    ASSERT_EQ(db.Store(nullptr), 0);
    for (const char* name :
         {"OTGPlaylistInfo", "OTGPlaylistInfo_1", "OTGPlaylistInfo_2", "OTGPlaylistInfo_3"})
        EXPECT_FALSE(fixtures::Exists(ITunes(name))) << name;

    const std::map<std::string, std::vector<std::string>> expected{
        {"On-The-Go 1", {fileOrder[2], fileOrder[0]}}, {"On-The-Go 2", {fileOrder[1]}}};
    for (int pass = 0; pass < 2; ++pass) { // a second store must not add them again
        IPodDB after;
        Load(after);
        ASSERT_EQ(after.GetDatabase()->GetPlaylistLists().size(), 2u);
        for (MHLP* list : after.GetDatabase()->GetPlaylistLists()) {
            std::map<std::string, std::vector<std::string>> found;
            for (int i = 1; i < list->GetPlaylistCount(); ++i) {
                MHYP* playlist = list->GetPlaylist(i);
                AString name;
                playlist->GetName(name);
                for (int j = 0; j < playlist->GetSongCount(); ++j)
                    found[name.ToStdString()].push_back(playlist->GetSong(j)->GetName().ToStdString());
            }
            EXPECT_EQ(found, expected) << "pass " << pass;
        }
        ASSERT_EQ(after.Store(nullptr), 0);
    }
    // A playlist made on the iPod after that store is numbered after the kept ones.
    fixtures::WriteFile(ITunes("OTGPlaylistInfo"), onTheGo(4, {0}));
    IPodDB again;
    Load(again);
    AString last;
    MHLP* list = again.GetDatabase()->GetPlaylistLists()[0];
    list->GetPlaylist(list->GetPlaylistCount() - 1)->GetName(last);
    EXPECT_EQ(last.ToStdString(), "On-The-Go 3");
}

TEST_F(IPodDBTest, OnlyIPodsThatPlayFromTheShuffleFileGetOne)
{
    IPodDB video;
    Load(video);
    Add(video, "One", "A", "B", "C", "AAAA.mp3");
    ASSERT_EQ(video.Store(nullptr), 0);
    EXPECT_FALSE(fixtures::Exists(ITunes("iTunesSD"))) << "an iPod with a screen never reads it";
    EXPECT_FALSE(video.ShuffleFileOutOfDate());

    // An iPod that has one (put there by another program) keeps it up to date.
    fixtures::WriteFile(ITunes("iTunesSD"), std::string(18, '\0'));
    IPodDB hasOne;
    Load(hasOne);
    EXPECT_TRUE(hasOne.ShuffleFileOutOfDate());
    ASSERT_EQ(hasOne.Store(nullptr), 0);
    EXPECT_EQ(fixtures::ReadFile(ITunes("iTunesSD")).size(), 18u + 558u);
    EXPECT_FALSE(hasOne.ShuffleFileOutOfDate());

    // A shuffle whose run stopped after iTunesDB was replaced and before iTunesSD was.
    MakeShuffle();
    IPodDB shuffle;
    Load(shuffle);
    ASSERT_EQ(shuffle.Store(nullptr), 0);
    const auto emptyShuffleFile = fixtures::ReadFile(ITunes("iTunesSD"));
    Add(shuffle, "One", "A", "B", "C", "AAAA.mp3");
    ASSERT_EQ(shuffle.Store(nullptr), 0);
    fixtures::WriteFile(ITunes("iTunesSD"), emptyShuffleFile);
    IPodDB next;
    Load(next);
    EXPECT_TRUE(next.ShuffleFileOutOfDate());
    std::filesystem::remove(ITunes("iTunesSD"));
    EXPECT_TRUE(next.ShuffleFileOutOfDate()) << "a shuffle without one";
}

TEST_F(IPodDBTest, AfterAStoreEveryTrackIsInTheLibraryPlaylistExactlyOnce)
{
    using namespace fixtures::itdb;
    auto track = [](std::uint32_t id, const std::u16string& name) {
        return Track(244, id, {StringObject(1, name), StringObject(4, u"Ann"), StringObject(3, u"Al")});
    };
    // The library playlist repeats track 1, names a track that does not exist and lacks track 3.
    fixtures::WriteFile(
        ITunes("iTunesDB"),
        Database({Dataset(1, List("mhlt", 92, {track(1, u"One"), track(2, u"Two"), track(3, u"Three")})),
                  Dataset(2, List("mhlp", 92,
                                  {Playlist(u"Pod", true, {Item(1), Item(2), Item(1), Item(77)}),
                                   Playlist(u"Mix", false, {Item(2), Item(2)})}))}));
    IPodDB db;
    Load(db);
    ASSERT_EQ(db.Store(nullptr), 0);
    IPodDB stored;
    Load(stored);
    MHYP* library = stored.GetDatabase()->GetPlaylistLists().front()->GetPlaylist(0);
    std::vector<std::string> members;
    for (int i = 0; i < library->GetSongCount(); ++i)
        members.push_back(library->GetSong(i) ? library->GetSong(i)->GetName().ToStdString() : "?");
    EXPECT_EQ(members, (std::vector<std::string>{"One", "Two", "Three"}));
    EXPECT_EQ(stored.GetDatabase()->GetPlaylistLists().front()->GetPlaylist(1)->GetSongCount(), 2)
        << "other playlists may repeat a song";
}

TEST_F(IPodDBTest, DatabaseWithoutATrackListIsNotLoadedSoNeverStored)
{
    // The first dataset's type changed from 1 to 99: kept as it is, never read as the track list,
    // and the playlists that name its tracks are not written back without them.
    IPodDB db;
    Load(db);
    Add(db, "One", "A", "B", "C", "AAAA.mp3");
    ASSERT_EQ(db.Store(nullptr), 0);
    auto bytes = fixtures::ReadFile(ITunes("iTunesDB"));
    const std::size_t firstDataset = GetU32(bytes, 4);
    ASSERT_EQ(GetU32(bytes, firstDataset + 12), 1u);
    PutU32(bytes, firstDataset + 12, 99);
    fixtures::WriteFile(ITunes("iTunesDB"), bytes);
    IPodDB damaged;
    AString r = Root();
    EXPECT_EQ(damaged.Load(&r, 1, nullptr, nullptr), kErrUnknown);
    EXPECT_NE(AError::FailureDetail(kErrUnknown).ToStdString().find("has no track list"), std::string::npos);
    EXPECT_EQ(damaged.Store(nullptr), kErrUnknown);
    EXPECT_EQ(fixtures::ReadFile(ITunes("iTunesDB")), bytes);
}

TEST_F(IPodDBTest, GaplessFactsSurviveAStoreAndOnlyTracksWithThemGrowTheirHeader)
{
    struct Case {
        const char* name;
        std::uint64_t samples;
        std::uint32_t headerLength;
    };
    const Case cases[] = {{"Gapless", 0x123456789ull, MHIT::kGaplessHeaderLength},
                          {"Plain", 0, MHIT::kMinHeaderLength}};
    {
        IPodDB db;
        Load(db);
        for (const Case& c : cases) {
            SongInfoStruct song = fixtures::MakeSong(
                c.name, "Artist", "Album", "Rock", std::string("/iPod_Control/Music/F00/") + c.name + ".m4a");
            song.sampleCount = c.samples;
            song.pregap = 1024;
            song.postgap = 300;
            ASSERT_EQ(db.AddSong(song, nullptr, 1), 0);
        }
        ASSERT_EQ(db.Store(nullptr), 0);
    }
    IPodDB again;
    Load(again);
    ASSERT_EQ(again.GetTrackCount(), 2);
    again.Sort(1);
    for (int i = 0; i < 2; ++i) {
        MHIT* track = again.GetSortedSong(i);
        ASSERT_NE(track, nullptr);
        const Case& c = track->GetName() == AString("Gapless") ? cases[0] : cases[1];
        EXPECT_EQ(track->GetSampleCount(), c.samples) << c.name;
        EXPECT_EQ(track->GetHeaderLength(), c.headerLength) << c.name;
        EXPECT_EQ(track->GetField(MHIT::kOffsetPregap), c.samples ? 1024u : 0u) << c.name;
        EXPECT_EQ(track->GetByte(MHIT::kOffsetGaplessTrack), c.samples ? 1 : 0) << c.name;
    }
}
