// The iPod database object on iPod folder trees: loading, safe storing, recovery, lookups by
// virtual path, iTunesSD, play counts and On-The-Go playlists.

#include "ACommon/itunesdb/IPodDB.h"
#include "ACommon/base/AError.h"
#include "ACommon/base/AProgress.h"
#include "ACommon/itunesdb/IPodMusicFolder.h"
#include "ACommon/itunesdb/MHIT.h"
#include "ACommon/itunesdb/MHLP.h"
#include "ACommon/itunesdb/MHLT.h"
#include "ACommon/itunesdb/MHYP.h"
#include "ACommon/tags/ID3.h"
#include "fixtures/IPodDatabase.h"
#include "fixtures/MusicFiles.h"
#include "fixtures/RecordingFrontend.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>

using fixtures::ReadFile;
using fixtures::itdb::GetU32;
using fixtures::itdb::PutU32;
using Names = std::vector<std::string>;

namespace {

const Names kBare{"iTunesDB", "iTunesPrefs"}; // the iTunes folder of an iPod with nothing left over

fixtures::TestIPod Shuffle() { return fixtures::TestIPod({.modelNumStr = "MA133"}, "SHUFFLE"); }

Names ITunesFiles(const fixtures::TestIPod& pod)
{
    return fixtures::ListFiles(pod.root + "/iPod_Control/iTunes");
}

// What a store of one song leaves when it is stopped between writing the temporary database
// (complete and flushed) and renaming it over iTunesDB.
void CrashedStore(const fixtures::TestIPod& pod)
{
    const auto before = ReadFile(pod.ITunes("iTunesDB"));
    ASSERT_EQ(pod.StoreWith({"Song"}), 0);
    std::filesystem::rename(pod.ITunes("iTunesDB"), pod.ITunes(".iTunesDB.pelorin-99-0.tmp"));
    fixtures::WriteFile(pod.ITunes("iTunesDB"), before);
}

} // namespace

// A database read in part (only its name, without playlists, not at all, or failing) is never
// stored: what was not read would be lost.
TEST(IPodDB, StoreIsRefusedUnlessTheWholeDatabaseWasLoaded)
{
    fixtures::TestIPod pod;
    ASSERT_EQ(pod.StoreWith({"One"}), 0);
    const auto good = ReadFile(pod.ITunes("iTunesDB"));
    auto with = [&good](std::size_t at, std::uint32_t value) {
        auto bytes = good;
        PutU32(bytes, at, value);
        return bytes;
    };
    AString r = pod.Root();
    auto whole = [&r](IPodDB& db) { return db.Load(&r, 1, nullptr, nullptr); };
    struct Case {
        const char* what;
        fixtures::Bytes database;
        std::function<int(IPodDB&)> load;
        int loaded;
        const char* told;
    };
    const Case cases[] = {
        {"only the name", good, [&r](IPodDB& db) { return db.LoadName(&r, 1); }, 0, ""},
        {"without playlists", good, [&r](IPodDB& db) { return db.Load(&r, 0, nullptr, nullptr); }, 0, ""},
        {"not loaded", good, [](IPodDB&) { return 0; }, 0, ""},
        {"a length past the file", with(8, 0x7FFFFFFF), whole, kErrUnknown, ""},
        // The first dataset's type changed from 1 to 99: kept as it is, never read as the track list.
        {"no track list", with(GetU32(good, 4) + 12, 99), whole, kErrUnknown, "has no track list"}};
    for (const Case& c : cases) {
        fixtures::WriteFile(pod.ITunes("iTunesDB"), c.database);
        const auto listing = fixtures::ListFiles(pod.root);
        IPodDB db;
        EXPECT_EQ(c.load(db), c.loaded) << c.what;
        EXPECT_NE(AError::FailureDetail(kErrUnknown).ToStdString().find(c.told), std::string::npos) << c.what;
        if (c.loaded != 0) {
            EXPECT_EQ(db.GetTrackCount(), 0) << c.what;
        }
        EXPECT_EQ(db.Store(&r), kErrUnknown) << c.what;
        EXPECT_EQ(ReadFile(pod.ITunes("iTunesDB")), c.database) << c.what;
        EXPECT_EQ(fixtures::ListFiles(pod.root), listing) << c.what;
    }
}

