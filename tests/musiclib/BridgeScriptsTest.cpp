// Every script the bridge sends, run by the library, with names that would break a naive script,
// and each reply as the bridge decodes it.

#include "fixtures/LibraryFixture.h"

#include "ACommon/base/AError.h"

#include <filesystem>

using fixtures::LibraryTest;
using platform::ScriptDescriptor;

namespace {

// Names that a script must carry through unharmed.
const char* const kHostileNames[] = {
    "12\" Mixes",
    "back\\slash\\",
    "Mix: one/two",
    "Caf\xC3\xA9",                              // composed
    "Cafe\xCC\x81 bis",                         // decomposed
    "\xE6\x97\xA5\xE6\x9C\xAC \xE2\x99\xAA",    // non-ASCII
    "x\" \\ end tell -- delete every playlist", // an escaped attempt to add statements
};

} // namespace

TEST_F(LibraryTest, LibraryWideScriptsGiveTheirReplies)
{
    EXPECT_EQ(Bridge("").GetLibName(), AString("Library"));
    EXPECT_GE(ASiTunes::GetITunesVersion(), 700);
    EXPECT_EQ(ASiTunes::GetIPodCountiTunes(), 0);
    EXPECT_EQ(Bridge("").GetIPodNameiTunes(0), AString());
    // The library playlist first, then the special playlists the library has from the start.
    const std::vector<std::string> playlists = Playlists();
    ASSERT_FALSE(playlists.empty());
    EXPECT_EQ(playlists.front(), "Library");
    for (const char* special : {"Music", "Movies", "TV Shows", "Podcasts", "Audiobooks", "Purchased"})
        EXPECT_NE(std::find(playlists.begin(), playlists.end(), special), playlists.end()) << special;
    // The special kinds the bridge maps to its playlist type codes.
    struct Case {
        const char* playlist;
        int type;
    };
    for (auto [playlist, type] :
         {Case{"Library", ASiTunes::kPlaylistOrdinary}, Case{"Purchased", ASiTunes::kPlaylistPurchased},
          Case{"Audiobooks", ASiTunes::kPlaylistAudiobooks}, Case{"Podcasts", ASiTunes::kPlaylistPodcasts},
          Case{"Movies", ASiTunes::kPlaylistInternal},
          Case{"Party Shuffle", ASiTunes::kPlaylistPartyShuffle}})
        EXPECT_EQ(Bridge(playlist).GetITunesPlayListType(), type) << playlist;

    // Without tracks the music folder's fallback script fails (no track 1), as a missing reply.
    const std::string fallback = Tell("location of track 1 in playlist \"Library\"");
    EXPECT_FALSE(Run(fallback));
    const std::string song = Song("Music/iTunes/iTunes Music/A/B/01 S.mp3", Tags("S", "A"));
    Add(song);
    EXPECT_EQ(Must(fallback).AliasPath(), song);
}

