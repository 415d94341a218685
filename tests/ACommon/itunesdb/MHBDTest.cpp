// The iTunesDB record classes on databases built by hand: shapes the program's own writer never
// produces, datasets it does not decode, and damaged lengths.

#include "ACommon/itunesdb/MHBD.h"
#include "ACommon/base/AError.h"
#include "ACommon/base/ByteReader.h"
#include "ACommon/base/ByteWriter.h"
#include "ACommon/itunesdb/MHIT.h"
#include "ACommon/itunesdb/MHLT.h"
#include "ACommon/tags/SongInfoStruct.h"
#include "fixtures/IPodFixture.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace fixtures::itdb;

namespace {

struct Loaded {
    int result = 0;
    std::unique_ptr<MHBD> db = std::make_unique<MHBD>();
};

Loaded LoadBytes(const Bytes& bytes, signed char withPlaylists = 1)
{
    Loaded loaded;
    ByteReader in(bytes.data(), bytes.size());
    loaded.result = loaded.db->Load(in, withPlaylists, nullptr, nullptr);
    return loaded;
}

Bytes StoreBytes(MHBD& db)
{
    ByteWriter out;
    db.Store(out);
    return out.Take();
}

bool Contains(const Bytes& haystack, const Bytes& needle)
{
    return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) != haystack.end();
}

// The offset of the first record tagged `tag` at or after `from`.
std::size_t Find(const Bytes& bytes, const char* tag, std::size_t from = 0)
{
    Bytes needle(tag, tag + 4);
    auto it = std::search(bytes.begin() + from, bytes.end(), needle.begin(), needle.end());
    return it == bytes.end() ? std::string::npos : static_cast<std::size_t>(it - bytes.begin());
}

Bytes SimpleTrack(std::uint32_t headerLength, std::uint32_t id, const std::u16string& title,
                  const Fields& fields = {})
{
    return Track(headerLength, id,
                 {StringObject(1, title), StringObject(2, u":iPod_Control:Music:F00:A.mp3")}, fields);
}

// A database with one track (id 1) and a library playlist holding it in a podcast and a playlist
// dataset, plus `extra` datasets after them.
Bytes OneTrackDatabase(const Bytes& track, const std::vector<Bytes>& extra = {})
{
    std::vector<Bytes> datasets{Dataset(1, List("mhlt", 92, {track})),
                                Dataset(3, List("mhlp", 92, {Playlist(u"Pod", true, {Item(1)})})),
                                Dataset(2, List("mhlp", 92, {Playlist(u"Pod", true, {Item(1)})}))};
    datasets.insert(datasets.end(), extra.begin(), extra.end());
    return Database(datasets);
}

} // namespace

TEST(MHBD, TrackHeadersAreWrittenBackAtLeastWhole)
{
    Loaded loaded =
        LoadBytes(OneTrackDatabase(SimpleTrack(156, 1, u"Short", {{36, 4321}, {152, 0x01020304}})));
    ASSERT_EQ(loaded.result, 0);
    Bytes out = StoreBytes(*loaded.db);
    std::size_t track = Find(out, "mhit");
    ASSERT_NE(track, std::string::npos);
    EXPECT_EQ(GetU32(out, track + 4), 244u);
    EXPECT_EQ(GetU32(out, track + 36), 4321u);
    EXPECT_EQ(GetU32(out, track + 152), 0x01020304u);
    for (std::size_t offset = 156; offset < 244; ++offset)
        EXPECT_EQ(out[track + offset], 0) << offset;
    EXPECT_EQ(std::string(out.begin() + track + 244, out.begin() + track + 248), "mhod");

    loaded = LoadBytes(OneTrackDatabase(SimpleTrack(248, 1, u"Long", {{244, 0xEFBEADDE}})));
    ASSERT_EQ(loaded.result, 0);
    out = StoreBytes(*loaded.db);
    track = Find(out, "mhit");
    EXPECT_EQ(GetU32(out, track + 4), 248u);
    EXPECT_EQ(GetU32(out, track + 244), 0xEFBEADDEu);
}

