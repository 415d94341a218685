// An iPod served by the library, checked with libgpod: what the library writes, libgpod reads, with
// every member of every playlist; what libgpod wrote, the library serves with lasting IDs.

#include "GpodPeer.h"

#include "musiclib/MusicLibrary.h"

#include "APlatform/HfsPath.h"
#include "fixtures/IPodFixture.h"
#include "fixtures/MusicFiles.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

namespace {

class LibraryIPodPeer : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("PELORIN_VOLUMES", (dir / "Volumes").c_str(), 1);
        root = fixtures::MakeIPod(dir / "Volumes", "POD", {.name = "Peer Pod"});
    }
    void TearDown() override
    {
        library.reset();
        unsetenv("PELORIN_VOLUMES");
    }
    void Open()
    {
        library.reset();
        std::string error;
        ASSERT_EQ(MusicLibrary::Open(dir / "Library", true, library, error), 0) << error;
    }
    platform::ScriptDescriptor Run(const std::string& body)
    {
        ScriptValue result;
        std::string error;
        EXPECT_EQ(
            library->RunScript("tell application \"iTunes\"\n " + body + "\n end tell\n", result, error), 0)
            << error << " in " << body;
        return std::move(result).ToDescriptor();
    }
    std::vector<std::int64_t> Ids(const std::string& playlist)
    {
        std::vector<std::int64_t> ids;
        const platform::ScriptDescriptor reply =
            Run("database ID of every track of playlist \"" + playlist + "\" in source \"Peer Pod\"");
        for (const platform::ScriptDescriptor& item : reply.Items())
            ids.push_back(item.Int64Value());
        return ids;
    }
    std::string Add(const std::string& title, const std::string& playlist)
    {
        fixtures::SongSpec tags;
        tags.title = title;
        tags.artist = "Library";
        tags.seed = static_cast<std::uint32_t>(title.size());
        const std::string file = dir / ("in/" + title + ".mp3");
        fixtures::WriteSong(file, tags);
        return std::to_string(Run("set t to add alias \"" + platform::PosixToHfsPath(file) +
                                  "\" to playlist \"" + playlist +
                                  "\" in source \"Peer Pod\"\n get database ID of t")
                                  .Int64Value());
    }

    fixtures::TempDir dir;
    std::string root;
    std::unique_ptr<MusicLibrary> library;
};

} // namespace

TEST_F(LibraryIPodPeer, WhatTheLibraryWritesLibgpodReadsWithEveryPlaylistMember)
{
    ASSERT_TRUE(peers::WriteWithGpod(root, "Peer Pod", peers::ThreeTracks(), {{"Mixed", {2, 0}}}));
    Open();
    std::string error;
    ASSERT_EQ(library->AttachIPod("POD", error), 0) << error;
    const std::vector<std::int64_t> before = Ids("Peer Pod");
    ASSERT_EQ(before.size(), 3u);
    EXPECT_EQ(Ids("Mixed"), (std::vector<std::int64_t>{before[2], before[0]}));

    Run("set p to make playlist of source \"Peer Pod\"\n set name of p to \"Fresh\"");
    const std::string four = Add("Four", "Mixed");
    Add("Five", "Fresh");
    Run("add (get location of first track of playlist \"Peer Pod\" in source \"Peer Pod\" whose database ID "
        "= " +
        std::to_string(before[1]) + ") to playlist \"Fresh\" in source \"Peer Pod\"");
    Run("delete (first track of playlist \"Peer Pod\" in source \"Peer Pod\" whose database ID = " +
        std::to_string(before[0]) + ")");
    Run("delete (first track of playlist \"Mixed\" in source \"Peer Pod\" whose database ID = " + four + ")");
    Run("update");

    peers::PeerDatabase peer = peers::ReadWithGpod(root);
    ASSERT_EQ(peer.tracks.size(), 4u);
    // libgpod lists the library playlist in the order of the track list; the other playlists in their own.
    std::vector<peers::PeerPlaylist> expected = {{"Peer Pod", true, {"Five", "Four", "Three", "Two"}},
                                                 {"Mixed", false, {"Three"}},
                                                 {"Fresh", false, {"Five", "Two"}}};
    ASSERT_EQ(peer.playlists.size(), expected.size());
    std::sort(peer.playlists[0].titles.begin(), peer.playlists[0].titles.end());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(peer.playlists[i].name, expected[i].name);
        EXPECT_EQ(peer.playlists[i].library, expected[i].library);
        EXPECT_EQ(peer.playlists[i].titles, expected[i].titles) << expected[i].name;
    }
    for (const peers::PeerTrack& track : peer.tracks) {
        if (track.title == "Four" || track.title == "Five") {
            EXPECT_EQ(track.artist, "Library");
            EXPECT_EQ(track.path.rfind(":iPod_Control:Music:F", 0), 0u) << track.path;
        }
    }

    // The tracks libgpod made keep their IDs through the write and a fresh library.
    Open();
    const std::vector<std::int64_t> after = Ids("Peer Pod");
    ASSERT_EQ(after.size(), 4u);
    EXPECT_EQ(after[0], before[1]);
    EXPECT_EQ(after[1], before[2]);
    EXPECT_EQ(std::to_string(after[2]), four);
}