TEST_F(LibraryTest, PlaylistScriptsCarryHostileNamesThrough)
{
    const fixtures::Bytes picture = fixtures::FakeJpeg(3000, 7);
    int n = 0;
    for (const std::string name : kHostileNames) {
        SCOPED_TRACE(name);
        ++n;
        MakePlaylist(name);
        ASiTunes bridge = Bridge(name);
        EXPECT_EQ(Playlists().back(), name);

        // Files whose names hold the same characters, colons and quotes among them.
        const std::string folder = "Songs " + std::to_string(n) + "/" + name + " \"q\": \\";
        const std::vector<std::string> files = {
            Song(folder + "/1 a:b.mp3", Tags("One", "A", name, 0, picture)),
            Song(folder + "/2 \xC3\xA9.m4a", Tags("Two", "", name)),
            Song(folder + "/3 \\.mp3", Tags(name, "B", "", 3)),
        };
        std::vector<std::uint32_t> ids;
        for (const std::string& file : files) {
            ids.push_back(static_cast<std::uint32_t>(Add(file, name)));
            EXPECT_GT(ids.back(), 0u);
        }

        EXPECT_EQ(Count(name), 3);
        EXPECT_EQ(Property("artist", name), (std::vector<std::string>{"A", "", "B"}));
        EXPECT_EQ(Property("name", name), (std::vector<std::string>{"One", "Two", name}));
        EXPECT_EQ(Property("album", name), (std::vector<std::string>{name, name, ""}));
        std::vector<std::uint32_t> listed;
        ASSERT_EQ(bridge.ReadLibIDs(&listed), 0);
        EXPECT_EQ(listed, ids);
        const std::vector<ScriptDescriptor> locations = Items("location", name);
        ASSERT_EQ(locations.size(), 3u);
        for (std::size_t i = 0; i < 3; ++i)
            EXPECT_EQ(locations[i].AliasPath(), files[i]);
        EXPECT_EQ(Items("size", name)[0].Int64Value(),
                  static_cast<std::int64_t>(std::filesystem::file_size(files[0])));

        EXPECT_EQ(bridge.GetITunesPlayListType(), ASiTunes::kPlaylistOrdinary);
        EXPECT_EQ(bridge.GetITunesSongAlbumArtCount(ids[0]), 1);
        EXPECT_EQ(bridge.GetITunesSongAlbumArtCount(ids[1]), 0);
        std::vector<std::uint8_t> art;
        EXPECT_EQ(bridge.GetITunesSongAlbumArt(ids[0], 0, &art), 0);
        EXPECT_EQ(art, picture);
        EXPECT_EQ(bridge.GetITunesSongAlbumArt(ids[0], 1, &art), kErrFileNotFound) << "no second artwork";

        // Adding a track of the playlist to another gives the same track.
        EXPECT_EQ(bridge.ITunesAddSongToPlaylist(AString("Library"), ids[2]), 0);

        // Deleting from the playlist takes out the entry only (that the file stays is checked with
        // the deletions of the library).
        EXPECT_EQ(Delete(ids[1], name), 0);
        EXPECT_EQ(Count(name), 2);
        EXPECT_EQ(bridge.LibTrackCount(ids[1]), 0);
        EXPECT_EQ(bridge.DeletePlaylistITunes(AString::FromUTF8(name)), 0);
        EXPECT_EQ(Count(name), -1);
    }
    // Neither deletion took a track out of the library.
    EXPECT_EQ(Count("Library"), 3 * static_cast<int>(std::size(kHostileNames)));
}

TEST_F(LibraryTest, ScriptsThatNameWhatDoesNotExistFailWithAReason)
{
    const std::uint32_t id = static_cast<std::uint32_t>(Add(Song("a.mp3", Tags("A"))));
    std::vector<ScriptDescriptor> items;
    AString names;
    struct Case {
        const char* row;
        std::function<bool()> failed;
    };
    for (const Case& c : std::initializer_list<Case>{
             {"count", [] { return Bridge("No Such Playlist").LibCount() == -1; }},
             {"property", [&] { return Bridge("No Such Playlist").ReadLibProperty("artist", &items) != 0; }},
             {"iPod count", [] { return Bridge("Pod", "No Such iPod").IPodSongCount() == -1; }},
             {"iPod playlists", [&] { return Bridge("", "No Such iPod").GetIPodPlaylist(0, &names) != 0; }},
             {"delete track", [&] { return Delete(id + 1000, "Library") != 0; }},
             {"artwork count", [&] { return Bridge("Library").GetITunesSongAlbumArtCount(id + 1000) == -1; }},
             {"delete playlist",
              [] { return Bridge("").DeletePlaylistITunes(AString("No Such Playlist")) != 0; }},
             {"add file", [this] { return Add(dir / "missing.mp3") == -1; }},
             {"add to playlist",
              [&] {
                  return Bridge("Library").ITunesAddSongToPlaylist(AString("No Such Playlist"), id) != 0;
              }},
             {"unknown property", [&] { return Bridge("Library").ReadLibProperty("colour", &items) != 0; }},
         }) {
        EXPECT_TRUE(c.failed()) << c.row;
        AString why;
        ASiTunes::LastScriptFailure(&why);
        EXPECT_FALSE(why.IsEmpty()) << c.row;
    }
    EXPECT_EQ(Count("Library"), 1);
}