// Datasets and data objects the program does not decode (album list, smart playlist data, unknown
// types) are kept in their place; a database in the writer's own form reads back to the same bytes.
TEST(MHBD, EveryDatasetCountRoundTrips)
{
    const Bytes track = Track(244, 1,
                              {StringObject(1, u"Title"), DataObject(6, Bytes{1, 2, 3}),
                               StringObject(13, u"thirteen"), DataObject(100, Bytes(20, 9)),
                               DataObject(8, Bytes{}), StringObject(2, u":iPod_Control:Music:F00:A.mp3")});
    const Bytes tracks = Dataset(1, List("mhlt", 92, {track}));
    const Bytes podcasts = Dataset(3, List("mhlp", 92, {Playlist(u"Pod", true, {Item(1, true, 1)})}));
    const Bytes playlists = Dataset(2, List("mhlp", 92, {Playlist(u"Pod", true, {Item(1, true, 1)})}));
    const Bytes albumList =
        Dataset(4, List("mhla", 92, {Record("mhia", 88, {{16, 7}}, {StringObject(200, u"Al")})}));
    const Bytes smartData = Dataset(5, List("mhlp", 92, {}));
    const Bytes unknown = Dataset(9, Bytes{'a', 'b', 'c', 'd', 1, 2, 3, 4});
    for (const std::vector<Bytes>& datasets : {std::vector<Bytes>{tracks, playlists},
                                               {tracks, podcasts, playlists},
                                               {tracks, podcasts, playlists, albumList, smartData},
                                               {tracks, unknown, podcasts, playlists}}) {
        const Bytes input = Database(datasets);
        Loaded loaded = LoadBytes(input);
        ASSERT_EQ(loaded.result, 0) << datasets.size();
        EXPECT_EQ(loaded.db->GetTrackList()->GetSong(0)->GetName(), "Title");
        EXPECT_EQ(StoreBytes(*loaded.db), input) << datasets.size();
    }
}

TEST(MHBD, UnresolvedPlaylistItemsKeepWhatWasReadButNoStaleTrackId)
{
    Bytes unresolvedZero = Item(0);
    PutU32(unresolvedZero, 20, 77);
    Bytes unresolvedStale = Item(999);
    PutU32(unresolvedStale, 20, 78);
    const Bytes db =
        Database({Dataset(1, List("mhlt", 92, {SimpleTrack(244, 5, u"T")})),
                  Dataset(2, List("mhlp", 92,
                                  {Playlist(u"Pod", true, {Item(5)}),
                                   Playlist(u"Mix", false, {unresolvedZero, Item(5), unresolvedStale})}))});
    Loaded loaded = LoadBytes(db);
    ASSERT_EQ(loaded.result, 0);
    Bytes out = StoreBytes(*loaded.db);
    std::vector<std::pair<std::uint32_t, std::uint32_t>> items; // (item number, track id)
    for (std::size_t at = Find(out, "mhip"); at != std::string::npos; at = Find(out, "mhip", at + 4))
        items.emplace_back(GetU32(out, at + 20), GetU32(out, at + 24));
    // The track got id 1; resolved items are numbered through the whole playlist list; the item
    // whose id 999 named no track keeps its number but no longer a track id that a renumbered
    // track could take.
    EXPECT_EQ(items,
              (std::vector<std::pair<std::uint32_t, std::uint32_t>>{{1, 1}, {77, 0}, {2, 1}, {78, 0}}));
}

TEST(MHBD, OnlyTheLibraryPlaylistsTrackIndexObjectsAreDropped)
{
    const Bytes index = DataObject(52, Bytes(60, 1));
    const Bytes jump = DataObject(53, Bytes(30, 2));
    const Bytes smart = DataObject(50, Bytes(12, 3));
    const Bytes db = Database(
        {Dataset(1, List("mhlt", 92, {SimpleTrack(244, 1, u"T")})),
         Dataset(2, List("mhlp", 92, {Playlist(u"Pod", true, {Item(1)}, 108, {index, jump, smart})}))});
    Loaded loaded = LoadBytes(db);
    ASSERT_EQ(loaded.result, 0);
    Bytes out = StoreBytes(*loaded.db);
    EXPECT_FALSE(Contains(out, index));
    EXPECT_FALSE(Contains(out, jump));
    EXPECT_TRUE(Contains(out, smart));
    const std::size_t playlist = Find(out, "mhyp");
    EXPECT_EQ(GetU32(out, playlist + 12), 2u); // title and the smart-playlist object
}

