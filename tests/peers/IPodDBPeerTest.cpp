// Cross-checks with libgpod, an independent reader and writer of the iPod database: every database
// this program writes reads back in libgpod with the same tracks and playlists, and a database
// libgpod wrote survives being changed and stored by this program.

#include "ACommon/itunesdb/IPodDB.h"
#include "ACommon/itunesdb/IPodPlayCounts.h"
#include "ACommon/itunesdb/MHBD.h"
#include "ACommon/itunesdb/MHIT.h"
#include "ACommon/itunesdb/MHLT.h"
#include "ACommon/sources/ADirPodDB.h"
#include "GpodPeer.h"
#include "fixtures/IPodFixture.h"
#include "fixtures/MusicFiles.h"
#include "fixtures/TempDir.h"

#include <gpod/itdb.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

using peers::PeerPlaylist;
using peers::PeerTrack;

namespace {

struct Song {
    const char* title;
    const char* artist;
    const char* album;
    const char* genre;
    const char* file;
};

MHIT* AddSong(IPodDB& db, const Song& s, int size)
{
    SongInfoStruct song = fixtures::MakeSong(s.title, s.artist, s.album, s.genre,
                                             std::string("/iPod_Control/Music/F01/") + s.file, size);
    song.bitRate = 128 + size % 100;
    song.duration = 100 + size % 50;
    MHIT* track = nullptr;
    EXPECT_EQ(db.AddSong(song, &track, 1), 0);
    return track;
}

PeerTrack Expected(const Song& s, int size)
{
    return {s.title,
            s.artist,
            s.album,
            s.genre,
            std::string(":iPod_Control:Music:F01:") + s.file,
            static_cast<std::uint32_t>(size),
            (100 + size % 50) * 1000,
            128 + size % 100};
}

std::set<std::string> Titles(const std::vector<std::string>& titles)
{
    return {titles.begin(), titles.end()};
}

std::uint32_t U32(const std::vector<std::uint8_t>& b, std::size_t at)
{
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

// An iPod in a temporary volumes folder, and its database loaded here.
class IPodDBPeer : public ::testing::Test {
protected:
    void Load(IPodDB& db)
    {
        AString r = AString::FromUTF8(root);
        ASSERT_EQ(db.Load(&r, 1, nullptr, nullptr), 0);
    }
    static MHIT* Find(IPodDB& db, const std::string& title)
    {
        MHIT* found = nullptr;
        db.GetDatabase()->GetTrackList()->ForEachTrack([&](MHIT& t) {
            if (t.GetName().ToStdString() == title)
                found = &t;
        });
        return found;
    }

    fixtures::TempDir volumes;
    const std::string root = fixtures::MakeIPod(volumes.Path(), "POD");
};

} // namespace

TEST_F(IPodDBPeer, LibgpodReadsWhatThisProgramStored)
{
    peers::PeerDatabase peer = peers::ReadWithGpod(root); // a new iPod's empty database
    EXPECT_TRUE(peer.tracks.empty());
    EXPECT_EQ(peer.playlists, (std::vector<PeerPlaylist>{{"Test iPod", true, {}}}));

    const Song songs[] = {{"Alpha", "Ann", "First", "Rock", "AAAA.mp3"},
                          {"Caf\xC3\xA9 \xE2\x99\xAB", "B\xC3\xA9la", "Zw\xC3\xB6lf", "Jazz", "BBBB.m4a"},
                          {"Gamma", "", "", "", "CCCC.mp3"},
                          {"Delta", "Dee", "Fourth", "Pop", "DDDD.mp3"}};
    IPodDB db;
    Load(db);
    std::vector<MHIT*> tracks;
    std::vector<PeerTrack> expected;
    for (int i = 0; i < 4; ++i) {
        tracks.push_back(AddSong(db, songs[i], 1000 + 37 * i));
        expected.push_back(Expected(songs[i], 1000 + 37 * i));
    }
    for (MHYP* mix : db.AddPlaylist("Mix")) {
        mix->AddSong(tracks[3], -1);
        mix->AddSong(tracks[0], -1);
    }
    ASSERT_EQ(db.Store(nullptr), 0);

    peer = peers::ReadWithGpod(root);
    EXPECT_EQ(peers::ByTitle(peer.tracks), peers::ByTitle(expected));
    ASSERT_EQ(peer.playlists.size(), 2u);
    EXPECT_EQ(peer.playlists[0].name, "Test iPod");
    EXPECT_TRUE(peer.playlists[0].library);
    EXPECT_EQ(Titles(peer.playlists[0].titles),
              (std::set<std::string>{songs[0].title, songs[1].title, songs[2].title, songs[3].title}));
    EXPECT_EQ(peer.playlists[1], (PeerPlaylist{"Mix", false, {"Delta", "Alpha"}}));

    // A removal reaches the library playlist and the user's playlist in what libgpod reads.
    db.RemoveSong(tracks[3]->ToString(0, 0, 1, 1));
    ASSERT_EQ(db.Store(nullptr), 0);
    peer = peers::ReadWithGpod(root);
    EXPECT_EQ(peer.tracks.size(), 3u);
    EXPECT_EQ(peer.playlists[1], (PeerPlaylist{"Mix", false, {"Alpha"}}));
}

TEST_F(IPodDBPeer, LibgpodReadsHandWrittenShapesAfterThisProgramStoredThem)
{
    using namespace fixtures::itdb;
    const Bytes track156 = Track(
        156, 1, {StringObject(1, u"Short"), StringObject(2, u":iPod_Control:Music:F00:S.mp3")}, {{36, 1111}});
    const Bytes track248 = Track(248, 2,
                                 {StringObject(1, u"Long"), StringObject(6, u"MPEG audio file"),
                                  StringObject(2, u":iPod_Control:Music:F00:L.mp3")},
                                 {{36, 2222}});
    const Bytes playlists = List(
        "mhlp", 92,
        {Playlist(u"Hand", true, {Item(1), Item(2)}), Playlist(u"Odd", false, {Item(2), Item(0), Item(9)})});
    struct Case {
        const char* name;
        std::vector<Bytes> datasets;
    };
    for (const Case& c :
         {Case{"two datasets", {Dataset(1, List("mhlt", 92, {track156, track248})), Dataset(2, playlists)}},
          Case{"five datasets",
               {Dataset(1, List("mhlt", 92, {track156, track248})), Dataset(3, playlists),
                Dataset(2, playlists), Dataset(4, List("mhla", 92, {})),
                Dataset(5, List("mhlp", 92, {}))}}}) {
        fixtures::WriteFile(fixtures::DatabasePath(root), Database(c.datasets));
        IPodDB db;
        Load(db);
        ASSERT_EQ(db.Store(nullptr), 0) << c.name;
        peers::PeerDatabase peer = peers::ReadWithGpod(root);
        std::set<std::string> titles;
        for (const PeerTrack& t : peer.tracks)
            titles.insert(t.title + "/" + std::to_string(t.size));
        EXPECT_EQ(titles, (std::set<std::string>{"Short/1111", "Long/2222"})) << c.name;
        const PeerPlaylist* odd = peers::FindPlaylist(peer, "Odd");
        ASSERT_NE(odd, nullptr) << c.name;
        EXPECT_EQ(odd->titles, (std::vector<std::string>{"Long"})) << c.name;
    }
}

TEST_F(IPodDBPeer, ADatabaseLibgpodWroteTakesChangesFromThisProgram)
{
    std::vector<PeerTrack> written = peers::ThreeTracks();
    written[2].path = ":iPod_Control:Music:F01:THR3.m4a";
    written.push_back({"Four", "Cy", "", "", ":iPod_Control:Music:F02:FOU4.mp3", 3004, 184000, 320});
    ASSERT_TRUE(peers::WriteWithGpod(root, "Peer Pod", written, {{"Evens", {1, 3}}, {"Mixed", {2, 1, 0}}}));

    IPodDB db;
    Load(db);
    AString podName;
    ASSERT_EQ(db.GetIPodName(podName), 0);
    EXPECT_EQ(podName, "Peer Pod");
    ASSERT_EQ(db.GetTrackCount(), 4);
    MHIT* two = Find(db, "Two");
    ASSERT_NE(two, nullptr);
    EXPECT_EQ(two->GetFilepath(), "/iPod_Control/Music/F00/TWO2.mp3");
    EXPECT_EQ(two->GetFileSize(), 3002u);
    EXPECT_EQ(two->GetBitrate(), 128);
    EXPECT_EQ(two->GetDuration(), 182);

    db.RemoveSong(two->ToString(0, 0, 1, 1));
    AddSong(db, {"Five", "Dee", "E", "Pop", "FIVE.mp3"}, 3005);
    ASSERT_EQ(db.Store(nullptr), 0);

    peers::PeerDatabase peer = peers::ReadWithGpod(root);
    std::vector<PeerTrack> expected{written[0], written[2], written[3],
                                    Expected({"Five", "Dee", "E", "Pop", "FIVE.mp3"}, 3005)};
    EXPECT_EQ(peers::ByTitle(peer.tracks), peers::ByTitle(expected));
    ASSERT_EQ(peer.playlists.size(), 3u);
    const PeerPlaylist* library = peers::FindPlaylist(peer, "Peer Pod");
    ASSERT_NE(library, nullptr);
    EXPECT_TRUE(library->library);
    EXPECT_EQ(Titles(library->titles), (std::set<std::string>{"One", "Three", "Four", "Five"}));
    for (auto [name, titles] : {std::pair{"Evens", std::vector<std::string>{"Four"}},
                                {"Mixed", std::vector<std::string>{"Three", "One"}}}) {
        const PeerPlaylist* playlist = peers::FindPlaylist(peer, name);
        ASSERT_NE(playlist, nullptr) << name;
        EXPECT_EQ(playlist->titles, titles) << name;
    }
}

TEST_F(IPodDBPeer, PodcastPlaylistSurvivesARemovalWithDistinctItemIds)
{
    // Three songs in "Mine" and three podcasts of two shows: libgpod gives the podcasts dataset the
    // podcast playlist with a group item per show.
    const char* const albums[] = {"Album", "Album", "Album", "Show A", "Show A", "Show B"};
    std::vector<PeerTrack> tracks;
    for (int i = 0; i < 6; ++i) {
        const std::string title = "T" + std::to_string(i);
        tracks.push_back(
            {title, "Ann", albums[i], "", ":iPod_Control:Music:F00:" + title + ".mp3", 1000u + i, 1000});
        tracks.back().podcast = i >= 3;
    }
    ASSERT_TRUE(peers::WriteWithGpod(root, "Pod", tracks, {{"Mine", {0, 1, 2}}}));
    peers::PeerDatabase before = peers::ReadWithGpod(root);

    IPodDB db;
    Load(db);
    MHIT* t0 = Find(db, "T0");
    ASSERT_NE(t0, nullptr);
    db.GetDatabase()->RemoveTrack(t0);
    ASSERT_EQ(db.Store(nullptr), 0);

    peers::PeerDatabase after = peers::ReadWithGpod(root);
    EXPECT_EQ(after.tracks.size(), 5u);
    std::map<std::string, std::set<std::string>> members;
    for (const auto& p : after.playlists)
        members[p.name] = {p.titles.begin(), p.titles.end()};
    EXPECT_EQ(members["Podcasts"], (std::set<std::string>{"T3", "T4", "T5"}));
    EXPECT_EQ(members["Mine"], (std::set<std::string>{"T1", "T2"}));

    // Every playlist item of the podcasts dataset (group items and the episodes that refer to
    // their group by its id) carries an id of its own.
    std::vector<std::uint8_t> bytes = fixtures::ReadFile(fixtures::DatabasePath(root));
    std::size_t at = U32(bytes, 4);
    for (int dataset = 0; at + 16 <= bytes.size(); ++dataset) {
        const std::uint32_t total = U32(bytes, at + 8), type = U32(bytes, at + 12);
        if (type == 3) {
            std::multiset<std::uint32_t> ids;
            std::set<std::uint32_t> groupIds, refs;
            for (std::size_t p = at; p + 36 <= at + total; ++p) {
                if (bytes[p] != 'm' || bytes[p + 1] != 'h' || bytes[p + 2] != 'i' || bytes[p + 3] != 'p')
                    continue;
                const std::uint32_t id = U32(bytes, p + 20);
                ids.insert(id);
                if (U32(bytes, p + 24) == 0)
                    groupIds.insert(id);
                else
                    refs.insert(U32(bytes, p + 32));
            }
            EXPECT_FALSE(groupIds.empty());
            EXPECT_FALSE(refs.empty());
            for (std::uint32_t id : ids)
                EXPECT_EQ(ids.count(id), 1u) << "item id " << id << " is used twice";
            for (std::uint32_t ref : refs)
                EXPECT_TRUE(ref == 0 || groupIds.count(ref)) << "group reference " << ref;
        }
        at += total;
    }
}

// libgpod reads string objects whose sub-header says they hold UTF-8 (encoding 2), taking a
// string's length from the sub-header; such a database loads here too, with the same title.
TEST_F(IPodDBPeer, StringObjectInUtf8IsRead)
{
    using namespace fixtures::itdb;
    const std::string title = "Caf\xC3\xA9"; // five bytes
    Bytes payload(16 + title.size(), 0);
    payload[0] = 2;
    payload[4] = static_cast<std::uint8_t>(title.size());
    std::copy(title.begin(), title.end(), payload.begin() + 16);
    const Bytes track = Track(
        244, 1, {DataObject(1, payload), StringObject(2, u":iPod_Control:Music:F00:S.mp3")}, {{36, 1111}});
    const Bytes playlists = List("mhlp", 92, {Playlist(u"Hand", true, {Item(1)})});
    fixtures::WriteFile(fixtures::DatabasePath(root),
                        Database({Dataset(1, List("mhlt", 92, {track})), Dataset(2, playlists)}));

    peers::PeerDatabase peer = peers::ReadWithGpod(root);
    ASSERT_EQ(peer.tracks.size(), 1u);
    EXPECT_EQ(peer.tracks[0].title, title);

    IPodDB db;
    Load(db);
    MHIT* only = db.GetDatabase()->GetTrackList()->GetSong(0);
    ASSERT_NE(only, nullptr);
    EXPECT_EQ(only->GetName().ToStdString(), title);
}

// An On-The-Go playlist the user made on the iPod (OTGPlaylistInfo: "mhpo", header length, entry
// length, entry count, then the place of each track in the database file). libgpod makes it a
// playlist when it reads the iPod; after this program stored the database the file is gone, and
// the playlist is one of the database's, once.
TEST_F(IPodDBPeer, OnTheGoPlaylistIsKeptWhenTheDatabaseIsStored)
{
    ASSERT_TRUE(peers::WriteWithGpod(root, "Peer Pod", peers::ThreeTracks()));
    std::vector<std::uint8_t> otg(20 + 8, 0);
    std::memcpy(otg.data(), "mhpo", 4);
    fixtures::itdb::PutU32(otg, 4, 20);
    fixtures::itdb::PutU32(otg, 8, 4);
    fixtures::itdb::PutU32(otg, 12, 2);
    fixtures::itdb::PutU32(otg, 20, 2); // the third track
    fixtures::itdb::PutU32(otg, 24, 0); // the first track
    const std::string otgPath = root + "/iPod_Control/iTunes/OTGPlaylistInfo";
    fixtures::WriteFile(otgPath, otg);

    auto otgPlaylists = [](const peers::PeerDatabase& peer) {
        std::vector<std::vector<std::string>> found;
        for (const auto& p : peer.playlists)
            if (!p.library)
                found.push_back(p.titles);
        return found;
    };
    const std::vector<std::vector<std::string>> expected{{"Three", "One"}};
    peers::PeerDatabase before = peers::ReadWithGpod(root);
    ASSERT_EQ(otgPlaylists(before), expected);

    IPodDB db;
    Load(db);
    ASSERT_EQ(db.Store(nullptr), 0);
    EXPECT_FALSE(fixtures::Exists(otgPath));

    peers::PeerDatabase after = peers::ReadWithGpod(root);
    EXPECT_EQ(otgPlaylists(after), expected) << "the On-The-Go playlist is gone or doubled";
    const PeerPlaylist* kept = peers::FindPlaylist(after, "On-The-Go 1");
    ASSERT_NE(kept, nullptr);
}

// The iPod's play count file, made to the format, read by libgpod and by this program: both give
// every track the same plays, skips, rating and last played time.
TEST_F(IPodDBPeer, PlayCountsReadTheSameAsLibgpodReadsThem)
{
    ASSERT_TRUE(peers::WriteWithGpod(root, "Peer Pod", peers::ThreeTracks()));
    fixtures::WriteFile(
        root + "/iPod_Control/iTunes/Play Counts",
        fixtures::itdb::PlayCounts(
            0x1C, {{4, 0xD0000000u, 0, 60, 2, 0xD0000100u}, {0, 0, 0, 0}, {1, 0xD0001000u, 0, 100, 0, 0}}));
    const peers::PeerDatabase peer = peers::ReadWithGpod(root);
    ASSERT_EQ(peer.tracks.size(), 3u);
    std::map<std::string, peers::PeerTrack> theirs;
    for (const peers::PeerTrack& t : peer.tracks)
        theirs[t.title] = t;
    EXPECT_EQ(theirs["One"].playCount, 4u); // the file is taken in at all

    IPodDB db;
    Load(db);
    std::map<std::string, peers::PeerTrack> ours;
    db.GetDatabase()->GetTrackList()->ForEachTrack([&](MHIT& track) {
        peers::PeerTrack t = theirs[track.GetName().ToStdString()];
        t.playCount = track.GetField(MHIT::kOffsetPlayCount);
        t.skipCount = track.GetField(MHIT::kOffsetSkipCount);
        t.rating = track.GetByte(MHIT::kOffsetRating);
        t.lastPlayed = IPodPlayCounts::UnixTimeOf(track.GetField(MHIT::kOffsetLastPlayed));
        ours[t.title] = t;
    });
    EXPECT_EQ(ours, theirs);
}

// A track added from a song file carries the file's sample rate and the file type, in the fields
// libgpod writes for the same track (the rate as 16.16 and as a float, the kind text, whether the
// audio is compressed and its codec).
TEST_F(IPodDBPeer, AddedTracksCarryTheAudioFieldsLibgpodWritesForThem)
{
    const std::string& ours = root;
    const std::string theirs = fixtures::MakeIPod(volumes.Path(), "THEIRS");
    struct Case {
        const char* title;
        const char* file;
        int sampleRate;
        const char* kind;
    };
    const Case cases[] = {{"Low", "Low.mp3", 22050, "MPEG audio file"},
                          {"High", "High.m4a", 48000, "AAC audio file"},
                          {"Plain", "Plain.aif", 16000, "AIFF audio file"}};
    ADirPodDB source;
    AString mount = AString::FromUTF8(ours);
    ASSERT_EQ(source.InitWPath(&mount, 0, nullptr), 0);
    for (const Case& c : cases) {
        fixtures::SongSpec song = fixtures::SongSpecOf(c.title, 0, 0, "Artist");
        song.sampleRate = c.sampleRate;
        song.bitRate = 64;
        fixtures::WriteSong(volumes / c.file, song);
        AString file = AString::FromUTF8(volumes / c.file);
        ASSERT_EQ(source.AddSongFromDisk(&file, nullptr, nullptr), 0) << c.file;
    }
    ASSERT_EQ(source.Finalize(), 0);

    // libgpod reads what was written, and writes the same tracks into the other iPod.
    GError* error = nullptr;
    Itdb_iTunesDB* read = itdb_parse(ours.c_str(), &error);
    ASSERT_NE(read, nullptr);
    Itdb_iTunesDB* written = itdb_new();
    itdb_set_mountpoint(written, theirs.c_str());
    Itdb_Playlist* library = itdb_playlist_new("THEIRS", FALSE);
    itdb_playlist_set_mpl(library);
    itdb_playlist_add(written, library, -1);
    std::map<std::string, const Case*> byTitle;
    for (const Case& c : cases)
        byTitle[c.title] = &c;
    for (GList* node = read->tracks; node; node = node->next) {
        auto* track = static_cast<Itdb_Track*>(node->data);
        const Case* c = byTitle.at(track->title);
        EXPECT_EQ(track->samplerate, c->sampleRate) << c->file;
        EXPECT_STREQ(track->filetype, c->kind) << c->file;
        Itdb_Track* copy = itdb_track_new();
        copy->title = g_strdup(track->title);
        copy->ipod_path = g_strdup(track->ipod_path);
        copy->samplerate = track->samplerate;
        copy->filetype = g_strdup(track->filetype);
        itdb_track_add(written, copy, -1);
        itdb_playlist_add_track(library, copy, -1);
    }
    itdb_free(read);
    ASSERT_TRUE(itdb_write(written, &error));
    itdb_free(written);

    // Field by field, both databases agree.
    auto fields = [](const std::string& podRoot) {
        IPodDB db;
        AString at = AString::FromUTF8(podRoot);
        EXPECT_EQ(db.Load(&at, 1, nullptr, nullptr), 0);
        std::map<std::string, std::vector<std::uint32_t>> byName;
        db.GetDatabase()->GetTrackList()->ForEachTrack([&byName](MHIT& track) {
            byName[track.GetName().ToStdString()] = {
                track.GetField(MHIT::kOffsetSampleRate), track.GetField(MHIT::kOffsetSampleRateFloat),
                static_cast<std::uint32_t>(track.GetByte(MHIT::kOffsetCompressed) << 8 |
                                           track.GetByte(MHIT::kOffsetCompressed + 1)),
                static_cast<std::uint32_t>(track.GetByte(MHIT::kOffsetAudioKind) |
                                           track.GetByte(MHIT::kOffsetAudioKind + 1) << 8)};
        });
        return byName;
    };
    const auto mine = fields(ours), peer = fields(theirs);
    ASSERT_EQ(mine.size(), 3u);
    EXPECT_EQ(mine, peer);
}