// iTunesDB lost after a store stopped before its temporary database replaced it: only a complete
// temporary database is put in its place.
TEST(IPodDB, AMissingDatabaseIsRecoveredOnlyFromACompleteTemporaryOne)
{
    enum class Left { kNothing, kComplete, kCut };
    for (Left left : {Left::kNothing, Left::kComplete, Left::kCut}) {
        SCOPED_TRACE(static_cast<int>(left));
        fixtures::TestIPod pod;
        if (left != Left::kNothing)
            CrashedStore(pod);
        std::filesystem::remove(pod.ITunes("iTunesDB"));
        for (const std::string& name : ITunesFiles(pod))
            if (left == Left::kCut && name != "iTunesPrefs")
                std::filesystem::resize_file(pod.ITunes(name), 100);
        if (left == Left::kNothing) {
            EXPECT_FALSE(IPodDB::IsIPodRoot(pod.Root()));
        }
        IPodDB db;
        EXPECT_EQ(pod.Load(db), left == Left::kComplete ? 0 : kErrEndOfFile);
        EXPECT_EQ(db.IsLoaded(), left == Left::kComplete ? 1 : 0);
        EXPECT_EQ(db.GetTrackCount(), left == Left::kComplete ? 1 : 0);
        EXPECT_EQ(fixtures::Exists(pod.ITunes("iTunesDB")), left == Left::kComplete);
        if (left == Left::kComplete) {
            EXPECT_EQ(ITunesFiles(pod), kBare);
        }
    }
}

TEST(IPodDB, FolderNamesAreMatchedWithoutRegardToCase)
{
    fixtures::TestIPod pod;
    const std::string& root = pod.root;
    std::filesystem::rename(root + "/iPod_Control", root + "/IPOD_CONTROL");
    std::filesystem::rename(root + "/IPOD_CONTROL/iTunes", root + "/IPOD_CONTROL/ITUNES");
    std::filesystem::rename(root + "/IPOD_CONTROL/ITUNES/iTunesDB", root + "/IPOD_CONTROL/ITUNES/ITUNESDB");
    EXPECT_TRUE(IPodDB::IsIPodRoot(pod.Root()));
    ASSERT_EQ(pod.StoreWith({"Song"}), 0);
    EXPECT_EQ(fixtures::ListFiles(root + "/IPOD_CONTROL/ITUNES"), (Names{"ITUNESDB", "iTunesPrefs"}));
    EXPECT_FALSE(fixtures::Exists(root + "/iPod_Control"));
}

TEST(IPodDB, TrackHandlesNeverRepeatSoAStalePathFindsNothing)
{
    fixtures::TestIPod pod;
    IPodDB db;
    ASSERT_EQ(pod.Load(db), 0);
    db.SetRelevantFields(0, 0, 1);
    MHIT* first = pod.Add(db, "Song", "A.mp3");
    const AString stale = first->ToString(0, 0, 1, 1);
    const std::uint64_t firstHandle = first->GetHandle();
    db.RemoveSong(stale);
    MHIT* second = pod.Add(db, "Song", "B.mp3");
    EXPECT_NE(second->GetHandle(), firstHandle);
    db.Sort(1);
    MHIT* found = nullptr;
    EXPECT_EQ(db.GetSongInfo(&found, stale, 1), 0);
    db.RemoveSong(stale);
    EXPECT_EQ(db.GetTrackCount(), 1);
}

