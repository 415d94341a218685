// Every script text the bridge sends, with names that would break a naive script, and the shape of
// each reply as the bridge decodes it.

#include "LibraryFixture.h"

#include "ACommon/base/AError.h"

#include <filesystem>

using fixtures::LibraryTest;
using platform::ScriptDescriptor;
namespace bridge = fixtures::bridge;

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

TEST_F(LibraryTest, LibraryWideScriptsGiveTheirReplyShapes)
{
    EXPECT_EQ(Strings(Must(bridge::GetLibName())), std::vector<std::string>{"Library"});
    const ScriptDescriptor version = Must(bridge::GetVersion());
    EXPECT_GE(static_cast<int>(version.DoubleValue() * 100), 700) << version.Describe();
    const ScriptDescriptor iPods = Must(bridge::GetIPodCount());
    EXPECT_EQ(iPods.GetKind(), ScriptDescriptor::Kind::Integer);
    EXPECT_EQ(iPods.Int32Value(), 0);
    EXPECT_EQ(Must(bridge::GetIPodNames()).GetKind(), ScriptDescriptor::Kind::List);
    EXPECT_EQ(Must(bridge::GetIPodNames()).NumberOfItems(), 0);
    // The library playlist first, then the special playlists the library has from the start.
    const std::vector<std::string> playlists = Strings(Must(bridge::GetPlaylists()));
    ASSERT_FALSE(playlists.empty());
    EXPECT_EQ(playlists.front(), "Library");
    for (const char* special : {"Music", "Movies", "TV Shows", "Podcasts", "Audiobooks", "Purchased"})
        EXPECT_NE(std::find(playlists.begin(), playlists.end(), special), playlists.end()) << special;
    // The special kinds the bridge maps to its playlist type codes.
    struct Case {
        const char* playlist;
        const char* kind;
    };
    for (auto [playlist, kind] :
         {Case{"Library", "kSpN"}, Case{"Purchased", "kSpM"}, Case{"Audiobooks", "Audiobooks"},
          Case{"Podcasts", "kSpP"}, Case{"Movies", "kSpI"}, Case{"Party Shuffle", "kSpS"}}) {
        EXPECT_EQ(Must(bridge::SpecialKind(playlist)).StringValue(), kind) << playlist;
        const ScriptDescriptor smart = Must(bridge::Smart(playlist));
        EXPECT_EQ(smart.GetKind(), ScriptDescriptor::Kind::Boolean);
        EXPECT_FALSE(smart.BooleanValue());
    }

    // Without tracks the music folder's fallback script fails (no track 1), as a missing reply.
    EXPECT_FALSE(Run(bridge::RootFolderFallback("Library")));
    const std::string song = Song("Music/iTunes/iTunes Music/A/B/01 S.mp3", Tags("S", "A"));
    Add(song);
    EXPECT_EQ(Must(bridge::RootFolderFallback("Library")).AliasPath(), song);
}