TEST(MHBD, DamagedHeadersFailTheLoad)
{
    const Bytes good = OneTrackDatabase(SimpleTrack(244, 1, u"Title"));
    ASSERT_EQ(LoadBytes(good).result, 0);
    const std::size_t dataset = GetU32(good, 4);
    const std::size_t list = Find(good, "mhlt");
    const std::size_t track = Find(good, "mhit");
    const std::size_t object = Find(good, "mhod");
    const std::size_t playlist = Find(good, "mhyp");
    const std::size_t playlists = Find(good, "mhlp");
    struct Case {
        const char* what;
        std::size_t offset;
        std::uint32_t value;
    };
    for (const Case& c :
         {Case{"database longer than the file", 8, static_cast<std::uint32_t>(good.size() + 1)},
          Case{"database header longer than the database", 4, static_cast<std::uint32_t>(good.size() + 4)},
          Case{"dataset count that cannot fit", 20, 0x10000000},
          Case{"dataset longer than the database", dataset + 8, static_cast<std::uint32_t>(good.size())},
          Case{"track count that cannot fit", list + 8, 0x0FFFFFFF},
          Case{"track header longer than the track", track + 4, 0x4000},
          Case{"track longer than its dataset", track + 8, 0x100000},
          Case{"data object count that cannot fit", track + 12, 0x7FFFFFFF},
          Case{"data object longer than its track", object + 8, 0x400},
          Case{"data object shorter than its fields", object + 8, 20},
          Case{"string longer than its data object", object + 28, 12},
          Case{"item count that cannot fit", playlist + 16, 0x01000000}, Case{"wrong tag", track, 0x7469686E},
          // Counts below the records that follow them: what they leave out would be carried along
          // as bytes that belong to nothing.
          Case{"track count below the tracks that follow", list + 8, 0},
          Case{"data object count below the objects that follow", track + 12, 1},
          Case{"playlist count below the playlists that follow", playlists + 8, 0},
          Case{"item count below the items that follow", playlist + 16, 0},
          Case{"dataset count below the datasets that follow", 20, 2}}) {
        Bytes bad = good;
        PutU32(bad, c.offset, c.value);
        EXPECT_EQ(LoadBytes(bad).result, kErrUnknown) << c.what;
    }
}

namespace {

// A string object whose sub-header gives `encoding` and the length of `text`, followed by
// `padding` bytes the text does not take.
Bytes EncodedObject(std::uint32_t type, std::uint32_t encoding, const Bytes& text, std::size_t padding = 0)
{
    Bytes payload(16, 0);
    PutU32(payload, 0, encoding);
    PutU32(payload, 4, static_cast<std::uint32_t>(text.size()));
    payload.insert(payload.end(), text.begin(), text.end());
    payload.resize(payload.size() + padding, 0xEE);
    return DataObject(type, payload);
}

Bytes UTF16(const std::u16string& text)
{
    Bytes bytes;
    for (char16_t unit : text) {
        bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    return bytes;
}

Bytes UTF8(const std::string& text) { return Bytes(text.begin(), text.end()); }

} // namespace

TEST(MHBD, StringObjectsRoundTrip)
{
    struct Case {
        const char* what;
        std::uint32_t encoding;
        Bytes text;
        std::size_t padding;
        std::string expected;
    };
    const std::string cafe = "Caf\xC3\xA9 Noir";
    for (const Case& c : {Case{"UTF-16", 1, UTF16(u"Title"), 0, "Title"},
                          {"UTF-16 with encoding 0", 0, UTF16(u"Title"), 0, "Title"},
                          {"UTF-16 followed by an odd byte", 1, UTF16(u"Title"), 1, "Title"},
                          {"UTF-16 followed by padding", 1, UTF16(u"Caf\u00E9 Noir"), 6, cafe},
                          {"UTF-8, ASCII only", 2, UTF8("Title"), 0, "Title"},
                          {"UTF-8 of odd length", 2, UTF8(cafe), 0, cafe},
                          {"UTF-8 followed by padding", 2, UTF8("Title"), 3, "Title"}}) {
        const Bytes title = EncodedObject(1, c.encoding, c.text, c.padding);
        const Bytes artist = EncodedObject(4, c.encoding, c.text, c.padding);
        Loaded loaded = LoadBytes(OneTrackDatabase(
            Track(244, 1, {title, artist, StringObject(2, u":iPod_Control:Music:F00:A.mp3")}, {})));
        ASSERT_EQ(loaded.result, 0) << c.what;
        MHIT* track = loaded.db->GetTrackList()->GetSong(0);
        ASSERT_NE(track, nullptr) << c.what;
        EXPECT_EQ(track->GetName().ToStdString(), c.expected) << c.what;
        EXPECT_EQ(track->GetArtist().ToStdString(), c.expected) << c.what;
        // The song is found again by its name, as adding it a second time asks.
        SongInfoStruct same = fixtures::MakeSong(c.expected, c.expected, "", "", "/A.mp3", 1);
        EXPECT_EQ(loaded.db->AddSong(same, nullptr, 0), kErrDuplicate) << c.what;
        const Bytes out = StoreBytes(*loaded.db);
        EXPECT_TRUE(Contains(out, title) && Contains(out, artist)) << c.what;
    }
}