// Every path shape the three flags give finds its track, its file, and removes it from every
// playlist; a track without artist and album is listed under the size of its music.
TEST(IPodDB, TrackListWorksWithEveryPathShape)
{
    fixtures::TestIPod pod;
    fixtures::SongSpec untaggedSong;
    untaggedSong.id3Version = 0;
    untaggedSong.seconds = 3;
    fixtures::WriteSong(pod.root + "/iPod_Control/Music/F00/CCCC.mp3", untaggedSong);
    AString onDisk = pod.Root() + "/iPod_Control/Music/F00/CCCC.mp3";
    const std::uint64_t musicSize = ID3::CalcMusicSize(&onDisk);
    ASSERT_GT(musicSize, 0u);
    for (int flags = 0; flags < 8; ++flags) {
        const signed char ext = flags & 1, genre = (flags >> 1) & 1, album = (flags >> 2) & 1;
        SCOPED_TRACE(flags);
        IPodDB db;
        ASSERT_EQ(pod.Load(db), 0);
        db.SetRelevantFields(ext, genre, album);
        pod.Add(db, "Beta", "BBBB.mp3");
        pod.Add(db, "alpha", "AAAA.m4a");
        SongInfoStruct untaggedInfo =
            fixtures::MakeSong("Gamma 2", "", "", "", "/iPod_Control/Music/F00/CCCC.mp3", 4242);
        MHIT* untagged = nullptr;
        ASSERT_EQ(db.AddSong(untaggedInfo, &untagged, 1), 0);
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
            AString filePath;
            EXPECT_EQ(db.GetSongPath(filePath, paths[i], 0), 1) << paths[i].CStr();
            EXPECT_EQ(filePath, track->GetFilepath());
        }
        // Without its copy number.
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

// Track ids run 1, 2, 3... in the order of the file, items name them in both playlist datasets, and
// storing what was read gives the same bytes.
TEST(IPodDB, StoredTracksAreNumberedInWrittenOrder)
{
    fixtures::TestIPod pod;
    IPodDB db;
    ASSERT_EQ(pod.Load(db), 0);
    for (int i = 0; i < 30; ++i)
        pod.Add(db, "Song " + std::to_string(i * 7), "F" + std::to_string(i) + ".mp3");
    SongInfoStruct unicode = fixtures::MakeSong("Caf\xC3\xA9", "\xE2\x98\x83 Snow", "", "Jazz", "/F00/E.m4a");
    ASSERT_EQ(db.AddSong(unicode, nullptr, 1), 0);
    db.AddPlaylist("Mix");
    ASSERT_EQ(db.Store(nullptr), 0);
    const auto bytes = ReadFile(pod.ITunes("iTunesDB"));
    const std::string data(bytes.begin(), bytes.end());
    std::vector<std::uint32_t> ids, items, expectedIds, expectedItems;
    for (size_t at = data.find("mhit"); at != std::string::npos; at = data.find("mhit", at + 4))
        ids.push_back(GetU32(bytes, at + 16));
    for (size_t at = data.find("mhip"); at != std::string::npos; at = data.find("mhip", at + 4))
        items.push_back(GetU32(bytes, at + 20));
    for (std::uint32_t i = 0; i < 62; ++i) {
        if (i < 31)
            expectedIds.push_back(i + 1);
        expectedItems.push_back(i % 31 + 1); // the library playlist of both playlist datasets
    }
    EXPECT_EQ(ids, expectedIds);
    EXPECT_EQ(items, expectedItems);
    ASSERT_EQ(pod.StoreWith({}), 0);
    EXPECT_EQ(ReadFile(pod.ITunes("iTunesDB")), bytes);
}

// iTunesSD: an 18-byte header, then 558 bytes a track with its type and UTF-16 path.
TEST(IPodDB, ShuffleFileHoldsOneEntryPerTrack)
{
    fixtures::TestIPod pod = Shuffle();
    ASSERT_EQ(pod.StoreWith({}), 0);
    const auto empty = ReadFile(pod.ITunes("iTunesSD"));
    ASSERT_EQ(empty.size(), 18u);
    EXPECT_EQ(empty[0] | empty[1] | empty[2], 0);
    IPodDB db;
    ASSERT_EQ(pod.Load(db), 0);
    for (const char* file : {"AAAA.MP3", "BBBB.m4a", "CCCC.wav"})
        pod.Add(db, file, file);
    ASSERT_EQ(db.Store(nullptr), 0);
    // Header: entry count (3 bytes), 0x010700, header length; each entry: its length 0x22E, 0x5AA501,
    // zeros, 0x64 as volume, the file type (1 MP3, 2 AAC, 4 WAV), 0x200, the UTF-16 path, 1 to play it
    // in shuffle and two zeros; in the order of the tracks in iTunesDB.
    using Bytes = std::vector<std::uint8_t>;
    const std::map<std::string, std::uint8_t> types{{"AAAA.MP3", 1}, {"BBBB.m4a", 2}, {"CCCC.wav", 4}};
    Bytes expected{0, 0, 3, 1, 7, 0, 0, 0, 0x12, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    for (const std::string& file : pod.FileOrder()) {
        Bytes entry{0, 2, 0x2E, 0x5A, 0xA5, 1};
        entry.resize(24, 0);
        entry.insert(entry.end(), {0, 0, 0x64, 0, 0, types.at(file), 0, 2, 0});
        for (char c : "/iPod_Control/Music/F00/" + file)
            entry.insert(entry.end(), {static_cast<std::uint8_t>(c), 0});
        entry.resize(555, 0);
        entry.insert(entry.end(), {1, 0, 0});
        expected.insert(expected.end(), entry.begin(), entry.end());
    }
    EXPECT_EQ(ReadFile(pod.ITunes("iTunesSD")), expected);
}

TEST(IPodDB, PathTooLongForTheShuffleFileStopsTheStore)
{
    fixtures::TestIPod pod = Shuffle();
    const auto before = ReadFile(pod.ITunes("iTunesDB"));
    fixtures::RecordingFrontend frontend;
    IPodDB db;
    ASSERT_EQ(pod.Load(db), 0);
    pod.Add(db, "Long One", std::string(240, 'x') + ".mp3");
    EXPECT_EQ(db.Store(nullptr), kErrInvalidPath);
    EXPECT_EQ(ReadFile(pod.ITunes("iTunesDB")), before);
    EXPECT_EQ(ITunesFiles(pod), kBare);
    EXPECT_NE(frontend.Log().find("\"Long One\""), std::string::npos) << frontend.Log();
}

// The iPod's play count file is set aside once a store took it in (deleted where it cannot be set
// aside), so that the plays are counted once; the On-The-Go file, damaged here, goes with it.
TEST(IPodDB, PlaysAreTakenInOnce)
{
    for (const bool backupBlocked : {false, true}) {
        fixtures::TestIPod pod;
        ASSERT_EQ(pod.StoreWith({"First"}), 0);
        const auto counts =
            fixtures::itdb::PlayCounts(0x1C, {{5, 0, 0, 0xFFFFFFFF}}); // rated past five stars
        fixtures::WriteFile(pod.ITunes("Play Counts"), counts);
        fixtures::WriteFile(pod.ITunes("OTGPlaylistInfo"), std::string("mhpo"));
        if (backupBlocked) // a folder in the way of the backup's name: renaming onto it fails
            fixtures::WriteFile(pod.ITunes("Play Counts.bak/keep"), std::string("x"));
        for (int store = 0; store < 2; ++store)
            ASSERT_EQ(pod.StoreWith({}), 0);
        EXPECT_FALSE(fixtures::Exists(pod.ITunes("Play Counts"))) << backupBlocked;
        if (!backupBlocked) {
            EXPECT_EQ(ReadFile(pod.ITunes("Play Counts.bak")), counts);
        }
        EXPECT_FALSE(fixtures::Exists(pod.ITunes("OTGPlaylistInfo"))) << backupBlocked;
        EXPECT_EQ(pod.Fields(MHIT::kOffsetPlayCount), (std::map<std::string, std::uint32_t>{{"First", 5}}));
        IPodDB after;
        ASSERT_EQ(pod.Load(after), 0);
        EXPECT_EQ(after.GetDatabase()->GetTrackList()->GetSong(0)->GetByte(MHIT::kOffsetRating), 0)
            << "a rating past five stars is no rating";
    }
}

TEST(IPodDB, OnTheGoPlaylistsBecomePlaylists)
{
    fixtures::TestIPod pod;
    ASSERT_EQ(pod.StoreWith({"One", "Two", "Three"}), 0);
    const Names fileOrder = pod.FileOrder();
    ASSERT_EQ(fileOrder.size(), 3u);
    using fixtures::itdb::OnTheGo; // the places of the songs' tracks in the file
    fixtures::WriteFile(pod.ITunes("OTGPlaylistInfo"), OnTheGo(4, {2, 0}));
    fixtures::WriteFile(pod.ITunes("OTGPlaylistInfo_1"), std::string("mhpo")); // damaged
    fixtures::WriteFile(pod.ITunes("OTGPlaylistInfo_2"), OnTheGo(8, {7, 1}));  // 7 names no track
    fixtures::WriteFile(pod.ITunes("OTGPlaylistInfo_3"), OnTheGo(4, {}));      // empty: no playlist
    fixtures::RecordingFrontend frontend;
    IPodDB db;
    ASSERT_EQ(pod.Load(db), 0);
    EXPECT_NE(frontend.Log().find("OTGPlaylistInfo_1"), std::string::npos) << frontend.Log();
    ASSERT_EQ(db.Store(nullptr), 0);
    EXPECT_EQ(ITunesFiles(pod), kBare);

    const std::map<std::string, Names> expected{{"On-The-Go 1", {fileOrder[2], fileOrder[0]}},
                                                {"On-The-Go 2", {fileOrder[1]}}};
    IPodDB after;
    ASSERT_EQ(pod.Load(after), 0);
    ASSERT_EQ(after.GetDatabase()->GetPlaylistLists().size(), 2u);
    for (MHLP* list : after.GetDatabase()->GetPlaylistLists()) {
        std::map<std::string, Names> found;
        for (int i = 1; i < list->GetPlaylistCount(); ++i) {
            AString name;
            list->GetPlaylist(i)->GetName(name);
            for (int j = 0; j < list->GetPlaylist(i)->GetSongCount(); ++j)
                found[name.ToStdString()].push_back(
                    list->GetPlaylist(i)->GetSong(j)->GetName().ToStdString());
        }
        EXPECT_EQ(found, expected);
    }
    // A playlist made on the iPod after that store is numbered after the kept ones.
    fixtures::WriteFile(pod.ITunes("OTGPlaylistInfo"), OnTheGo(4, {0}));
    IPodDB again;
    ASSERT_EQ(pod.Load(again), 0);
    AString last;
    MHLP* list = again.GetDatabase()->GetPlaylistLists()[0];
    list->GetPlaylist(list->GetPlaylistCount() - 1)->GetName(last);
    EXPECT_EQ(last.ToStdString(), "On-The-Go 3");
}

// An iPod with a screen never reads iTunesSD: it gets none, but one another program put there is
// kept up to date (a shuffle's is checked through the iPod database source).
TEST(IPodDB, OnlyIPodsThatPlayFromTheShuffleFileGetOne)
{
    fixtures::TestIPod video;
    ASSERT_EQ(video.StoreWith({"One"}), 0);
    EXPECT_FALSE(fixtures::Exists(video.ITunes("iTunesSD")));
    IPodDB db;
    ASSERT_EQ(video.Load(db), 0);
    EXPECT_FALSE(db.ShuffleFileOutOfDate());
    fixtures::WriteFile(video.ITunes("iTunesSD"), std::string(18, '\0'));
    IPodDB hasOne;
    ASSERT_EQ(video.Load(hasOne), 0);
    EXPECT_TRUE(hasOne.ShuffleFileOutOfDate());
    ASSERT_EQ(hasOne.Store(nullptr), 0);
    EXPECT_EQ(ReadFile(video.ITunes("iTunesSD")).size(), 18u + 558u);
    EXPECT_FALSE(hasOne.ShuffleFileOutOfDate());
}

TEST(IPodDB, AfterAStoreEveryTrackIsInTheLibraryPlaylistExactlyOnce)
{
    using namespace fixtures::itdb;
    fixtures::TestIPod pod;
    auto track = [](std::uint32_t id, const std::u16string& name) {
        return Track(244, id, {StringObject(1, name), StringObject(4, u"Ann"), StringObject(3, u"Al")});
    };
    // The library playlist repeats track 1, names a track that does not exist and lacks track 3.
    fixtures::WriteFile(
        pod.ITunes("iTunesDB"),
        Database({Dataset(1, List("mhlt", 92, {track(1, u"One"), track(2, u"Two"), track(3, u"Three")})),
                  Dataset(2, List("mhlp", 92,
                                  {Playlist(u"Pod", true, {Item(1), Item(2), Item(1), Item(77)}),
                                   Playlist(u"Mix", false, {Item(2), Item(2)})}))}));
    ASSERT_EQ(pod.StoreWith({}), 0);
    IPodDB stored;
    ASSERT_EQ(pod.Load(stored), 0);
    MHYP* library = stored.GetDatabase()->GetPlaylistLists().front()->GetPlaylist(0);
    Names members;
    for (int i = 0; i < library->GetSongCount(); ++i)
        members.push_back(library->GetSong(i) ? library->GetSong(i)->GetName().ToStdString() : "?");
    EXPECT_EQ(members, (Names{"One", "Two", "Three"}));
    EXPECT_EQ(stored.GetDatabase()->GetPlaylistLists().front()->GetPlaylist(1)->GetSongCount(), 2)
        << "other playlists may repeat a song";
}

// Only a track with a sample count grows its header to hold the gapless fields (that such a track
// carries them onto the iPod is checked with libgpod by the conversion peer test).
TEST(IPodDB, ATrackWithoutASampleCountKeepsTheShortHeader)
{
    fixtures::TestIPod pod;
    IPodDB db;
    ASSERT_EQ(pod.Load(db), 0);
    SongInfoStruct song = fixtures::MakeSong("Plain", "A", "B", "C", "/iPod_Control/Music/F00/Plain.m4a");
    song.pregap = 1024;
    song.postgap = 300;
    ASSERT_EQ(db.AddSong(song, nullptr, 1), 0);
    ASSERT_EQ(db.Store(nullptr), 0);
    IPodDB stored;
    ASSERT_EQ(pod.Load(stored), 0);
    MHIT* track = stored.GetDatabase()->GetTrackList()->GetSong(0);
    ASSERT_NE(track, nullptr);
    EXPECT_EQ(track->GetHeaderLength(), MHIT::kMinHeaderLength);
    EXPECT_EQ(track->GetSampleCount(), 0u);
    EXPECT_EQ(track->GetField(MHIT::kOffsetPregap), 0u);
    EXPECT_EQ(track->GetByte(MHIT::kOffsetGaplessTrack), 0);
}

// The duplicate test finds a title among many, whether its track was loaded or added, and forgets a
// removed track.
TEST(IPodDB, ADuplicateTitleIsFoundAmongManyTracksUntilItsTrackIsRemoved)
{
    fixtures::TestIPod pod;
    std::vector<std::string> names;
    for (int i = 0; i < 300; ++i)
        names.push_back("Title " + std::to_string(i * 7));
    ASSERT_EQ(pod.StoreWith(names), 0);
    IPodDB db;
    ASSERT_EQ(pod.Load(db), 0);
    pod.Add(db, "Added");
    auto isDuplicate = [&db](const std::string& name) {
        SongInfoStruct song = fixtures::MakeSong(name, "ARTIST", "album", "rock", "/x/y.mp3");
        return db.AddSong(song, nullptr, 0) == kErrDuplicate;
    };
    for (const char* name : {"Title 0", "title 1043", "Added", "  Title 700  "})
        EXPECT_TRUE(isDuplicate(name)) << name;
    EXPECT_FALSE(isDuplicate("Title 1"));
    for (const char* name : {"Title 1043", "Added"}) {
        MHIT* track = nullptr;
        db.GetDatabase()->GetTrackList()->ForEachTrack([&](MHIT& each) {
            if (each.GetName().ToStdString() == name)
                track = &each;
        });
        ASSERT_NE(track, nullptr) << name;
        db.GetDatabase()->GetTrackList()->RemoveTrack(track);
        EXPECT_FALSE(isDuplicate(name)) << name;
    }
}

// A song goes into the music folders the iPod has, whatever their case, under a name nothing uses.
TEST(IPodDB, ASongIsPlacedInTheIPodsOwnMusicFolderUnderAFreeName)
{
    fixtures::TestIPod pod;
    const std::string& root = pod.root;
    std::filesystem::rename(root + "/iPod_Control", root + "/IPOD_CONTROL");
    if (std::filesystem::exists(root + "/IPOD_CONTROL/Music"))
        std::filesystem::rename(root + "/IPOD_CONTROL/Music", root + "/IPOD_CONTROL/MUSIC");
    std::filesystem::create_directories(root + "/IPOD_CONTROL/MUSIC");
    const SongInfoStruct song = fixtures::MakeSong("Song", "Artist", "Album", "Rock", "");
    const AString source("/x/a.MP3");
    AString first, second;
    ASSERT_EQ(IPodMusicFolder::ChooseDestination(pod.Root() + "/", source, song, first), 0);
    EXPECT_EQ(first.ToStdString().rfind(root + "/IPOD_CONTROL/MUSIC/F", 0), 0u) << first.CStr();
    std::filesystem::create_symlink("/nowhere", first.ToStdString()); // a link to nothing takes its name
    ASSERT_EQ(IPodMusicFolder::ChooseDestination(pod.Root() + "/", source, song, second), 0);
    EXPECT_NE(second, first);
    EXPECT_FALSE(std::filesystem::exists(root + "/iPod_Control"));
}

// A music folder found once is taken as there for the songs after it (one look a folder, not one a
// song), until the run forgets it, as it does after a failed copy: then it is looked for, and made.
TEST(IPodDB, AKnownMusicFolderIsTakenAsThereUntilForgotten)
{
    fixtures::TestIPod pod;
    const SongInfoStruct song = fixtures::MakeSong("Song", "Artist", "Album", "Rock", "");
    const AString source("/x/a.mp3");
    IPodMusicFolder::Known known;
    AString placed;
    ASSERT_EQ(IPodMusicFolder::ChooseDestination(pod.Root() + "/", source, song, placed, &known), 0);
    const std::filesystem::path folder = std::filesystem::path(placed.ToStdString()).parent_path();
    ASSERT_TRUE(std::filesystem::is_directory(folder));
    std::filesystem::remove_all(folder);
    ASSERT_EQ(IPodMusicFolder::ChooseDestination(pod.Root() + "/", source, song, placed, &known), 0);
    EXPECT_FALSE(std::filesystem::exists(folder));
    known.Forget();
    ASSERT_EQ(IPodMusicFolder::ChooseDestination(pod.Root() + "/", source, song, placed, &known), 0);
    EXPECT_TRUE(std::filesystem::is_directory(folder));
}