TEST_F(LibraryTest, PlaylistScriptsCarryHostileNamesThrough)
{
    const fixtures::Bytes picture = fixtures::FakeJpeg(3000, 7);
    int n = 0;
    for (const std::string name : kHostileNames) {
        SCOPED_TRACE(name);
        ++n;
        const ScriptDescriptor made = Must(bridge::MakePlaylist(name));
        EXPECT_EQ(made.StringValue(), name);

        // Files whose names hold the same characters, colons and quotes among them.
        const std::string folder = "Songs " + std::to_string(n) + "/" + name + " \"q\": \\";
        const std::vector<std::string> files = {
            Song(folder + "/1 a:b.mp3", Tags("One", "A", name, 0, picture)),
            Song(folder + "/2 \xC3\xA9.m4a", Tags("Two", "", name)),
            Song(folder + "/3 \\.mp3", Tags(name, "B", "", 3)),
        };
        std::vector<std::int64_t> ids;
        for (const std::string& file : files) {
            const ScriptDescriptor id = Must(bridge::AddFromDisk(file, name));
            ASSERT_EQ(id.GetKind(), ScriptDescriptor::Kind::Integer);
            ids.push_back(id.Int64Value());
        }

        EXPECT_EQ(Must(bridge::LibCount(name)).Int32Value(), 3);
        EXPECT_EQ(Strings(Must(bridge::LibProperty("artist", name))),
                  (std::vector<std::string>{"A", "", "B"}));
        EXPECT_EQ(Strings(Must(bridge::LibProperty("name", name))),
                  (std::vector<std::string>{"One", "Two", name}));
        EXPECT_EQ(Strings(Must(bridge::LibProperty("album", name))),
                  (std::vector<std::string>{name, name, ""}));
        const ScriptDescriptor idList = Must(bridge::LibProperty("database ID", name));
        ASSERT_EQ(idList.NumberOfItems(), 3);
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(idList.ItemAt(i + 1)->Int64Value(), ids[static_cast<std::size_t>(i)]);
        const ScriptDescriptor locations = Must(bridge::LibProperty("location", name));
        ASSERT_EQ(locations.NumberOfItems(), 3);
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(locations.ItemAt(i + 1)->AliasPath(), files[static_cast<std::size_t>(i)]);
        const ScriptDescriptor sizes = Must(bridge::LibProperty("size", name));
        EXPECT_EQ(sizes.ItemAt(1)->Int64Value(),
                  static_cast<std::int64_t>(std::filesystem::file_size(files[0])));

        EXPECT_FALSE(Must(bridge::Smart(name)).BooleanValue());
        EXPECT_EQ(Must(bridge::SpecialKind(name)).StringValue(), "kSpN");
        EXPECT_EQ(Must(bridge::ArtCount(name, ids[0])).Int32Value(), 1);
        EXPECT_EQ(Must(bridge::ArtCount(name, ids[1])).Int32Value(), 0);
        EXPECT_EQ(Must(bridge::Art(0, name, ids[0])).DataValue(), picture);
        EXPECT_FALSE(Run(bridge::Art(1, name, ids[0]))) << "a second artwork that is not there";

        // Adding a track of the playlist to another gives the same track.
        EXPECT_EQ(Must(bridge::AddToPlaylist(name, ids[2], "Library")).Int64Value(), ids[2]);

        // Deleting from the playlist takes out the entry only: an empty reply, the file stays.
        const ScriptDescriptor deleted = Must(bridge::DeleteSong(name, ids[1]));
        EXPECT_TRUE(deleted.IsNothing());
        EXPECT_EQ(Must(bridge::LibCount(name)).Int32Value(), 2);
        EXPECT_TRUE(std::filesystem::exists(files[1]));

        // Deleting the playlist keeps its tracks in the library.
        const int before = Must(bridge::LibCount("Library")).Int32Value();
        EXPECT_TRUE(Must(bridge::DeletePlaylist(name)).IsNothing());
        EXPECT_FALSE(Run(bridge::LibCount(name)));
        EXPECT_EQ(Must(bridge::LibCount("Library")).Int32Value(), before);
    }
    EXPECT_EQ(Must(bridge::LibCount("Library")).Int32Value(), 3 * static_cast<int>(std::size(kHostileNames)));
}

TEST_F(LibraryTest, ScriptsThatNameWhatDoesNotExistFailAsAMissingReply)
{
    const std::int64_t id = Add(Song("a.mp3", Tags("A")));
    for (const std::string& script : {
             bridge::LibCount("No Such Playlist"),
             bridge::LibProperty("artist", "No Such Playlist"),
             bridge::IPodSongCount("Pod", "No Such iPod"),
             bridge::GetIPodPlaylists("No Such iPod"),
             bridge::DeleteSong("Library", id + 1000),
             bridge::ArtCount("Library", id + 1000),
             bridge::DeletePlaylist("No Such Playlist"),
             bridge::AddFromDisk(dir / "missing.mp3", "Library"),
             bridge::AddToPlaylist("Library", id, "No Such Playlist"),
             bridge::LibProperty("colour", "Library"),
         }) {
        std::string error;
        EXPECT_FALSE(Run(script, &error)) << script;
        EXPECT_FALSE(error.empty()) << script;
    }
    EXPECT_EQ(Must(bridge::LibCount("Library")).Int32Value(), 1);
}
